// Win32 wave device: the default wave output opened with window notification
// (CALLBACK_WINDOW), so MM_WOM_DONE and MM_WOM_CLOSE arrive as messages of
// the main window, on the window thread. Each ring header gets a WAVEHDR of
// its own pointing at the same bytes (no copy); its user field leads a
// finished-block message back to the ring's header.
//
// A device that cannot be opened, that stops handing blocks back (none for
// 3 s while some are queued) or whose waveOutWrite fails is said lost; it is
// then reset, closed, and WAVE_MAPPER (which follows the default device) is
// opened again once a second by the host's wave timer until it opens. A
// close that fails is reset and tried once more before the handle is given
// up; the headers then start afresh. A notice of a handle given up is not
// taken for the present one's, whatever the handles' values. Only the close
// velmora asked for is passed on as the device's close, once.
//
// Thread safety: window thread only.
#pragma once

#include <array>
#include <cstdint>

#include "app/units.h"
#include "platform/clock.h"
#include "platform/wave_device.h"
#include "platform/win32/win32_window_host.h"
#include "platform/win32/windows_api.h"

namespace velmora {

// The WinMM calls the device makes and its clock, so that a test can put a
// layer of its own in their place.
struct WinMm {
  MMRESULT(WINAPI* open)
  (LPHWAVEOUT, UINT, LPCWAVEFORMATEX, DWORD_PTR, DWORD_PTR, DWORD) = &waveOutOpen;
  MMRESULT(WINAPI* prepare)(HWAVEOUT, LPWAVEHDR, UINT) = &waveOutPrepareHeader;
  MMRESULT(WINAPI* write)(HWAVEOUT, LPWAVEHDR, UINT) = &waveOutWrite;
  MMRESULT(WINAPI* unprepare)(HWAVEOUT, LPWAVEHDR, UINT) = &waveOutUnprepareHeader;
  MMRESULT(WINAPI* reset)(HWAVEOUT) = &waveOutReset;
  MMRESULT(WINAPI* close)(HWAVEOUT) = &waveOutClose;
  // Milliseconds awake (sleep and hibernation left out, so a suspend is not
  // taken for a device that stopped).
  int64_t (*nowMs)() = &AwakeMilliseconds;
};

class Win32WaveDevice final : public WaveDevice, public WaveMessageSink {
 public:
  explicit Win32WaveDevice(Win32WindowHost& host, const WinMm& mm = {}) : host_(host), mm_(mm) {}

  bool Open(const WaveFormat& format, WaveNoticeTarget& target, std::string& why) override;
  void Prepare(WaveHeader& header) override;
  void Write(WaveHeader& header) override;
  void Unprepare(WaveHeader& header) override;
  // Stops the output at once (every queued block comes back as done),
  // unprepares every header and closes the device: afterwards no block is
  // read, and no reopen is tried.
  void Close() override;

  void OnWaveMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  // Once a second: a lost device is found, a reopen tried.
  void OnWaveTimer() override;

  // The system's header of a block, made at its first use.
  WAVEHDR* SystemHeader(WaveHeader& header);

  // How long blocks may stay queued without one coming back.
  static constexpr int64_t kSilentDeviceMs = 3000;

  // How many closes have failed (each followed by a reset and one more try).
  int CloseFailures() const { return closeFailures_; }

 private:
  bool TryOpen(std::string& why);
  // Resets, unprepares and closes the present handle, if any.
  void Release();
  void GoAway(const std::string& reason);
  int IndexOf(const WaveHeader& header) const;
  // Header i as at its first use: unprepared, in flight nowhere.
  void FreshHeader(int i);

  Win32WindowHost& host_;
  WinMm mm_;
  WAVEFORMATEX wave_{};
  HWAVEOUT out_ = nullptr;
  WaveNoticeTarget* target_ = nullptr;
  bool wanted_ = false;   // opened by the ring and not closed since
  bool away_ = false;     // wanted, but no device plays
  bool closing_ = false;  // the close notice is velmora's own
  bool writeFailed_ = false;
  int queued_ = 0;  // written and not yet back
  int64_t lastProgressMs_ = 0;
  std::array<WaveHeader*, kRingBlocks> owners_{};
  std::array<WAVEHDR, kRingBlocks> headers_{};
  std::array<bool, kRingBlocks> inFlight_{};  // written to the present handle, not back
  int used_ = 0;
  int closeFailures_ = 0;
};

}  // namespace velmora
