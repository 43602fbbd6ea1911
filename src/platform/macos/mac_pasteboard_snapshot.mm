// The snapshot of the general pasteboard that a transfer puts back afterwards: bounded in what it
// reads, and read one representation per turn of the main loop.

#import <AppKit/AppKit.h>

#include <cstddef>
#include <memory>
#include <string>
#include <utility>

#include "loop/main_loop.hpp"
#include "platform/macos/mac_platform.hpp"

namespace deskagent::platform {
namespace {

// What a snapshot keeps at most; a representation that would take it past this is left out.
constexpr std::size_t kMaxSnapshotBytes = std::size_t{64} << 20;
// How often a snapshot starts again because the pasteboard changed while it was read.
constexpr int kMaxRestarts = 2;

// Types that are not worth a read, or whose read does harm: dynamic types are conversions the
// system derives from another type on the item (reading them makes it convert); the file-promise
// types only name a promise, and reading one asks the source application to write the files.
bool isLeftOut(NSPasteboardType type) {
  if ([type hasPrefix:@"dyn."]) return true;
  if ([type hasPrefix:@"com.apple.pasteboard.promised-"]) return true;
  return [type isEqualToString:@"Apple files promise pasteboard type"] ||
         [type isEqualToString:@"com.apple.NSFilePromiseItemMetaData"] ||
         [type isEqualToString:@"NSPromiseContentsPboardType"];
}

// An item's types in the order they are read: the plain text first, so that it is the last
// thing the byte limit takes from the user.
NSArray<NSPasteboardType>* typesToRead(NSPasteboardItem* item) {
  NSMutableArray<NSPasteboardType>* types = [NSMutableArray array];
  for (NSPasteboardType type in item.types) {
    if (isLeftOut(type)) continue;
    if ([type isEqualToString:NSPasteboardTypeString]) {
      [types insertObject:type atIndex:0];
    } else {
      [types addObject:type];
    }
  }
  return types;
}

// Reads the general pasteboard one representation per step. Its items go stale when the
// pasteboard changes, so the reader then starts again, a few times at most.
class SnapshotReader {
 public:
  SnapshotReader() { begin(); }

  // Reads the next representation; false once there is nothing more to read.
  bool step() {
    NSPasteboard* pasteboard = [NSPasteboard generalPasteboard];
    if (pasteboard.changeCount != changeCount_ && restarts_ < kMaxRestarts) {
      ++restarts_;
      begin();
    }
    while (item_ < items_.count) {
      NSPasteboardItem* item = items_[item_];
      if (types_ == nil) types_ = typesToRead(item);
      if (type_ < types_.count && total_ < kMaxSnapshotBytes) {
        read(item, types_[type_++]);
        return true;
      }
      if (!current_.representations.empty()) contents_.items.push_back(std::move(current_));
      current_ = {};
      types_ = nil;
      type_ = 0;
      ++item_;
    }
    return false;
  }

  PasteboardContents take() { return std::move(contents_); }

 private:
  void begin() {
    NSPasteboard* pasteboard = [NSPasteboard generalPasteboard];
    changeCount_ = pasteboard.changeCount;
    items_ = pasteboard.pasteboardItems;
    item_ = 0;
    types_ = nil;
    type_ = 0;
    total_ = 0;
    current_ = {};
    contents_ = {};
  }

  void read(NSPasteboardItem* item, NSPasteboardType type) {
    NSData* data = [item dataForType:type];
    // Nil: promised by an application that no longer answers.
    if (data == nil || data.length > kMaxSnapshotBytes - total_) return;
    std::string bytes;
    if (data.length > 0) bytes.assign(static_cast<const char*>(data.bytes), data.length);
    total_ += data.length;
    const char* name = type.UTF8String;
    current_.representations.push_back({name != nullptr ? name : "", std::move(bytes)});
  }

  NSInteger changeCount_ = 0;
  NSArray<NSPasteboardItem*>* items_ = nil;
  NSUInteger item_ = 0;
  NSArray<NSPasteboardType>* types_ = nil;  // of the item being read
  NSUInteger type_ = 0;
  std::size_t total_ = 0;
  int restarts_ = 0;
  PasteboardItem current_;
  PasteboardContents contents_;
};

// One step now, and the next on a later turn: commands and tap events queued meanwhile are
// served between two reads instead of after the whole snapshot.
void continueSnapshot(MainLoop& loop, std::shared_ptr<SnapshotReader> reader,
                      PasteboardContentsCallback done) {
  bool more;
  @autoreleasepool {
    more = reader->step();
  }
  if (!more) {
    done(reader->take());
    return;
  }
  loop.post([&loop, reader = std::move(reader), done = std::move(done)] {
    continueSnapshot(loop, reader, done);
  });
}

}  // namespace

PasteboardContents MacPlatform::readPasteboardContents() {
  @autoreleasepool {
    SnapshotReader reader;
    while (reader.step()) {
    }
    return reader.take();
  }
}

void MacPlatform::readPasteboardContentsInTurns(PasteboardContentsCallback done) {
  std::shared_ptr<SnapshotReader> reader;
  @autoreleasepool {
    reader = std::make_shared<SnapshotReader>();
  }
  continueSnapshot(loop_, std::move(reader), std::move(done));
}

}  // namespace deskagent::platform
