export * from "./events";
export * from "./keys";
export { AgentExitError, DeskAgent, spawnAgent } from "./agent";
export type { AgentListeners, ExitStatus, RequestScope, SpawnOptions } from "./agent";
