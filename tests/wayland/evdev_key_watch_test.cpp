// The evdev key watch on recorded input_event streams: each fake keyboard is a socket pair whose
// far end the test writes records to, in chunks that cut records apart.

#include "platform/wayland/evdev_key_watch.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/input.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "loop/clock.hpp"
#include "loop/poll_loop.hpp"
#include "platform/modifier_keys.hpp"

namespace deskagent::platform::wayland {
namespace {

// Devices by path: a keyboard (the test keeps the writing end), or an unreadable node.
struct FakeDevices final : InputDevices {
  struct Node {
    bool readable = true;
    int writer = -1;
    std::vector<unsigned> heldKeys;
  };
  std::map<std::string, Node>* nodes;
  int changesRead = -1;

  std::vector<std::string> present() override {
    std::vector<std::string> paths;
    for (auto& [path, node] : *nodes) paths.push_back(path);
    return paths;
  }
  OpenedDevice open(const std::string& path) override {
    Node& node = nodes->at(path);
    if (!node.readable) return {};
    int pair[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair), 0);
    node.writer = pair[1];
    return {OpenedDevice::Kind::keyboard, pair[0], node.heldKeys, false};
  }
  int changesFd() const override { return changesRead; }
  void drainChanges() override {
    char buffer[16];
    while (::read(changesRead, buffer, sizeof(buffer)) > 0) {
    }
  }
};

using Delivered = std::pair<std::int64_t, std::uint64_t>;  // key code, flags

class EvdevKeyWatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::pipe2(changes_, O_NONBLOCK), 0);
    auto devices = std::make_unique<FakeDevices>();
    devices->nodes = &nodes_;
    devices->changesRead = changes_[0];
    nodes_["/dev/input/event3"] = {};
    watch_ = std::make_unique<EvdevKeyWatch>(loop_, std::move(devices), [this](const auto& e) {
      delivered_.push_back({e.keyCode, e.flags});
    });
    watch_->setListening(true);
  }
  void TearDown() override {
    watch_.reset();
    for (auto& [path, node] : nodes_) {
      if (node.writer >= 0) ::close(node.writer);
    }
    ::close(changes_[0]);
    ::close(changes_[1]);
  }

  // Writes the records to a keyboard `chunk` bytes at a time, serving the loop after each.
  void send(const std::string& path, std::vector<std::pair<unsigned, int>> keys,
            std::size_t chunk = sizeof(input_event)) {
    std::string bytes;
    for (auto [code, value] : keys) {
      input_event records[2] = {{{}, EV_KEY, static_cast<__u16>(code), value},
                                {{}, EV_SYN, SYN_REPORT, 0}};
      bytes.append(reinterpret_cast<const char*>(records), sizeof(records));
    }
    for (std::size_t at = 0; at < bytes.size(); at += chunk) {
      std::string piece = bytes.substr(at, chunk);
      ASSERT_EQ(::write(nodes_.at(path).writer, piece.data(), piece.size()),
                static_cast<ssize_t>(piece.size()));
      loop_.runUntilIdle();
    }
  }

  static constexpr std::uint64_t kShiftFlags = 0x20002;    // Shift + left Shift's own bit
  static constexpr std::uint64_t kControlFlags = 0x40001;  // Control + left Control's own bit
  static constexpr std::uint64_t kRightOptionFlags = 0x80040;

  VirtualClock clock_;
  PollLoop loop_{clock_};
  int changes_[2] = {-1, -1};
  std::map<std::string, FakeDevices::Node> nodes_;
  std::unique_ptr<EvdevKeyWatch> watch_;
  std::vector<Delivered> delivered_;
};

TEST_F(EvdevKeyWatchTest, PressesAndReleasesOnceEachWhateverTheReadsCutApart) {
  ASSERT_TRUE(watch_->canListen());
  // Odd chunk sizes split records and their fields; repeats and other keys say nothing.
  for (std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{37}, sizeof(input_event)}) {
    delivered_.clear();
    send("/dev/input/event3",
         {{KEY_LEFTSHIFT, 1},
          {KEY_LEFTSHIFT, 2},
          {KEY_LEFTSHIFT, 2},
          {KEY_A, 1},
          {KEY_A, 0},
          {KEY_LEFTCTRL, 1},
          {KEY_LEFTSHIFT, 0},
          {KEY_LEFTCTRL, 0}},
         chunk);
    EXPECT_EQ(delivered_, (std::vector<Delivered>{{kMacLeftShift, kShiftFlags},
                                                  {kMacLeftControl, kShiftFlags | kControlFlags},
                                                  {kMacLeftShift, kControlFlags},
                                                  {kMacLeftControl, 0}}))
        << "chunk " << chunk;
  }
}

TEST_F(EvdevKeyWatchTest, KeyboardsComeAndGoWithTheirHeldKeys) {
  // A second keyboard plugged in, found through the change notice, holding Shift already.
  nodes_["/dev/input/event7"] = {true, -1, {KEY_LEFTSHIFT}};
  ASSERT_EQ(::write(changes_[1], "x", 1), 1);
  loop_.runUntilIdle();
  // The same key on both keyboards is one press and one release for the desktop.
  send("/dev/input/event3", {{KEY_LEFTSHIFT, 1}});
  EXPECT_TRUE(delivered_.empty());
  send("/dev/input/event3", {{KEY_LEFTSHIFT, 0}, {KEY_RIGHTALT, 1}});
  EXPECT_EQ(delivered_,
            (std::vector<Delivered>{{kMacRightOption, kShiftFlags | kRightOptionFlags}}));
  // Unplugged with keys down: they are released, and the other keyboard still counts.
  delivered_.clear();
  ::close(std::exchange(nodes_["/dev/input/event7"].writer, -1));
  nodes_.erase("/dev/input/event7");
  loop_.runUntilIdle();
  EXPECT_EQ(delivered_, (std::vector<Delivered>{{kMacLeftShift, kRightOptionFlags}}));
  delivered_.clear();
  send("/dev/input/event3", {{KEY_RIGHTALT, 0}});
  EXPECT_EQ(delivered_, (std::vector<Delivered>{{kMacRightOption, 0}}));
}

TEST_F(EvdevKeyWatchTest, NothingReadableMeansNoListeningUntilARetryFindsAKeyboard) {
  ::close(std::exchange(nodes_["/dev/input/event3"].writer, -1));
  nodes_.erase("/dev/input/event3");
  loop_.runUntilIdle();
  nodes_["/dev/input/event4"] = {false, -1, {}};  // a keyboard whose node we may not read
  EXPECT_FALSE(watch_->rescan());
  nodes_["/dev/input/event4"].readable = true;  // the user joined the group that may
  EXPECT_TRUE(watch_->rescan());
  send("/dev/input/event4", {{KEY_CAPSLOCK, 1}, {KEY_CAPSLOCK, 0}, {KEY_CAPSLOCK, 1}});
  // Caps Lock says its lock state, not whether it is down.
  ASSERT_EQ(delivered_.size(), 3u);
  EXPECT_NE(delivered_[0].second & kFlagAlphaShift, 0u);
  EXPECT_NE(delivered_[1].second & kFlagAlphaShift, 0u);
  EXPECT_EQ(delivered_[2].second & kFlagAlphaShift, 0u);
}

}  // namespace
}  // namespace deskagent::platform::wayland
