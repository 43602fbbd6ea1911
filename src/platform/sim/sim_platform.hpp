#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/platform.hpp"
#include "platform/sim/sim_desktop.hpp"
#include "platform/sim/sim_keyboard.hpp"

namespace deskagent::platform {

// A simulated desktop for tests: every answer is set by the test, and what the agent asks of the
// system is recorded. Time only moves with the main loop's clock.
class SimPlatform final : public Platform {
 public:
  explicit SimPlatform(MainLoop& loop);

  // --- Knobs ---
  bool trusted = false;
  std::int64_t listenEventAccess = kAccessDenied;
  std::int64_t microphoneStatus = 0;
  // What the agent asked the user for.
  int accessibilityPrompts = 0;
  int inputMonitoringRequests = 0;
  // How often each permission was probed without prompting.
  int trustChecks = 0;

  // Lets Accessibility trust alone make taps hear keys, as on macOS.
  bool trustHears = false;

  // The user answers the system's Input Monitoring dialog: access becomes granted or denied and
  // every request still open returns, on a later turn. Returns how many were open.
  int answerListenRequests(bool grant);

  SimKeyboard& keyboard() { return keyboard_; }
  SimDesktop& desktop() { return desktop_; }

  // --- Platform ---
  bool isProcessTrusted(bool prompt) override;
  std::int64_t checkListenEventAccess() override;
  void requestListenEventAccess(std::function<void()> answered) override;
  bool trustLetsTapsHear() const override { return trustHears; }
  std::int64_t microphoneAuthorizationStatus() override;

  std::unique_ptr<EventTap> createEventTap(TapLocation location, TapCallback callback) override;
  std::unique_ptr<RunLoopSource> createRunLoopSource(EventTap& tap) override;
  std::uint64_t currentModifierFlags() override;

  std::unique_ptr<EventSource> createEventSource() override;
  std::unique_ptr<SyntheticKeyEvent> createKeyboardEvent(EventSource* source, std::uint16_t keyCode,
                                                         bool keyDown) override;

  std::int64_t pasteboardChangeCount() override;
  std::int64_t pasteboardAccessBehavior() override { return desktop_.accessBehavior; }
  void listPasteboardTypes(PasteboardListingCallback done) override;
  void readPasteboardType(std::size_t item, const std::string& type,
                          const PasteboardReadLimits& limits, PasteboardTypeCallback done) override;
  void cancelPasteboardReads() override;
  const std::vector<PasteboardTypeRule>& pasteboardTypeRules() const override;
  void readPasteboardText(PasteboardTextCallback done) override;
  void writePasteboardContents(const PasteboardContents& contents) override;
  PasteboardTextWrite writePasteboardTextNotifyingRead(const std::string& text,
                                                       PasteboardReadCallback onRead) override;
  PasteboardWriter pasteboardWriter() override;

 private:
  MainLoop& loop_;
  std::vector<std::function<void()>> openListenRequests_;
  SimKeyboard keyboard_;
  SimDesktop desktop_;
};

}  // namespace deskagent::platform
