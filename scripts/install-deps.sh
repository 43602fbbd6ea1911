#!/usr/bin/env bash
# Installs the Debian packages a task needs, if any is missing:
#   scripts/install-deps.sh demo       ./demo.sh: the agent and the demo's X clients on Xvfb
#   scripts/install-deps.sh test       ./test.sh: the build, every test, the Windows cross-build
#   scripts/install-deps.sh release    scripts/release.sh: the release binaries and npm packages
# Several may be named at once.
set -euo pipefail

demo=(
  cmake ninja-build g++ pkg-config         # the build
  nlohmann-json3-dev                       # parsing the host's commands
  libgtest-dev libgmock-dev                # the demo's X clients are built beside the tests
  libx11-dev libx11-xcb-dev libxi-dev libxtst-dev libxfixes-dev libxres-dev  # the X11 backend
  xvfb xclip                               # the demo's private X server and clipboard
)
test=(
  "${demo[@]}"
  libbenchmark-dev                         # the benchmarks
  libwayland-dev libwayland-bin libxkbcommon-dev  # the Wayland backend
  libsystemd-dev                           # the GNOME and KDE backends' D-Bus (sd-bus)
  sway wl-clipboard                        # the Wayland end-to-end tests, and the applications
  foot konsole alacritty xwayland          #   they drive: terminals, and xterm on XWayland;
  mousepad kwrite qtwayland5               #   a GTK and a Qt editor, Qt's Wayland platform;
  chromium clipman                         #   a browser, a clipboard manager
  debootstrap                              # the GNOME and KDE tests' Debian 13 userland
  xterm alacritty                          # real terminals for the X11 end-to-end tests
  mousepad copyq                           # a GTK editor and a clipboard manager, likewise
  vim-gtk3                                 # gvim, an editor whose keys are a terminal's
  python3-pyqt5 python3-gi gir1.2-gtk-3.0  # Qt's and GTK's own clipboards in small test programs
  xdotool xinput                           # what the X11 bench compares the agent with
  dpkg-dev file lintian                    # the Debian package: its dependencies, its check
  g++-mingw-w64-x86-64-posix wine64        # the Windows cross-build and its tests under Wine
  clang libclang-rt-14-dev llvm            # sanitizers and libFuzzer (test.sh), symbolized reports
  qemu-user-static                         # the arm64 release binary, tried under emulation
)
release=(
  debootstrap                              # the Debian 11 userland the Linux binaries are built in
  binutils                                 # objdump: the glibc versions a binary asks for
  cmake ninja-build nlohmann-json3-dev g++-mingw-w64-x86-64-posix  # the Windows binary
)

packages=()
for task in "${@:-test}"; do
  case "$task" in
    demo) packages+=("${demo[@]}") ;;
    test) packages+=("${test[@]}") ;;
    release) packages+=("${release[@]}") ;;
    *) echo "install-deps: no such task: $task" >&2; exit 2 ;;
  esac
  # The Node client and console (tests and npm packages): Node 18 or newer and npm, from Debian
  # unless already installed.
  if [ "$task" != demo ]; then
    command -v node >/dev/null || packages+=(nodejs)
    command -v npm >/dev/null || packages+=(npm)
  fi
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
mapfile -t missing < <(printf '%s\n' "${missing[@]}" | sort -u)

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
