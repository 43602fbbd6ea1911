// The backend's pure pieces: text encodings and the microphone probe. No X server needed.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/linux/capture_devices.hpp"
#include "platform/x11/x11_text.hpp"

namespace deskagent::platform::x11 {
namespace {

TEST(X11Text, Latin1AndUtf8BothWays) {
  EXPECT_EQ(latin1ToUtf8("caf\xe9"), "caf\xc3\xa9");
  EXPECT_EQ(utf8ToLatin1("caf\xc3\xa9"), "caf\xe9");
  // What Latin-1 cannot hold, and broken UTF-8, become '?'.
  EXPECT_EQ(utf8ToLatin1("\xe2\x82\xac 5"), "? 5");
  EXPECT_EQ(utf8ToLatin1("a\xc3"), "a?");
  EXPECT_EQ(utf8ToLatin1("\xff"
                         "b"),
            "?b");
  EXPECT_EQ(utf8ToLatin1("\xf0\x9f\x98\x80!"), "?!");
}

// Only capture nodes count; a readable one is granted, only unreadable ones denied.
TEST(CaptureDevices, OnlyCaptureNodesCount) {
  char name[] = "/tmp/deskagent-snd-XXXXXX";
  ASSERT_NE(::mkdtemp(name), nullptr);
  const std::string dir = name;
  auto node = [&](const std::string& file, mode_t mode) {
    std::ofstream(dir + "/" + file).put('x');
    ::chmod((dir + "/" + file).c_str(), mode);
  };
  EXPECT_EQ(captureDeviceAuthorization(dir), -1);  // none: unknown
  node("pcmC0D0p", 0644);                          // playback
  node("controlC0", 0644);
  node("pcmC0D0cx", 0644);
  EXPECT_EQ(captureDeviceAuthorization(dir), -1);
  if (::geteuid() != 0) {  // root may open any node
    node("pcmC0D0c", 0200);
    EXPECT_EQ(captureDeviceAuthorization(dir), 2);
  }
  node("pcmC1D12c", 0644);
  EXPECT_EQ(captureDeviceAuthorization(dir), 3);  // one readable node is enough
  EXPECT_EQ(captureDeviceAuthorization(dir + "/missing"), -1);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace deskagent::platform::x11
