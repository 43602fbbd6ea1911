// What the Node client adds to the agent, headless: start-up to the resolved spawnAgent, one
// command's round trip through a promise, and a burst of commands in flight.
//
//   npm run build && node bench/client_bench.js [path/to/deskagent]
"use strict";
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const { spawnAgent } = require("..");

const agentPath = path.resolve(process.argv[2] || path.join(__dirname, "../../../build/deskagent"));
const env = { ...process.env };
delete env.DISPLAY;
delete env.WAYLAND_DISPLAY;

const now = () => Number(process.hrtime.bigint()) / 1e3; // µs
function percentiles(samples, unit = "µs") {
  const sorted = [...samples].sort((a, b) => a - b);
  const at = (p) => sorted[Math.min(sorted.length - 1, Math.floor(p * sorted.length))];
  return `p50 ${at(0.5).toFixed(1)} ${unit}, p99 ${at(0.99).toFixed(1)} ${unit}`;
}

async function main() {
  const starts = [];
  for (let i = 0; i < 30; i++) {
    const t0 = now();
    const { agent } = await spawnAgent(agentPath, { env });
    starts.push(now() - t0);
    await agent.close();
  }
  console.log(`spawnAgent to resolved (ready and first report): ${percentiles(starts)}`);

  const { agent } = await spawnAgent(agentPath, { env });
  for (let i = 0; i < 200; i++) await agent.permissions(); // warm-up
  const trips = [];
  for (let i = 0; i < 5000; i++) {
    const t0 = now();
    await agent.permissions();
    trips.push(now() - t0);
  }
  console.log(`permissions() round trip: ${percentiles(trips)}`);

  const bursts = [];
  for (let i = 0; i < 20; i++) {
    const t0 = now();
    await Promise.all(
      Array.from({ length: 1000 }, (_, j) => (j % 2 ? agent.paste("x") : agent.permissions())),
    );
    bursts.push((now() - t0) / 1000);
  }
  console.log(`1000 commands in flight, per command: ${percentiles(bursts)}`);
  await agent.close();

  // A 32 MiB selection, from a stand-in agent (the real one, headless, reads none): the line
  // arrives in many chunks.
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), "deskagent-bench-"));
  const standIn = path.join(dir, "agent");
  const text = "ab".repeat(16 << 20);
  const start =
    '{"type":"ready"}\\n{"type":"permissions","accessibility":true,"inputMonitoring":true,"microphone":"granted"}\\n';
  const answer = `'{"type":"selection","ok":true,"text":"' + "ab".repeat(16 << 20) + '"}\\n'`;
  fs.writeFileSync(
    standIn,
    `#!${process.execPath}\nprocess.stdout.write('${start}');\nprocess.stdin.on("data", () => process.stdout.write(${answer}));\n`,
    { mode: 0o755 },
  );
  const { agent: standInAgent } = await spawnAgent(standIn);
  const reads = [];
  for (let i = 0; i < 5; i++) {
    const t0 = now();
    const event = await standInAgent.readSelection();
    if (event.text !== text) throw new Error("the selection arrived changed");
    reads.push((now() - t0) / 1000);
  }
  console.log(`a 32 MiB selection, command to resolved: ${percentiles(reads, "ms")}`);
  await standInAgent.close();
  fs.rmSync(dir, { recursive: true, force: true });
}

main().catch((error) => {
  console.error(error);
  process.exitCode = 1;
});
