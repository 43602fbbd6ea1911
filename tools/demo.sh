#!/usr/bin/env bash
# A guided run of the agent as a host application drives it, on a private X server (Xvfb) so
# nothing is typed into your own applications. It shows the key watch, a paste into a window
# with the user's clipboard put back afterwards, and a selection read.
#
#   tools/demo.sh [BUILD_DIR]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
agent=$build/deskagent
press=$build/tests/x11_press
window=$build/tests/x11_test_window
for program in "$agent" "$press" "$window"; do
  [ -x "$program" ] || { echo "demo: $program is missing; build first" >&2; exit 1; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  # Clients first, the server last.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A display of our own, on a free number.
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
export DISPLAY=:$(head -n1 "$work/display")
unset WAYLAND_DISPLAY  # the demo types into its own display, never into the user's desktop

bold=$(tput bold 2>/dev/null || true)
plain=$(tput sgr0 2>/dev/null || true)
say() { printf '\n%s# %s%s\n' "$bold" "$*" "$plain"; }

coproc AGENT { exec "$agent"; }
pids+=("$AGENT_PID")
host() {
  printf 'host  -> %s\n' "$1"
  printf '%s\n' "$1" >&"${AGENT[1]}"
}
agent_says() {
  local line
  IFS= read -r -t 5 line <&"${AGENT[0]}" || { echo "demo: no answer from the agent" >&2; exit 1; }
  printf 'agent <- %s\n' "$line"
}
# The test window prints one line per event; wait for the first that starts with $2.
window_line() {
  for _ in $(seq 100); do
    if grep -q "^$2" "$1" 2>/dev/null; then grep "^$2" "$1" | head -n1; return; fi
    sleep 0.05
  done
  echo "demo: the window did not say '$2'" >&2
  exit 1
}
unhex() { [ "$1" = "-" ] && echo "(none)" || printf '%b\n' "$(sed 's/../\\x&/g' <<<"$1")"; }

say "Start: the agent announces itself and reports its permissions"
agent_says
agent_says

say "Watch Right Option (macOS key code 61; Alt_R on X11); the user presses and releases it"
host '{"type":"watch","keyCode":61}'
agent_says
"$press" +Alt_R sleep:100 -Alt_R
agent_says
agent_says
echo "(Left Option, key code 58, is another key: pressing it says nothing)"
"$press" +Alt_L sleep:50 -Alt_L

say "The user has something on the clipboard"
printf 'what the user had copied' | xclip -selection clipboard 2>/dev/null
echo "clipboard: $(xclip -o -selection clipboard)"

say "Paste a dictated sentence into the focused window"
"$window" --mode paste >"$work/paste.log" &
pids+=($!)
window_line "$work/paste.log" ready >/dev/null
host '{"type":"paste","text":"Hello from deskagent!"}'
agent_says
read -r _ state text _ <<<"$(window_line "$work/paste.log" paste)"
echo "the window received Control+V (modifier state $state) and pasted: $(unhex "$text")"
sleep 0.5
echo "clipboard afterwards: $(xclip -o -selection clipboard)"

say "Read the selection of a window in which the user selected some text"
"$window" --mode copy --text "a sentence the user selected" >"$work/copy.log" &
pids+=($!)
window_line "$work/copy.log" ready >/dev/null
host '{"type":"read-selection"}'
agent_says
sleep 0.3
echo "clipboard afterwards: $(xclip -o -selection clipboard)"

say "The host closes the agent's input: the agent finishes and exits"
eval "exec ${AGENT[1]}>&-"
status=0
wait "$AGENT_PID" || status=$?
echo "agent exited with status $status"
