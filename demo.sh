#!/usr/bin/env bash
# Builds the agent and shows it at work: ./demo.sh
# A guided run on a private X server: the key watch, a paste that puts the user's clipboard back,
# a selection read. To drive the agent yourself afterwards, run build/deskagent and type commands.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh demo
cmake -S . -B build -G Ninja -DDESKAGENT_BENCH=OFF >/dev/null
cmake --build build --target deskagent x11_press x11_test_window >/dev/null
exec tools/demo.sh build
