// Where the agent binary is when the host names none: the environment, an Electron app's
// resources, the package of the running platform, the PATH.

import * as fs from "node:fs";
import * as path from "node:path";

/** The npm package that brings the agent for this platform, e.g. `deskagent-linux-x64`. */
export function platformPackageName(
  platform: string = process.platform,
  arch: string = process.arch,
): string {
  return `deskagent-${platform}-${arch}`;
}

function executableName(): string {
  return process.platform === "win32" ? "deskagent.exe" : "deskagent";
}

// Files inside an asar archive cannot be executed; electron-builder's `asarUnpack` (and Forge's
// `asar.unpack`) put them beside it, in app.asar.unpacked, at the same relative path.
function outsideAsar(file: string): string {
  const asar = `${path.sep}app.asar${path.sep}`;
  return file.includes(asar) ? file.replace(asar, `${path.sep}app.asar.unpacked${path.sep}`) : file;
}

function packageBinary(): string | undefined {
  try {
    const manifest = require.resolve(`${platformPackageName()}/package.json`);
    return outsideAsar(path.join(path.dirname(manifest), "bin", executableName()));
  } catch {
    return undefined;
  }
}

// Electron sets process.resourcesPath; a binary shipped with `extraResources` lies there.
function electronResourceBinary(): string | undefined {
  const resources = (process as { resourcesPath?: string }).resourcesPath;
  if (typeof resources !== "string") return undefined;
  const file = path.join(resources, executableName());
  return fs.existsSync(file) ? file : undefined;
}

/** Where `spawnAgent` looks, in order, and what it found. */
export interface BinaryChoice {
  /** The file to start, or a bare name that the PATH resolves. */
  file: string;
  /** Where it came from, for error messages. */
  source: "argument" | "DESKAGENT_BINARY" | "Electron resources" | "package" | "PATH";
}

/**
 * The agent binary to start: `explicit` when given; else `$DESKAGENT_BINARY`; else, in a packaged
 * Electron app, `deskagent` in its resources; else the binary of the installed platform package
 * (outside the asar archive); else `deskagent` on the PATH.
 */
export function findAgentBinary(explicit?: string): BinaryChoice {
  if (explicit !== undefined) return { file: explicit, source: "argument" };
  const fromEnv = process.env["DESKAGENT_BINARY"];
  if (fromEnv) return { file: fromEnv, source: "DESKAGENT_BINARY" };
  const resource = electronResourceBinary();
  if (resource) return { file: resource, source: "Electron resources" };
  const packaged = packageBinary();
  if (packaged) return { file: packaged, source: "package" };
  return { file: "deskagent", source: "PATH" };
}
