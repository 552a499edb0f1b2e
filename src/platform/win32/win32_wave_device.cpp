#include "platform/win32/win32_wave_device.h"

#include <cstdio>

namespace velmora {

bool Win32WaveDevice::Open(const WaveFormat& format, WaveNoticeTarget& target) {
  target_ = &target;
  host_.SetWaveMessageSink(this);
  WAVEFORMATEX wave{};
  wave.wFormatTag = format.formatTag;
  wave.nChannels = format.channels;
  wave.nSamplesPerSec = format.samplesPerSec;
  wave.nAvgBytesPerSec = format.avgBytesPerSec;
  wave.nBlockAlign = format.blockAlign;
  wave.wBitsPerSample = format.bitsPerSample;
  wave.cbSize = format.extraSize;
  const MMRESULT result = waveOutOpen(
      &out_, WAVE_MAPPER, &wave, reinterpret_cast<DWORD_PTR>(host_.Window()), 0, CALLBACK_WINDOW);
  if (result != MMSYSERR_NOERROR) {
    out_ = nullptr;
    std::fprintf(stderr,
                 "velmora: no sound device (wave output error %u); the window runs without "
                 "sound, and velmora-render writes a night to a file\n",
                 static_cast<unsigned>(result));
    std::fflush(stderr);
    return false;
  }
  return true;
}

WAVEHDR* Win32WaveDevice::SystemHeader(WaveHeader& header) {
  for (int i = 0; i < used_; ++i) {
    if (owners_[i] == &header) return &headers_[i];
  }
  if (used_ == static_cast<int>(headers_.size())) return nullptr;
  owners_[used_] = &header;
  WAVEHDR& h = headers_[used_++];
  // The samples are read in place; the ring keeps them as 64-bit words in
  // little-endian order, which is the byte order the device reads.
  h.lpData = reinterpret_cast<LPSTR>(header.data);
  h.dwBufferLength = static_cast<DWORD>(header.bufferLength);
  h.dwUser = reinterpret_cast<DWORD_PTR>(&header);
  // Each block is a loop of its own, played once.
  h.dwFlags = WHDR_BEGINLOOP | WHDR_ENDLOOP;
  h.dwLoops = 1;
  return &h;
}

void Win32WaveDevice::Prepare(WaveHeader& header) {
  WAVEHDR* h = SystemHeader(header);
  if (out_ == nullptr || h == nullptr) return;
  // Preparing a prepared header does nothing, as the ring expects.
  if (waveOutPrepareHeader(out_, h, sizeof(WAVEHDR)) == MMSYSERR_NOERROR) header.prepared = true;
}

void Win32WaveDevice::Write(WaveHeader& header) {
  WAVEHDR* h = SystemHeader(header);
  if (out_ == nullptr || h == nullptr) return;
  waveOutWrite(out_, h, sizeof(WAVEHDR));
}

void Win32WaveDevice::Unprepare(WaveHeader& header) {
  WAVEHDR* h = SystemHeader(header);
  if (out_ == nullptr || h == nullptr) return;
  // A header still queued stays prepared (the call answers "still playing").
  if (waveOutUnprepareHeader(out_, h, sizeof(WAVEHDR)) == MMSYSERR_NOERROR) {
    header.prepared = false;
  }
}

void Win32WaveDevice::Close() {
  if (out_ == nullptr) return;
  waveOutReset(out_);
  for (int i = 0; i < used_; ++i) {
    if (waveOutUnprepareHeader(out_, &headers_[i], sizeof(WAVEHDR)) == MMSYSERR_NOERROR) {
      owners_[i]->prepared = false;
    }
  }
  waveOutClose(out_);
  out_ = nullptr;
}

void Win32WaveDevice::OnWaveMessage(UINT message, LPARAM lParam) {
  if (target_ == nullptr) return;
  if (message == MM_WOM_DONE) {
    // Our own headers lead back to the ring's; anything else is passed on as
    // it came, and the ring does not take it for one of its own.
    const auto* h = reinterpret_cast<const WAVEHDR*>(lParam);
    WaveHeader* header = reinterpret_cast<WaveHeader*>(lParam);
    for (int i = 0; i < used_; ++i) {
      if (&headers_[i] == h) header = owners_[i];
    }
    target_->OnWaveBlockDone(header);
  } else if (message == MM_WOM_CLOSE) {
    target_->OnWaveClosed();
  }
}

}  // namespace velmora
