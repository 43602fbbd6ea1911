#include "platform/sim/sim_desktop.hpp"

#include "platform/sim/sim_platform.hpp"

namespace deskagent::platform {

std::unique_ptr<EventSource> SimPlatform::createEventSource() {
  return nullptr;
}

std::unique_ptr<SyntheticKeyEvent> SimPlatform::createKeyboardEvent(EventSource*, std::uint16_t,
                                                                    bool) {
  return nullptr;
}

std::int64_t SimPlatform::pasteboardChangeCount() {
  return 0;
}
std::optional<std::string> SimPlatform::pasteboardString() {
  return std::nullopt;
}
void SimPlatform::clearPasteboard() {}
void SimPlatform::setPasteboardString(const std::string&) {}
PasteboardContents SimPlatform::readPasteboardContents() {
  return {};
}
void SimPlatform::writePasteboardContents(const PasteboardContents&) {}
bool SimPlatform::writePasteboardTextNotifyingRead(const std::string& text,
                                                   PasteboardReadCallback onRead) {
  return Platform::writePasteboardTextNotifyingRead(text, std::move(onRead));
}

}  // namespace deskagent::platform
