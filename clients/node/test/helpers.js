// What the tests stand on: the built agent (DESKAGENT_BUILD_DIR, default ../../build), a headless
// environment, and stand-in agents written as shell scripts.
"use strict";
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");

const buildDir = path.resolve(
  process.env.DESKAGENT_BUILD_DIR || path.join(__dirname, "../../../build"),
);
const agentPath = path.join(buildDir, "deskagent");

function headlessEnv() {
  const env = { ...process.env };
  delete env.DISPLAY;
  delete env.WAYLAND_DISPLAY;
  return env;
}

// A stand-in agent: `body` is a shell script. It is removed when the test process ends.
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), "deskagent-node-"));
process.on("exit", () => fs.rmSync(scratch, { recursive: true, force: true }));
let scripts = 0;
function fakeAgent(body, mode = 0o755) {
  const file = path.join(scratch, `agent-${++scripts}`);
  fs.writeFileSync(file, `#!/bin/sh\n${body}\n`, { mode });
  return file;
}

// An agent that starts as the real one does, then answers nothing and ignores the end of its input.
const silentAgentScript = `echo '{"type":"ready"}'
echo '{"type":"permissions","accessibility":true,"inputMonitoring":true,"microphone":"granted"}'`;

module.exports = {
  agentPath,
  fakeAgent,
  headlessEnv,
  silentAgentScript,
};
