#!/usr/bin/env bash
# Builds everything and runs every test: ./test.sh
set -euo pipefail
cd "$(dirname "$0")"
root=$PWD
scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build
cd build
ctest --output-on-failure --timeout 600 -j2

# --- The Node client and console (clients/node), against the agent just built ---
(
  cd ../clients/node
  npm ci --no-audit --no-fund --loglevel=error  # also compiles the TypeScript
  DESKAGENT_BUILD_DIR="$PWD/../../build" npm test --silent
)

# --- Windows: cross-built with mingw-w64, its tests run under Wine ---------------------------
# The in-process tests as Windows programs, then deskagent.exe end to end on a private Xvfb,
# driven from this machine's build.
cd "$root"
# Afterwards the Wine servers end, and the build's own configuration is as the first step left it
# (its tests then never include these, run against an older deskagent.exe).
finish_windows() {
  for prefix in "$root"/build-windows/wine/*/; do
    WINEPREFIX=$prefix /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  done
  cmake -S "$root" -B "$root/build" -DDESKAGENT_WINDOWS_BUILD= >/dev/null || true
}
trap finish_windows EXIT
cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake >/dev/null
cmake --build build-windows
cmake -S . -B build -G Ninja -DDESKAGENT_WINDOWS_BUILD="$root/build-windows" >/dev/null
cmake --build build --target wine_tests
(cd build-windows && ctest --output-on-failure --timeout 600)
(cd build && ctest --output-on-failure --timeout 900 -L wine)
