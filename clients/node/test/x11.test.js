// The client against the real agent on a private Xvfb, with the X11 test clients built beside the
// agent (x11_press presses keys through XTEST; x11_test_window is the focused application).
"use strict";
const assert = require("node:assert/strict");
const { spawn, spawnSync } = require("node:child_process");
const fs = require("node:fs");
const path = require("node:path");
const { after, before, test } = require("node:test");

const { Key, spawnAgent } = require("..");
const { agentPath, buildDir, lineFrom, nextEvent } = require("./helpers");

const press = path.join(buildDir, "tests/x11_press");
const testWindow = path.join(buildDir, "tests/x11_test_window");
const hasXvfb = spawnSync("sh", ["-c", "command -v Xvfb"]).status === 0;
const skip =
  !hasXvfb || !fs.existsSync(press) || !fs.existsSync(testWindow)
    ? "needs Xvfb and the X11 test clients (the X11 backend built)"
    : false;

let server;
let agent;
let env;
const windows = [];

before(async () => {
  if (skip) return;
  // The server picks a free display and writes its number once it accepts connections.
  server = spawn("Xvfb", ["-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "640x480x24"], {
    stdio: ["ignore", "pipe", "ignore"],
  });
  const display = await lineFrom(server, "");
  env = { ...process.env, DISPLAY: `:${display.trim()}` };
  delete env.WAYLAND_DISPLAY; // a Wayland session of whoever runs them would take the agent there
  ({ agent } = await spawnAgent(agentPath, { env }));
});

after(async () => {
  for (const window of windows) window.kill();
  if (agent) await agent.close();
  server?.kill();
});

// A test window in `mode`, focused and ready.
async function openWindow(...args) {
  const window = spawn(testWindow, args, { env, stdio: ["ignore", "pipe", "ignore"] });
  windows.push(window);
  await lineFrom(window, "ready");
  return window;
}

const hex = (text) => Buffer.from(text).toString("hex");

test(
  "X11: watch Right Option and see it pressed and released",
  { skip, timeout: 30_000 },
  async () => {
    const listening = { type: "tap", active: true, listening: true };
    assert.deepEqual(await agent.watch(Key.rightOption), listening);
    // The tap is installed now: watching again causes no tap event, and is answered at once.
    assert.deepEqual(await agent.watch(Key.rightOption), listening);
    const down = nextEvent(agent, "key", (e) => e.phase === "down");
    const up = nextEvent(agent, "key", (e) => e.phase === "up");
    spawnSync(press, ["+Alt_R", "sleep:50", "-Alt_R"], { env });
    assert.deepEqual(await down, { type: "key", phase: "down", keyCode: Key.rightOption });
    assert.deepEqual(await up, { type: "key", phase: "up", keyCode: Key.rightOption });
    await agent.unwatch();
  },
);

test("X11: a paste reaches the focused window", { skip, timeout: 30_000 }, async () => {
  const window = await openWindow("--mode", "paste");
  const pasted = lineFrom(window, "paste ");
  assert.deepEqual(await agent.paste("Hello from Node"), { type: "paste", ok: true });
  // Control+V (state 4), with the text on the clipboard.
  assert.match(await pasted, new RegExp(`^paste 4 ${hex("Hello from Node")} `));
});

test("X11: the selection of the focused window is read", { skip, timeout: 30_000 }, async () => {
  await openWindow("--mode", "copy", "--text", "chosen words");
  assert.deepEqual(await agent.readSelection(), {
    type: "selection",
    ok: true,
    text: "chosen words",
  });
});
