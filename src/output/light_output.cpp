#include "output/light_output.h"

namespace velmora {

void InitPortRegisters(SharedState& state, Port& port, Clock& clock) {
  clock.Sleep(5);
  port.PortWrite(state.lptControlPort, 0);
  port.PortWrite(state.lptDataPort, 255);
}

void LightWrites(LightThreadContext& light) {
  SharedState& s = light.state;
  for (int i = 0; i < 4; ++i) {
    const auto level = static_cast<int32_t>(light.counter % 64);
    ++light.counter;
    const bool lit = level < s.envelopeNow;
    light.port.PortWrite(s.lptDataPort, lit ? static_cast<uint8_t>(s.lptOnPattern.Load()) : 0);
  }
}

void LightThread(LightThreadContext& light) {
  SharedState& s = light.state;
  s.envelopeNow = 63;
  if (light.threads) light.threads->SetCurrentThreadPriority(ThreadPriority::kNormal);
  light.counter = 0;
  while (s.sleepRunning != 0) LightWrites(light);
  light.port.PortWrite(s.lptDataPort, 0);
  light.ended = 1;
}

}  // namespace velmora
