#!/usr/bin/env bash
# The release binaries where users run them, after scripts/release.sh:
# - linux-x64 in the Debian 11 userland it was built in (glibc 2.31, none of this machine's
#   libraries): the process tests over its pipes, headless, and X11 pastes and reads on an Xvfb
#   of this machine (the userland reaches it through its abstract socket);
# - linux-arm64 under qemu-user, with the userland's arm64 libraries: the headless protocol;
# - the npm tarballs installed offline into an empty project, where a host spawns the agent
#   without naming a binary.
# The tests are this machine's build (BUILD_DIR); DESKAGENT_TEST_AGENT points them elsewhere.
#
#   tests/release/release_test.sh BUILD_DIR
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
dist=$repo/dist
userland=$repo/build-release/bullseye
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo

# Starts through a script: the tests see one program that takes the agent's arguments.
$sudo install -m 755 "$dist/linux-x64/deskagent" "$userland/usr/local/bin/deskagent"
printf '#!/bin/sh\nexec %s chroot %s /usr/local/bin/deskagent "$@"\n' "$sudo" "$userland" \
  >"$work/bullseye-agent"
printf '#!/bin/sh\nexec qemu-aarch64-static -L %s %s "$@"\n' "$userland" \
  "$dist/linux-arm64/deskagent" >"$work/arm64-agent"
chmod +x "$work"/*-agent

echo "release test: linux-x64 in Debian 11, headless"
env DISPLAY= WAYLAND_DISPLAY= DESKAGENT_TEST_AGENT="$work/bullseye-agent" \
  "$build/tests/process_tests" --gtest_brief=1
echo "release test: linux-x64 in Debian 11, on X11"
env WAYLAND_DISPLAY= DESKAGENT_TEST_AGENT="$work/bullseye-agent" "$build/tests/x11_tests" \
  --gtest_brief=1 --gtest_filter='AgentOnX.EveryTarget*:AgentOnX.ReadSelection*:AgentOnX.AnXterm*:AgentOnX.Watch*:AgentOnXThatComesLate.*'
echo "release test: linux-arm64 under qemu-user, headless"
# The protocol: every command answered in order, exit 0, --version and --check. The timing and
# memory bounds of the other tests are the native binary's, not an emulator's.
env DISPLAY= WAYLAND_DISPLAY= DESKAGENT_TEST_AGENT="$work/arm64-agent" \
  "$build/tests/process_tests" --gtest_brief=1 \
  --gtest_filter='Process.InputThatEnds*:Process.VersionHelp*'

echo "release test: the npm packages, installed offline into an empty project"
mkdir "$work/host"
cd "$work/host"
npm init -y >/dev/null
npm install --offline --no-audit --no-fund --loglevel=error \
  "$dist"/npm/deskagent-[0-9]*.tgz "$dist"/npm/deskagent-linux-x64-*.tgz
cat >host.mjs <<'HOST'
import { spawnAgent } from "deskagent";
const { agent, permissions } = await spawnAgent();
const pasted = await agent.paste("from a host that named no binary");
const status = await agent.close();
console.log(JSON.stringify({ binary: agent.binaryPath, permissions, pasted, status }));
HOST
result=$(env -u DESKAGENT_BINARY -u DISPLAY -u WAYLAND_DISPLAY PATH=/usr/bin:/bin node host.mjs)
expected='{"binary":"'$work'/host/node_modules/deskagent-linux-x64/bin/deskagent","permissions":{"type":"permissions","accessibility":false,"inputMonitoring":false,"microphone":"unknown"},"pasted":{"type":"paste","ok":false,"reason":"accessibility"},"status":{"code":0,"signal":null}}'
[ "$result" = "$expected" ] || { echo "release test: the host said $result" >&2; exit 1; }
if find node_modules -name '*.node' -o -name 'binding.gyp' | grep -q . ||
  grep -l '"\(pre\|post\|\)install"' node_modules/deskagent*/package.json; then
  echo "release test: an npm package would run something at install" >&2
  exit 1
fi
echo "release test: passed"
