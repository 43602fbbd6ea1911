#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, if any is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config         # the build
  nlohmann-json3-dev                       # parsing the host's commands
  libgtest-dev libgmock-dev                # the tests
  libbenchmark-dev                         # the benchmarks
  libx11-dev libx11-xcb-dev libxi-dev libxtst-dev libxfixes-dev libxres-dev  # the X11 backend
  libwayland-dev libwayland-bin libxkbcommon-dev  # the Wayland backend
  wayland-protocols sway wl-clipboard      # the Wayland end-to-end tests
  xvfb xclip                               # the X11 end-to-end tests and the demo
  xterm alacritty                          # real terminals for the X11 end-to-end tests
  mousepad copyq                           # a GTK editor and a clipboard manager, likewise
  python3-pyqt5 python3-gi gir1.2-gtk-3.0  # Qt's and GTK's own clipboards in small test programs
  xdotool xinput                           # what the X11 bench compares the agent with
  dpkg-dev file                            # the Debian package's runtime dependencies (cpack)
  g++-mingw-w64-x86-64-posix wine64        # the Windows cross-build and its tests under Wine
  clang libclang-rt-14-dev llvm            # sanitizers and libFuzzer (test.sh), symbolized reports
)
# The Node client and console: Node 18 or newer and npm, from Debian unless already installed.
command -v node >/dev/null || packages+=(nodejs)
command -v npm >/dev/null || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
