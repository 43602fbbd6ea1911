#!/usr/bin/env bash
# A by-hand check of the agent on a real Mac, for a contributor who has one (never run in CI: it
# types into TextEdit and uses your clipboard). It prints what it saw; paste the output into the
# issue tracker. Needs the agent built (./test.sh or cmake) and, for the paste, Accessibility
# granted to the app you run this from (Terminal, iTerm, ...), which macOS treats as the agent's
# responsible process.
#
#   tools/macos-smoke.sh [BUILD_DIR]
#
# Written for the bash 3.2 that ships with macOS.
set -u
[ "$(uname -s)" = Darwin ] || { echo "macos-smoke: this is for macOS" >&2; exit 1; }
build=${1:-build}
agent=$build/deskagent
[ -x "$agent" ] || { echo "macos-smoke: $agent is missing; build first" >&2; exit 1; }

work=$(mktemp -d)
agent_pid=
cleanup() {
  [ -n "$agent_pid" ] && kill "$agent_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

now_ms() { perl -MTime::HiRes=time -e 'printf "%d\n", time * 1000'; }
change_count() {
  osascript -l JavaScript -e 'ObjC.import("AppKit"); $.NSPasteboard.generalPasteboard.changeCount' \
    2>/dev/null || echo "?"
}
front_textedit() {
  osascript -e 'tell application "TextEdit"' -e 'activate' -e 'make new document' -e 'end tell' \
    >/dev/null
  sleep 1  # let it come to the front before the agent types
}
send() { printf '%s\n' "$1" >&3; }
seen=0
# Prints the agent's new events, looking for SECONDS (at least once), each with the milliseconds
# since `since` at which this script saw it.
show_events() {
  local until=$(($(now_ms) + $1 * 1000)) since=$2 line total
  while :; do
    total=$(wc -l <"$work/out" | tr -d ' ')
    if [ "$total" -gt "$seen" ]; then
      tail -n +$((seen + 1)) "$work/out" | head -n $((total - seen)) | while IFS= read -r line; do
        echo "  +$(($(now_ms) - since)) ms  agent: $line"
      done
      seen=$total
    fi
    [ "$(now_ms)" -ge "$until" ] && return
    sleep 0.05
  done
}

echo "== System"
sw_vers | sed 's/^/  /'
codesign -dv "$agent" 2>&1 | grep -E '^(Identifier|Signature|TeamIdentifier)' | sed 's/^/  /'

mkfifo "$work/in"
"$agent" <"$work/in" >"$work/out" 2>"$work/err" &
agent_pid=$!
exec 3>"$work/in"
echo "== Start-up"
show_events 2 "$(now_ms)"
grep -q '"accessibility":false' "$work/out" &&
  echo "  warning: no Accessibility for the app you run this from: the paste will be refused"

echo "== Paste into TextEdit; the clipboard seen by pbpaste for 1.5 s"
printf 'smoke: what the user had' | pbcopy
before=$(change_count)
front_textedit
start=$(now_ms)
send '{"type":"paste","text":"smoke: dictated"}'
last=
until_ms=$((start + 1500))
while [ "$(now_ms)" -lt "$until_ms" ]; do
  current=$(pbpaste)
  if [ "$current" != "$last" ]; then
    echo "  +$(($(now_ms) - start)) ms  pbpaste: $current"
    last=$current
  fi
  show_events 0 "$start"
  sleep 0.02
done
echo "  changeCount before $before, after $(change_count) (expected to move: our write, the restore)"
echo "  TextEdit holds: $(osascript -e 'tell application "TextEdit" to get text of front document')"
echo "  expected: the dictated text on the clipboard within 1 s, TextEdit holding it, and"
echo "  'smoke: what the user had' back after about 0.25 s"

echo "== Key watch with Input Monitoring denied"
echo "  In System Settings > Privacy & Security > Input Monitoring, switch OFF the app you run"
echo "  this from (or leave it undetermined to see whether 'watch' raises the request)."
printf '  Press Return when done. '
read -r _
start=$(now_ms)
send '{"type":"permissions"}'
send '{"type":"watch","keyCode":61}'
echo "  Now hold Right Option for about 5 s, then release it. Watching for 12 s..."
show_events 12 "$start"
echo "  expected: one 'down' and one 'up' if the tap hears keys; no 'up' while the key is held"

echo "== SIGTERM during a paste"
printf 'smoke: the clipboard before the killed paste' | pbcopy
front_textedit
send '{"type":"paste","text":"smoke: killed mid-paste"}'
sleep 0.05
kill -TERM "$agent_pid"
wait "$agent_pid" 2>/dev/null
echo "  exit status $?; pbpaste now: $(pbpaste)"
echo "  (a signal ends the agent before its restore: hosts stop it by closing its stdin)"
agent_pid=
echo "== Standard error (should be empty)"
sed 's/^/  /' "$work/err"
