#pragma once

#include <chrono>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace deskagent::platform {

// What the installed desktop entries (the freedesktop.org `*.desktop` files every desktop lists
// its applications from) say of an application known by its Wayland app id or X11 class.
enum class DesktopApp {
  unknown,      // no entry names it
  application,  // an entry that is not a terminal emulator
  terminal,     // an entry in the TerminalEmulator category
};

class DesktopEntries {
 public:
  // The `applications` folders of the XDG data directories (XDG_DATA_HOME, XDG_DATA_DIRS).
  DesktopEntries();
  explicit DesktopEntries(std::vector<std::string> folders) : folders_(std::move(folders)) {}

  // By the entry's file name, its StartupWMClass or its command's name, in that order, each
  // ignoring case. The folders are read on the first question and again, at most every few
  // seconds, when a name is not found (an application installed since).
  DesktopApp find(std::string_view name);

 private:
  void read();

  std::vector<std::string> folders_;
  // Lower-case names of each kind: file names, StartupWMClass values, command names.
  std::map<std::string, DesktopApp, std::less<>> byFile_, byClass_, byCommand_;
  std::chrono::steady_clock::time_point readAt_{};
  bool everRead_ = false;
};

}  // namespace deskagent::platform
