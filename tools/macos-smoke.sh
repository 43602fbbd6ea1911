#!/usr/bin/env bash
# A by-hand check of the agent on a real Mac, for a contributor who has one (never run in CI: it
# types into TextEdit and uses your clipboard). It prints what it saw; paste the output into the
# issue tracker. Needs the agent built (cmake, see the README), the Xcode command-line tools (it
# builds a small key logger), and Accessibility and Input Monitoring granted to the app you run
# this from (Terminal, iTerm, ...), which macOS treats as the agent's responsible process.
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
  [ -n "$agent_pid" ] && kill -CONT "$agent_pid" 2>/dev/null && kill "$agent_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

now_ms() { perl -MTime::HiRes=time -e 'printf "%d\n", time * 1000'; }
change_count() {
  osascript -l JavaScript -e 'ObjC.import("AppKit"); $.NSPasteboard.generalPasteboard.changeCount' \
    2>/dev/null || echo "?"
}
# Puts TEXT on the clipboard for this Mac only (NSPasteboardContentsCurrentHostOnly), as a
# password manager does.
copy_host_only() {
  # shellcheck disable=SC2016  # JavaScript, not shell
  osascript -l JavaScript -e 'function run(argv) { ObjC.import("AppKit");
    var pb = $.NSPasteboard.generalPasteboard; pb.prepareForNewContentsWithOptions(1);
    pb.setStringForType($(argv[0]), $.NSPasteboardTypeString); }' "$1" >/dev/null
}
# The clipboard's change count and each item's types, to tell a clipboard left untouched.
describe_clipboard() {
  osascript -l JavaScript -e 'ObjC.import("AppKit"); var pb = $.NSPasteboard.generalPasteboard;
    var items = ObjC.unwrap(pb.pasteboardItems) || [];
    "changeCount " + pb.changeCount + ": " + items.map(function (item) {
      return "[" + ObjC.deepUnwrap(item.types).join(", ") + "]"; }).join(" ")' 2>/dev/null
}
# Puts one item on the clipboard: TYPE with the bytes of FILE.
copy_file_as() {
  # shellcheck disable=SC2016  # JavaScript, not shell
  osascript -l JavaScript -e 'function run(argv) { ObjC.import("AppKit");
    var pb = $.NSPasteboard.generalPasteboard; pb.clearContents;
    var item = $.NSPasteboardItem.alloc.init;
    item.setDataForType($.NSData.dataWithContentsOfFile($(argv[1])), $(argv[0]));
    pb.writeObjects($([item])); }' "$1" "$2" >/dev/null
}
access_behavior() {
  osascript -l JavaScript -e 'ObjC.import("AppKit"); var pb = $.NSPasteboard.generalPasteboard;
    pb.respondsToSelector("accessBehavior") ? String(pb.accessBehavior) : "none (before 15.4)"' \
    2>/dev/null
}
# Sends a paste and shows the agent's events and the clipboard before and after.
paste_and_compare() {
  local before
  before=$(describe_clipboard)
  echo "  before: $before"
  start=$(now_ms)
  send "{\"type\":\"paste\",\"text\":\"$1\"}"
  show_events "${2:-3}" "$start"
  echo "  after:  $(describe_clipboard)"
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
# Watches the clipboard with pbpaste for 1.5 s from START, printing each change and the agent's
# events as they come.
watch_clipboard() {
  local start=$1 last='' current
  while [ "$(now_ms)" -lt $((start + 1500)) ]; do
    current=$(pbpaste)
    if [ "$current" != "$last" ]; then
      echo "  +$(($(now_ms) - start)) ms  pbpaste: $current"
      last=$current
    fi
    show_events 0 "$start"
    sleep 0.02
  done
}

# Logs the key events one application receives (a listen-only tap on that process): what a
# target that follows modifiers by their own events sees of the agent's shortcut.
cat >"$work/keylog.c" <<'C'
#include <ApplicationServices/ApplicationServices.h>
#include <stdio.h>
#include <stdlib.h>

static CGEventRef logEvent(CGEventTapProxy proxy, CGEventType type, CGEventRef event, void* info) {
  const char* name = type == kCGEventKeyDown        ? "keyDown"
                     : type == kCGEventKeyUp        ? "keyUp"
                     : type == kCGEventFlagsChanged ? "flagsChanged"
                                                    : "tap disabled";
  printf("%s key %lld flags 0x%llx\n", name,
         (long long)CGEventGetIntegerValueField(event, kCGKeyboardEventKeycode),
         (unsigned long long)CGEventGetFlags(event));
  fflush(stdout);
  (void)proxy;
  (void)info;
  return event;
}

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  CGEventMask mask = CGEventMaskBit(kCGEventKeyDown) | CGEventMaskBit(kCGEventKeyUp) |
                     CGEventMaskBit(kCGEventFlagsChanged);
  CFMachPortRef tap = CGEventTapCreateForPid((pid_t)atoi(argv[1]), kCGHeadInsertEventTap,
                                             kCGEventTapOptionListenOnly, mask, logEvent, NULL);
  if (tap == NULL) {
    printf("no tap: grant this terminal Input Monitoring\n");
    return 1;
  }
  CFRunLoopSourceRef source = CFMachPortCreateRunLoopSource(NULL, tap, 0);
  CFRunLoopAddSource(CFRunLoopGetCurrent(), source, kCFRunLoopCommonModes);
  CGEventTapEnable(tap, true);
  CFRunLoopRunInMode(kCFRunLoopDefaultMode, atof(argv[2]), false);
  return 0;
}
C
keylog=
if cc -Wall -o "$work/keylog" "$work/keylog.c" -framework ApplicationServices 2>"$work/cc.log"; then
  keylog=$work/keylog
else
  echo "macos-smoke: the key logger did not build (Xcode command-line tools?); going on without it"
  sed 's/^/  /' "$work/cc.log"
fi

echo "== System"
sw_vers | sed 's/^/  /'
codesign -dv "$agent" 2>&1 | grep -E '^(Identifier|Signature|TeamIdentifier)' | sed 's/^/  /'
lipo -archs "$agent" 2>/dev/null | sed 's/^/  architectures: /'

mkfifo "$work/in"
"$agent" <"$work/in" >"$work/out" 2>"$work/err" &
agent_pid=$!
exec 3>"$work/in"
echo "== Start-up"
show_events 2 "$(now_ms)"
grep -q '"accessibility":false' "$work/out" &&
  echo "  warning: no Accessibility for the app you run this from: the pastes will be refused"

echo "== Paste into TextEdit: the clipboard seen by pbpaste for 1.5 s, the keys TextEdit receives"
printf 'smoke: what the user had' | pbcopy
before=$(change_count)
front_textedit
if [ -n "$keylog" ]; then
  "$keylog" "$(pgrep -nx TextEdit)" 2 >"$work/keys" &
  keylog_pid=$!
  sleep 0.3
fi
start=$(now_ms)
send '{"type":"paste","text":"smoke: dictated"}'
watch_clipboard "$start"
echo "  changeCount before $before, after $(change_count) (expected to move: our write, the restore)"
echo "  TextEdit holds: $(osascript -e 'tell application "TextEdit" to get text of front document')"
echo "  expected: the dictated text on the clipboard within 1 s, TextEdit holding it, and"
echo "  'smoke: what the user had' back after about 0.25 s"
if [ -n "$keylog" ]; then
  wait "$keylog_pid"
  echo "  keys TextEdit received:"
  sed 's/^/    /' "$work/keys"
  echo "  expected: flagsChanged key 55 (Command down, flags 0x100008 or so), keyDown and keyUp of"
  echo "  V (key 9 on ANSI layouts) with flags 0x100000 exactly, flagsChanged key 55 (flags 0x0 or"
  echo "  0x100: Command up), in that order"
fi

echo "== The restore keeps host-only content on this Mac (needs a second device with Handoff)"
echo "  Skip with s and Return, or use an iPhone, iPad or other Mac on your Apple ID."
printf 'smoke: published %s' "$RANDOM" | pbcopy
printf '  Paste on the other device now; it should show "%s". Return when done: ' "$(pbpaste)"
read -r answer
if [ "$answer" != s ]; then
  secret="smoke: host-only $RANDOM"
  copy_host_only "$secret"
  printf '  Paste on the other device again: it must NOT show "%s". Return: ' "$secret"
  read -r _
  front_textedit
  start=$(now_ms)
  send '{"type":"paste","text":"smoke: dictated over host-only content"}'
  watch_clipboard "$start"
  printf '  Paste on the other device once more, and type what it shows: '
  read -r shown
  echo "  the other device showed: $shown"
  echo "  expected: the published text (the device never saw \"$secret\" nor the dictated text);"
  echo "  \"$secret\" there means the restore published it"
fi

echo "== A clipboard that cannot be saved whole is refused and left untouched"
echo "  A file promise alone (its type only names the files an application would write):"
printf 'promised' >"$work/promise"
copy_file_as com.apple.pasteboard.promised-file-url "$work/promise"
front_textedit
paste_and_compare "smoke: over a promise"
echo "  An image larger than the 192 MiB the agent holds:"
head -c $((200 * 1024 * 1024)) /dev/urandom >"$work/large"
copy_file_as public.png "$work/large"
rm -f "$work/large"
paste_and_compare "smoke: over a large image" 10
echo "  An owner that stops answering: TextEdit copies, then is stopped while the agent saves."
osascript -e 'tell application "TextEdit" to set text of front document to "smoke: styled"' \
  -e 'tell application "System Events" to keystroke "a" using command down' \
  -e 'tell application "System Events" to keystroke "c" using command down' >/dev/null
sleep 0.5
textedit=$(pgrep -nx TextEdit)
osascript -e 'tell application "Finder" to activate' >/dev/null  # the chord goes there
kill -STOP "$textedit"
paste_and_compare "smoke: over a stopped owner" 15
kill -CONT "$textedit"
echo "  expected for the promise and the image: {\"type\":\"paste\",\"ok\":false,\"reason\":"
echo "  \"clipboard\"} and the same change count and types after as before. For the stopped owner:"
echo "  the same where TextEdit had promised a type (note how long the answer took: that long a"
echo "  read held the agent), or a paste and its restore where it had written every type at once."

echo "== Pasteboard privacy (macOS 15.4 and later): \"Always Deny\" is refused before anything"
echo "  accessBehavior now: $(access_behavior) (0 default, 1 ask, 2 always allow, 3 always deny)"
terminal_id=${__CFBundleIdentifier:-"<your terminal's bundle id>"}
echo "  Skip with s and Return. Otherwise, on 15.4 or later: run"
echo "    defaults write $terminal_id EnablePasteboardPrivacyDeveloperPreview -bool yes"
echo "  reopen the terminal and run this again, allow the alert the first paste above raises,"
echo "  then set this terminal to Always Deny in System Settings > Privacy & Security and press"
echo "  Return."
read -r answer
if [ "$answer" != s ]; then
  printf "smoke: the user's, behind the denial" | pbcopy
  echo "  accessBehavior now: $(access_behavior)"
  front_textedit
  paste_and_compare "smoke: denied"
  echo "  expected: refused with \"clipboard\", no alert, the change count unmoved, and TextEdit"
  echo "  holding nothing new. Set the terminal back to Ask or Always Allow afterwards."
fi

echo "== A stalled tap: the agent is stopped while you let go of the watched key"
send '{"type":"watch","keyCode":61}'
start=$(now_ms)
echo "  Press and hold Right Option now, and keep holding it."
show_events 4 "$start"
kill -STOP "$agent_pid"
echo "  The agent is stopped. Let go of Right Option now."
sleep 4
resumed=$(now_ms)
kill -CONT "$agent_pid"
echo "  The agent goes on (times below from now):"
show_events 4 "$resumed"
echo "  expected: 'down' while held; after the agent goes on, one 'up' within about 1.5 s (and a"
echo "  'tap' event first if the system invalidated the stalled tap)"

echo "== Key watch with Input Monitoring switched off"
echo "  In System Settings > Privacy & Security > Input Monitoring, switch OFF the app you run"
echo "  this from (Accessibility stays on)."
printf '  Press Return when done. '
read -r _
start=$(now_ms)
send '{"type":"permissions"}'
echo "  Now hold Right Option for about 5 s, then release it. Watching for 12 s..."
show_events 12 "$start"
echo "  expected: the permissions with \"inputMonitoring\":false; one 'down' and one 'up' if"
echo "  Accessibility alone lets the tap hear, as CGEvent.h says; no 'up' while the key is held"

echo "== SIGTERM during a paste"
printf 'smoke: the clipboard before the killed paste' | pbcopy
front_textedit
send '{"type":"paste","text":"smoke: killed mid-paste"}'
sleep 0.05
kill -TERM "$agent_pid"
wait "$agent_pid" 2>/dev/null
echo "  exit status $?; pbpaste now: $(pbpaste)"
echo "  expected: status 0 and 'smoke: the clipboard before the killed paste': a signal is the end"
echo "  of input, so the paste finishes and the clipboard is put back before the agent exits"
agent_pid=
echo "== Standard error (should be empty)"
sed 's/^/  /' "$work/err"
