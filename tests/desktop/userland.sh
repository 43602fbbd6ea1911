#!/usr/bin/env bash
# The Debian 13 userland that the GNOME and KDE tests run in, made from Debian's registry inside
# the build tree and entered without changing the host.
#
#   userland.sh make ROOT         makes ROOT (once: a finished one is kept and reused)
#   userland.sh enter ROOT CMD..  runs CMD as root, chrooted into ROOT, with /dev, /dev/pts, /proc
#                                 and /sys bound and a fresh tmpfs on /run; each directory named
#                                 in DESKAGENT_USERLAND_BIND (colon-separated) is bound at its own
#                                 path, read-only
#
# `enter` mounts in a mount namespace of its own: its mounts go when CMD has ended, and with it
# every process still in that namespace (what CMD left running, what was entered into it).
set -euo pipefail

# The desktops and what the tests drive on them. GNOME: the compositor, a GTK 4 window (Python),
# the terminal (GNOME Console). KDE: the compositor with its EIS, a Qt 6 window, Konsole. Both:
# the accessibility bus, wl-clipboard as the user's clipboard, and the agent's own libraries.
packages=(
  mutter dbus-daemon python3-gi gir1.2-gtk-4.0 gnome-console
  kwin-wayland kwin-common libei1 python3-pyqt6 qt6-wayland konsole
  at-spi2-core gir1.2-atspi-2.0 wayland-utils wl-clipboard
  libwayland-client0 libxkbcommon0 libx11-6 libx11-xcb1 libxi6 libxtst6 libxfixes3
)
user_id=1000

enter() {
  local root=$1
  shift
  unshare --mount --propagation private -- bash -euo pipefail -c '
    root=$1
    shift
    for dir in /dev /dev/pts /proc /sys; do mount --bind "$dir" "$root$dir"; done
    mount -t tmpfs -o mode=0755 deskagent-run "$root/run"
    IFS=: read -r -a binds <<<"${DESKAGENT_USERLAND_BIND:-}"
    for dir in "${binds[@]}"; do
      [ -n "$dir" ] || continue
      mkdir -p "$root$dir"
      mount --bind "$dir" "$root$dir"
      mount -o remount,bind,ro "$root$dir"
    done
    status=0
    chroot "$root" "$@" || status=$?
    # What CMD left running (a service the session bus started, a window), and what was
    # started in this namespace since, would keep the mounts: all of it ends here. Other
    # namespaces in the same userland (the session of another test) are left alone.
    namespace=$(readlink /proc/self/ns/mnt)
    for link in /proc/[0-9]*/ns/mnt; do
      pid=${link#/proc/}
      pid=${pid%/ns/mnt}
      [ "$pid" != $$ ] && [ "$(readlink "$link" 2>/dev/null)" = "$namespace" ] &&
        kill -KILL "$pid" 2>/dev/null || true
    done
    exit $status' deskagent-userland "$root" "$@"
}

make_userland() {
  local root=$1
  [ -e "$root/.deskagent-ready" ] && return 0
  local started=$SECONDS
  rm -rf "$root.partial"
  mkdir -p "$(dirname "$root")"
  debootstrap --variant=minbase trixie "$root.partial" http://deb.debian.org/debian >/dev/null
  local based=$SECONDS
  # No service is started while packages are installed.
  printf '#!/bin/sh\nexit 101\n' >"$root.partial/usr/sbin/policy-rc.d"
  chmod +x "$root.partial/usr/sbin/policy-rc.d"
  # Nothing here needs to survive a crash of the machine: no syncing of each file unpacked.
  enter "$root.partial" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends -o Dpkg::Options::=--force-unsafe-io \
    "${packages[@]}" >/dev/null
  enter "$root.partial" apt-get clean
  echo "user:x:$user_id:$user_id::/home/user:/bin/sh" >>"$root.partial/etc/passwd"
  echo "user:x:$user_id:" >>"$root.partial/etc/group"
  mkdir -p "$root.partial/home/user"
  chown "$user_id:$user_id" "$root.partial/home/user"
  touch "$root.partial/.deskagent-ready"
  rm -rf "$root"
  mv "$root.partial" "$root"
  echo "Debian 13 userland made in $((SECONDS - started)) s (debootstrap $((based - started)) s," \
    "the desktops $((SECONDS - based)) s; $(du -sh "$root" | cut -f1)): $root"
}

case ${1:-} in
  make) make_userland "$(realpath -m "$2")" ;;
  enter) root=$(realpath "$2"); shift 2; enter "$root" "$@" ;;
  *) echo "usage: $0 make ROOT | enter ROOT CMD..." >&2; exit 2 ;;
esac
