#include "platform/win32/win32_wave_device.h"

#include <string>

namespace velmora {

bool Win32WaveDevice::Open(const WaveFormat& format, WaveNoticeTarget& target, std::string& why) {
  target_ = &target;
  wanted_ = true;
  host_.SetWaveMessageSink(this);
  host_.StartWaveTimer();
  wave_ = {};
  wave_.wFormatTag = format.formatTag;
  wave_.nChannels = format.channels;
  wave_.nSamplesPerSec = format.samplesPerSec;
  wave_.nAvgBytesPerSec = format.avgBytesPerSec;
  wave_.nBlockAlign = format.blockAlign;
  wave_.wBitsPerSample = format.bitsPerSample;
  wave_.cbSize = format.extraSize;
  if (TryOpen(why)) return true;
  away_ = true;
  return false;
}

bool Win32WaveDevice::TryOpen(std::string& why) {
  HWAVEOUT out = nullptr;
  const MMRESULT result = mm_.open(&out, WAVE_MAPPER, &wave_,
                                   reinterpret_cast<DWORD_PTR>(host_.Window()), 0, CALLBACK_WINDOW);
  if (result != MMSYSERR_NOERROR) {
    why = "wave output error " + std::to_string(result);
    return false;
  }
  out_ = out;
  queued_ = 0;
  writeFailed_ = false;
  return true;
}

int Win32WaveDevice::IndexOf(const WaveHeader& header) const {
  for (int i = 0; i < used_; ++i) {
    if (owners_[i] == &header) return i;
  }
  return -1;
}

void Win32WaveDevice::FreshHeader(int i) {
  WAVEHDR& h = headers_[i];
  h = {};
  // The samples are read in place; the ring keeps them as 64-bit words in
  // little-endian order, which is the byte order the device reads.
  h.lpData = reinterpret_cast<LPSTR>(owners_[i]->data);
  h.dwBufferLength = static_cast<DWORD>(owners_[i]->bufferLength);
  h.dwUser = reinterpret_cast<DWORD_PTR>(owners_[i]);
  // Each block is a loop of its own, played once.
  h.dwFlags = WHDR_BEGINLOOP | WHDR_ENDLOOP;
  h.dwLoops = 1;
  owners_[i]->prepared = false;
  inFlight_[i] = false;
}

WAVEHDR* Win32WaveDevice::SystemHeader(WaveHeader& header) {
  const int known = IndexOf(header);
  if (known >= 0) return &headers_[known];
  if (used_ == static_cast<int>(headers_.size())) return nullptr;
  owners_[used_] = &header;
  FreshHeader(used_);
  return &headers_[used_++];
}

void Win32WaveDevice::Prepare(WaveHeader& header) {
  WAVEHDR* h = SystemHeader(header);
  if (out_ == nullptr || h == nullptr) return;
  // Preparing a prepared header does nothing, as the ring expects.
  if (mm_.prepare(out_, h, sizeof(WAVEHDR)) == MMSYSERR_NOERROR) header.prepared = true;
}

void Win32WaveDevice::Write(WaveHeader& header) {
  WAVEHDR* h = SystemHeader(header);
  if (out_ == nullptr || h == nullptr) return;
  if (mm_.write(out_, h, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
    // Said at the next timer tick, not from inside the ring's own call.
    writeFailed_ = true;
    return;
  }
  inFlight_[IndexOf(header)] = true;
  if (queued_ == 0) lastProgressMs_ = mm_.nowMs();
  ++queued_;
}

void Win32WaveDevice::Unprepare(WaveHeader& header) {
  WAVEHDR* h = SystemHeader(header);
  if (out_ == nullptr || h == nullptr) return;
  // A header still queued stays prepared (the call answers "still playing").
  if (mm_.unprepare(out_, h, sizeof(WAVEHDR)) == MMSYSERR_NOERROR) header.prepared = false;
}

void Win32WaveDevice::Release() {
  if (out_ == nullptr) return;
  // A handle that does not close (a block still playing, a driver that is
  // slow to let go) is reset and tried once more before it is given up.
  for (int attempt = 0; attempt < 2; ++attempt) {
    mm_.reset(out_);
    for (int i = 0; i < used_; ++i) mm_.unprepare(out_, &headers_[i], sizeof(WAVEHDR));
    const MMRESULT closed = mm_.close(out_);
    if (closed == MMSYSERR_NOERROR) break;
    closeFailures_ += 1;
  }
  // The headers start afresh for the next handle, whatever the old one holds:
  // a header the driver still takes for prepared would not be prepared again.
  for (int i = 0; i < used_; ++i) FreshHeader(i);
  out_ = nullptr;
  queued_ = 0;
}

void Win32WaveDevice::Close() {
  wanted_ = false;
  away_ = false;
  if (out_ == nullptr) return;
  closing_ = true;
  Release();
}

void Win32WaveDevice::GoAway(const std::string& reason) {
  // The blocks the reset hands back, and the close, come as messages of the
  // old handle: they are not passed on.
  Release();
  away_ = true;
  writeFailed_ = false;
  target_->OnWaveLost(reason);
}

void Win32WaveDevice::OnWaveTimer() {
  if (!wanted_) return;
  if (away_) {
    std::string why;
    if (TryOpen(why)) {
      away_ = false;
      target_->OnWaveBack();
    }
    return;
  }
  if (writeFailed_) {
    GoAway("a block could not be written");
  } else if (queued_ > 0 && mm_.nowMs() - lastProgressMs_ >= kSilentDeviceMs) {
    GoAway("no block came back for 3 s");
  }
}

void Win32WaveDevice::OnWaveMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (target_ == nullptr) return;
  const auto* from = reinterpret_cast<const void*>(wParam);
  if (message == MM_WOM_DONE) {
    // A block of a handle given up (a lost device's reset) was not played.
    if (out_ == nullptr || from != reinterpret_cast<const void*>(out_)) return;
    // Our own headers lead back to the ring's; anything else is passed on as
    // it came, and the ring does not take it for one of its own.
    const auto* h = reinterpret_cast<const WAVEHDR*>(lParam);
    WaveHeader* header = reinterpret_cast<WaveHeader*>(lParam);
    for (int i = 0; i < used_; ++i) {
      if (&headers_[i] != h) continue;
      // Only a block written to the present handle and done comes back: a
      // late notice of a handle given up may carry the value the present
      // one has now, but its header is not in flight (or, written again,
      // not done).
      if (!inFlight_[i] || (h->dwFlags & WHDR_DONE) == 0) return;
      inFlight_[i] = false;
      header = owners_[i];
    }
    if (queued_ > 0) --queued_;
    lastProgressMs_ = mm_.nowMs();
    target_->OnWaveBlockDone(header);
  } else if (message == MM_WOM_CLOSE && closing_) {
    closing_ = false;
    target_->OnWaveClosed();
  }
}

}  // namespace velmora
