#!/usr/bin/env bash
# Builds the agent and runs it: ./demo.sh
# Type commands as JSON lines (or pipe them in); events come back one per line. Ctrl-D ends it.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target deskagent >/dev/null
if [ -t 0 ]; then
  echo 'deskagent is running. Try: {"type":"permissions"}   {"type":"watch","keyCode":61}   {"type":"paste","text":"hi"}' >&2
  echo 'Ctrl-D quits.' >&2
fi
exec build/deskagent
