#include "platform/linux/desktop_entries.hpp"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

namespace deskagent::platform {
namespace {

// An application installed meanwhile is found on a later question, no sooner than this.
constexpr auto kRereadInterval = std::chrono::seconds(5);
// A desktop entry is a few kilobytes; anything far larger is not one.
constexpr std::uintmax_t kMaxEntrySize = 256 * 1024;

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

std::string envOr(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

// The program an Exec line runs, without its folder, quotes or an `env VAR=value` in front.
std::string commandName(const std::string& exec) {
  std::istringstream words(exec);
  std::string word;
  bool afterEnv = false;
  while (words >> word) {
    std::erase(word, '"');
    if (word == "env" && !afterEnv) {
      afterEnv = true;
      continue;
    }
    if (afterEnv && word.find('=') != std::string::npos) continue;
    return std::filesystem::path(word).filename().string();
  }
  return {};
}

struct Entry {
  DesktopApp kind = DesktopApp::application;
  std::string startupClass;
  std::string command;
};

// The [Desktop Entry] group's keys that tell what the application is; nothing for a file that
// describes no application.
std::optional<Entry> readEntry(const std::filesystem::path& file) {
  std::error_code error;
  if (std::filesystem::file_size(file, error) > kMaxEntrySize || error) return std::nullopt;
  std::ifstream in(file);
  Entry entry;
  bool inMainGroup = false;
  bool isApplication = false;
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with('[')) {
      inMainGroup = line.starts_with("[Desktop Entry]");
      continue;
    }
    if (!inMainGroup) continue;
    auto equals = line.find('=');
    if (equals == std::string::npos) continue;
    std::string key = line.substr(0, equals);
    std::string value = line.substr(equals + 1);
    while (!key.empty() && key.back() == ' ') key.pop_back();
    if (key == "Type") isApplication = value == "Application";
    if (key == "StartupWMClass") entry.startupClass = lower(value);
    if (key == "Exec") entry.command = lower(commandName(value));
    if (key == "Categories" &&
        (";" + value + ";").find(";TerminalEmulator;") != std::string::npos) {
      entry.kind = DesktopApp::terminal;
    }
  }
  if (!isApplication) return std::nullopt;
  return entry;
}

}  // namespace

DesktopEntries::DesktopEntries() {
  const char* home = std::getenv("HOME");
  std::string dataHome =
      envOr("XDG_DATA_HOME", home != nullptr ? std::string(home) + "/.local/share" : "");
  std::string dirs = dataHome + ":" + envOr("XDG_DATA_DIRS", "/usr/local/share:/usr/share");
  std::istringstream list(dirs);
  for (std::string dir; std::getline(list, dir, ':');) {
    if (!dir.empty()) folders_.push_back(dir + "/applications");
  }
}

void DesktopEntries::read() {
  byFile_.clear();
  byClass_.clear();
  byCommand_.clear();
  // The first folder that has an entry wins, as for the desktop's own menus.
  for (const std::string& folder : folders_) {
    std::error_code error;
    for (const auto& file : std::filesystem::directory_iterator(folder, error)) {
      if (file.path().extension() != ".desktop") continue;
      auto entry = readEntry(file.path());
      if (!entry) continue;
      byFile_.emplace(lower(file.path().stem().string()), entry->kind);
      if (!entry->startupClass.empty()) byClass_.emplace(entry->startupClass, entry->kind);
      if (!entry->command.empty()) byCommand_.emplace(entry->command, entry->kind);
    }
  }
  readAt_ = std::chrono::steady_clock::now();
  everRead_ = true;
}

DesktopApp DesktopEntries::find(std::string_view name) {
  if (name.empty()) return DesktopApp::unknown;
  const std::string key = lower(name);
  auto look = [&] {
    for (const auto* index : {&byFile_, &byClass_, &byCommand_}) {
      if (auto it = index->find(key); it != index->end()) return it->second;
    }
    return DesktopApp::unknown;
  };
  if (!everRead_) read();
  DesktopApp found = look();
  if (found == DesktopApp::unknown &&
      std::chrono::steady_clock::now() - readAt_ >= kRereadInterval) {
    read();
    found = look();
  }
  return found;
}

}  // namespace deskagent::platform
