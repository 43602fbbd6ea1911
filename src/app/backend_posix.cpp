#include "app/backend.hpp"

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <chrono>
#include <cstdlib>

#include "loop/poll_loop.hpp"
#include "platform/awaited_backend.hpp"
#include "platform/null/null_platform.hpp"
#ifdef DESKAGENT_HAVE_WAYLAND
#include "platform/wayland/wayland_platform.hpp"
#endif
#ifdef DESKAGENT_HAVE_DESKTOPS
#include "platform/wayland/gnome/gnome_platform.hpp"
#include "platform/wayland/kde/kde_platform.hpp"
#endif
#ifdef DESKAGENT_HAVE_X11
#include "platform/x11/x11_platform.hpp"
#endif

namespace deskagent {

void configureAllocator() {
#ifdef __GLIBC__
  // Buffers of a quarter mebibyte and more get pages of their own, which go back to the system
  // the moment they are freed. Left to itself, glibc raises this bound up to 32 MiB as large
  // buffers come and go and keeps them in a heap, so a long line's blocks, freed one by one as
  // the parser passes them, would stay resident until the whole line was done.
  mallopt(M_MMAP_THRESHOLD, 256 * 1024);
#endif
}

std::unique_ptr<MainLoop> makeMainLoop() {
  static RealClock clock;
  return std::make_unique<PollLoop>(clock);
}

namespace {

// As often as the access watch looks at the permissions, which then report the display's arrival.
constexpr auto kDisplayLookInterval = std::chrono::milliseconds(1500);

[[maybe_unused]] bool named(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr && *value != '\0';
}

std::unique_ptr<platform::Platform> connectDesktop([[maybe_unused]] MainLoop& loop) {
#ifdef DESKAGENT_HAVE_WAYLAND
  // A compositor with the clipboard and keyboard protocols reaches native windows; without
  // them, the X11 backend reaches XWayland's.
  if (auto wayland = platform::wayland::connectWaylandPlatform(loop)) return wayland;
#endif
#ifdef DESKAGENT_HAVE_DESKTOPS
  // KDE Plasma: KWin's data-control with the keys through its EIS.
  if (auto kde = platform::kde::connectKdePlatform(loop)) return kde;
  // GNOME: mutter's remote-desktop API, refused or not (then nothing is pasted, and it says so).
  if (auto gnome = platform::gnome::connectGnomePlatform(loop)) return gnome;
#endif
#ifdef DESKAGENT_HAVE_X11
  if (auto x11 = platform::x11::connectX11Platform(loop)) return x11;
#endif
  return nullptr;
}

bool displayNamed() {
#ifdef DESKAGENT_HAVE_WAYLAND
  if (named("WAYLAND_DISPLAY")) return true;
#endif
#ifdef DESKAGENT_HAVE_X11
  if (named("DISPLAY")) return true;
#endif
  return false;
}

}  // namespace

std::unique_ptr<platform::Platform> connectPlatform(MainLoop& loop) {
  if (auto desktop = connectDesktop(loop)) return desktop;
  // A display that is named but not up yet (an autostart racing the X server) is waited for;
  // with none named, none can come, and the agent stays headless.
  if (!displayNamed()) return platform::connectNullPlatform();
  return platform::awaitBackend(loop, kDisplayLookInterval,
                                [&loop] { return connectDesktop(loop); });
}

}  // namespace deskagent
