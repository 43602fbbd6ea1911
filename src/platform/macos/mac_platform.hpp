#pragma once

#include <memory>

#include "platform/platform.hpp"

namespace deskagent::platform {

// The real macOS services. Each operation is the system call its declaration in
// platform/platform.hpp names; the members are defined beside the service they use
// (mac_permissions.mm, mac_event_tap.cpp, mac_synthetic_keys.cpp, mac_keyboard_layout.cpp,
// mac_pasteboard.mm, mac_pasteboard_snapshot.mm), so this header needs no Apple header.
class MacPlatform final : public Platform {
 public:
  explicit MacPlatform(MainLoop& loop);
  ~MacPlatform() override;

  bool isProcessTrusted(bool prompt) override;
  std::int64_t checkListenEventAccess() override;
  void requestListenEventAccess(std::function<void()> answered) override;
  bool trustLetsTapsHear() const override { return true; }
  std::int64_t microphoneAuthorizationStatus() override;

  std::unique_ptr<EventTap> createEventTap(TapLocation location, TapCallback callback) override;
  std::unique_ptr<RunLoopSource> createRunLoopSource(EventTap& tap) override;
  std::uint64_t currentModifierFlags() override;

  std::unique_ptr<EventSource> createEventSource() override;
  std::unique_ptr<SyntheticKeyEvent> createKeyboardEvent(EventSource* source, std::uint16_t keyCode,
                                                         bool keyDown) override;
  std::uint16_t keyCodeForShortcutLetter(char letter, std::uint16_t ansiFallback) override;

  std::int64_t pasteboardChangeCount() override;
  std::int64_t pasteboardAccessBehavior() override;
  void listPasteboardTypes(PasteboardListingCallback done) override;
  void readPasteboardType(std::size_t item, const std::string& type,
                          const PasteboardReadLimits& limits, PasteboardTypeCallback done) override;
  void cancelPasteboardReads() override;
  const std::vector<PasteboardTypeRule>& pasteboardTypeRules() const override;
  void readPasteboardText(PasteboardTextCallback done) override;
  void writePasteboardContents(const PasteboardContents& contents) override;
  PasteboardTextWrite writePasteboardTextNotifyingRead(const std::string& text,
                                                       PasteboardReadCallback onRead) override;

 private:
  struct ListedItems;

  MainLoop& loop_;
  std::shared_ptr<ListedItems> listed_;
};

std::unique_ptr<Platform> connectMacPlatform(MainLoop& loop);

}  // namespace deskagent::platform
