// A running agent: the child process, its line stream, and the matching of answers to commands.

import { spawn, type ChildProcessWithoutNullStreams } from "node:child_process";
import { EventEmitter } from "node:events";

import { findAgentBinary, platformPackageName } from "./binary";
import { AgentError, type ExitStatus } from "./errors";
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

/** What every command takes: an `AbortSignal`, and a time limit for its answer in ms. */
export interface CommandOptions {
  signal?: AbortSignal;
  timeout?: number;
}

export type RequestScope = "accessibility" | "input-monitoring";

/**
 * The listeners `on` takes: one per event type, `event` for every event with its raw line,
 * `exit`, and `error` for an exception thrown by one of your listeners.
 */
export type AgentListeners = {
  [T in EventType]: (event: EventOf<T>) => void;
} & {
  event: (event: AgentEvent, line: string) => void;
  exit: (status: ExitStatus) => void;
  error: (error: unknown) => void;
};

// One command's promise. Its answer's place in the queue stays when it gives up (timeout,
// abort), so the answer that comes later is taken by it and no other command gets it.
class Pending<T> {
  settled = false;
  private cleanups: (() => void)[] = [];

  constructor(
    private readonly onResolve: (value: T) => void,
    private readonly onReject: (error: Error) => void,
  ) {}

  resolve(value: T): void {
    if (this.finish()) this.onResolve(value);
  }

  reject(error: Error): void {
    if (this.finish()) this.onReject(error);
  }

  giveUpOn({ signal, timeout }: CommandOptions, what: string): void {
    if (timeout !== undefined) {
      const timer = setTimeout(
        () => this.reject(new AgentError(`${what}: no answer within ${timeout} ms`, "TIMEOUT")),
        timeout,
      );
      this.cleanups.push(() => clearTimeout(timer));
    }
    if (signal) {
      const onAbort = () => this.reject(aborted(what, signal));
      signal.addEventListener("abort", onAbort, { once: true });
      this.cleanups.push(() => signal.removeEventListener("abort", onAbort));
    }
  }

  private finish(): boolean {
    if (this.settled) return false;
    this.settled = true;
    for (const cleanup of this.cleanups) cleanup();
    return true;
  }
}

function aborted(what: string, signal: AbortSignal): AgentError {
  const error = new AgentError(`${what}: aborted`, "ABORT_ERR", { cause: signal.reason });
  error.name = "AbortError";
  return error;
}

// The agent drops lines longer than this whole, without an answer.
const maxLineBytes = 64 * 1024 * 1024;
const stderrKeptChars = 2000;
const stderrShownLines = 5;
const scopes: readonly string[] = ["accessibility", "input-monitoring"];
// A hard kill on Windows (TerminateProcess) cannot be caught: the agent could not put the user's
// clipboard back. There the input's end is the only way to ask it to stop.
const softSignals = process.platform !== "win32";

function describe(status: ExitStatus): string {
  return status.signal !== null
    ? `was ended by signal ${status.signal}`
    : `exited with code ${status.code}`;
}

export interface DeskAgent {
  on<K extends keyof AgentListeners>(type: K, listener: AgentListeners[K]): this;
  once<K extends keyof AgentListeners>(type: K, listener: AgentListeners[K]): this;
  off<K extends keyof AgentListeners>(type: K, listener: AgentListeners[K]): this;
}

/**
 * A deskagent child process, and an `EventEmitter` of its events. Make one with `spawnAgent`.
 */
export class DeskAgent extends EventEmitter {
  private readonly pasteWaiters: Pending<PasteEvent>[] = [];
  private readonly selectionWaiters: Pending<SelectionEvent>[] = [];
  private readonly permissionsWaiters: Pending<PermissionsEvent>[] = [];
  // Every "watch" waiting for a tap event gets the next one: a watch that finds the tap already
  // installed causes none of its own.
  private tapWaiters: Pending<TapEvent>[] = [];
  private lastTap: TapEvent | undefined;
  private partial: string[] = [];
  private stderrTail = "";
  private ready = false;
  private started: Pending<PermissionsEvent> | undefined;
  private failure: AgentError | undefined;
  private exitStatus: ExitStatus | undefined;
  private closing: Promise<ExitStatus> | undefined;
  private exited: Pending<ExitStatus>[] = [];
  private readonly timers: NodeJS.Timeout[] = [];

  private constructor(
    private readonly child: ChildProcessWithoutNullStreams,
    /** The binary this agent runs. */
    readonly binaryPath: string,
  ) {
    super();
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
        const message = `could not start ${binaryPath}: ${error.message}`;
        this.finish(new AgentError(message, error.code ?? "ENOENT", { cause: error }), undefined);
      }
    });
    // "close" comes after the last output has been read, so every answer given is delivered.
    child.on("close", (code: number | null, signal: NodeJS.Signals | null) => {
      const status = { code, signal };
      const when = this.ready ? "" : " before it was ready";
      this.finish(
        new AgentError(`${binaryPath} ${describe(status)}${when}`, "EXITED", {
          status,
          stderr: this.lastStderrLines(),
        }),
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
      windowsHide: true,
    });
    const agent = new DeskAgent(child, binaryPath);
    for (const [type, listener] of Object.entries(options.listeners ?? {})) {
      EventEmitter.prototype.on.call(agent, type, listener as (...args: unknown[]) => void);
    }
    const timeoutMs = options.startTimeoutMs ?? 10_000;
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => {
        child.kill("SIGKILL");
        agent.started?.reject(
          new AgentError(`${binaryPath} did not report ready within ${timeoutMs} ms`, "TIMEOUT", {
            stderr: agent.lastStderrLines(),
          }),
        );
      }, timeoutMs);
      agent.started = new Pending(
        (permissions) => {
          clearTimeout(timer);
          resolve({ agent, permissions });
        },
        (error) => {
          clearTimeout(timer);
          reject(error);
        },
      );
    });
  }

  /** The process id of the agent. */
  get pid(): number | undefined {
    return this.child.pid;
  }

  /** Pastes `text` into the frontmost application; resolves with the "paste" event. */
  paste(text: string, options: CommandOptions = {}): Promise<PasteEvent> {
    return this.command(
      "paste",
      options,
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
  readSelection(options: CommandOptions = {}): Promise<SelectionEvent> {
    return this.command(
      "readSelection",
      options,
      () => ({ type: "read-selection" }),
      (w) => this.selectionWaiters.push(w),
    );
  }

  /** Resolves with a "permissions" event. */
  permissions(options: CommandOptions = {}): Promise<PermissionsEvent> {
    return this.command(
      "permissions",
      options,
      () => ({ type: "permissions" }),
      (w) => this.permissionsWaiters.push(w),
    );
  }

  /** Asks the system to prompt the user for that access (where it has a prompt); resolves with a "permissions" event. */
  request(scope?: RequestScope, options: CommandOptions = {}): Promise<PermissionsEvent> {
    return this.command(
      "request",
      options,
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
  watch(keyCode: number, options: CommandOptions = {}): Promise<TapEvent> {
    return this.command(
      "watch",
      options,
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
  unwatch(options: CommandOptions = {}): Promise<void> {
    return this.command<void>("unwatch", options, () => ({ type: "unwatch" }));
  }

  /**
   * Ends the agent's input and resolves with its exit status once it has finished the commands
   * sent and any clipboard transfer in flight. If it has not exited after `timeoutMs` it gets
   * SIGTERM, and after as long again SIGKILL. On Windows, where a process cannot be asked to
   * stop by a signal, it is only ended by force after twice `timeoutMs`.
   */
  close(timeoutMs = 5000): Promise<ExitStatus> {
    if (this.closing) return this.closing;
    this.closing = new Promise<ExitStatus>((resolve, reject) => {
      if (this.exitStatus) return resolve(this.exitStatus);
      if (this.failure) return reject(this.failure);
      this.exited.push(new Pending(resolve, reject));
      this.child.stdin.end();
      if (softSignals) this.timers.push(setTimeout(() => this.child.kill("SIGTERM"), timeoutMs));
      this.timers.push(setTimeout(() => this.child.kill("SIGKILL"), 2 * timeoutMs));
    });
    return this.closing;
  }

  // Checks and writes one command; `wait` registers what answers it (nothing for "unwatch").
  private command<T>(
    what: string,
    options: CommandOptions,
    build: () => object,
    wait?: (waiter: Pending<T>) => void,
  ): Promise<T> {
    try {
      if (this.closing) throw new AgentError(`${what}: the agent is closed`, "CLOSED");
      if (this.failure) throw this.failure;
      if (options.signal?.aborted) throw aborted(what, options.signal);
      const line = JSON.stringify(build()) + "\n";
      if (Buffer.byteLength(line) - 1 > maxLineBytes) {
        throw new RangeError(`the command is longer than the agent reads (${maxLineBytes} bytes)`);
      }
      const answered = new Promise<T>((resolve, reject) => {
        if (!wait) return resolve(undefined as T);
        const pending = new Pending<T>(resolve, reject);
        pending.giveUpOn(options, what);
        wait(pending);
      });
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
    this.deliver(event.type, event);
    this.deliver("event", event, line);
  }

  // Each listener on its own: one that throws neither keeps the others from the event nor
  // reaches the line loop, which would drop the rest of the chunk and pair later answers with
  // the wrong commands. Its exception goes to the "error" listeners, or else is thrown on a
  // tick of its own, as an uncaught exception.
  private deliver(type: keyof AgentListeners, ...args: unknown[]): void {
    for (const listener of this.rawListeners(type)) {
      try {
        (listener as (...a: unknown[]) => void).apply(this, args);
      } catch (error) {
        if (this.listenerCount("error") > 0) this.deliver("error", error);
        else
          process.nextTick(() => {
            throw error;
          });
      }
    }
  }

  private finish(error: AgentError, status: ExitStatus | undefined): void {
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
    this.deliver("exit", status ?? { code: null, signal: null });
  }

  private lastStderrLines(): string {
    return this.stderrTail.trimEnd().split("\n").slice(-stderrShownLines).join("\n");
  }
}

/**
 * Starts the agent and resolves once it has said "ready" and reported its permissions, with the
 * agent and that report. Without `binaryPath` it runs `$DESKAGENT_BINARY`, else (in a packaged
 * Electron app) `deskagent` in the app's resources, else the binary of this platform's package
 * (`deskagent-linux-x64`, ...), else `deskagent` on the PATH. Rejects with an `AgentError` when
 * the agent cannot be started or ends first.
 */
export function spawnAgent(
  options?: SpawnOptions,
): Promise<{ agent: DeskAgent; permissions: PermissionsEvent }>;
export function spawnAgent(
  binaryPath: string | undefined,
  options?: SpawnOptions,
): Promise<{ agent: DeskAgent; permissions: PermissionsEvent }>;
export function spawnAgent(
  pathOrOptions?: string | SpawnOptions,
  options: SpawnOptions = {},
): Promise<{ agent: DeskAgent; permissions: PermissionsEvent }> {
  if (typeof pathOrOptions === "object") return spawnAgent(undefined, pathOrOptions);
  const binary = findAgentBinary(pathOrOptions);
  return DeskAgent.start(binary.file, options).catch((error: unknown) => {
    if (error instanceof AgentError && error.code === "ENOENT" && binary.source === "PATH") {
      throw new AgentError(
        `no deskagent binary: none given, DESKAGENT_BINARY unset, the package ` +
          `${platformPackageName()} not installed, and no deskagent on the PATH`,
        "ENOENT",
        { cause: error },
      );
    }
    throw error;
  });
}

