// Win32 wave device: the default wave output opened with window notification
// (CALLBACK_WINDOW), so MM_WOM_DONE and MM_WOM_CLOSE arrive as messages of
// the main window, on the window thread. Each ring header gets a WAVEHDR of
// its own pointing at the same bytes (no copy); its user field leads a
// finished-block message back to the ring's header.
//
// Thread safety: window thread only.
#pragma once

#include <array>

#include "app/units.h"
#include "platform/wave_device.h"
#include "platform/win32/win32_window_host.h"
#include "platform/win32/windows_api.h"

namespace velmora {

class Win32WaveDevice final : public WaveDevice, public WaveMessageSink {
 public:
  explicit Win32WaveDevice(Win32WindowHost& host) : host_(host) {}

  bool Open(const WaveFormat& format, WaveNoticeTarget& target) override;
  void Prepare(WaveHeader& header) override;
  void Write(WaveHeader& header) override;
  void Unprepare(WaveHeader& header) override;
  // Stops the output at once (every queued block comes back as done),
  // unprepares every header and closes the device: afterwards no block is
  // read.
  void Close() override;

  void OnWaveMessage(UINT message, LPARAM lParam) override;

  // The system's header of a block, made at its first use.
  WAVEHDR* SystemHeader(WaveHeader& header);

 private:
  Win32WindowHost& host_;
  HWAVEOUT out_ = nullptr;
  WaveNoticeTarget* target_ = nullptr;
  std::array<WaveHeader*, kRingBlocks> owners_{};
  std::array<WAVEHDR, kRingBlocks> headers_{};
  int used_ = 0;
};

}  // namespace velmora
