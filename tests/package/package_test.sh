#!/usr/bin/env bash
# The agent as a user installs it: the Debian package from cpack (which installs through the same
# rules as `cmake --install`), checked by lintian (no error), unpacked into a scratch root
# (dpkg -x), its binary run headless from there. What the agent answers is the process tests'
# business; here it need only run.
#
#   package_test.sh BUILD_DIR x11|headless
set -euo pipefail
build=$1
backend=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "package test: $*" >&2; exit 1; }

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
# Info and warnings are advice; an error is a package Debian would refuse.
if command -v lintian >/dev/null; then
  lintian --fail-on error "${debs[0]}" >"$work/lintian" 2>&1 || { cat "$work/lintian"; fail "lintian"; }
fi
dpkg -x "${debs[0]}" "$work/root"
for doc in doc/deskagent/README.md doc/deskagent/copyright doc/deskagent/changelog.gz \
  man/man1/deskagent.1.gz; do
  [ -f "$work/root/usr/share/$doc" ] || fail "the package lacks $doc"
done
file "$work/root/usr/bin/deskagent" | grep -q ', stripped' || fail "the binary is not stripped"
"$work/root/usr/bin/deskagent" --version | grep -q '^deskagent [0-9]' || fail "no --version"
# "ready", the start-up report and the answer to one command, then status 0 at the end of input.
out=$(printf '{"type":"permissions"}\n' |
  env -u DISPLAY -u WAYLAND_DISPLAY timeout 20 "$work/root/usr/bin/deskagent") ||
  fail "the installed agent exited with status $?"
[ "$(grep -c '"type":"permissions"' <<<"$out")" -eq 2 ] && [[ "$out" == '{"type":"ready"}'* ]] ||
  fail "the installed agent said: $out"
