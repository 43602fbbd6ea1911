#!/usr/bin/env bash
# Makes the Wine prefix PREFIX ready for our programs, once, and starts its server if it is not
# running: wine-prefix.sh PREFIX [desktop]. With "desktop", Wine's virtual desktop is on: without
# it a Wine hook sees X11 keys only while a Wine window has the X focus, and each window closed
# without a window manager costs two seconds. Every Wine process's output goes to PREFIX.log:
# Wine's helper processes inherit it and live on, and whoever waited for its end would hang.
set -euo pipefail
prefix=$1
desktop=${2:-}
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
log=$prefix.log

mkdir -p "$prefix"
exec 9>"$prefix.lock"
flock 9
# Wine processes that live on must not hold the lock.
quiet() { "$@" >>"$log" 2>&1 </dev/null 9>&-; }
# A persistent server first, before any other Wine process: each program then starts at once.
quiet "$wineserver" -p || true  # 2: already running
if [ ! -f "$prefix/.deskagent-ready" ]; then
  quiet "$wine" wineboot -i
  if [ "$desktop" = desktop ]; then
    quiet "$wine" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f
    quiet "$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 640x480 /f
    # The desktop process wineboot started has no virtual desktop: a new server starts anew.
    quiet "$wineserver" -k || true
    quiet "$wineserver" -w || true
    quiet "$wineserver" -p || true
  fi
  touch "$prefix/.deskagent-ready"
fi
