#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "loop/main_loop.hpp"
#include "platform/platform.hpp"

namespace deskagent::platform {

// Type identifiers on the simulated clipboard.
inline constexpr const char* kSimPlainTextType = "public.utf8-plain-text";
inline constexpr const char* kSimRichTextType = "public.rtf";
inline constexpr const char* kSimImageType = "public.png";

// Key codes the simulated frontmost application reacts to with Command held.
inline constexpr std::uint16_t kSimKeyV = 9;
inline constexpr std::uint16_t kSimKeyC = 8;

// A clipboard holding one item with one plain-text representation.
PasteboardContents simPlainText(const std::string& text);
// An agent's dictated text as it writes it: the text and the agents' marker.
PasteboardContents simDictatedText(const std::string& text);

// The simulated clipboard, the keyboard-event service and the frontmost application that
// reacts to posted chords. Time only moves with the main loop.
class SimDesktop {
 public:
  explicit SimDesktop(MainLoop& loop) : loop_(loop) {}

  // --- The clipboard as the test sees it ---
  const PasteboardContents& clipboard() const { return clipboard_; }
  std::int64_t changeCount() const { return changeCount_; }
  // Anyone but the agent (the user, another application) replaces the clipboard; remembered
  // as the user's own content.
  void userCopies(PasteboardContents contents);
  const PasteboardContents& usersCopy() const { return usersCopy_; }
  std::int64_t changeCountAfterUsersCopy() const { return usersCopyCount_; }
  // Whether the platform can tell when another application reads text the agent wrote.
  bool notifiesPasteRead = true;
  // Whether the platform can tell who made the clipboard's content.
  bool tellsWriter = true;
  // Another program holds the clipboard: the agent's text write fails and leaves it as it was.
  bool textWriteFails = false;
  // Memory runs out: this many of the agent's next restores throw before writing anything, and
  // its next text write throws after it has replaced the clipboard.
  int restoresOutOfMemory = 0;
  bool textWriteOutOfMemory = false;
  // The owner of the current content stops answering: it cannot be read until replaced.
  void ownerFallsSilent() { ownerSilent_ = true; }
  // How long reading one type takes; the agent's loop keeps turning meanwhile.
  Duration typeReadTime{};
  // The user's setting for the host's pasteboard access (NSPasteboard.accessBehavior). Under
  // "always deny" the system hands the agent an empty clipboard, as macOS answers a denied read.
  std::int64_t accessBehavior = kPasteboardAccessAlwaysAllow;
  // Types whose read ends in an error instead of their bytes, while they are offered.
  std::map<std::string, PasteboardReadError> failingTypes;
  // The types the simulated clipboard's owner may offer that are not content, as a backend
  // lists them.
  std::vector<PasteboardTypeRule> typeRules;

  // --- Synthetic keyboard events ---
  bool eventSourceAvailable = true;
  bool keyDownCreatable = true;
  bool keyUpCreatable = true;
  // Modifiers the user is holding: new keyboard events start out with them.
  std::uint64_t heldModifiers = 0;

  struct PostedKey {
    std::uint16_t keyCode;
    bool keyDown;
    std::uint64_t flags;
    bool hadSource;
    bool localEventsPermitted;  // the source let the user's own events through
  };

  // --- The frontmost application ---
  enum class OnCopy { copiesSelection, ignores, copiesImage };
  OnCopy onCopy = OnCopy::copiesSelection;
  std::string selection;
  // How long after a chord the application acts on it (copies, or reads what it pastes).
  Duration appLatency{};
  // False: it takes Command-V but never reads the clipboard.
  bool appReadsPaste = true;
  // Set: the application reads the text once more this long after its first read, and pastes
  // what the second read gave (GTK and Chromium read twice).
  std::optional<Duration> appReadsAgain;

  // --- A clipboard manager ---
  // Set: this long after each write of the agent's, a manager reads the plain text and copies
  // it as its own (clipman does so with every new clipboard).
  std::optional<Duration> managerRecopies;
  // How long its copy takes to land once it has read the text (clipman under load: seconds).
  Duration managerLands{};
  // What it pasted, in order; absent where the clipboard held no plain text.
  std::vector<std::optional<std::string>> pasted;

  // --- What the agent did ---
  std::vector<PostedKey> postedKeys;
  int eventSourcesCreated = 0;
  int keyboardEventsCreated = 0;
  int agentClipboardCalls = 0;  // reads and writes alike

  // --- The agent's side (called by SimPlatform) ---
  std::unique_ptr<EventSource> createEventSource();
  std::unique_ptr<SyntheticKeyEvent> createKeyboardEvent(EventSource* source, std::uint16_t keyCode,
                                                         bool keyDown);
  std::int64_t pasteboardChangeCount();
  void listPasteboardTypes(PasteboardListingCallback done);
  void readPasteboardType(std::size_t item, const std::string& type,
                          const PasteboardReadLimits& limits, PasteboardTypeCallback done);
  void cancelPasteboardReads();
  void readPasteboardText(PasteboardTextCallback done);
  void writePasteboardContents(const PasteboardContents& contents);
  PasteboardTextWrite writePasteboardTextNotifyingRead(const std::string& text,
                                                       PasteboardReadCallback onRead);
  PasteboardWriter pasteboardWriter() const;

  // Called by a posted synthetic event.
  void keyPosted(const PostedKey& key);
  // Another program's own writes: the plain text alone, or nothing at all.
  void setPasteboardString(const std::string& text);
  void clearPasteboard();

 private:
  void replace(PasteboardContents contents, PasteboardWriter writer = PasteboardWriter::other);
  // A read of the plain text by anyone: tells the writer of lazily offered text.
  std::optional<std::string> readPlainText();
  void appPastes();
  void appCopies();

  MainLoop& loop_;
  PasteboardContents clipboard_;
  std::int64_t changeCount_ = 0;
  PasteboardWriter writer_ = PasteboardWriter::other;
  bool ownerSilent_ = false;
  PasteboardContents usersCopy_;
  std::int64_t usersCopyCount_ = 0;
  // Set while the agent's lazily offered text is on the clipboard and nobody has read it.
  void managerTakesOver();

  PasteboardReadCallback readNotice_;  // each read of the dictated text, while it is there
  std::vector<TimerId> readsUnderWay_;
};

}  // namespace deskagent::platform
