#!/usr/bin/env node
// deskagent-console: an interactive host for trying the agent by hand. It shows every event as
// it arrives and takes short commands; `help` lists them.

import * as readline from "node:readline";
import { setTimeout as sleep } from "node:timers/promises";

import { spawnAgent, type DeskAgent } from "./agent";
import type { AgentEvent, TapEvent } from "./events";
import { Key, keyName, type KeyName } from "./keys";

const defaultDelaySeconds = 3;

const usage = `usage: deskagent-console [--json] [--delay SECONDS] [--agent PATH]
  --agent PATH     the agent binary (default: $DESKAGENT_BINARY, else this platform's
                   package, else deskagent on the PATH)
  --delay SECONDS  how long paste and read wait, counting down, so that you can click into
                   another window first (default ${defaultDelaySeconds}; 0: at once)
  --json           show each event as the raw line the agent wrote`;

const help = `commands:
  watch KEY             watch a key: ${Object.keys(Key).map(kebab).join(", ")}, or a key code
  unwatch               stop the key events
  paste TEXT            paste TEXT into the frontmost application ("..." for JSON escapes like \\n),
                        after a countdown that leaves you time to click into it
  read                  read the frontmost application's selection, after the same countdown
  perms                 report the permissions
  request [SCOPE]       ask for access: accessibility or input-monitoring
  help                  this list
  quit                  close the agent and leave (or Ctrl-D)`;

function kebab(name: string): string {
  return name.replace(/[A-Z]/g, (c) => "-" + c.toLowerCase());
}

const keysByName = new Map<string, number>(
  (Object.keys(Key) as KeyName[]).flatMap((name) => [
    [kebab(name), Key[name]],
    [name.toLowerCase(), Key[name]],
  ]),
);

function describeKey(code: number): string {
  const name = keyName(code);
  return name ? `${kebab(name)} (key code ${code})` : `key code ${code}`;
}

interface Style {
  dim(text: string): string;
  name(text: string): string;
  good(text: string): string;
  bad(text: string): string;
}

function style(enabled: boolean): Style {
  const paint = (code: number) => (text: string) =>
    enabled ? `\x1b[${code}m${text}\x1b[0m` : text;
  return { dim: paint(2), name: paint(36), good: paint(32), bad: paint(31) };
}

function yesNo(s: Style, value: boolean): string {
  return value ? s.good("yes") : s.bad("no");
}

function quote(text: string): string {
  const shown = JSON.stringify(text.length > 200 ? text.slice(0, 200) : text);
  return text.length > 200 ? `${shown}... (${text.length} characters)` : shown;
}

/** One readable line for an event. */
function render(event: AgentEvent, s: Style): string {
  switch (event.type) {
    case "ready":
      return s.name("ready");
    case "permissions":
      return [
        s.name("permissions"),
        `accessibility ${yesNo(s, event.accessibility)}`,
        `input monitoring ${yesNo(s, event.inputMonitoring)}`,
        `microphone ${event.microphone}`,
      ].join("  ");
    case "tap":
      if (!event.active) {
        return `${s.name("tap")} ${s.bad("refused")} (${event.reason}); retried every 2 s while a key is watched, shown again when that changes`;
      }
      return `${s.name("tap")} ${s.good("installed")}${event.listening ? "" : ", but not listening (no Input Monitoring access)"}`;
    case "key":
      return `${s.name("key")} ${kebab(keyName(event.keyCode) ?? String(event.keyCode))} ${event.phase}`;
    case "paste":
      return event.ok
        ? `${s.name("paste")} ${s.good("ok")}`
        : `${s.name("paste")} ${s.bad("refused")}: ${event.reason}`;
    case "selection":
      return event.ok
        ? `${s.name("selection")} ${quote(event.text)}`
        : `${s.name("selection")} ${s.bad("refused")}: ${event.reason}`;
  }
}

interface Args {
  json: boolean;
  agentPath: string | undefined;
  delaySeconds: number;
}

function parseArgs(argv: string[]): Args | string {
  const args: Args = { json: false, agentPath: undefined, delaySeconds: defaultDelaySeconds };
  for (let i = 0; i < argv.length; i++) {
    const arg = argv[i];
    if (arg === "--json") args.json = true;
    else if (arg === "--agent" && i + 1 < argv.length) args.agentPath = argv[++i] as string;
    else if (arg === "--delay" && i + 1 < argv.length) {
      const value = argv[++i] as string;
      args.delaySeconds = Number(value);
      if (!/^\d+(\.\d+)?$/.test(value)) return `--delay takes a number of seconds, not ${value}`;
    } else return arg === "--help" || arg === "-h" ? "" : `unknown argument: ${arg}`;
  }
  return args;
}

interface Session {
  agent: DeskAgent;
  say(text: string): void;
  // Shows a line that the next one replaces (a countdown), where the terminal allows.
  sayPassing(text: string): void;
  delaySeconds: number;
}

// Counts down so the user can click into the window the command is for: without it, the paste
// lands in (and the read copies from) this console's own terminal.
async function countdown(session: Session, what: string): Promise<void> {
  for (let left = session.delaySeconds; left > 0; left -= 1) {
    session.sayPassing(`${what} in ${Math.ceil(left)}... (click into the window it is for)`);
    await sleep(Math.min(left, 1) * 1000);
  }
}

// Runs one command line to its end (a countdown included); what it prints goes through `say`.
async function runCommand(session: Session, line: string): Promise<"quit" | void> {
  const { agent, say } = session;
  const trimmed = line.trim();
  if (trimmed === "") return;
  const [word = "", ...args] = trimmed.split(/\s+/);
  const failed = (error: Error) => say(`error: ${error.message}`);
  switch (word) {
    case "watch": {
      const arg = args[0]?.toLowerCase() ?? "";
      const code = keysByName.get(arg) ?? (/^-?\d+$/.test(arg) ? Number(arg) : undefined);
      if (args.length !== 1 || code === undefined || !Number.isSafeInteger(code)) {
        say(`watch what? one of ${[...Object.keys(Key)].map(kebab).join(", ")}, or a key code`);
        return;
      }
      say(
        keyName(code)
          ? `watching ${describeKey(code)}`
          : `watching key code ${code}, which is no watchable key: it never gives a key event`,
      );
      agent.watch(code).catch(failed);
      return;
    }
    case "unwatch":
      say("watching no key now (the tap stays installed)");
      agent.unwatch().catch(failed);
      return;
    case "paste": {
      let text = trimmed.slice(word.length).trimStart();
      if (text.startsWith('"')) {
        try {
          text = String(JSON.parse(text));
        } catch {
          say('paste "...": the text is not a JSON string');
          return;
        }
      }
      if (text === "") {
        say("paste what? paste TEXT");
        return;
      }
      await countdown(session, "pasting");
      agent.paste(text).catch(failed);
      return;
    }
    case "read":
      await countdown(session, "reading the selection");
      agent.readSelection().catch(failed);
      return;
    case "perms":
      agent.permissions().catch(failed);
      return;
    case "request": {
      const scope = args[0];
      if (
        args.length > 1 ||
        (scope !== undefined && scope !== "accessibility" && scope !== "input-monitoring")
      ) {
        say("request what? request accessibility, request input-monitoring, or just request");
        return;
      }
      agent.request(scope).catch(failed);
      return;
    }
    case "help":
      say(help);
      return;
    case "quit":
    case "exit":
      return "quit";
    default:
      say(`unknown command "${word}"; type help for the list`);
  }
}

function sameTap(a: TapEvent | undefined, b: TapEvent): boolean {
  return a !== undefined && JSON.stringify(a) === JSON.stringify(b);
}

async function main(): Promise<number> {
  const args = parseArgs(process.argv.slice(2));
  if (typeof args === "string") {
    (args ? process.stderr : process.stdout).write((args ? args + "\n" : "") + usage + "\n");
    return args ? 2 : 0;
  }
  const interactive = process.stdin.isTTY === true && process.stdout.isTTY === true;
  const s = style(process.stdout.isTTY === true && process.stdout.hasColors());
  const startedAt = process.hrtime.bigint();
  let rl: readline.Interface | undefined;

  const say = (text: string) => {
    if (rl && interactive) {
      readline.clearLine(process.stdout, 0);
      readline.cursorTo(process.stdout, 0);
    }
    process.stdout.write(text + "\n");
    if (rl && interactive) rl.prompt(true);
  };
  const sayPassing = (text: string) => {
    if (!interactive) return say(text);
    readline.clearLine(process.stdout, 0);
    readline.cursorTo(process.stdout, 0);
    process.stdout.write(s.dim(text));
  };
  // A refused tap comes again every 2 s while a key is watched: shown once, and again when it
  // changes.
  let lastTap: TapEvent | undefined;
  const show = (event: AgentEvent, line: string) => {
    if (event.type === "tap") {
      const repeated = !event.active && sameTap(lastTap, event);
      lastTap = event;
      if (repeated && !args.json) return;
    }
    const seconds = Number(process.hrtime.bigint() - startedAt) / 1e9;
    say(args.json ? line : `${s.dim(`+${seconds.toFixed(3)}s`.padStart(9))}  ${render(event, s)}`);
  };

  let agent: DeskAgent;
  try {
    ({ agent } = await spawnAgent(args.agentPath, { listeners: { event: show } }));
  } catch (error) {
    process.stderr.write(`deskagent-console: ${(error as Error).message}\n`);
    return 1;
  }

  let quitting = false;
  const exited = new Promise<number>((resolve) =>
    agent.on("exit", (status) => {
      if (!quitting)
        say(
          `the agent ${status.signal ? `was ended by ${status.signal}` : `exited with code ${status.code}`}`,
        );
      rl?.close();
      resolve(quitting && status.code === 0 ? 0 : 1);
    }),
  );

  rl = readline.createInterface({
    input: process.stdin,
    output: process.stdout,
    terminal: interactive,
    prompt: s.dim("> "),
    historySize: 500,
  });
  const session: Session = { agent, say, sayPassing, delaySeconds: args.delaySeconds };
  // Lines run one at a time, in order: a paste's countdown holds back the lines after it.
  const queue: string[] = [];
  let running = false;
  let inputEnded = false;
  const quit = () => {
    if (quitting) return;
    quitting = true;
    agent.close().catch(() => {});
  };
  const drain = async () => {
    if (running) return;
    running = true;
    for (let line = queue.shift(); line !== undefined && !quitting; line = queue.shift()) {
      if ((await runCommand(session, line)) === "quit") quit();
    }
    running = false;
    if (inputEnded) quit();
  };
  rl.on("line", (line) => {
    queue.push(line);
    void drain();
  });
  rl.on("close", () => {
    // Ctrl-D or Ctrl-C leave the cursor after the prompt: the shell's prompt goes on a line
    // of its own.
    if (interactive) process.stdout.write("\n");
    inputEnded = true;
    if (!running) quit();
  });
  rl.on("SIGINT", () => rl?.close());
  if (interactive) {
    say(s.dim("type help for the commands"));
  }
  return exited;
}

main().then(
  (code) => {
    process.exitCode = code;
  },
  (error: unknown) => {
    process.stderr.write(`deskagent-console: ${String(error)}\n`);
    process.exitCode = 1;
  },
);
