#pragma once

#include <vector>

#include "platform/pasteboard.hpp"

namespace deskagent::platform {

// The types a macOS pasteboard item may list that are not plain content, and how a snapshot
// treats each. Data only, free of Apple headers, so the Linux suite tests it against the policy.
const std::vector<PasteboardTypeRule>& macTypeRules();

}  // namespace deskagent::platform
