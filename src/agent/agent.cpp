#include "agent/agent.hpp"

#include "agent/protocol.hpp"

namespace deskagent {

namespace {

std::map<std::int64_t, std::uint64_t> makeDeviceFlagTable() {
  return {
      {63, 0x800000},  // Fn: NX_SECONDARYFNMASK
      {57, 0x10000},   // Caps Lock: NX_ALPHASHIFTMASK
      {54, 0x10},      // Right Command: NX_DEVICERCMDKEYMASK
      {55, 0x8},       // Left Command: NX_DEVICELCMDKEYMASK
      {58, 0x20},      // Left Option: NX_DEVICELALTKEYMASK
      {61, 0x40},      // Right Option: NX_DEVICERALTKEYMASK
      {59, 0x1},       // Left Control: NX_DEVICELCTLKEYMASK
      {62, 0x2000},    // Right Control: NX_DEVICERCTLKEYMASK
      {56, 0x2},       // Left Shift: NX_DEVICELSHIFTKEYMASK
      {60, 0x4},       // Right Shift: NX_DEVICERSHIFTKEYMASK
  };
}

}  // namespace

Agent::Agent(MainLoop& loop, platform::Platform& platform, OutputSink output)
    : loop(loop),
      platform(platform),
      output(std::move(output)),
      deviceFlagForKeyCode(makeDeviceFlagTable()),
      watcher(std::make_shared<ModifierWatcher>(*this)),
      transfers() {}

void Agent::start() {
  emit(*this, Event{{"type", "ready"}});
  emitPermissions(*this);
  watcher->startAccessWatch();
}

}  // namespace deskagent
