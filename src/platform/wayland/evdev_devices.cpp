#include "platform/wayland/evdev_devices.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <linux/input.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>

namespace deskagent::platform::wayland {

namespace {

constexpr const char* kInputDir = "/dev/input";

template <std::size_t Bits>
using BitArray = std::array<unsigned long, (Bits + CHAR_BIT * sizeof(unsigned long) - 1) /
                                               (CHAR_BIT * sizeof(unsigned long))>;

template <std::size_t Bits>
bool testBit(const BitArray<Bits>& bits, unsigned bit) {
  constexpr unsigned kPerWord = CHAR_BIT * sizeof(unsigned long);
  return bit < Bits && ((bits[bit / kPerWord] >> (bit % kPerWord)) & 1UL) != 0;
}

// A keyboard has letter keys and a modifier: a power button, a mouse or a headset's volume
// keys report key events too, and are left alone.
bool isKeyboard(int fd) {
  BitArray<KEY_CNT> keys{};
  if (::ioctl(fd, EVIOCGBIT(EV_KEY, sizeof(keys)), keys.data()) < 0) return false;
  return testBit<KEY_CNT>(keys, KEY_A) && testBit<KEY_CNT>(keys, KEY_Z) &&
         (testBit<KEY_CNT>(keys, KEY_LEFTSHIFT) || testBit<KEY_CNT>(keys, KEY_LEFTCTRL));
}

class SystemInputDevices final : public InputDevices {
 public:
  SystemInputDevices() {
    inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    // IN_ATTRIB too: udev sets a new node's group and mode just after creating it.
    if (inotify_ >= 0 &&
        ::inotify_add_watch(inotify_, kInputDir, IN_CREATE | IN_DELETE | IN_ATTRIB) < 0) {
      ::close(inotify_);
      inotify_ = -1;
    }
  }
  ~SystemInputDevices() override {
    if (inotify_ >= 0) ::close(inotify_);
  }

  std::vector<std::string> present() override {
    std::vector<std::string> paths;
    DIR* dir = ::opendir(kInputDir);
    if (dir == nullptr) return paths;
    while (dirent* entry = ::readdir(dir)) {
      if (std::strncmp(entry->d_name, "event", 5) == 0) {
        paths.push_back(std::string(kInputDir) + "/" + entry->d_name);
      }
    }
    ::closedir(dir);
    std::sort(paths.begin(), paths.end());
    return paths;
  }

  OpenedDevice open(const std::string& path) override {
    OpenedDevice opened;
    // Read-only, and never EVIOCGRAB: every key goes on to the desktop as if we were not here.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return opened;
    if (!isKeyboard(fd)) {
      ::close(fd);
      opened.kind = OpenedDevice::Kind::notKeyboard;
      return opened;
    }
    opened.kind = OpenedDevice::Kind::keyboard;
    opened.fd = fd;
    BitArray<KEY_CNT> down{};
    if (::ioctl(fd, EVIOCGKEY(sizeof(down)), down.data()) >= 0) {
      for (unsigned key = 0; key < KEY_CNT; ++key) {
        if (testBit<KEY_CNT>(down, key)) opened.heldKeys.push_back(key);
      }
    }
    BitArray<LED_CNT> leds{};
    if (::ioctl(fd, EVIOCGLED(sizeof(leds)), leds.data()) >= 0) {
      opened.capsLocked = testBit<LED_CNT>(leds, LED_CAPSL);
    }
    return opened;
  }

  int changesFd() const override { return inotify_; }
  void drainChanges() override {
    alignas(inotify_event) char buffer[4096];
    while (inotify_ >= 0 && ::read(inotify_, buffer, sizeof(buffer)) > 0) {
    }
  }

 private:
  int inotify_ = -1;
};

}  // namespace

std::unique_ptr<InputDevices> systemInputDevices() {
  return std::make_unique<SystemInputDevices>();
}

}  // namespace deskagent::platform::wayland
