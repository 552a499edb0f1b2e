// FLAC, 8-bit, through libFLAC at its fastest level: fixed predictors only,
// which on a night's pulses is also the smallest (the default level's linear
// prediction only adds coefficients). The encoder is the slow part of a FLAC
// night and has the writer thread to itself: the producer turns the samples
// signed and takes the header's MD5 of them.
//
// The header (STREAMINFO) is completed at the end where the output can seek:
// the totals by the encoder, the MD5 by the sink. Elsewhere it says
// "unknown" for both, as for any stream.
#include <FLAC/stream_encoder.h>
#include <md5.h>

#include <algorithm>
#include <array>
#include <vector>

#include "app/units.h"
#include "tools/render/sink_base.h"

// libFLAC exports this setter (its own command-line tool's --no-md5-sum uses
// it) but leaves it out of its public headers. Weak, so that a libFLAC without
// it still serves: the encoder then takes the checksum too, to the same value.
extern "C" FLAC__bool FLAC__stream_encoder_set_do_md5(  // NOLINT(bugprone-reserved-identifier)
    FLAC__StreamEncoder* encoder, FLAC__bool value) __attribute__((weak));

namespace velmora::render {
namespace {

class FlacSink final : public SinkBase {
 public:
  using SinkBase::SinkBase;
  ~FlacSink() override { FlacSink::Abandon(); }

  bool Start(std::string& error) {
    MD5Init(&md5_);
    encoder_ = FLAC__stream_encoder_new();
    bool ok = encoder_ != nullptr && FLAC__stream_encoder_set_channels(encoder_, 1) &&
              FLAC__stream_encoder_set_bits_per_sample(encoder_, 8) &&
              FLAC__stream_encoder_set_sample_rate(encoder_, kSampleRate) &&
              FLAC__stream_encoder_set_compression_level(encoder_, 0);
    if (ok && FLAC__stream_encoder_set_do_md5 != nullptr) {
      ok = FLAC__stream_encoder_set_do_md5(encoder_, false);
    }
    const bool seekable = file_.Seekable();
    ok = ok && FLAC__stream_encoder_init_stream(encoder_, &WriteCallback,
                                                seekable ? &SeekCallback : nullptr,
                                                seekable ? &TellCallback : nullptr, nullptr,
                                                this) == FLAC__STREAM_ENCODER_INIT_STATUS_OK;
    ok = ok && Flush();
    if (!ok) {
      error = Failed() ? Error() : std::string("cannot start the flac stream");
      Abandon();
      return false;
    }
    StartWriter([this](const uint8_t* data, size_t count) { return Encode(data, count); });
    return true;
  }

  bool Write(const uint8_t* samples, size_t count) override {
    while (count > 0) {
      const size_t n = std::min(count, signed_.size());
      for (size_t i = 0; i < n; ++i) signed_[i] = samples[i] ^ 0x80;  // (s - 128) as a byte
      MD5Update(&md5_, signed_.data(), n);
      if (!Put(signed_.data(), n)) return false;
      samples += n;
      count -= n;
    }
    return true;
  }

  bool Finish() override {
    if (!StopWriter(false)) return false;
    const bool finished = FLAC__stream_encoder_finish(encoder_) != 0;
    if (!finished || !Flush()) {
      SetError(std::string("cannot finish the flac stream: ") + EncoderState());
      return false;
    }
    if (file_.Seekable()) {
      // STREAMINFO's MD5 field: after "fLaC", the block's header and 18
      // bytes of sizes, rate and totals.
      constexpr int64_t kMd5At = 4 + 4 + 18;
      std::array<uint8_t, MD5_DIGEST_LENGTH> digest{};
      MD5Final(digest.data(), &md5_);
      if (!WriteBack(kMd5At, digest.data(), digest.size())) return false;
    }
    FLAC__stream_encoder_delete(encoder_);
    encoder_ = nullptr;
    return Commit();
  }

  void Abandon() override {
    StopWriter(true);
    if (encoder_ != nullptr) {
      abandoned_ = true;  // the encoder's own finish writes nothing more
      FLAC__stream_encoder_delete(encoder_);
      encoder_ = nullptr;
    }
    AbandonOutput();
  }

 private:
  static constexpr size_t kOutBytes = size_t{1} << 20;
  static constexpr size_t kChunk = size_t{1} << 14;

  const char* EncoderState() const {
    return FLAC__StreamEncoderStateString[FLAC__stream_encoder_get_state(encoder_)];
  }

  // Writer thread: the signed bytes, widened for the encoder.
  bool Encode(const uint8_t* data, size_t count) {
    while (count > 0) {
      const size_t n = std::min(count, kChunk);
      for (size_t i = 0; i < n; ++i) wide_[i] = static_cast<FLAC__int32>(data[i] ^ 0x80) - 128;
      const FLAC__int32* channels[1] = {wide_.data()};
      if (!FLAC__stream_encoder_process(encoder_, channels, static_cast<uint32_t>(n))) {
        SetError(std::string("cannot write the flac stream: ") + EncoderState());
        return false;
      }
      data += n;
      count -= n;
    }
    return true;
  }

  // The encoder's output, a frame of a few dozen bytes at a time, goes out in
  // large writes. `position_` is where the encoder is; it is behind the end
  // only while the header is completed at the end.
  bool Flush() {
    const bool ok = out_.empty() || WriteOut(out_.data(), out_.size());
    out_.clear();
    return ok;
  }
  static FLAC__StreamEncoderWriteStatus WriteCallback(const FLAC__StreamEncoder*,
                                                      const FLAC__byte data[], size_t count,
                                                      uint32_t, uint32_t, void* self) {
    auto* s = static_cast<FlacSink*>(self);
    if (s->abandoned_) return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    const uint64_t end = static_cast<uint64_t>(s->bytes_.load()) + s->out_.size();
    if (s->position_ == end) {
      s->out_.insert(s->out_.end(), data, data + count);
      if (s->out_.size() >= kOutBytes && !s->Flush()) {
        return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
      }
    } else if (!s->WriteBack(static_cast<int64_t>(s->position_), data, count)) {
      return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    }
    s->position_ += count;
    return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
  }
  static FLAC__StreamEncoderSeekStatus SeekCallback(const FLAC__StreamEncoder*, FLAC__uint64 offset,
                                                    void* self) {
    auto* s = static_cast<FlacSink*>(self);
    if (s->abandoned_ || !s->Flush()) return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
    s->position_ = offset;
    return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
  }
  static FLAC__StreamEncoderTellStatus TellCallback(const FLAC__StreamEncoder*,
                                                    FLAC__uint64* offset, void* self) {
    *offset = static_cast<FlacSink*>(self)->position_;
    return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
  }

  FLAC__StreamEncoder* encoder_ = nullptr;
  bool abandoned_ = false;
  MD5_CTX md5_{};                                                        // producer
  std::vector<uint8_t> signed_ = std::vector<uint8_t>(size_t{1} << 16);  // producer
  std::vector<FLAC__int32> wide_ = std::vector<FLAC__int32>(kChunk);     // writer thread
  std::vector<uint8_t> out_;
  uint64_t position_ = 0;
};

}  // namespace

std::unique_ptr<OutputSink> OpenFlacSink(OutputFile file, std::string& error) {
  return StartSink<FlacSink>(std::move(file), error);
}

}  // namespace velmora::render
