#include "app/output_start.h"

namespace velmora {
namespace {

void GeneratorEntry(void* generator) {
  GeneratorThread(*static_cast<Generator*>(generator));
}
void LightEntry(void* light) {
  LightThread(*static_cast<LightThreadContext*>(light));
}

}  // namespace

StartResult StartOutput(SharedState& s, const OutputServices& sv, OutputParts& parts,
                        const CreationPause& pause) {
  std::string noDevice;
  if (s.soundMode == 1) {
    if (!OpenAudioRing(parts.ring, s, sv.waveDevice, parts.notices, noDevice)) {
      if (noDevice.empty()) noDevice = "it would not open";
      DeviceLost(parts.ring, sv.clock.MonotonicMs());
    }
    parts.ring.lastBlockBackMs = sv.clock.MonotonicMs();  // block 0 begins
    parts.generator.ring = parts.ring.storage;
  } else {
    const PortAccessResult access = sv.portAccess->SetUpPortAccess(s.lptDataPort);
    if (access == PortAccessResult::kFailed) {
      sv.portAccess->ReportFailure(*sv.host);
      return {false, 0, {}};
    }
    if (access == PortAccessResult::kNewlyInstalled) return {false, 0, {}};
    InitPortRegisters(s, sv.port, sv.clock);
  }
  s.tickCount = 0;
  s.playedMs = 0;
  s.blocksQueued = 0;

  // A headless run has no lights: it brings no light thread's context.
  if (s.lightLevel != 0 && parts.light != nullptr) {
    s.lightThreadHandle = sv.threads.Start(&LightEntry, parts.light, kWorkerStackBytes);
    if (s.lightThreadHandle.Load() == nullptr) return {false, 1, {}};
  }
  s.generatorThreadHandle = sv.threads.Start(&GeneratorEntry, &parts.generator, kWorkerStackBytes);
  if (s.generatorThreadHandle.Load() == nullptr) return {false, 1, {}};
  // The end of the pause may come after this returns: it keeps no reference
  // to the caller's records but the state, the host and the ring.
  pause(kCreationPauseMs, [&s, host = sv.host, &ring = parts.ring] {
    if (s.soundMode == 1) QueueNextBlock(ring, s);
    // A headless run has no window tick: it stands in for the device itself.
    if (host != nullptr && (s.soundMode == 0 || ring.deviceAway)) {
      host->StartTimer(kTickTimerId, 1000);
    }
  });
  return {true, 0, noDevice};
}

}  // namespace velmora
