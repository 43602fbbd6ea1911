// The X11 backend in-process against a real X server (Xvfb), driven by real X clients: the raw
// key tap, the chord, the clipboard and a display that goes away and comes back.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "loop/poll_loop.hpp"
#include "platform/platform.hpp"
#include "platform/x11/x11_platform.hpp"
#include "x11/x11_harness.hpp"

namespace deskagent::testing {
namespace {

using platform::KeyboardEvent;
using platform::PasteboardTextWrite;
using platform::TapEventType;

constexpr std::uint64_t kRightOption = 0x40, kRightShift = 0x4, kRightControl = 0x2000,
                        kRightCommand = 0x10;

struct TapRecord {
  std::vector<KeyboardEvent> keys;  // the modifier changes
  std::vector<TapEventType> others;
  platform::TapCallback callback() {
    return [this](TapEventType type, const KeyboardEvent& event) {
      if (type == TapEventType::flagsChanged) {
        keys.push_back(event);
      } else {
        others.push_back(type);
      }
    };
  }
};

// A tap as the watcher sets one up: created, its source on the loop, enabled.
struct Listening {
  std::unique_ptr<platform::EventTap> tap;
  std::unique_ptr<platform::RunLoopSource> source;
};

class X11Backend : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!server_.start()) GTEST_SKIP() << "no Xvfb";
    server_.makeCurrent();
    platform_ = platform::x11::connectX11Platform(loop_);
    ASSERT_TRUE(platform_);
  }

  // What a read of the platform's gives, the loop (and so the agent's side of every X
  // conversation) served until it answers.
  template <class T>
  T await(const std::function<void(std::function<void(T)>)>& read) {
    std::optional<T> got;
    read([&](T value) { got = std::move(value); });
    EXPECT_TRUE(runUntil([&] { return got.has_value(); }));
    return got.value_or(T{});
  }
  // The clipboard's plain text, and its first type's read, as the agent gets them.
  std::optional<std::string> text() {
    return await<std::optional<std::string>>(
        [&](auto done) { platform_->readPasteboardText(done); });
  }
  platform::PasteboardListing listing() {
    return await<platform::PasteboardListing>(
        [&](auto done) { platform_->listPasteboardTypes(done); });
  }
  platform::PasteboardTypeRead readType(const std::string& type) {
    return await<platform::PasteboardTypeRead>([&](auto done) {
      platform_->readPasteboardType(0, type, {1 << 20, 1s, 1s}, done);
    });
  }

  bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s) {
    auto tick = loop_.startRepeating(std::chrono::milliseconds(5), [] {});
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      loop_.runOnce(true);
    }
    return true;
  }

  // Runs a client to its end while the loop serves it; its whole output.
  std::string serveWhileRunning(std::vector<std::string> argv) {
    ChildProcess child(std::move(argv));
    child.closeStdin();
    std::string out;
    runUntil([&] {
      out += child.takeAvailable();  // a child blocked on a full pipe would never end
      return child.wait(0ms).has_value();
    });
    return out + child.readAll();
  }

  Listening listen(TapRecord& record) {
    Listening l;
    l.tap = platform_->createEventTap(platform::TapLocation::hid, record.callback());
    if (!l.tap) return l;
    l.source = platform_->createRunLoopSource(*l.tap);
    l.source->addToMainLoop();
    l.tap->enable(true);
    return l;
  }

  void chord(std::uint16_t key) {
    auto source = platform_->createEventSource();
    auto down = platform_->createKeyboardEvent(source.get(), key, true);
    auto up = platform_->createKeyboardEvent(source.get(), key, false);
    down->setFlags(platform::kFlagCommand);
    up->setFlags(platform::kFlagCommand);
    down->post();
    up->post();
  }

  XServer server_;
  RealClock clock_;
  PollLoop loop_{clock_};
  std::unique_ptr<platform::Platform> platform_;
};

TEST_F(X11Backend, ModifierKeysArriveWithTheFlagsOfEveryHeldKey) {
  TapRecord record, disabled;
  Listening tap = listen(record);
  ASSERT_TRUE(tap.tap);
  Listening off = listen(disabled);
  off.tap->enable(false);
  // Raw events are the only listen-only source: the session location has none.
  EXPECT_EQ(platform_->createEventTap(platform::TapLocation::session, record.callback()), nullptr);

  // Ordinary keys are not modifier changes; the last release is the end marker.
  press({"+Alt_R", "+Shift_R", "+a", "-a", "-Alt_R", "-Shift_R", "+Control_R", "-Control_R"});
  ASSERT_TRUE(runUntil([&] { return record.keys.size() == 6; }));
  auto expect = [&](std::size_t i, std::int64_t code, std::uint64_t flags) {
    EXPECT_EQ(record.keys[i].keyCode, code) << i;
    EXPECT_EQ(record.keys[i].flags, flags) << i;
  };
  expect(0, 61, kRightOption | platform::kFlagAlternate);
  expect(1, 60, kRightOption | platform::kFlagAlternate | kRightShift | platform::kFlagShift);
  expect(2, 61, kRightShift | platform::kFlagShift);
  expect(3, 60, 0);
  expect(4, 62, kRightControl | platform::kFlagControl);
  expect(5, 62, 0);
  EXPECT_TRUE(disabled.keys.empty() && disabled.others.empty());

  // Caps Lock reports its lock state, and the current flags read the keyboard.
  press({"+Caps_Lock", "-Caps_Lock"});
  ASSERT_TRUE(runUntil([&] { return record.keys.size() == 8; }));
  expect(6, 57, platform::kFlagAlphaShift);
  expect(7, 57, platform::kFlagAlphaShift);  // released, still locked
  EXPECT_EQ(platform_->currentModifierFlags(), platform::kFlagAlphaShift);
  press({"+Caps_Lock", "-Caps_Lock", "+Control_R"});
  ASSERT_TRUE(runUntil([&] { return record.keys.size() == 11; }));
  EXPECT_EQ(record.keys[8].flags, 0u);
  EXPECT_EQ(platform_->currentModifierFlags(), kRightControl | platform::kFlagControl);
  press({"-Control_R"});
  ASSERT_TRUE(runUntil([&] { return record.keys.size() == 12; }));

  // A changed keyboard map is followed: F12 made a right Super key, as a layout option would.
  std::string f12 = press({"map:F12=Super_R"});
  ASSERT_FALSE(f12.empty());
  f12.pop_back();
  std::string key = "#" + f12;
  press({"+" + key, "-" + key});
  ASSERT_TRUE(runUntil([&] { return record.keys.size() == 14; }));
  expect(12, 54, kRightCommand | platform::kFlagCommand);
  press({"map:" + key + "=F12"});
  press({"+" + key, "-" + key, "+Alt_R", "-Alt_R"});
  ASSERT_TRUE(runUntil([&] { return record.keys.size() == 16; }));
  expect(14, 61, kRightOption | platform::kFlagAlternate);  // F12 is no modifier again
}

// Alacritty owns its selections through one connection and reads the clipboard through another:
// both are Alacritty, so its selection is the focused terminal's, and its read of the dictated
// text is the paste's (the restore need not wait for its ceiling), reported once. A terminal, it
// gets Control+Shift+V whatever the user holds: the held keys are lifted for the chord and
// pressed again after it, and neither that nor the chord's own keys read as the user's doing (a
// watched key held through a paste must not read as let go).
TEST_F(X11Backend, AlacrittysTwoConnectionsAreOneApplication) {
  if (!installed("/usr/bin/alacritty")) GTEST_SKIP() << "no Alacritty";
  std::string dir = "/tmp/deskagent-alacritty-" + std::to_string(::getpid());
  std::filesystem::create_directories(dir);
  ChildProcess alacritty({"alacritty", "-e", "sh", "-c",
                          "echo chosen words; echo > " + dir + "/ready; cat > " + dir + "/typed"});
  auto file = [&](const std::string& name) { return runToEnd({"cat", dir + "/" + name}); };
  ASSERT_TRUE(becomes([&] { return file("ready"); }, "\n"));
  ASSERT_TRUE(focusOnceMapped("Alacritty"));
  press({"move:12,8"});  // over its first word
  ASSERT_TRUE(doubleClickSelects("chosen"));
  EXPECT_EQ(await<std::optional<std::string>>(
                [&](auto done) { ASSERT_TRUE(platform_->readSelectedTextWithoutCopying(done)); }),
            "chosen");

  int reads = 0;
  ASSERT_EQ(platform_->writePasteboardTextNotifyingRead("dictated words\n", [&] { ++reads; }),
            PasteboardTextWrite::writtenNotifyingRead);
  TapRecord record;
  Listening tap = listen(record);
  ASSERT_TRUE(tap.tap);
  press({"+Alt_R", "+Control_R"});
  ASSERT_TRUE(runUntil([&] { return record.keys.size() == 2; }));
  chord(9);
  EXPECT_TRUE(runUntil([&] { return reads == 1; }));
  EXPECT_TRUE(runUntil([&] { return file("typed") == "dictated words\n"; }));
  EXPECT_EQ(platform_->currentModifierFlags() & (kRightOption | kRightControl),
            kRightOption | kRightControl);
  press({"-Alt_R", "-Control_R"});
  ASSERT_TRUE(runUntil([&] { return record.keys.size() >= 4 && record.keys.back().flags == 0; }));
  std::vector<std::int64_t> codes;
  for (const auto& k : record.keys) codes.push_back(k.keyCode);
  EXPECT_EQ(codes, (std::vector<std::int64_t>{61, 62, 61, 62}));
  EXPECT_EQ(serveWhileRunning({"xclip", "-o", "-selection", "clipboard"}), "dictated words\n");
  EXPECT_EQ(reads, 1);
  std::filesystem::remove_all(dir);
}

// Text is read in the encoding its owner has. An owner that goes away empties the clipboard; that,
// our own writes and a clear are changes. (That another's copy is a change and a read is not, the
// end-to-end read and paste tests show.)
TEST_F(X11Backend, TextInItsOwnersEncodingAndTheChangesOfAnEmptiedClipboard) {
  auto latin1 = userClipboard("caf\xe9", "STRING");  // STRING is all it offers
  EXPECT_EQ(text(), "caf\xc3\xa9");
  auto xclip = userClipboard("h\xc3\xa9llo \xe2\x82\xac");
  EXPECT_EQ(text(), "h\xc3\xa9llo \xe2\x82\xac");
  auto count = platform_->pasteboardChangeCount();
  xclip->kill();
  ASSERT_TRUE(runUntil([&] { return platform_->pasteboardChangeCount() != count; }));
  EXPECT_EQ(text(), std::nullopt);
  EXPECT_TRUE(listing().items.empty());
  count = platform_->pasteboardChangeCount();
  platform_->writePasteboardContents({{platform::PasteboardItem{{{"UTF8_STRING", "ours"}}}}});
  EXPECT_GT(platform_->pasteboardChangeCount(), count);
  count = platform_->pasteboardChangeCount();
  platform_->writePasteboardContents({});
  EXPECT_GT(platform_->pasteboardChangeCount(), count);
}

TEST_F(X11Backend, AnOwnerThatNeverAnswersCostsABoundedWaitAndIsNotSaved) {
  auto hung = userClipboard("never given");
  ::kill(hung->pid(), SIGSTOP);
  EXPECT_EQ(text(), std::nullopt);
  EXPECT_EQ(readType("UTF8_STRING").error, platform::PasteboardReadError::timedOut);
}

TEST_F(X11Backend, ALostDisplayTurnsPermissionsOffAndTheBackendComesBack) {
  TapRecord record;
  Listening tap = listen(record);
  ASSERT_TRUE(tap.tap);
  auto count = platform_->pasteboardChangeCount();
  server_.stop();
  // A tap that missed events is told so, as one disabled by the system would be.
  ASSERT_TRUE(runUntil([&] { return record.others.size() == 1; }));
  EXPECT_FALSE(tap.tap->isValid());
  EXPECT_FALSE(platform_->isProcessTrusted(false));
  EXPECT_EQ(platform_->checkListenEventAccess(), platform::kAccessDenied);
  EXPECT_EQ(platform_->createEventTap(platform::TapLocation::hid, record.callback()), nullptr);
  EXPECT_EQ(platform_->currentModifierFlags(), 0u);
  EXPECT_EQ(text(), std::nullopt);
  EXPECT_EQ(platform_->pasteboardChangeCount(), count);
  chord(9);  // nothing to post to, and nothing breaks

  ASSERT_TRUE(server_.restart());
  ASSERT_TRUE(runUntil([&] { return platform_->isProcessTrusted(false); }));
  EXPECT_EQ(platform_->checkListenEventAccess(), platform::kAccessGranted);
  EXPECT_GT(platform_->pasteboardChangeCount(), count);  // a new server, a new clipboard
  // The tap listens again on the new connection.
  EXPECT_TRUE(tap.tap->isValid());
  press({"+Alt_R", "-Alt_R"});
  ASSERT_TRUE(runUntil([&] { return record.keys.size() == 2; }));
  EXPECT_EQ(record.keys[0].keyCode, 61);
  EXPECT_EQ(record.others, std::vector<TapEventType>(2, TapEventType::disabledByTimeout));
}

}  // namespace
}  // namespace deskagent::testing
