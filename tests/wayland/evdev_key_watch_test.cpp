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

// Devices by path: a keyboard (the test keeps the writing end), or an unreadable node; and the
// change notice, a pipe the test writes to.
struct FakeDevices final : InputDevices {
  struct Node {
    bool readable = true;
    int writer = -1;
    std::vector<unsigned> heldKeys;
  };
  std::map<std::string, Node> nodes{{"/dev/input/event3", {}}};
  int changes[2] = {-1, -1};

  FakeDevices() { EXPECT_EQ(::pipe2(changes, O_NONBLOCK), 0); }
  ~FakeDevices() override {
    for (auto& [path, node] : nodes) {
      if (node.writer >= 0) ::close(node.writer);
    }
    ::close(changes[0]);
    ::close(changes[1]);
  }
  std::vector<std::string> present() override {
    std::vector<std::string> paths;
    for (auto& [path, node] : nodes) paths.push_back(path);
    return paths;
  }
  OpenedDevice open(const std::string& path) override {
    Node& node = nodes.at(path);
    if (!node.readable) return {};
    int pair[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair), 0);
    node.writer = pair[1];
    return {OpenedDevice::Kind::keyboard, pair[0], node.heldKeys, false};
  }
  int changesFd() const override { return changes[0]; }
  void drainChanges() override {
    char buffer[16];
    while (::read(changes[0], buffer, sizeof(buffer)) > 0) {
    }
  }
};

using Delivered = std::pair<std::int64_t, std::uint64_t>;  // key code, flags

class EvdevKeyWatchTest : public ::testing::Test {
 protected:
  EvdevKeyWatchTest() {
    auto devices = std::make_unique<FakeDevices>();
    devices_ = devices.get();
    watch_ = std::make_unique<EvdevKeyWatch>(loop_, std::move(devices), [this](const auto& e) {
      delivered_.push_back({e.keyCode, e.flags});
    });
    watch_->setListening(true);
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
      ASSERT_EQ(::write(devices_->nodes.at(path).writer, piece.data(), piece.size()),
                static_cast<ssize_t>(piece.size()));
      loop_.runUntilIdle();
    }
  }

  static constexpr std::uint64_t kShiftFlags = 0x20002;    // Shift + left Shift's own bit
  static constexpr std::uint64_t kControlFlags = 0x40001;  // Control + left Control's own bit
  static constexpr std::uint64_t kRightOptionFlags = 0x80040;

  VirtualClock clock_;
  PollLoop loop_{clock_};
  FakeDevices* devices_ = nullptr;  // the watch's
  std::unique_ptr<EvdevKeyWatch> watch_;
  std::vector<Delivered> delivered_;
};

TEST_F(EvdevKeyWatchTest, PressesAndReleasesOnceEachWhateverTheReadsCutApart) {
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
  devices_->nodes["/dev/input/event7"] = {true, -1, {KEY_LEFTSHIFT}};
  ASSERT_EQ(::write(devices_->changes[1], "x", 1), 1);
  loop_.runUntilIdle();
  // The same key on both keyboards is one press and one release for the desktop.
  send("/dev/input/event3", {{KEY_LEFTSHIFT, 1}});
  EXPECT_TRUE(delivered_.empty());
  send("/dev/input/event3", {{KEY_LEFTSHIFT, 0}, {KEY_RIGHTALT, 1}});
  EXPECT_EQ(delivered_,
            (std::vector<Delivered>{{kMacRightOption, kShiftFlags | kRightOptionFlags}}));
  // Unplugged with keys down: they are released, and the other keyboard still counts.
  delivered_.clear();
  ::close(std::exchange(devices_->nodes["/dev/input/event7"].writer, -1));
  devices_->nodes.erase("/dev/input/event7");
  loop_.runUntilIdle();
  EXPECT_EQ(delivered_, (std::vector<Delivered>{{kMacLeftShift, kRightOptionFlags}}));
  delivered_.clear();
  send("/dev/input/event3", {{KEY_RIGHTALT, 0}});
  EXPECT_EQ(delivered_, (std::vector<Delivered>{{kMacRightOption, 0}}));
}

TEST_F(EvdevKeyWatchTest, NothingReadableMeansNoListeningUntilARetryFindsAKeyboard) {
  ::close(std::exchange(devices_->nodes["/dev/input/event3"].writer, -1));
  devices_->nodes.erase("/dev/input/event3");
  loop_.runUntilIdle();
  devices_->nodes["/dev/input/event4"] = {false, -1, {}};  // a keyboard whose node we may not read
  EXPECT_FALSE(watch_->rescan());
  devices_->nodes["/dev/input/event4"].readable = true;  // the user joined the group that may
  EXPECT_TRUE(watch_->rescan());
  send("/dev/input/event4", {{KEY_CAPSLOCK, 1}, {KEY_CAPSLOCK, 0}, {KEY_CAPSLOCK, 1}});
  // Caps Lock says its lock state, not whether it is down.
  EXPECT_EQ(delivered_, (std::vector<Delivered>{{kMacCapsLock, kFlagAlphaShift},
                                                {kMacCapsLock, kFlagAlphaShift},
                                                {kMacCapsLock, 0}}));
}

}  // namespace
}  // namespace deskagent::platform::wayland
