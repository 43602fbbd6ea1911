#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace deskagent {

// The text with every ill-formed UTF-8 sequence replaced by U+FFFD, one per maximal ill-formed
// subpart (as Unicode recommends), so a line from anywhere becomes valid UTF-8.
std::string sanitizeUtf8(std::string_view text);

// The same text handed to `append` a run at a time, for output that is not one string.
void sanitizeUtf8(std::string_view text, const std::function<void(std::string_view)>& append);

// The length of the well-formed UTF-8 sequence at the start of `text`, or 0 if there is none.
std::size_t validUtf8SequenceLength(std::string_view text);

bool isValidUtf8(std::string_view text);

}  // namespace deskagent
