export * from "./events";
export * from "./keys";
export { DeskAgent, spawnAgent } from "./agent";
export type { AgentListeners, CommandOptions, RequestScope, SpawnOptions } from "./agent";
export { findAgentBinary, platformPackageName } from "./binary";
export type { BinaryChoice } from "./binary";
export { AgentError, AgentExitError } from "./errors";
export type { AgentErrorCode, ExitStatus } from "./errors";
