#!/bin/sh
# Runs inside the userland, as root: a desktop session of an unprivileged user (uid 1000) on a
# fresh session bus, its compositor headless. Prints "session PID BUS-ADDRESS" once the
# compositor takes clients (PID: a process of the session, to enter it by), then runs until its
# input ends.
#   session.sh gnome|kde|gnome-restricted
# (gnome-restricted: GNOME whose session bus refuses mutter's clipboard, restricted-session.conf)
set -eu
here=$(dirname "$0")
desktop=$1
set --
[ "$desktop" = gnome-restricted ] && set -- --config-file="$here/restricted-session.conf"
install -d -o 1000 -g 1000 -m 0700 /run/user/1000
exec setpriv --reuid=1000 --regid=1000 --clear-groups env -i HOME=/home/user USER=user \
  LANG=C.UTF-8 PATH=/usr/bin:/bin XDG_RUNTIME_DIR=/run/user/1000 \
  dbus-run-session "$@" -- sh -eu -c '
    case $1 in
      gnome*) mutter --headless --wayland --no-x11 --virtual-monitor 1280x800 >/dev/null 2>&1 & ;;
      kde) kwin_wayland --virtual --no-lockscreen --socket wayland-0 >/dev/null 2>&1 & ;;
    esac
    tries=0
    until [ -e "$XDG_RUNTIME_DIR/wayland-0" ]; do
      tries=$((tries + 1))
      [ $tries -lt 300 ] || exit 1
      sleep 0.1
    done
    # Headless mutter has no keyboard on its seat; every desktop the agent serves has one.
    if [ "$1" != kde ]; then
      python3 "$2/seat_keyboard.py" >"$XDG_RUNTIME_DIR/keyboard" &
      until grep -q keyboard "$XDG_RUNTIME_DIR/keyboard"; do
        tries=$((tries + 1))
        [ $tries -lt 300 ] || exit 1
        sleep 0.1
      done
    fi
    echo "session $$ $DBUS_SESSION_BUS_ADDRESS"
    read -r _ || true' session "$desktop" "$here/clients"
