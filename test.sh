#!/usr/bin/env bash
# Builds everything and runs every test: ./test.sh
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build
cd build
ctest --output-on-failure --timeout 600 -j2
