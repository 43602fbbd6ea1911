#pragma once

// Clipboard formats as the seam names them: registered formats by name (their numbers differ
// between sessions), the system's by number ("#13"), and those that hold a GDI object or a
// private handle rather than global memory marked as such ("#gdi:2", "#private:512"), so that the
// type rules can tell them.

#include <windows.h>

#include <string>

namespace deskagent::platform::windows {

// Whether the format's data is global memory, the one kind that can be copied as bytes.
bool isMemoryFormat(UINT format);

std::string formatName(UINT format);
// The format a name stands for; 0 for one that names no memory format.
UINT formatNumber(const std::string& name);

}  // namespace deskagent::platform::windows
