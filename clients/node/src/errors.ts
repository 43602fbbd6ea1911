// Why a start or a command failed, by code, with the underlying error as its cause.

/** How the agent's process ended: an exit code, or the signal that ended it. */
export interface ExitStatus {
  code: number | null;
  signal: NodeJS.Signals | null;
}

/**
 * `code` says why:
 * - a system error code (`ENOENT`, `EACCES`, ...): the binary could not be started;
 * - `EXITED`: the agent ended before it was ready or before it answered (see `status`);
 * - `CLOSED`: the command came after `close()`;
 * - `TIMEOUT`: no answer (or, at the start, no "ready") within the time given;
 * - `ABORT_ERR`: the command's `signal` was aborted (`cause` is the signal's reason).
 */
export type AgentErrorCode = "EXITED" | "CLOSED" | "TIMEOUT" | "ABORT_ERR" | (string & {});

export class AgentError extends Error {
  constructor(
    message: string,
    readonly code: AgentErrorCode,
    options: {
      cause?: unknown;
      /** How the process ended, when it ran and ended. */
      status?: ExitStatus | undefined;
      /** The last lines the agent wrote to standard error, if any. */
      stderr?: string;
    } = {},
  ) {
    const stderr = options.stderr ?? "";
    super(
      stderr ? `${message}; its last words on stderr: ${stderr}` : message,
      options.cause !== undefined ? { cause: options.cause } : undefined,
    );
    this.name = "AgentError";
    this.status = options.status;
    this.stderr = stderr;
  }

  readonly status: ExitStatus | undefined;
  readonly stderr: string;
}

/** The name this class had before it carried codes; the same class. */
export const AgentExitError = AgentError;
export type AgentExitError = AgentError;
