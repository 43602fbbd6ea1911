// The agent's events, exactly as they arrive on its standard output (one JSON object per line).

export type MicrophoneStatus = "not-determined" | "restricted" | "denied" | "granted" | "unknown";

/** Once, first. */
export interface ReadyEvent {
  type: "ready";
}

/** At start-up, in answer to `permissions()` and `request()`, and whenever one of the three changes. */
export interface PermissionsEvent {
  type: "permissions";
  accessibility: boolean;
  inputMonitoring: boolean;
  microphone: MicrophoneStatus;
}

/** The key tap was installed; `listening` says whether Input Monitoring access is granted. */
export interface TapInstalledEvent {
  type: "tap";
  active: true;
  listening: boolean;
}

/** The system refused the key tap; repeated every 2 s while a key is watched. */
export interface TapRefusedEvent {
  type: "tap";
  active: false;
  reason: "permission";
}

export type TapEvent = TapInstalledEvent | TapRefusedEvent;

/** A press or release of the watched key. */
export interface KeyEvent {
  type: "key";
  phase: "down" | "up";
  keyCode: number;
}

/** Why a paste or a selection read was refused. */
export type TransferRefusal = "accessibility" | "empty" | "clipboard";

export type PasteEvent =
  { type: "paste"; ok: true } | { type: "paste"; ok: false; reason: TransferRefusal };

export type SelectionEvent =
  | { type: "selection"; ok: true; text: string }
  | { type: "selection"; ok: false; reason: TransferRefusal };

export type AgentEvent =
  ReadyEvent | PermissionsEvent | TapEvent | KeyEvent | PasteEvent | SelectionEvent;

export type EventType = AgentEvent["type"];

/** The event of one type, e.g. `EventOf<"paste">` is `PasteEvent`. */
export type EventOf<T extends EventType> = Extract<AgentEvent, { type: T }>;

const eventTypes: ReadonlySet<string> = new Set<EventType>([
  "ready",
  "permissions",
  "tap",
  "key",
  "paste",
  "selection",
]);

/** One line of the agent's output as an event, or undefined for a line that is none. */
export function parseEvent(line: string): AgentEvent | undefined {
  let value: unknown;
  try {
    value = JSON.parse(line);
  } catch {
    return undefined;
  }
  if (typeof value !== "object" || value === null || Array.isArray(value)) return undefined;
  const type = (value as { type?: unknown }).type;
  return typeof type === "string" && eventTypes.has(type) ? (value as AgentEvent) : undefined;
}
