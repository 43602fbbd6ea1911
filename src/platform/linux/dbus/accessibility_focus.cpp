#include "platform/linux/dbus/accessibility_focus.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <deque>
#include <string_view>

namespace deskagent::platform::dbus {

namespace {

using std::chrono::milliseconds;

// An application that does not answer this fast is taken as unknown (a GTK application answers
// in well under a millisecond; a busy machine may hold it up much longer).
constexpr auto kPatience = milliseconds(500);
// The focused object is looked for among this many objects of the active window at most: a
// text editor's or terminal's window holds a few dozen.
constexpr std::size_t kObjectsSearched = 400;

constexpr const char* kAccessible = "org.a11y.atspi.Accessible";
constexpr std::uint32_t kRoleTerminal = 60;  // AtspiRole
constexpr std::uint32_t kStateActive = 1;    // AtspiStateType
constexpr std::uint32_t kStateFocused = 12;
constexpr std::uint32_t kStateShowing = 25;

bool has(const std::vector<std::uint32_t>& states, std::uint32_t state) {
  const std::size_t word = state / 32;
  return word < states.size() && (states[word] >> (state % 32) & 1U) != 0;
}

// Terminal emulators by the name their application has on the bus, for a terminal whose widget
// does not say "terminal" itself.
bool isTerminalApplication(std::string_view name) {
  static constexpr std::array<std::string_view, 10> kNames = {
      "kgx",     "gnome-terminal-server", "ptyxis",        "tilix",      "terminator",
      "konsole", "xfce4-terminal",        "mate-terminal", "lxterminal", "guake"};
  return std::find(kNames.begin(), kNames.end(), name) != kNames.end();
}

}  // namespace

AccessibilityFocus::AccessibilityFocus(MainLoop& loop, Connection& session)
    : loop_(loop), session_(session) {
  bus();  // connected now, not in the first transfer
}

AccessibilityFocus::~AccessibilityFocus() = default;

Connection* AccessibilityFocus::bus() {
  if (bus_ && bus_->open()) return bus_.get();
  bus_.reset();
  // The accessibility bus is a bus of its own, whose address the session bus gives.
  auto call = session_.methodCall("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress");
  auto reply = session_.call(call, kPatience);
  const char* address = nullptr;
  if (!reply || sd_bus_message_read(reply.get(), "s", &address) < 0 || address == nullptr) {
    return nullptr;
  }
  bus_ = Connection::atAddress(loop_, address);
  return bus_.get();
}

std::vector<AccessibilityFocus::Object> AccessibilityFocus::children(const Object& object) {
  std::vector<Object> result;
  auto call =
      bus_->methodCall(object.name.c_str(), object.path.c_str(), kAccessible, "GetChildren");
  auto reply = bus_->call(call, kPatience);
  if (!reply || sd_bus_message_enter_container(reply.get(), 'a', "(so)") <= 0) return result;
  const char* name = nullptr;
  const char* path = nullptr;
  while (sd_bus_message_read(reply.get(), "(so)", &name, &path) > 0) {
    result.push_back({name, path});
  }
  return result;
}

std::vector<std::uint32_t> AccessibilityFocus::states(const Object& object) {
  std::vector<std::uint32_t> result;
  auto call = bus_->methodCall(object.name.c_str(), object.path.c_str(), kAccessible, "GetState");
  auto reply = bus_->call(call, kPatience);
  if (!reply || sd_bus_message_enter_container(reply.get(), 'a', "u") <= 0) return result;
  std::uint32_t word = 0;
  while (sd_bus_message_read(reply.get(), "u", &word) > 0) result.push_back(word);
  return result;
}

std::optional<AccessibilityFocus::Object> AccessibilityFocus::focusedWithin(const Object& window) {
  std::deque<Object> queue{window};
  for (std::size_t searched = 0; !queue.empty() && searched < kObjectsSearched; ++searched) {
    Object object = std::move(queue.front());
    queue.pop_front();
    auto state = states(object);
    if (has(state, kStateFocused)) return object;
    // What is not on screen holds no focus: its subtree is not asked.
    if (!has(state, kStateShowing) && searched > 0) continue;
    for (auto& child : children(object)) queue.push_back(std::move(child));
  }
  return std::nullopt;
}

std::optional<AccessibilityFocus::Focused> AccessibilityFocus::focused() {
  if (bus() == nullptr) return std::nullopt;
  const Object desktop{"org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root"};
  for (const auto& application : children(desktop)) {
    for (const auto& window : children(application)) {
      if (!has(states(window), kStateActive)) continue;
      Focused found;
      auto call = bus_->methodCall(application.name.c_str(), application.path.c_str(),
                                   "org.freedesktop.DBus.Properties", "Get");
      if (call) sd_bus_message_append(call.get(), "ss", kAccessible, "Name");
      if (auto reply = bus_->call(call, kPatience)) {
        const char* name = nullptr;
        if (sd_bus_message_read(reply.get(), "v", "s", &name) >= 0 && name != nullptr) {
          found.application = name;
        }
      }
      found.focus = focusedWithin(window);
      found.terminal = isTerminalApplication(found.application);
      if (found.focus) {
        auto role = bus_->methodCall(found.focus->name.c_str(), found.focus->path.c_str(),
                                     kAccessible, "GetRole");
        std::uint32_t value = 0;
        auto reply = bus_->call(role, kPatience);
        if (reply && sd_bus_message_read(reply.get(), "u", &value) >= 0) {
          found.terminal = found.terminal || value == kRoleTerminal;
        }
      }
      return found;
    }
  }
  return std::nullopt;
}

std::string AccessibilityFocus::selection(const Object& object) {
  const char* text = "org.a11y.atspi.Text";
  auto count = bus_->methodCall(object.name.c_str(), object.path.c_str(), text, "GetNSelections");
  auto counted = bus_->call(count, kPatience);
  std::int32_t selections = 0;
  if (!counted || sd_bus_message_read(counted.get(), "i", &selections) < 0 || selections < 1) {
    return {};
  }
  auto range = bus_->methodCall(object.name.c_str(), object.path.c_str(), text, "GetSelection");
  if (range) sd_bus_message_append(range.get(), "i", 0);
  auto ranged = bus_->call(range, kPatience);
  std::int32_t start = 0;
  std::int32_t end = 0;
  if (!ranged || sd_bus_message_read(ranged.get(), "ii", &start, &end) < 0 || end <= start) {
    return {};
  }
  auto get = bus_->methodCall(object.name.c_str(), object.path.c_str(), text, "GetText");
  if (get) sd_bus_message_append(get.get(), "ii", start, end);
  auto got = bus_->call(get, kPatience);
  const char* selected = nullptr;
  if (!got || sd_bus_message_read(got.get(), "s", &selected) < 0 || selected == nullptr) return {};
  return selected;
}

std::optional<TerminalKind> AccessibilityFocus::kind() {
  auto found = focused();
  if (!found) return std::nullopt;
  return found->terminal ? TerminalKind::clipboardKeys : TerminalKind::none;
}

std::optional<std::string> AccessibilityFocus::selectedText() {
  auto found = focused();
  if (!found || !found->terminal || !found->focus) return std::nullopt;
  return selection(*found->focus);
}

}  // namespace deskagent::platform::dbus
