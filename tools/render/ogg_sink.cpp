// Ogg Vorbis through libsndfile. libsndfile writes through virtual I/O, so
// its every byte, the last page written as it closes included, goes through
// the sink's checked write. Where the output can seek, a write back into
// what went out is made there; elsewhere it is dropped: a stream keeps the
// header it began with.
#include <sndfile.h>

#include <algorithm>
#include <vector>

#include "app/units.h"
#include "tools/render/sink_base.h"

namespace velmora::render {
namespace {

class OggSink final : public SinkBase {
 public:
  using SinkBase::SinkBase;
  ~OggSink() override { OggSink::Abandon(); }

  bool Start(std::string& error) {
    SF_INFO info{};
    info.samplerate = kSampleRate;
    info.channels = 1;
    info.format = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    static SF_VIRTUAL_IO io = {&LengthCallback, &SeekCallback, &ReadCallback, &WriteCallback,
                               &TellCallback};
    sndfile_ = sf_open_virtual(&io, SFM_WRITE, &info, this);
    if (sndfile_ == nullptr || Failed()) {
      error =
          Failed() ? Error() : std::string("cannot start the ogg stream: ") + sf_strerror(nullptr);
      Abandon();
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
    // A write that failed inside the close is the sink's error already.
    if (status != 0 || Failed()) {
      SetError(std::string("cannot finish the ogg stream: ") + sf_error_number(status));
      return false;
    }
    return Commit();
  }

  void Abandon() override {
    StopWriter(true);
    if (sndfile_ != nullptr) {
      abandoned_ = true;  // what the close writes goes nowhere
      sf_close(sndfile_);
      sndfile_ = nullptr;
    }
    AbandonOutput();
  }

 private:
  // Writer thread. The encoder gets a slice at a time: libsndfile hands a
  // whole write to Vorbis's analysis buffer, which keeps twice the largest
  // one it was given, as floats, for the rest of the night.
  bool Encode(const uint8_t* samples, size_t count) {
    while (count > 0) {
      const size_t n = std::min(count, shorts_.size());
      for (size_t i = 0; i < n; ++i) {
        shorts_[i] = static_cast<short>((static_cast<int>(samples[i]) - kSilence) * 256);
      }
      if (sf_write_short(sndfile_, shorts_.data(), static_cast<sf_count_t>(n)) !=
              static_cast<sf_count_t>(n) ||
          Failed()) {
        SetError(std::string("cannot write the ogg stream: ") + sf_strerror(sndfile_));
        return false;
      }
      samples += n;
      count -= n;
    }
    return true;
  }

  // The virtual stream: `position_` is where libsndfile is, `end_` how far
  // the output reaches.
  static sf_count_t LengthCallback(void* self) { return static_cast<OggSink*>(self)->end_; }
  static sf_count_t TellCallback(void* self) { return static_cast<OggSink*>(self)->position_; }
  static sf_count_t ReadCallback(void*, sf_count_t, void*) { return 0; }
  static sf_count_t SeekCallback(sf_count_t offset, int whence, void* self) {
    auto* s = static_cast<OggSink*>(self);
    const sf_count_t base = whence == SEEK_CUR ? s->position_ : whence == SEEK_END ? s->end_ : 0;
    if (base + offset < 0) return -1;
    s->position_ = base + offset;
    return s->position_;
  }
  static sf_count_t WriteCallback(const void* data, sf_count_t count, void* self) {
    auto* s = static_cast<OggSink*>(self);
    return s->WriteAtPosition(static_cast<const uint8_t*>(data), count) ? count : 0;
  }

  bool WriteAtPosition(const uint8_t* data, sf_count_t count) {
    if (abandoned_ || Failed()) return false;
    if (position_ < end_) {
      // Back into what went out: there where the output can seek, dropped
      // where it cannot.
      const sf_count_t back = std::min(count, end_ - position_);
      if (file_.Seekable() && !WriteBack(position_, data, static_cast<size_t>(back))) return false;
      position_ += back;
      data += back;
      count -= back;
    }
    if (count == 0) return true;
    if (position_ > end_) {
      SetError("cannot write the ogg stream: a gap in the output");
      return false;
    }
    if (!WriteOut(data, static_cast<size_t>(count))) return false;
    position_ += count;
    end_ = position_;
    return true;
  }

  SNDFILE* sndfile_ = nullptr;
  bool abandoned_ = false;
  std::vector<short> shorts_ = std::vector<short>(size_t{1} << 14);
  sf_count_t position_ = 0;
  sf_count_t end_ = 0;
};

}  // namespace

std::unique_ptr<OutputSink> OpenOggSink(OutputFile file, std::string& error) {
  return StartSink<OggSink>(std::move(file), error);
}

}  // namespace velmora::render
