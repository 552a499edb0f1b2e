// WAV: a 44-byte header of 8-bit unsigned mono PCM, then the samples. The
// sizes in the header are completed at the end where the output can seek;
// elsewhere they say "unknown" (all ones), as for any stream.
#include <array>
#include <cstring>

#include "app/units.h"
#include "tools/render/sink_base.h"

namespace velmora::render {
namespace {

constexpr uint32_t kUnknown = 0xFFFFFFFFu;
constexpr int64_t kMostData = int64_t{kUnknown} - 36;  // the RIFF size must fit too

void PutLe(uint8_t* p, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

std::array<uint8_t, 44> WavHeader(uint32_t dataBytes) {
  std::array<uint8_t, 44> h{};
  std::memcpy(h.data(), "RIFF", 4);
  PutLe(&h[4], dataBytes > kUnknown - 36 ? kUnknown : dataBytes + 36, 4);
  std::memcpy(&h[8], "WAVEfmt ", 8);
  PutLe(&h[16], 16, 4);
  PutLe(&h[20], 1, 2);  // PCM
  PutLe(&h[22], 1, 2);  // mono
  PutLe(&h[24], kSampleRate, 4);
  PutLe(&h[28], kSampleRate, 4);  // bytes per second
  PutLe(&h[32], 1, 2);            // block align
  PutLe(&h[34], 8, 2);            // bits per sample
  std::memcpy(&h[36], "data", 4);
  PutLe(&h[40], dataBytes, 4);
  return h;
}

class WavSink final : public SinkBase {
 public:
  using SinkBase::SinkBase;
  ~WavSink() override { WavSink::Abandon(); }

  bool Start(std::string&) {
    StartWriter([this](const uint8_t* data, size_t count) { return WriteOut(data, count); });
    // Where the output can seek the header is written again at the end;
    // until then it says nothing of the length.
    const auto header = WavHeader(file_.Seekable() ? 0 : kUnknown);
    return Put(header.data(), header.size());
  }

  bool Write(const uint8_t* samples, size_t count) override {
    dataBytes_ += static_cast<int64_t>(count);
    if (dataBytes_ > kMostData) {
      SetError("the night is too long for a WAV file; use --format raw or flac");
      return false;
    }
    return Put(samples, count);
  }

  bool Finish() override {
    if (!StopWriter(false)) return false;
    if (file_.Seekable()) {
      const auto header = WavHeader(static_cast<uint32_t>(dataBytes_));
      if (!WriteBack(0, header.data(), header.size())) return false;
    }
    return Commit();
  }

  void Abandon() override { AbandonOutput(); }

 private:
  int64_t dataBytes_ = 0;
};

}  // namespace

std::unique_ptr<OutputSink> OpenWavSink(OutputFile file, std::string& error) {
  return StartSink<WavSink>(std::move(file), error);
}

}  // namespace velmora::render
