#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "loop/main_loop.hpp"
#include "platform/platform.hpp"
#include "platform/wayland/wayland_connection.hpp"
#include "platform/wayland/wayland_pipes.hpp"

namespace deskagent::platform::wayland {

// The types Wayland owners offer that are not plain content.
const std::vector<PasteboardTypeRule>& waylandTypeRules();

// Which of the seat's selections a Clipboard reads and writes: the clipboard, or the primary
// selection (what is selected, pasted with Shift+Insert or the middle button).
enum class Selection { clipboard, primary };

// The clipboard through data-control: read and written without a focused window of ours. The
// change count is our own, moved by every selection the compositor announces and by our writes.
class Clipboard {
 public:
  // `chords` counts the paste chords sent so far: a text's read counts only after one.
  // `changeCount` outlives the connection: another compositor's clipboard is another clipboard.
  Clipboard(Connection& connection, MainLoop& loop, const std::uint64_t& chords,
            std::int64_t& changeCount, Selection which = Selection::clipboard);
  ~Clipboard();
  Clipboard(const Clipboard&) = delete;
  Clipboard& operator=(const Clipboard&) = delete;

  std::int64_t changeCount() const { return changeCount_; }
  // The plain text, read at once (a short while at most): for the primary selection, which
  // must be saved before the chord that replaces it.
  std::optional<std::string> text();
  // The same, as the owner's answer arrives on the main loop (`done` on a later turn).
  void readText(PasteboardTextCallback done);
  PasteboardListing listing();
  // One type, as the owner's answer arrives on the main loop (`done` on a later turn).
  void readType(const std::string& type, const PasteboardReadLimits& limits,
                PasteboardTypeCallback done);
  // Drops the reads under way: their `done` never runs.
  void cancelReads();
  void setContents(const PasteboardContents& contents);
  // The text as the only content (nothing: none at all).
  void setText(const std::optional<std::string>& text);
  // False when nothing can be written: the compositor has ended our data device.
  bool setTextNotifyingRead(const std::string& text, PasteboardReadCallback onRead);

 private:
  struct Offer {
    zwlr_data_control_offer_v1* offer = nullptr;
    std::vector<std::string> types;
    bool typesCut = false;  // it offers more than we keep the names of
  };

  static void onDataOffer(void* data, zwlr_data_control_device_v1*,
                          zwlr_data_control_offer_v1* offer);
  static void onSelection(void* data, zwlr_data_control_device_v1*,
                          zwlr_data_control_offer_v1* offer);
  void selectionChanged(zwlr_data_control_offer_v1* offer);
  static void onFinished(void* data, zwlr_data_control_device_v1*);
  static void onPrimarySelection(void* data, zwlr_data_control_device_v1*,
                                 zwlr_data_control_offer_v1* offer);
  static void onOfferType(void* data, zwlr_data_control_offer_v1* offer, const char* type);
  static void onSend(void* data, zwlr_data_control_source_v1* source, const char* type,
                     std::int32_t fd);
  static void onCancelled(void* data, zwlr_data_control_source_v1* source);

  void forgetOffer(zwlr_data_control_offer_v1* offer);
  // Asks the owner for one type of the current selection: our end of the pipe it writes to
  // (non-blocking), or -1.
  int requestType(const std::string& type);
  // One type read at once: nothing when its owner did not give it whole in a short while.
  std::optional<std::string> receive(const std::string& type);
  void startRead(int fd, const PasteboardReadLimits& limits, PasteboardTypeCallback done);
  // What we own of that type (or, with `anyText`, our plain text); null where we own none.
  const Bytes* ownedType(const std::string& type, bool anyText = false) const;
  std::optional<std::string> offeredTextType() const;
  // Offers `items` as the selection (nothing: no selection at all).
  void own(PasteboardContents contents, PasteboardReadCallback onRead = {});
  void setSelection(zwlr_data_control_source_v1* source);

  Connection& connection_;
  MainLoop& loop_;
  const std::uint64_t& chords_;
  zwlr_data_control_device_v1* device_ = nullptr;
  std::map<zwlr_data_control_offer_v1*, Offer> pending_;  // not yet a selection
  std::optional<Offer> selection_;
  std::int64_t& changeCount_;
  Selection which_;
  // What we offer while our source holds the selection.
  zwlr_data_control_source_v1* source_ = nullptr;
  PasteboardContents owned_;
  PasteboardReadCallback onRead_;
  // Reads of others' content and writes of ours under way.
  std::vector<std::unique_ptr<PipeRead>> reads_;
  std::vector<std::unique_ptr<PipeWrite>> writes_;
  std::uint64_t chordsAtWrite_ = 0;
  bool clearing_ = false;  // the empty selection we asked for has not been announced yet
};

}  // namespace deskagent::platform::wayland
