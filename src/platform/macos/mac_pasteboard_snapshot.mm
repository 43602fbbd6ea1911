// Reading the general pasteboard for a snapshot: its items' types as listed, and one
// representation at a time, each answered on a later turn of the main loop.
//
// NSPasteboard reads only synchronously, and on no thread but the main one by AppKit's rule, so
// a read holds the loop until the owner delivers (a promise kept, Universal Clipboard fetching
// from another device, the user answering the privacy alert). No size is known before a read.
// What is bounded: one read per turn, so keys and commands are served between reads; a read
// that took longer than the owner is given ends the snapshot as not whole, and so does one that
// ends past the snapshot's deadline (the agent checks); bytes over the budget are never copied.

#import <AppKit/AppKit.h>

#include <utility>

#include "loop/main_loop.hpp"
#include "platform/macos/mac_platform.hpp"
#include "platform/macos/mac_type_rules.hpp"

namespace deskagent::platform {

// The items of the listing just made: a read refers to them, so a pasteboard that changed since
// is not read item by item into a mix of two contents (the agent sees the change count move).
struct MacPlatform::ListedItems {
  NSArray<NSPasteboardItem*>* items = nil;
};

MacPlatform::MacPlatform(MainLoop& loop) : loop_(loop), listed_(std::make_shared<ListedItems>()) {}
MacPlatform::~MacPlatform() = default;

const std::vector<PasteboardTypeRule>& MacPlatform::pasteboardTypeRules() const {
  return macTypeRules();
}

void MacPlatform::listPasteboardTypes(PasteboardListingCallback done) {
  PasteboardListing listing;
  @autoreleasepool {
    NSArray<NSPasteboardItem*>* items = [NSPasteboard generalPasteboard].pasteboardItems;
    listed_->items = items;
    for (NSPasteboardItem* item in items) {
      auto& types = listing.items.emplace_back();
      for (NSPasteboardType type in item.types) {
        const char* name = type.UTF8String;
        types.emplace_back(name != nullptr ? name : "");
      }
    }
  }
  loop_.post([done = std::move(done), listing = std::move(listing)] { done(listing); });
}

void MacPlatform::readPasteboardType(std::size_t item, const std::string& type,
                                     const PasteboardReadLimits& limits,
                                     PasteboardTypeCallback done) {
  PasteboardTypeRead read{{}, PasteboardReadError::failed};
  loop_.updateNow();
  TimePoint started = loop_.now();
  @autoreleasepool {
    NSArray<NSPasteboardItem*>* items = listed_->items;
    NSString* name = [[NSString alloc] initWithBytes:type.data()
                                              length:type.size()
                                            encoding:NSUTF8StringEncoding];
    if (items != nil && item < items.count && name != nil) {
      // Blocks until the owner delivers; nil when it no longer can (it quit, or does not answer).
      NSData* data = [items[item] dataForType:name];
      if (data != nil && data.length > limits.maxBytes) {
        read.error = PasteboardReadError::overBudget;
      } else if (data != nil) {
        std::string bytes;
        if (data.length > 0) bytes.assign(static_cast<const char*>(data.bytes), data.length);
        read = PasteboardTypeRead{std::move(bytes), {}};
      }
    }
  }
  // The owner had the whole loop waiting: an answer later than it was given time for is the
  // owner that did not answer in time, as on every platform.
  loop_.updateNow();
  if (loop_.now() - started > limits.firstAnswer) read = {{}, PasteboardReadError::timedOut};
  loop_.post([done = std::move(done), read = std::move(read)] { done(read); });
}

void MacPlatform::cancelPasteboardReads() {
  listed_->items = nil;
}

}  // namespace deskagent::platform
