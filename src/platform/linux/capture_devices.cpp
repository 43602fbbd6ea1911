#include "platform/linux/capture_devices.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <string_view>

namespace deskagent::platform {
namespace {

constexpr std::int64_t kGranted = 3;
constexpr std::int64_t kDenied = 2;
constexpr std::int64_t kUnknown = -1;

bool skipDigits(std::string_view& s) {
  std::size_t n = 0;
  while (n < s.size() && std::isdigit(static_cast<unsigned char>(s[n]))) ++n;
  s.remove_prefix(n);
  return n > 0;
}

// pcmC<digits>D<digits>c: a PCM capture node (playback nodes end in 'p').
bool isCaptureNode(std::string_view name) {
  if (!name.starts_with("pcmC")) return false;
  name.remove_prefix(4);
  if (!skipDigits(name) || !name.starts_with('D')) return false;
  name.remove_prefix(1);
  return skipDigits(name) && name == "c";
}

}  // namespace

std::int64_t captureDeviceAuthorization(const std::string& deviceDir) {
  DIR* dir = ::opendir(deviceDir.c_str());
  if (dir == nullptr) return kUnknown;
  int dirFd = ::dirfd(dir);
  bool sawNode = false;
  bool sawRefusal = false;
  bool granted = false;
  while (dirent* entry = ::readdir(dir)) {
    if (!isCaptureNode(entry->d_name)) continue;
    sawNode = true;
    // The effective ids, as an open(2) would be checked; ACLs (logind's seat access) count.
    if (::faccessat(dirFd, entry->d_name, R_OK, AT_EACCESS) == 0) {
      granted = true;
      break;
    }
    if (errno == EACCES || errno == EPERM) sawRefusal = true;
  }
  ::closedir(dir);
  if (granted) return kGranted;
  if (sawNode && sawRefusal) return kDenied;
  return kUnknown;
}

}  // namespace deskagent::platform
