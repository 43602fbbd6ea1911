// The watchable keys, by the macOS virtual key codes the agent speaks on every platform.

export const Key = {
  fn: 63,
  capsLock: 57,
  leftCommand: 55,
  rightCommand: 54,
  leftOption: 58,
  rightOption: 61,
  leftControl: 59,
  rightControl: 62,
  leftShift: 56,
  rightShift: 60,
} as const;

export type KeyName = keyof typeof Key;

const names = new Map<number, KeyName>(
  (Object.keys(Key) as KeyName[]).map((name) => [Key[name], name]),
);

/** The name of a watchable key's code (`keyName(61)` is `"rightOption"`), or undefined. */
export function keyName(code: number): KeyName | undefined {
  return names.get(code);
}
