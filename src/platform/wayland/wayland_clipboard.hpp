#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "loop/main_loop.hpp"
#include "platform/platform.hpp"
#include "platform/wayland/wayland_connection.hpp"

namespace deskagent::platform::wayland {

// The types Wayland owners offer that are not plain content.
const std::vector<PasteboardTypeRule>& waylandTypeRules();

// The clipboard through data-control: read and written without a focused window of ours. The
// change count is our own, moved by every selection the compositor announces and by our writes.
class Clipboard {
 public:
  // `chords` counts the paste chords sent so far: a text's read counts only after one.
  Clipboard(Connection& connection, MainLoop& loop, const std::uint64_t& chords);
  ~Clipboard();
  Clipboard(const Clipboard&) = delete;
  Clipboard& operator=(const Clipboard&) = delete;

  std::int64_t changeCount() const { return changeCount_; }
  std::optional<std::string> text();
  PasteboardListing listing();
  PasteboardTypeRead readType(const std::string& type, const PasteboardReadLimits& limits);
  void setContents(const PasteboardContents& contents);
  // False when nothing can be written: the compositor has ended our data device.
  bool setTextNotifyingRead(const std::string& text, PasteboardReadCallback onRead);

 private:
  struct Offer {
    zwlr_data_control_offer_v1* offer = nullptr;
    std::vector<std::string> types;
  };

  static void onDataOffer(void* data, zwlr_data_control_device_v1*,
                          zwlr_data_control_offer_v1* offer);
  static void onSelection(void* data, zwlr_data_control_device_v1*,
                          zwlr_data_control_offer_v1* offer);
  static void onFinished(void* data, zwlr_data_control_device_v1*);
  static void onPrimarySelection(void* data, zwlr_data_control_device_v1*,
                                 zwlr_data_control_offer_v1* offer);
  static void onOfferType(void* data, zwlr_data_control_offer_v1* offer, const char* type);
  static void onSend(void* data, zwlr_data_control_source_v1* source, const char* type,
                     std::int32_t fd);
  static void onCancelled(void* data, zwlr_data_control_source_v1* source);

  void forgetOffer(zwlr_data_control_offer_v1* offer);
  // Reads one type of the current selection: nothing when its owner did not give it whole in
  // time (by `until` at the latest) or it would pass `limit` bytes (`tooLarge` then set).
  std::optional<std::string> receive(const std::string& type, std::size_t limit,
                                     std::chrono::steady_clock::time_point until,
                                     bool* tooLarge = nullptr);
  // Offers `items` as the selection (nothing: no selection at all).
  void own(PasteboardContents contents, PasteboardReadCallback onRead = {});

  Connection& connection_;
  MainLoop& loop_;
  const std::uint64_t& chords_;
  zwlr_data_control_device_v1* device_ = nullptr;
  std::map<zwlr_data_control_offer_v1*, std::vector<std::string>> pending_;  // not yet a selection
  std::optional<Offer> selection_;
  std::int64_t changeCount_ = 0;
  // What we offer while our source holds the selection.
  zwlr_data_control_source_v1* source_ = nullptr;
  PasteboardContents owned_;
  PasteboardReadCallback onRead_;
  std::uint64_t chordsAtWrite_ = 0;
  bool clearing_ = false;  // the empty selection we asked for has not been announced yet
};

}  // namespace deskagent::platform::wayland
