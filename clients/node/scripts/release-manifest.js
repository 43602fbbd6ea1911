#!/usr/bin/env node
// The manifests scripts/release.sh packs (run from the repository's top):
//   node clients/node/scripts/release-manifest.js client <dir>
//     <dir> holds a copy of this package: its package.json gains, as optional dependencies, the
//     package of each platform, and loses the scripts that build it here.
//   node clients/node/scripts/release-manifest.js platform <platform>-<arch> <dir>
//     writes package.json and README.md of the package that brings that platform's binary.
// npm installs the one platform package whose `os` and `cpu` match the machine and skips the
// others; nothing runs at install.
"use strict";
const fs = require("node:fs");
const path = require("node:path");

const platforms = ["linux-x64", "linux-arm64", "win32-x64", "darwin-x64", "darwin-arm64"];
const client = require("../package.json");
const write = (file, manifest) =>
  fs.writeFileSync(file, JSON.stringify(manifest, null, 2) + "\n");

const [mode, ...args] = process.argv.slice(2);
if (mode === "client") {
  const [dir] = args;
  const manifest = { ...client };
  delete manifest.scripts;
  delete manifest.devDependencies;
  manifest.optionalDependencies = Object.fromEntries(
    platforms.map((platform) => [`deskagent-${platform}`, client.version]),
  );
  write(path.join(dir, "package.json"), manifest);
} else if (mode === "platform" && platforms.includes(args[0])) {
  const [platform, dir] = args;
  const [os, cpu] = platform.split("-");
  const name = `deskagent-${platform}`;
  const binary = os === "win32" ? "deskagent.exe" : "deskagent";
  write(path.join(dir, "package.json"), {
    name,
    version: client.version,
    description: `The deskagent binary for ${os} on ${cpu}, brought in by the deskagent package`,
    license: "MIT",
    os: [os],
    cpu: [cpu],
    files: [`bin/${binary}`],
    preferUnplugged: true,
  });
  fs.writeFileSync(
    path.join(dir, "README.md"),
    `# ${name}

The \`deskagent\` binary for ${os} on ${cpu}: \`bin/${binary}\`. Install \`deskagent\`, not this
package: it names this one as an optional dependency, and its \`spawnAgent()\` finds the binary
here. No install script runs; the binary is in the tarball.
`,
  );
} else {
  process.stderr.write("usage: release-manifest.js client DIR | platform PLATFORM-ARCH DIR\n");
  process.exit(2);
}
