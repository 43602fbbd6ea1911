// deskagent-console driven through its standard input against the real agent, headless.
"use strict";
const assert = require("node:assert/strict");
const { spawn } = require("node:child_process");
const path = require("node:path");
const { test } = require("node:test");

const { agentPath, fakeAgent, headlessEnv, silentAgentScript } = require("./helpers");

const consolePath = path.join(__dirname, "../dist/console.js");

function runConsole(args, input) {
  const child = spawn(process.execPath, [consolePath, ...args], { env: headlessEnv() });
  let stdout = "";
  let stderr = "";
  child.stdout.on("data", (chunk) => (stdout += chunk));
  child.stderr.on("data", (chunk) => (stderr += chunk));
  child.stdin.end(input);
  return new Promise((resolve) => child.on("close", (code) => resolve({ code, stdout, stderr })));
}

const report = /permissions  accessibility no  input monitoring no  microphone unknown$/;

test("console: events rendered, help, hints for unusable input, quit", async () => {
  const input = [
    "help",
    "perms",
    "frobnicate",
    "watch banana",
    "paste",
    "request microphone",
    "watch right-option",
    "watch 12",
    "unwatch",
    "read",
    "quit",
    "perms",
  ];
  const { code, stdout, stderr } = await runConsole(
    ["--agent", agentPath, "--delay", "1"],
    input.join("\n") + "\n",
  );
  assert.equal(code, 0, stderr);
  const lines = stdout.split("\n");
  assert.match(lines[0], /^ +\+\d+\.\d{3}s  ready$/);
  // The start report and the answer to "perms"; the line after "quit" is not run.
  assert.equal(lines.filter((l) => report.test(l)).length, 2);
  for (const expected of [
    /^  watch KEY .*right-option.*or a key code$/m,
    /^unknown command "frobnicate"; type help for the list$/m,
    /^watch what\? one of fn, caps-lock/m,
    /^paste what\?/m,
    /^request what\?/m,
    /  tap refused \(permission\)/m,
    /^watching right-option \(key code 61\)$/m,
    /^watching key code 12, which is no watchable key: it never gives a key event$/m,
    /^watching no key now/m,
    // The read waits for the user to click into another window, and then goes.
    /^reading the selection in 1\.\.\. .*\n[^]*? +\+\d+\.\d{3}s  selection refused: accessibility$/m,
  ]) {
    assert.match(stdout, expected);
  }
});

test("console: --json shows the agent's own lines; the end of input quits", async () => {
  const { code, stdout } = await runConsole(["--json", "--delay", "0", "--agent", agentPath], "read\n");
  assert.equal(code, 0);
  const lines = stdout.trimEnd().split("\n");
  assert.equal(lines[0], '{"type":"ready"}');
  assert.deepEqual(JSON.parse(lines.at(-1)), {
    type: "selection",
    ok: false,
    reason: "accessibility",
  });
});

test("console: an agent that cannot start", async () => {
  const { code, stderr } = await runConsole(["--agent", "/nonexistent/deskagent"], "");
  assert.equal(code, 1);
  assert.match(stderr, /could not start \/nonexistent\/deskagent/);
});

test("console: a refused tap is shown once, and again when it changes", async () => {
  const refused = `echo '{"type":"tap","active":false,"reason":"permission"}'`;
  const agent = fakeAgent(`${silentAgentScript}
read line; ${refused}; ${refused}; ${refused}
echo '{"type":"tap","active":true,"listening":true}'; ${refused}; ${refused}
read line`);
  const { stdout } = await runConsole(["--agent", agent], "watch fn\nperms\n");
  const taps = stdout.split("\n").filter((line) => /  tap /.test(line));
  assert.deepEqual(
    taps.map((line) => line.replace(/^.*  tap (\w+).*$/, "$1")),
    ["refused", "installed", "refused"],
  );
});
