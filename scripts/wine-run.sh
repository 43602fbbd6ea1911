#!/usr/bin/env bash
# Runs a Windows program under Wine in the prefix PREFIX (made on first use), standard input and
# output passed through, standard error (with Wine's own errors) to PREFIX.log:
# wine-run.sh PREFIX PROGRAM [ARGS...]
set -euo pipefail
prefix=$1
shift
"$(dirname "$0")/wine-prefix.sh" "$prefix"
export WINEPREFIX=$prefix WINEDEBUG=fixme-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
exec /usr/lib/wine/wine64 "$@" 2>>"$prefix.log"
