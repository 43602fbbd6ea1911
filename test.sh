#!/usr/bin/env bash
# Builds everything and runs every test: ./test.sh
set -euo pipefail
cd "$(dirname "$0")"
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
