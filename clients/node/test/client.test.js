// The client against the real agent, headless (where every transfer is refused and the tap too),
// and against stand-in agents: what a desktop answers, and the ways a process can fail.
"use strict";
const assert = require("node:assert/strict");
const events = require("node:events");
const { test } = require("node:test");

const { AgentError, AgentExitError, Key, spawnAgent } = require("..");
const { agentPath, fakeAgent, headlessEnv, silentAgentScript } = require("./helpers");

const headlessReport = {
  type: "permissions",
  accessibility: false,
  inputMonitoring: false,
  microphone: "unknown",
};
const refusal = (type) => ({ type, ok: false, reason: "accessibility" });

test("headless: the start report, each command's answer, and unsolicited events for listeners", async () => {
  const seen = [];
  const { agent, permissions } = await spawnAgent(agentPath, {
    env: headlessEnv(),
    listeners: { event: (event, line) => seen.push([event.type, line]) },
  });
  assert.deepEqual(permissions, headlessReport);
  assert.deepEqual(seen.slice(0, 1), [["ready", '{"type":"ready"}']]);

  const taps = [];
  agent.on("tap", (event) => taps.push(event));
  const refused = { type: "tap", active: false, reason: "permission" };
  const cases = [
    [() => agent.paste("héllo / wörld"), refusal("paste")],
    [() => agent.readSelection(), refusal("selection")],
    [() => agent.permissions(), headlessReport],
    [() => agent.request(), headlessReport],
    [() => agent.request("accessibility"), headlessReport],
    [() => agent.request("input-monitoring"), headlessReport],
    [() => agent.watch(Key.rightOption), refused],
    [() => agent.unwatch(), undefined],
    // The tap is still refused, so watching again tries again and answers again.
    [() => agent.watch(99), refused],
  ];
  for (const [send, answer] of cases) assert.deepEqual(await send(), answer);
  assert.deepEqual(taps, [refused, refused]);
  assert.deepEqual(await agent.close(), { code: 0, signal: null });
});

test("a thousand commands in flight are each answered by their own kind of event, in order", async () => {
  const { agent } = await spawnAgent(agentPath, { env: headlessEnv() });
  const kinds = [
    ["paste", (i) => agent.paste(`text ${i}`)],
    ["selection", () => agent.readSelection()],
    ["permissions", () => agent.permissions()],
  ];
  const settled = [];
  const sent = Array.from({ length: 1000 }, (_, i) => {
    const [type, send] = kinds[(i * 7) % kinds.length];
    return send(i).then((event) => settled.push([i, type, event.type]));
  });
  await Promise.all(sent);
  // Headless, every command is answered at once, so the answers come back in the order sent.
  assert.deepEqual(
    settled.map(([i]) => i),
    [...sent.keys()],
  );
  for (const [i, type, got] of settled) assert.equal(got, type, `command ${i}`);
  await agent.close();
});

test("bad use is refused at once, before anything is written", async () => {
  const { agent } = await spawnAgent(agentPath, { env: headlessEnv() });
  const cases = [
    [() => agent.paste(""), TypeError, /must not be empty/],
    [() => agent.paste(42), TypeError, /must be a string/],
    [() => agent.paste("half a pair \ud83d"), TypeError, /unpaired surrogate/],
    [() => agent.paste("x".repeat(64 * 1024 * 1024)), RangeError, /longer than the agent reads/],
    [() => agent.watch(61.5), TypeError, /safe integer/],
    [() => agent.watch("61"), TypeError, /safe integer/],
    [() => agent.watch(2 ** 53), TypeError, /safe integer/],
    [() => agent.request("microphone"), TypeError, /scope/],
  ];
  for (const [send, type, message] of cases)
    await assert.rejects(send(), (e) => e instanceof type && message.test(e.message));
  // The agent saw none of them: the next answer is the one to the next command.
  assert.deepEqual(await agent.paste("fine"), refusal("paste"));
  // Commands already sent are answered before the agent exits; new ones are refused.
  const last = agent.readSelection();
  const closing = agent.close();
  await assert.rejects(agent.permissions(), /closed/);
  assert.deepEqual(await last, refusal("selection"));
  assert.deepEqual(await closing, { code: 0, signal: null });
  assert.equal(agent.close(), closing);
});

test("an agent that cannot start or ends early says why, by code", async (t) => {
  const cases = [
    ["a missing binary", "/nonexistent/deskagent", {}, "ENOENT", /could not start .*ENOENT/],
    [
      "a file that is not executable",
      fakeAgent("exit 0", 0o644),
      {},
      "EACCES",
      /could not start .*EACCES/,
    ],
    [
      "an agent that fails",
      fakeAgent("echo 'first'; echo 'no display here' >&2; exit 3"),
      {},
      "EXITED",
      /exited with code 3 before it was ready.*no display here/s,
    ],
    [
      "an agent that never says ready",
      fakeAgent("exec sleep 30"),
      { startTimeoutMs: 200 },
      "TIMEOUT",
      /did not report ready within 200 ms/,
    ],
    [
      "no binary given and none to be found",
      undefined,
      { env: { PATH: "/nonexistent" } },
      "ENOENT",
      /no deskagent binary: none given, DESKAGENT_BINARY unset, the package deskagent-\w+-\w+ not installed/,
    ],
  ];
  for (const [name, path, options, code, message] of cases) {
    await t.test(name, () =>
      assert.rejects(spawnAgent(path, options), (e) => {
        assert.ok(e instanceof AgentError && e instanceof AgentExitError);
        assert.equal(e.code, code);
        assert.match(e.message, message);
        if (code === "ENOENT" || code === "EACCES") assert.equal(e.cause?.code, code);
        return true;
      }),
    );
  }
});

test("an agent that dies rejects what it left unanswered and fires exit", async () => {
  const { agent } = await spawnAgent(fakeAgent(`${silentAgentScript}\nexec sleep 30`));
  const pending = [
    agent.paste("lost"),
    agent.readSelection(),
    agent.permissions(),
    agent.watch(Key.fn),
  ];
  const exit = events.once(agent, "exit");
  process.kill(agent.pid, "SIGKILL");
  assert.deepEqual((await exit)[0], { code: null, signal: "SIGKILL" });
  for (const answer of pending) {
    await assert.rejects(
      answer,
      (e) =>
        e instanceof AgentExitError &&
        /signal SIGKILL/.test(e.message) &&
        e.status.signal === "SIGKILL",
    );
  }
  await assert.rejects(agent.permissions(), /signal SIGKILL/);
});

test("close ends an agent that does not stop at the end of its input", async (t) => {
  const cases = [
    ["with SIGTERM", `${silentAgentScript}\nexec sleep 30`, "SIGTERM"],
    [
      "with SIGKILL when it ignores SIGTERM",
      `trap '' TERM\n${silentAgentScript}\nexec sleep 30`,
      "SIGKILL",
    ],
  ];
  for (const [name, script, signal] of cases) {
    await t.test(name, async () => {
      const { agent } = await spawnAgent(fakeAgent(script));
      assert.deepEqual(await agent.close(100), { code: null, signal });
    });
  }
});

test(
  "what a desktop answers: the tap, keys, a paste and a long selection in many chunks",
  { timeout: 10_000 },
  async () => {
    const text = "ü".repeat(300_000); // far more than one pipe chunk
    const agentScript = `${silentAgentScript}
read line; echo '{"type":"tap","active":true,"listening":true}'
read line; echo '{"type":"key","phase":"down","keyCode":61}'; echo '{"type":"key","phase":"up","keyCode":61}'
read line; echo '{"type":"paste","ok":true}'
read line; echo '{"type":"selection","ok":true,"text":"${text}"}'
exec sleep 30`;
    const { agent } = await spawnAgent(fakeAgent(agentScript));
    const keys = [];
    agent.on("key", (event) => keys.push(event));
    const listening = { type: "tap", active: true, listening: true };
    assert.deepEqual(await agent.watch(Key.rightOption), listening);
    // The tap is installed, so the agent answers a second watch with nothing: the last tap stands.
    assert.deepEqual(await agent.watch(Key.rightOption), listening);
    assert.deepEqual(await agent.paste("Hello from Node"), { type: "paste", ok: true });
    assert.deepEqual(await agent.readSelection(), { type: "selection", ok: true, text });
    assert.deepEqual(
      keys.map((e) => [e.phase, e.keyCode]),
      [
        ["down", 61],
        ["up", 61],
      ],
    );
    await agent.close(100);
  },
);

// Selections answered with their own number, the answers to a batch written in one chunk.
const numberingAgent = (batch) => `${silentAgentScript}
n=0
while :; do
  out=""
  for i in $(seq ${batch}); do
    read line || exit 0
    n=$((n+1)); out="$out{\\"type\\":\\"selection\\",\\"ok\\":true,\\"text\\":\\"$n\\"}\\n"
  done
  printf "$out"
done`;

test("a listener that throws loses no answer, and later answers go to their own commands", async () => {
  const { agent } = await spawnAgent(fakeAgent(numberingAgent(3)));
  const thrown = [];
  const seen = [];
  agent.on("selection", () => {
    throw new Error("a host's bug");
  });
  agent.on("selection", (event) => seen.push(event.text));
  agent.on("error", (error) => thrown.push(error.message));
  const answers = await Promise.all(Array.from({ length: 6 }, () => agent.readSelection()));
  assert.deepEqual(
    answers.map((event) => event.text),
    ["1", "2", "3", "4", "5", "6"],
  );
  assert.deepEqual(seen, ["1", "2", "3", "4", "5", "6"]);
  assert.equal(thrown.length, 6);
  assert.equal(thrown[0], "a host's bug");
  await agent.close(100);
});

test("an EventEmitter for events.once and events.on; commands give up by timeout or signal", async () => {
  // Answers come in pairs: a command's answer waits for the next command, whatever the clock.
  const { agent } = await spawnAgent(fakeAgent(numberingAgent(2)));
  await assert.rejects(agent.readSelection({ timeout: 50 }), (e) => e.code === "TIMEOUT");
  const late = events.once(agent, "selection");
  const second = agent.readSelection();
  // The command that gave up keeps its place: its late answer is not taken for the next one's.
  assert.equal((await late)[0].text, "1");
  assert.equal((await second).text, "2");
  const controller = new AbortController();
  const aborted = agent.readSelection({ signal: controller.signal });
  controller.abort(new Error("the user let go"));
  await assert.rejects(aborted, (e) => e.code === "ABORT_ERR" && e.cause.message === "the user let go");
  // An aborted signal sends nothing at all.
  await assert.rejects(agent.paste("x", { signal: controller.signal }), (e) => e.code === "ABORT_ERR");
  const iterator = events.on(agent, "selection");
  assert.equal((await agent.readSelection()).text, "4");
  assert.equal((await iterator.next()).value[0].text, "3");
  await agent.close(100);
  await assert.rejects(agent.permissions(), (e) => e.code === "CLOSED");
});

test("without a path, DESKAGENT_BINARY names the agent", async () => {
  const saved = process.env.DESKAGENT_BINARY;
  process.env.DESKAGENT_BINARY = fakeAgent(silentAgentScript);
  try {
    const { agent } = await spawnAgent();
    assert.equal(agent.binaryPath, process.env.DESKAGENT_BINARY);
    await agent.close(100);
  } finally {
    if (saved === undefined) delete process.env.DESKAGENT_BINARY;
    else process.env.DESKAGENT_BINARY = saved;
  }
});
