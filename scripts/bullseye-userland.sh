#!/usr/bin/env bash
# A Debian 11 (bullseye) userland at ROOT, made once with debootstrap, holding the toolchain the
# release binaries are built with: its own g++ 10 and glibc 2.31, the cross compiler for arm64
# and the libraries of both architectures. What it downloads stays inside ROOT. Needs root.
#
#   scripts/bullseye-userland.sh ROOT
set -euo pipefail
root=$1
ready=$root/.deskagent-userland
packages=(
  g++ g++-aarch64-linux-gnu cmake ninja-build pkg-config nlohmann-json3-dev libwayland-bin
)
for arch in amd64 arm64; do
  for lib in libx11-dev libx11-xcb-dev libxi-dev libxtst-dev libxfixes-dev libxres-dev libwayland-dev \
    libxkbcommon-dev libsystemd-dev; do
    packages+=("$lib:$arch")
  done
done
# Made again when the list changes.
wanted=$(printf '%s\n' "${packages[@]}")
[ -f "$ready" ] && [ "$(cat "$ready")" = "$wanted" ] && exit 0

rm -rf "$root"
mkdir -p "$root"
echo "bullseye userland: debootstrap into $root"
debootstrap --variant=minbase bullseye "$root" >"$root.log" 2>&1 || { cat "$root.log"; exit 1; }
mount -t proc proc "$root/proc"
trap 'umount "$root/proc"' EXIT
echo "bullseye userland: the toolchain"
chroot "$root" sh -c "dpkg --add-architecture arm64 && apt-get update -qq &&
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    -o Dpkg::Options::=--force-unsafe-io ${packages[*]} && apt-get clean" >>"$root.log" 2>&1 ||
  { cat "$root.log"; exit 1; }
rm -f "$root.log"
printf '%s\n' "$wanted" >"$ready"
