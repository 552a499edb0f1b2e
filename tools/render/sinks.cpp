// Output sinks of velmora-render. Links libFLAC for FLAC and libsndfile for
// Ogg Vorbis.
#include "tools/render/sinks.h"

#include <FLAC/stream_encoder.h>
#include <md5.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

#include "app/units.h"
#include "tools/render/output_file.h"
#include "tools/render/write_behind.h"

// libFLAC exports this setter (its own command-line tool's --no-md5-sum uses
// it) but leaves it out of its public headers. Weak, so that a libFLAC without
// it still serves: the encoder then takes the checksum too, to the same value.
extern "C" FLAC__bool FLAC__stream_encoder_set_do_md5(  // NOLINT(bugprone-reserved-identifier)
    FLAC__StreamEncoder* encoder, FLAC__bool value) __attribute__((weak));

namespace velmora::render {
namespace {

// Writes everything or fails with the system's error, retrying interrupted
// and partial writes.
bool WriteAll(int fd, const uint8_t* data, size_t count, int& error) {
  while (count > 0) {
    const ssize_t n = ::write(fd, data, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      return false;
    }
    data += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

void PutLe(uint8_t* p, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// A standard 44-byte header of 8-bit unsigned mono PCM at the sample rate.
std::array<uint8_t, 44> WavHeader(uint32_t dataBytes) {
  std::array<uint8_t, 44> h{};
  std::memcpy(h.data(), "RIFF", 4);
  PutLe(&h[4], dataBytes > 0xFFFFFFFFu - 36 ? 0xFFFFFFFFu : dataBytes + 36, 4);
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

// What every sink shares: the output file, the writer thread in front of it,
// and the first error, whichever thread met it.
class SinkBase : public OutputSink {
 public:
  bool ReaderGone() const override { return readerGone_; }
  const std::string& Error() const override { return error_; }
  int64_t BytesWritten() const override { return bytes_; }

 protected:
  bool OpenOutput(const std::string& path, std::string& error) { return file_.Open(path, error); }
  void StartWriter(WriteBehind::WriteFunction write) {
    writer_ = std::make_unique<WriteBehind>(std::move(write));
  }
  bool Put(const uint8_t* data, size_t count) { return writer_->Put(data, count); }
  bool StopWriter(bool discard) { return writer_ == nullptr || writer_->Close(discard); }

  // Writer thread (and the main thread before the writer starts or after it ends).
  bool WriteFd(const uint8_t* data, size_t count) {
    int why = 0;
    if (!WriteAll(file_.Fd(), data, count, why)) {
      Fail(why);
      return false;
    }
    bytes_ += static_cast<int64_t>(count);
    return true;
  }
  void Fail(int why) {
    if (why == EPIPE) readerGone_ = true;
    SetError(file_.Given() == "-"
                 ? std::string("cannot write to standard output: ") + std::strerror(why)
                 : "cannot write '" + file_.Given() + "': " + std::strerror(why));
  }
  void SetError(const std::string& why) {
    if (error_.empty()) error_ = why;
  }
  // Writes `count` bytes over what went out at `at`: a header completed at
  // the end.
  bool Rewrite(off_t at, const uint8_t* data, size_t count) {
    if (pwrite(file_.Fd(), data, count, at) == static_cast<ssize_t>(count)) return true;
    Fail(errno);
    return false;
  }
  // Puts the finished output under its name.
  bool Commit() {
    std::string error;
    if (file_.Commit(error)) return true;
    SetError(error);
    return false;
  }

  OutputFile file_;
  int64_t bytes_ = 0;

 private:
  std::unique_ptr<WriteBehind> writer_;
  std::string error_;
  bool readerGone_ = false;
};

// Raw samples or WAV, straight to the descriptor.
class StreamSink final : public SinkBase {
 public:
  explicit StreamSink(AudioFormat format) : format_(format) {}
  ~StreamSink() override { StreamSink::Abandon(); }

  bool Open(const std::string& path, std::string& error) {
    if (!OpenOutput(path, error)) return false;
    StartWriter([this](const uint8_t* data, size_t count) { return WriteFd(data, count); });
    if (format_ == AudioFormat::kWav) {
      // Where the output cannot seek the length is not known in advance: the
      // sizes say "unknown", as for a stream.
      const auto header = WavHeader(file_.InPlace() ? 0xFFFFFFFFu : 0);
      Put(header.data(), header.size());
    }
    return true;
  }

  bool Write(const uint8_t* samples, size_t count) override {
    dataBytes_ += static_cast<int64_t>(count);
    if (format_ == AudioFormat::kWav && dataBytes_ > 0xFFFFFFFFll - 36) {
      SetError("the night is too long for a WAV file; use --format raw or flac");
      return false;
    }
    return Put(samples, count);
  }

  bool Finish() override {
    if (!StopWriter(false)) return false;
    if (format_ == AudioFormat::kWav && !file_.InPlace()) {
      const auto header = WavHeader(static_cast<uint32_t>(dataBytes_));
      if (!Rewrite(0, header.data(), header.size())) return false;
    }
    return Commit();
  }

  void Abandon() override {
    StopWriter(true);
    file_.Abandon();
  }

 private:
  AudioFormat format_;
  int64_t dataBytes_ = 0;
};

// FLAC, 8-bit, through libFLAC at its fastest level: fixed predictors only,
// which on a night's pulses is also the smallest (37 MB against 48 MB for the
// default level, whose linear prediction only adds coefficients). The encoder
// is the slow part of a FLAC night and has the writer thread to itself: the
// producer turns the samples signed and takes the header's MD5 of them.
//
// A file's header is completed at the end (the totals by the encoder, the MD5
// by the sink); on an output that cannot seek the header says "unknown" for
// both, as for any stream.
class FlacSink final : public SinkBase {
 public:
  ~FlacSink() override { FlacSink::Abandon(); }

  bool Open(const std::string& path, std::string& error) {
    if (!OpenOutput(path, error)) return false;
    seekable_ = !file_.InPlace();
    MD5Init(&md5_);
    encoder_ = FLAC__stream_encoder_new();
    bool ok = encoder_ != nullptr && FLAC__stream_encoder_set_channels(encoder_, 1) &&
              FLAC__stream_encoder_set_bits_per_sample(encoder_, 8) &&
              FLAC__stream_encoder_set_sample_rate(encoder_, kSampleRate) &&
              FLAC__stream_encoder_set_compression_level(encoder_, 0);
    if (ok && FLAC__stream_encoder_set_do_md5 != nullptr) {
      ok = FLAC__stream_encoder_set_do_md5(encoder_, false);
    }
    ok = ok && FLAC__stream_encoder_init_stream(encoder_, &WriteOut, seekable_ ? &SeekOut : nullptr,
                                                seekable_ ? &TellOut : nullptr, nullptr,
                                                this) == FLAC__STREAM_ENCODER_INIT_STATUS_OK;
    ok = ok && Flush();
    if (!ok) {
      error = Error().empty() ? std::string("cannot start the flac stream") : Error();
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
    if (seekable_) {
      // STREAMINFO's MD5 field: after "fLaC", the block's header and 18
      // bytes of sizes, rate and totals.
      constexpr off_t kMd5At = 4 + 4 + 18;
      std::array<uint8_t, MD5_DIGEST_LENGTH> digest{};
      MD5Final(digest.data(), &md5_);
      if (!Rewrite(kMd5At, digest.data(), digest.size())) return false;
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
    file_.Abandon();
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
    const bool ok = out_.empty() || WriteFd(out_.data(), out_.size());
    out_.clear();
    return ok;
  }
  static FLAC__StreamEncoderWriteStatus WriteOut(const FLAC__StreamEncoder*,
                                                 const FLAC__byte data[], size_t count, uint32_t,
                                                 uint32_t, void* self) {
    auto* s = static_cast<FlacSink*>(self);
    if (s->abandoned_) return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    const uint64_t end = static_cast<uint64_t>(s->bytes_) + s->out_.size();
    if (s->position_ == end) {
      s->out_.insert(s->out_.end(), data, data + count);
      if (s->out_.size() >= kOutBytes && !s->Flush()) {
        return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
      }
    } else if (!s->Rewrite(static_cast<off_t>(s->position_), data, count)) {
      return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    }
    s->position_ += count;
    return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
  }
  static FLAC__StreamEncoderSeekStatus SeekOut(const FLAC__StreamEncoder*, FLAC__uint64 offset,
                                               void* self) {
    auto* s = static_cast<FlacSink*>(self);
    if (s->abandoned_ || !s->Flush()) return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
    s->position_ = offset;
    return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
  }
  static FLAC__StreamEncoderTellStatus TellOut(const FLAC__StreamEncoder*, FLAC__uint64* offset,
                                               void* self) {
    *offset = static_cast<FlacSink*>(self)->position_;
    return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
  }

  FLAC__StreamEncoder* encoder_ = nullptr;
  bool seekable_ = false;
  bool abandoned_ = false;
  MD5_CTX md5_{};                                                        // producer
  std::vector<uint8_t> signed_ = std::vector<uint8_t>(size_t{1} << 16);  // producer
  std::vector<FLAC__int32> wide_ = std::vector<FLAC__int32>(kChunk);     // writer thread
  std::vector<uint8_t> out_;
  uint64_t position_ = 0;
};

// Ogg Vorbis through libsndfile. A file is handed over by its descriptor; an
// output that cannot seek goes through virtual I/O, where a return to the
// start is dropped: a stream keeps the header it began with.
class SndfileSink final : public SinkBase {
 public:
  ~SndfileSink() override { SndfileSink::Abandon(); }

  bool Open(const std::string& path, std::string& error) {
    if (!OpenOutput(path, error)) return false;
    SF_INFO info{};
    info.samplerate = kSampleRate;
    info.channels = 1;
    info.format = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    if (file_.InPlace()) {
      static SF_VIRTUAL_IO io = {&Length, &Seek, &Read, &WriteStream, &Tell};
      sndfile_ = sf_open_virtual(&io, SFM_WRITE, &info, this);
    } else {
      sndfile_ = sf_open_fd(file_.Fd(), SFM_WRITE, &info, SF_FALSE);
    }
    if (sndfile_ == nullptr) {
      error = std::string("cannot start the ogg stream: ") + sf_strerror(nullptr);
      file_.Abandon();
      return false;
    }
    StartWriter([this](const uint8_t* data, size_t count) { return Encode(data, count); });
    return true;
  }

  bool Write(const uint8_t* samples, size_t count) override { return Put(samples, count); }

  bool Finish() override {
    if (!StopWriter(false)) return false;
    const int status = sf_close(sndfile_);
    sndfile_ = nullptr;
    if (status != 0 || !Error().empty()) {
      SetError(std::string("cannot finish the ogg stream: ") + sf_error_number(status));
      return false;
    }
    if (!file_.InPlace()) {
      struct stat st {};
      if (fstat(file_.Fd(), &st) == 0) bytes_ = st.st_size;
    }
    return Commit();
  }

  void Abandon() override {
    StopWriter(true);
    if (sndfile_ != nullptr) sf_close(sndfile_);
    sndfile_ = nullptr;
    file_.Abandon();
  }

 private:
  // Writer thread. The encoder gets a slice at a time: libsndfile hands a
  // whole write to Vorbis's analysis buffer, which keeps twice the largest
  // one it was given as floats (a 1 MiB write held 8 MB for the rest of the
  // night).
  bool Encode(const uint8_t* samples, size_t count) {
    while (count > 0) {
      const size_t n = std::min(count, shorts_.size());
      for (size_t i = 0; i < n; ++i) {
        shorts_[i] = static_cast<short>((static_cast<int>(samples[i]) - kSilence) * 256);
      }
      if (sf_write_short(sndfile_, shorts_.data(), static_cast<sf_count_t>(n)) !=
          static_cast<sf_count_t>(n)) {
        SetError(std::string("cannot write the ogg stream: ") + sf_strerror(sndfile_));
        return false;
      }
      samples += n;
      count -= n;
    }
    return true;
  }

  // The virtual stream: `position_` is where libsndfile believes it is,
  // `bytes_` how much really went out.
  static sf_count_t Length(void* self) { return static_cast<SndfileSink*>(self)->bytes_; }
  static sf_count_t Tell(void* self) { return static_cast<SndfileSink*>(self)->position_; }
  static sf_count_t Read(void*, sf_count_t, void*) { return 0; }
  static sf_count_t Seek(sf_count_t offset, int whence, void* self) {
    auto* s = static_cast<SndfileSink*>(self);
    const sf_count_t base = whence == SEEK_CUR ? s->position_ : whence == SEEK_END ? s->bytes_ : 0;
    if (base + offset < 0) return -1;
    s->position_ = base + offset;
    return s->position_;
  }
  static sf_count_t WriteStream(const void* data, sf_count_t count, void* self) {
    auto* s = static_cast<SndfileSink*>(self);
    if (s->position_ != s->bytes_) {  // a rewrite of what has gone: dropped
      s->position_ += count;
      return count;
    }
    if (!s->WriteFd(static_cast<const uint8_t*>(data), static_cast<size_t>(count))) return 0;
    s->position_ += count;
    return count;
  }

  SNDFILE* sndfile_ = nullptr;
  std::vector<short> shorts_ = std::vector<short>(size_t{1} << 14);
  sf_count_t position_ = 0;
};

}  // namespace

const char* FormatName(AudioFormat format) {
  switch (format) {
    case AudioFormat::kWav:
      return "wav";
    case AudioFormat::kFlac:
      return "flac";
    case AudioFormat::kOgg:
      return "ogg";
    case AudioFormat::kRaw:
      return "raw";
  }
  return "?";
}

bool FormatFromName(const std::string& name, AudioFormat& format) {
  for (AudioFormat f :
       {AudioFormat::kWav, AudioFormat::kFlac, AudioFormat::kOgg, AudioFormat::kRaw}) {
    if (name == FormatName(f)) {
      format = f;
      return true;
    }
  }
  return false;
}

std::unique_ptr<OutputSink> OpenSink(const std::string& path, AudioFormat format,
                                     std::string& error) {
  if (format == AudioFormat::kWav || format == AudioFormat::kRaw) {
    auto sink = std::make_unique<StreamSink>(format);
    if (!sink->Open(path, error)) return nullptr;
    return sink;
  }
  if (format == AudioFormat::kFlac) {
    auto sink = std::make_unique<FlacSink>();
    if (!sink->Open(path, error)) return nullptr;
    return sink;
  }
  auto sink = std::make_unique<SndfileSink>();
  if (!sink->Open(path, error)) return nullptr;
  return sink;
}

}  // namespace velmora::render
