// A running agent: the child process, its line stream, and the matching of answers to commands.

import { spawn, type ChildProcessWithoutNullStreams } from "node:child_process";
import { EventEmitter } from "node:events";

import {
  parseEvent,
  type AgentEvent,
  type EventOf,
  type EventType,
  type PasteEvent,
  type PermissionsEvent,
  type SelectionEvent,
  type TapEvent,
} from "./events";

export interface SpawnOptions {
  /** The agent's environment (default: this process's). On Linux, `DISPLAY` picks the X server. */
  env?: NodeJS.ProcessEnv;
  cwd?: string;
  /** How long to wait for "ready" and the first permissions report (default 10 000 ms). */
  startTimeoutMs?: number;
  /** Listeners attached before the agent starts, so that they also see "ready" and the first report. */
  listeners?: Partial<AgentListeners>;
}

/** How the agent's process ended: an exit code, or the signal that ended it. */
export interface ExitStatus {
  code: number | null;
  signal: NodeJS.Signals | null;
}

export type RequestScope = "accessibility" | "input-monitoring";

/** The listeners `on` takes: one per event type, `event` for every event with its raw line, and `exit`. */
export type AgentListeners = {
  [T in EventType]: (event: EventOf<T>) => void;
} & {
  event: (event: AgentEvent, line: string) => void;
  exit: (status: ExitStatus) => void;
};

/** Why a command or the start failed: the agent could not start, or ended before answering. */
export class AgentExitError extends Error {
  constructor(
    message: string,
    /** Set when the process ran and ended. */
    readonly status: ExitStatus | undefined,
    /** The last lines the agent wrote to standard error, if any. */
    readonly stderr: string,
  ) {
    super(stderr ? `${message}; its last words on stderr: ${stderr}` : message);
    this.name = "AgentExitError";
  }
}

interface Waiter<T> {
  resolve: (value: T) => void;
  reject: (error: Error) => void;
}

// The agent drops lines longer than this whole, without an answer.
const maxLineBytes = 64 * 1024 * 1024;
const stderrKeptChars = 2000;
const stderrShownLines = 5;
const scopes: readonly string[] = ["accessibility", "input-monitoring"];

function describe(status: ExitStatus): string {
  return status.signal !== null
    ? `was ended by signal ${status.signal}`
    : `exited with code ${status.code}`;
}

/** A deskagent child process. Make one with `spawnAgent`. */
export class DeskAgent {
  private readonly emitter = new EventEmitter();
  private readonly pasteWaiters: Waiter<PasteEvent>[] = [];
  private readonly selectionWaiters: Waiter<SelectionEvent>[] = [];
  private readonly permissionsWaiters: Waiter<PermissionsEvent>[] = [];
  // Every "watch" waiting for a tap event gets the next one: a watch that finds the tap already
  // installed causes none of its own.
  private tapWaiters: Waiter<TapEvent>[] = [];
  private lastTap: TapEvent | undefined;
  private partial: string[] = [];
  private stderrTail = "";
  private ready = false;
  private started: Waiter<PermissionsEvent> | undefined;
  private failure: AgentExitError | undefined;
  private exitStatus: ExitStatus | undefined;
  private closing: Promise<ExitStatus> | undefined;
  private exited: Waiter<ExitStatus>[] = [];
  private readonly timers: NodeJS.Timeout[] = [];

  private constructor(
    private readonly child: ChildProcessWithoutNullStreams,
    binaryPath: string,
  ) {
    child.stdout.setEncoding("utf8");
    child.stdout.on("data", (chunk: string) => this.receive(chunk));
    child.stderr.setEncoding("utf8");
    child.stderr.on("data", (chunk: string) => {
      this.stderrTail = (this.stderrTail + chunk).slice(-stderrKeptChars);
    });
    // A write to an agent that has gone fails here; the process's end tells the waiters why.
    child.stdin.on("error", () => {});
    child.on("error", (error: NodeJS.ErrnoException) => {
      if (child.pid === undefined) {
        this.finish(
          new AgentExitError(`could not start ${binaryPath}: ${error.message}`, undefined, ""),
          undefined,
        );
      }
    });
    // "close" comes after the last output has been read, so every answer given is delivered.
    child.on("close", (code: number | null, signal: NodeJS.Signals | null) => {
      const status = { code, signal };
      const when = this.ready ? "" : " before it was ready";
      this.finish(
        new AgentExitError(
          `${binaryPath} ${describe(status)}${when}`,
          status,
          this.lastStderrLines(),
        ),
        status,
      );
    });
  }

  /** @internal Use `spawnAgent`. */
  static start(
    binaryPath: string,
    options: SpawnOptions,
  ): Promise<{ agent: DeskAgent; permissions: PermissionsEvent }> {
    const child = spawn(binaryPath, [], {
      env: options.env ?? process.env,
      ...(options.cwd !== undefined ? { cwd: options.cwd } : {}),
      stdio: ["pipe", "pipe", "pipe"],
    });
    const agent = new DeskAgent(child, binaryPath);
    for (const [type, listener] of Object.entries(options.listeners ?? {})) {
      agent.emitter.on(type, listener);
    }
    const timeoutMs = options.startTimeoutMs ?? 10_000;
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => {
        child.kill("SIGKILL");
        reject(
          new AgentExitError(
            `${binaryPath} did not report ready within ${timeoutMs} ms`,
            undefined,
            agent.lastStderrLines(),
          ),
        );
      }, timeoutMs);
      agent.started = {
        resolve: (permissions) => {
          clearTimeout(timer);
          resolve({ agent, permissions });
        },
        reject: (error) => {
          clearTimeout(timer);
          reject(error);
        },
      };
    });
  }

  on<K extends keyof AgentListeners>(type: K, listener: AgentListeners[K]): this {
    this.emitter.on(type, listener);
    return this;
  }

  once<K extends keyof AgentListeners>(type: K, listener: AgentListeners[K]): this {
    this.emitter.once(type, listener);
    return this;
  }

  off<K extends keyof AgentListeners>(type: K, listener: AgentListeners[K]): this {
    this.emitter.off(type, listener);
    return this;
  }

  /** The process id of the agent. */
  get pid(): number | undefined {
    return this.child.pid;
  }

  /** Pastes `text` into the frontmost application; resolves with the "paste" event. */
  paste(text: string): Promise<PasteEvent> {
    return this.command(
      () => {
        if (typeof text !== "string")
          throw new TypeError(`paste: text must be a string, not ${typeof text}`);
        if (text.length === 0) throw new TypeError("paste: text must not be empty");
        // Half a surrogate pair has no UTF-8 form: the agent would drop the whole line unanswered.
        if (/\p{Surrogate}/u.test(text))
          throw new TypeError("paste: text holds an unpaired surrogate");
        return { type: "paste", text };
      },
      (w) => this.pasteWaiters.push(w),
    );
  }

  /** Copies the frontmost application's selection; resolves with the "selection" event. */
  readSelection(): Promise<SelectionEvent> {
    return this.command(
      () => ({ type: "read-selection" }),
      (w) => this.selectionWaiters.push(w),
    );
  }

  /** Resolves with a "permissions" event. */
  permissions(): Promise<PermissionsEvent> {
    return this.command(
      () => ({ type: "permissions" }),
      (w) => this.permissionsWaiters.push(w),
    );
  }

  /** Asks the system to prompt the user for that access (where it has a prompt); resolves with a "permissions" event. */
  request(scope?: RequestScope): Promise<PermissionsEvent> {
    return this.command(
      () => {
        if (scope === undefined) return { type: "request" };
        if (!scopes.includes(scope)) {
          throw new TypeError(
            `request: scope must be "accessibility" or "input-monitoring", not ${JSON.stringify(scope)}`,
          );
        }
        return { type: "request", scope };
      },
      (w) => this.permissionsWaiters.push(w),
    );
  }

  /**
   * Watches the key with this code (see `Key`); resolves with the next "tap" event, or at once
   * with the last one when the tap is already installed (the agent then sends none).
   */
  watch(keyCode: number): Promise<TapEvent> {
    return this.command(
      () => {
        if (!Number.isSafeInteger(keyCode))
          throw new TypeError(`watch: key code must be a safe integer, not ${String(keyCode)}`);
        return { type: "watch", keyCode };
      },
      (w) => {
        if (this.tapWaiters.length === 0 && this.lastTap?.active) w.resolve(this.lastTap);
        else this.tapWaiters.push(w);
      },
    );
  }

  /** Stops the key events; the tap stays installed. */
  unwatch(): Promise<void> {
    return this.command<void>(() => ({ type: "unwatch" }));
  }

  /**
   * Ends the agent's input and resolves with its exit status once it has finished the commands
   * sent and any clipboard transfer in flight. If it has not exited after `timeoutMs` it gets
   * SIGTERM, and after as long again SIGKILL.
   */
  close(timeoutMs = 5000): Promise<ExitStatus> {
    if (this.closing) return this.closing;
    this.closing = new Promise<ExitStatus>((resolve, reject) => {
      if (this.exitStatus) return resolve(this.exitStatus);
      if (this.failure) return reject(this.failure);
      this.exited.push({ resolve, reject });
      this.child.stdin.end();
      this.timers.push(
        setTimeout(() => this.child.kill("SIGTERM"), timeoutMs),
        setTimeout(() => this.child.kill("SIGKILL"), 2 * timeoutMs),
      );
    });
    return this.closing;
  }

  // Checks and writes one command; `wait` registers what answers it (nothing for "unwatch").
  private command<T>(build: () => object, wait?: (waiter: Waiter<T>) => void): Promise<T> {
    try {
      if (this.closing) throw new Error("the agent is closed");
      if (this.failure) throw this.failure;
      const line = JSON.stringify(build()) + "\n";
      if (Buffer.byteLength(line) - 1 > maxLineBytes) {
        throw new RangeError(`the command is longer than the agent reads (${maxLineBytes} bytes)`);
      }
      const answered = new Promise<T>((resolve, reject) =>
        wait ? wait({ resolve, reject }) : resolve(undefined as T),
      );
      this.child.stdin.write(line);
      return answered;
    } catch (error) {
      return Promise.reject(error);
    }
  }

  // A long line (a large selection) arrives in many chunks: its parts are kept apart and joined
  // once, so each byte is scanned for the line feed only once.
  private receive(chunk: string): void {
    let start = 0;
    for (let end = chunk.indexOf("\n"); end >= 0; end = chunk.indexOf("\n", start)) {
      this.partial.push(chunk.slice(start, end));
      const line = this.partial.join("");
      this.partial = [];
      this.handleLine(line);
      start = end + 1;
    }
    if (start < chunk.length) this.partial.push(chunk.slice(start));
  }

  private handleLine(line: string): void {
    const event = parseEvent(line);
    if (!event) return;
    switch (event.type) {
      case "ready":
        this.ready = true;
        break;
      case "permissions":
        if (this.started && this.ready) {
          this.started.resolve(event);
          this.started = undefined;
        } else {
          this.permissionsWaiters.shift()?.resolve(event);
        }
        break;
      case "tap": {
        this.lastTap = event;
        const waiters = this.tapWaiters;
        this.tapWaiters = [];
        for (const waiter of waiters) waiter.resolve(event);
        break;
      }
      case "paste":
        this.pasteWaiters.shift()?.resolve(event);
        break;
      case "selection":
        this.selectionWaiters.shift()?.resolve(event);
        break;
      case "key":
        break;
    }
    this.emitter.emit(event.type, event);
    this.emitter.emit("event", event, line);
  }

  private finish(error: AgentExitError, status: ExitStatus | undefined): void {
    if (this.failure) return;
    this.failure = error;
    this.exitStatus = status;
    for (const timer of this.timers) clearTimeout(timer);
    this.started?.reject(error);
    this.started = undefined;
    const waiters = [
      ...this.pasteWaiters,
      ...this.selectionWaiters,
      ...this.permissionsWaiters,
      ...this.tapWaiters,
    ];
    this.pasteWaiters.length = this.selectionWaiters.length = this.permissionsWaiters.length = 0;
    this.tapWaiters = [];
    for (const waiter of waiters) waiter.reject(error);
    for (const waiter of this.exited) status ? waiter.resolve(status) : waiter.reject(error);
    this.exited = [];
    this.emitter.emit("exit", status ?? { code: null, signal: null });
  }

  private lastStderrLines(): string {
    return this.stderrTail.trimEnd().split("\n").slice(-stderrShownLines).join("\n");
  }
}

/**
 * Starts the agent at `binaryPath` and resolves once it has said "ready" and reported its
 * permissions, with the agent and that report. Rejects with an `AgentExitError` when it cannot
 * be started or ends first.
 */
export function spawnAgent(
  binaryPath: string,
  options: SpawnOptions = {},
): Promise<{ agent: DeskAgent; permissions: PermissionsEvent }> {
  return DeskAgent.start(binaryPath, options);
}
