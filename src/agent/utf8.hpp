#pragma once

#include <string>
#include <string_view>

namespace deskagent {

// The text with every ill-formed UTF-8 sequence replaced by U+FFFD, one per maximal ill-formed
// subpart (as Unicode recommends), so a line from anywhere becomes valid UTF-8.
std::string sanitizeUtf8(std::string_view text);

// The length of the well-formed UTF-8 sequence at the start of `text`, or 0 if there is none.
std::size_t validUtf8SequenceLength(std::string_view text);

bool isValidUtf8(std::string_view text);

}  // namespace deskagent
