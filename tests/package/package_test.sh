#!/usr/bin/env bash
# The agent as a user installs it: `cmake --install` into a prefix, and the Debian package from
# cpack unpacked into a scratch root (dpkg -x), its installed binary run headless.
#
#   package_test.sh BUILD_DIR x11|headless
set -euo pipefail
build=$1
backend=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "package test: $*" >&2; exit 1; }

# The agent headless: "ready", the start-up report, the answer to one command, then status 0 at
# the end of its input.
run_headless() {
  local out status=0
  out=$(printf '{"type":"permissions"}\n' | env -u DISPLAY -u WAYLAND_DISPLAY timeout 20 "$1") ||
    status=$?
  [ "$status" -eq 0 ] || fail "$1 exited with status $status"
  local lines
  mapfile -t lines <<<"$out"
  [ "${#lines[@]}" -eq 3 ] && [ "${lines[0]}" = '{"type":"ready"}' ] || fail "$1 said: $out"
  # Members come in no fixed order: look for each by itself.
  for line in "${lines[@]:1}"; do
    for member in '"type":"permissions"' '"accessibility":false' '"inputMonitoring":false' \
      '"microphone":"unknown"'; do
      [[ "$line" == *"$member"* ]] || fail "$1 said: $out"
    done
  done
}

cmake --install "$build" --prefix "$work/prefix" >/dev/null
[ -f "$work/prefix/share/doc/deskagent/README.md" ] || fail "cmake --install left out the README"
run_headless "$work/prefix/bin/deskagent"

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/package" >/dev/null
debs=("$work"/package/deskagent_*.deb)
[ -f "${debs[0]}" ] || fail "cpack made no .deb"
depends=$(dpkg-deb -f "${debs[0]}" Depends)
grep -q 'libc6' <<<"$depends" || fail "Depends lacks libc6: $depends"
if [ "$backend" = x11 ]; then
  for lib in libx11-6 libxi6 libxtst6 libxfixes3; do
    grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
  done
fi
dpkg -x "${debs[0]}" "$work/root"
[ -f "$work/root/usr/share/doc/deskagent/README.md" ] || fail "the package lacks the README"
run_headless "$work/root/usr/bin/deskagent"
