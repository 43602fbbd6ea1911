// Reading the general pasteboard for a snapshot: its items' types as listed, and one
// representation at a time, each answered on a later turn of the main loop.

#import <AppKit/AppKit.h>

#include <utility>

#include "loop/main_loop.hpp"
#include "platform/macos/mac_platform.hpp"

namespace deskagent::platform {

// The items of the listing just made: a read refers to them, so a pasteboard that changed since
// is not read item by item into a mix of two contents (the agent sees the change count move).
struct MacPlatform::ListedItems {
  NSArray<NSPasteboardItem*>* items = nil;
};

MacPlatform::MacPlatform(MainLoop& loop) : loop_(loop), listed_(std::make_shared<ListedItems>()) {}
MacPlatform::~MacPlatform() = default;

const std::vector<PasteboardTypeRule>& MacPlatform::pasteboardTypeRules() const {
  static const std::vector<PasteboardTypeRule> rules = {
      {"dyn.*", TypeRule::keptWhenAlone,
       "a type no identifier was declared for: the system's conversion of another type on the "
       "item, or the only name of data written under a legacy name"},
      {"com.apple.pasteboard.promised-*", TypeRule::leftOut,
       "names a file promise; reading it makes the source application write the files"},
      {"Apple files promise pasteboard type", TypeRule::leftOut, "a file promise, legacy name"},
      {"com.apple.NSFilePromiseItemMetaData", TypeRule::leftOut, "a file promise's metadata"},
      {"NSPromiseContentsPboardType", TypeRule::leftOut, "a file promise, legacy name"},
  };
  return rules;
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
  loop_.post([done = std::move(done), read = std::move(read)] { done(read); });
}

void MacPlatform::cancelPasteboardReads() {
  listed_->items = nil;
}

}  // namespace deskagent::platform
