#include "platform/linux/keyboards_describe.hpp"

#include <fcntl.h>
#include <grp.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <filesystem>
#include <vector>

namespace deskagent::platform {
namespace {

constexpr std::size_t kBitsPerLong = sizeof(unsigned long) * CHAR_BIT;

bool hasBit(const std::array<unsigned long, KEY_MAX / kBitsPerLong + 1>& bits, unsigned bit) {
  return (bits[bit / kBitsPerLong] >> (bit % kBitsPerLong)) & 1UL;
}

std::string groupName(gid_t gid) {
  group* g = ::getgrgid(gid);
  return g != nullptr ? g->gr_name : std::to_string(gid);
}

bool inGroup(gid_t gid) {
  if (::getegid() == gid) return true;
  std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
  int count = ::getgroups(static_cast<int>(groups.size()), groups.data());
  return std::find(groups.begin(), groups.begin() + std::max(count, 0), gid) !=
         groups.begin() + std::max(count, 0);
}

}  // namespace

KeyboardsDescription describeKeyboards(const std::string& dir) {
  KeyboardsDescription out;
  std::vector<std::string> paths;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
    if (entry.path().filename().string().starts_with("event")) paths.push_back(entry.path());
  }
  std::sort(paths.begin(), paths.end());
  int unreadable = 0;
  gid_t unreadableGroup = 0;
  for (const std::string& path : paths) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      struct stat info {};
      if (::stat(path.c_str(), &info) == 0) unreadableGroup = info.st_gid;
      ++unreadable;
      continue;
    }
    std::array<unsigned long, KEY_MAX / kBitsPerLong + 1> keys{};
    std::array<char, 256> name{};
    bool keyboard = ::ioctl(fd, EVIOCGBIT(EV_KEY, sizeof keys), keys.data()) >= 0 &&
                    hasBit(keys, KEY_A) && hasBit(keys, KEY_LEFTSHIFT);
    if (::ioctl(fd, EVIOCGNAME(name.size() - 1), name.data()) < 0) name[0] = '\0';
    ::close(fd);
    if (!keyboard) continue;
    ++out.readable;
    out.facts.push_back(path + ": keyboard \"" + name.data() + "\", readable");
  }
  if (paths.empty()) out.facts.push_back("no event devices in " + dir);
  if (unreadable > 0) {
    std::string group = groupName(unreadableGroup);
    std::string fact = std::to_string(unreadable) + " of " + std::to_string(paths.size()) +
                       " event devices may not be read (they belong to the group " + group + "; ";
    fact += inGroup(unreadableGroup)
                ? "this process is in it, so their mode forbids it)"
                : "this process is not in it: sudo usermod -aG " + group +
                      " \"$USER\", then log out and in; it lets every program of the user read "
                      "every key)";
    out.facts.push_back(fact);
  }
  if (out.readable == 0 && !paths.empty()) out.facts.push_back("no keyboard may be read");
  return out;
}

}  // namespace deskagent::platform
