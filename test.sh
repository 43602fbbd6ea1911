#!/usr/bin/env bash
# Builds everything and runs every test: ./test.sh
# Warnings are errors here (and so in CI); a plain `cmake` build leaves them warnings.
set -euo pipefail
cd "$(dirname "$0")"
root=$PWD
scripts/install-deps.sh test release
cmake -S . -B build -G Ninja -DDESKAGENT_WERROR=ON -DDESKAGENT_ASSERTS=ON -DDESKAGENT_TESTS=ON \
  -DDESKAGENT_BENCH=ON >/dev/null
cmake --build build
(cd build && ctest --output-on-failure --timeout 600 -j2)

# --- The Node client and console (clients/node), against the agent just built ---------------
(
  cd clients/node
  npm ci --no-audit --no-fund --loglevel=error  # also compiles the TypeScript
  DESKAGENT_BUILD_DIR="$root/build" npm test --silent
)

# --- Release: the binaries and npm packages users get (scripts/release.sh), tried where they run:
# linux-x64 in the Debian 11 userland it was built in, linux-arm64 under qemu-user, the npm
# tarballs installed offline into an empty project.
cmp LICENSE clients/node/LICENSE
release_start=$SECONDS
scripts/release.sh
tests/release/release_test.sh build
echo "release: built and tried in $((SECONDS - release_start)) s"

# --- Windows: cross-built with mingw-w64, its tests run under Wine ---------------------------
# The in-process tests as Windows programs, then deskagent.exe end to end on a private Xvfb,
# driven from this machine's build.
# Afterwards the Wine servers end, and the build's own configuration is as the first step left it
# (its tests then never include these, run against an older deskagent.exe).
finish_windows() {
  for prefix in "$root"/build-windows/wine/*/; do
    WINEPREFIX=$prefix /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  done
  cmake -S "$root" -B "$root/build" -DDESKAGENT_WINDOWS_BUILD= >/dev/null || true
}
trap finish_windows EXIT
cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DDESKAGENT_WERROR=ON -DDESKAGENT_ASSERTS=ON >/dev/null
cmake --build build-windows
cmake -S . -B build -G Ninja -DDESKAGENT_WINDOWS_BUILD="$root/build-windows" >/dev/null
cmake --build build --target wine_tests
(cd build-windows && ctest --output-on-failure --timeout 600)
(cd build && ctest --output-on-failure --timeout 900 -L wine)

# --- Fault-finding tools: sanitizers and fuzzers, each in a build directory of its own ---------
clang_build() {  # clang_build <dir> <sanitizers> [cmake options...]
  local dir=$1 sanitize=$2
  shift 2
  # The GNOME and KDE tests' userland is the one the first build made.
  cmake -S . -B "$dir" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DDESKAGENT_WERROR=ON -DDESKAGENT_ASSERTS=ON -DDESKAGENT_USERLAND="$root/build/userland" \
    -DDESKAGENT_SANITIZE="$sanitize" -DDESKAGENT_BENCH=OFF "$@" >/dev/null
}
export ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1 UBSAN_OPTIONS=print_stacktrace=1
export TSAN_OPTIONS=second_deadlock_stack=1

# AddressSanitizer + UndefinedBehaviorSanitizer: the whole suite once more.
clang_build build-asan address,undefined -DDESKAGENT_FUZZ=ON
cmake --build build-asan
(cd build-asan && ctest --output-on-failure --timeout 900 -j2)

# libFuzzer, from the same build: about a minute per target, from the seeds in tests/fuzz/corpus
# (new inputs go to a scratch directory; a crash is kept in build-asan/).
for target in command_fuzz event_fuzz; do
  scratch=$(mktemp -d)
  if ! build-asan/tests/fuzz/$target -max_total_time=60 -timeout=30 -max_len=4096 \
    -artifact_prefix=build-asan/$target- "$scratch" tests/fuzz/corpus/$target >"$scratch.log" 2>&1; then
    cat "$scratch.log"
    exit 1
  fi
  echo "$target: $(grep -E '^#[0-9]+[[:space:]]+DONE' "$scratch.log")"
  rm -rf "$scratch" "$scratch.log"
done

# ThreadSanitizer: what runs on more than one thread: the loop, the stdin reader, the output
# path, the process tests and the X11 tests.
clang_build build-tsan thread
cmake --build build-tsan
(cd build-tsan && ctest --output-on-failure --timeout 900 -j2 -R '^(Loop|StdinReader|EventWriter)\.')
(cd build-tsan && ctest --output-on-failure --timeout 900 -j2 -R '^Process\.')
(cd build-tsan && ctest --output-on-failure --timeout 900 -j2 -L x11)
