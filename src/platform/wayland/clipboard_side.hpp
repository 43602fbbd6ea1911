#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.hpp"

namespace deskagent::platform::wayland {

// The clipboard of a Wayland desktop as the platform's pasteboard calls reach it: data-control's,
// or a compositor's own API (mutter's). Each call as the seam's of the same name says; the type
// rules are Wayland's for every side (mutter's owners are Wayland's and XWayland's).
class ClipboardSide {
 public:
  virtual ~ClipboardSide() = default;
  // False when the compositor refuses it to us: nothing can be saved or written.
  virtual bool usable() const { return true; }
  virtual std::int64_t changeCount() = 0;
  virtual void listTypes(PasteboardListingCallback done) = 0;
  virtual void readType(const std::string& type, const PasteboardReadLimits& limits,
                        PasteboardTypeCallback done) = 0;
  virtual void cancelReads() {}
  virtual void readText(PasteboardTextCallback done) = 0;
  virtual void write(const PasteboardContents& contents) = 0;
  virtual PasteboardTextWrite writeTextNotifyingRead(const std::string& text,
                                                     PasteboardReadCallback onRead) = 0;
};

}  // namespace deskagent::platform::wayland
