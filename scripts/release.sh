#!/usr/bin/env bash
# Builds the release binaries into dist/<platform>-<arch>/ and packs the npm packages into
# dist/npm/: `deskagent` (the client) and one package per platform with its binary.
#
#   scripts/release.sh
#
# On Linux (as root, or through sudo): linux-x64 and linux-arm64, built in a Debian 11 userland
# (build-release/bullseye, made once with debootstrap) with its own compilers, so the binaries
# need glibc 2.31 or newer and no C++ runtime of the system; win32-x64 with mingw-w64. On a Mac:
# darwin-arm64 and darwin-x64, from one universal build. Everything it downloads or builds stays
# in build-release/ and dist/.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
work=$repo/build-release
dist=$repo/dist
version=$(sed -n 's/^project(deskagent VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
node_version=$(node -p 'require("./clients/node/package.json").version')
[ "$version" = "$node_version" ] ||
  { echo "release: CMakeLists.txt says $version, clients/node/package.json $node_version" >&2; exit 1; }
rm -rf "$dist"
mkdir -p "$work" "$dist/npm"
release_options=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DDESKAGENT_TESTS=OFF -DDESKAGENT_BENCH=OFF)

# The binary must not ask for more than glibc 2.31 nor for the system's libstdc++ or libgcc_s, nor
# for the libraries it looks up when first needed (libsystemd, libei).
check_linux_binary() {
  local binary=$1 newest
  newest=$(objdump -T "$binary" | grep -o 'GLIBC_[0-9.]*' | sed 's/GLIBC_//' | sort -V | tail -n1)
  if [ "$(printf '%s\n2.31\n' "$newest" | sort -V | tail -n1)" != 2.31 ]; then
    echo "release: $binary needs glibc $newest" >&2
    exit 1
  fi
  if objdump -p "$binary" | grep -E 'NEEDED +(libstdc\+\+|libgcc_s)'; then
    echo "release: $binary needs the system's C++ runtime" >&2
    exit 1
  fi
  if objdump -p "$binary" | grep -E 'NEEDED +(libsystemd|libei)'; then
    echo "release: $binary cannot start without systemd or libei" >&2
    exit 1
  fi
  echo "$binary: glibc $newest at most, C++ runtime linked in, systemd and libei optional"
}

build_linux() {
  local sudo="" root=$work/bullseye
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo scripts/install-deps.sh release
  $sudo scripts/bullseye-userland.sh "$root"
  # The sources are seen read-only inside the userland; both mounts go whatever happens.
  mounts=()
  unmount_all() {
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do $sudo umount "${mounts[i]}" || true; done
  }
  trap unmount_all EXIT
  $sudo mkdir -p "$root/src"
  $sudo mount -t proc proc "$root/proc"
  mounts+=("$root/proc")
  $sudo mount --bind "$repo" "$root/src"
  mounts+=("$root/src")
  $sudo mount -o remount,bind,ro "$root/src"
  for target in linux-x64:native linux-arm64:/src/cmake/aarch64-linux-gnu.cmake; do
    local name=${target%%:*} toolchain=${target#*:} options=("${release_options[@]}")
    [ "$toolchain" != native ] && options+=(-DCMAKE_TOOLCHAIN_FILE="$toolchain")
    echo "release: $name"
    $sudo chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root sh -c "
      cmake -S /src -B /build/$name ${options[*]} >/dev/null &&
      cmake --build /build/$name &&
      rm -rf /build/$name-root && cmake --install /build/$name --strip --prefix /build/$name-root >/dev/null"
    mkdir -p "$dist/$name"
    cp "$root/build/$name-root/bin/deskagent" "$dist/$name/"
    check_linux_binary "$dist/$name/deskagent"
  done
  unmount_all
  mounts=()

  echo "release: win32-x64"
  cmake -S . -B "$work/win32-x64" "${release_options[@]}" \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake >/dev/null
  cmake --build "$work/win32-x64"
  rm -rf "$work/win32-x64-root"
  cmake --install "$work/win32-x64" --strip --prefix "$work/win32-x64-root" >/dev/null
  mkdir -p "$dist/win32-x64"
  cp "$work/win32-x64-root/bin/deskagent.exe" "$dist/win32-x64/"
}

build_macos() {
  echo "release: darwin (universal)"
  cmake -S . -B "$work/darwin" "${release_options[@]}" -DCMAKE_OSX_ARCHITECTURES="arm64;x86_64" \
    >/dev/null
  cmake --build "$work/darwin"
  rm -rf "$work/darwin-root"
  cmake --install "$work/darwin" --strip --prefix "$work/darwin-root" >/dev/null
  mkdir -p "$dist/darwin-universal" "$dist/darwin-arm64" "$dist/darwin-x64"
  cp "$work/darwin-root/bin/deskagent" "$dist/darwin-universal/"
  lipo "$dist/darwin-universal/deskagent" -thin arm64 -output "$dist/darwin-arm64/deskagent"
  lipo "$dist/darwin-universal/deskagent" -thin x86_64 -output "$dist/darwin-x64/deskagent"
}

case "$(uname -s)" in
  Linux) build_linux ;;
  Darwin) build_macos ;;
  *) echo "release: builds on Linux and macOS" >&2; exit 1 ;;
esac

# --- npm: the client, and a package per platform whose binary was built here ---------------
# Packed from copies in build-release/npm/; the client's names every platform's package.
(cd clients/node && npm ci --no-audit --no-fund --loglevel=error)
manifest="node clients/node/scripts/release-manifest.js"
client=$work/npm/deskagent
rm -rf "$client"
mkdir -p "$client"
cp -r clients/node/package.json clients/node/README.md clients/node/LICENSE clients/node/dist "$client/"
$manifest client "$client"
(cd "$client" && npm pack --ignore-scripts --silent --pack-destination "$dist/npm" >/dev/null)
for dir in "$dist"/*-*/; do
  platform=$(basename "$dir")
  [ "$platform" = darwin-universal ] && continue
  package=$work/npm/deskagent-$platform
  rm -rf "$package"
  mkdir -p "$package/bin"
  cp "$dir"/deskagent* "$package/bin/"
  cp LICENSE "$package/"
  $manifest platform "$platform" "$package"
  (cd "$package" && npm pack --ignore-scripts --silent --pack-destination "$dist/npm" >/dev/null)
done
echo "release: $(cd "$dist" && find . -type f | sort | tr '\n' ' ')"
