// Output sinks of velmora-render. Links libsndfile for FLAC and Ogg.
#include "tools/render/sinks.h"

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "app/units.h"

namespace velmora::render {
namespace {

std::string SystemError(const std::string& what, int error) {
  return what + ": " + std::strerror(error);
}

// A temporary file beside `path`, renamed over it at the end.
struct TempFile {
  std::string finalPath;
  std::string tempPath;
  int fd = -1;

  bool Create(const std::string& path, std::string& error) {
    finalPath = path;
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (base.empty()) {
      error = "'" + path + "' names a directory, not a file";
      return false;
    }
    std::string pattern((dir == "." ? std::string() : dir) + "." + base + ".partial-XXXXXX");
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    fd = mkstemp(buffer.data());
    if (fd < 0) {
      error = SystemError("cannot create '" + path + "'", errno);
      return false;
    }
    tempPath = buffer.data();
    fchmod(fd, 0644);
    return true;
  }

  // No fsync: it would tie a render to the disk's write-back speed (several
  // times the render itself); a render that fails or is killed still never
  // leaves a half file under the final name.
  bool Commit(std::string& error) {
    if (close(fd) != 0) {
      fd = -1;
      error = SystemError("cannot write '" + finalPath + "'", errno);
      return false;
    }
    fd = -1;
    if (std::rename(tempPath.c_str(), finalPath.c_str()) != 0) {
      error = SystemError("cannot rename to '" + finalPath + "'", errno);
      return false;
    }
    tempPath.clear();
    return true;
  }

  void Remove() {
    if (fd >= 0) close(fd);
    fd = -1;
    if (!tempPath.empty()) unlink(tempPath.c_str());
    tempPath.clear();
  }
};

// Writes everything or fails, retrying interrupted and partial writes.
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

// Raw samples or WAV, straight to a descriptor.
class StreamSink final : public OutputSink {
 public:
  StreamSink(AudioFormat format, bool toStdout) : format_(format), toStdout_(toStdout) {}

  bool Open(const std::string& path, std::string& error) {
    if (toStdout_) {
      fd_ = STDOUT_FILENO;
    } else {
      if (!temp_.Create(path, error)) return false;
      fd_ = temp_.fd;
    }
    if (format_ == AudioFormat::kWav) {
      // On a pipe the length is not known in advance: the sizes say "unknown".
      const auto header = WavHeader(toStdout_ ? 0xFFFFFFFFu : 0);
      return Put(header.data(), header.size());
    }
    return true;
  }

  bool Write(const uint8_t* samples, size_t count) override {
    dataBytes_ += static_cast<int64_t>(count);
    if (format_ == AudioFormat::kWav && dataBytes_ > 0xFFFFFFFFll - 36) {
      error_ = "the night is too long for a WAV file; use --format raw or flac";
      return false;
    }
    return Put(samples, count);
  }

  bool Finish() override {
    if (toStdout_) return true;
    if (format_ == AudioFormat::kWav) {
      const auto header = WavHeader(static_cast<uint32_t>(dataBytes_));
      if (pwrite(fd_, header.data(), header.size(), 0) != static_cast<ssize_t>(header.size())) {
        error_ = SystemError("cannot write '" + temp_.finalPath + "'", errno);
        return false;
      }
    }
    return temp_.Commit(error_);
  }

  void Abandon() override { temp_.Remove(); }
  const std::string& Error() const override { return error_; }
  int64_t BytesWritten() const override { return bytes_; }

 private:
  bool Put(const uint8_t* data, size_t count) {
    int error = 0;
    if (!WriteAll(fd_, data, count, error)) {
      error_ = SystemError(
          toStdout_ ? "cannot write to standard output" : "cannot write '" + temp_.finalPath + "'",
          error);
      return false;
    }
    bytes_ += static_cast<int64_t>(count);
    return true;
  }

  AudioFormat format_;
  bool toStdout_;
  TempFile temp_;
  int fd_ = -1;
  int64_t dataBytes_ = 0;
  int64_t bytes_ = 0;
  std::string error_;
};

// FLAC (8-bit) or Ogg Vorbis through libsndfile.
class SndfileSink final : public OutputSink {
 public:
  SndfileSink(AudioFormat format, bool toStdout) : format_(format), toStdout_(toStdout) {}
  ~SndfileSink() override {
    if (file_) sf_close(file_);
  }

  bool Open(const std::string& path, std::string& error) {
    SF_INFO info{};
    info.samplerate = kSampleRate;
    info.channels = 1;
    info.format = format_ == AudioFormat::kFlac ? (SF_FORMAT_FLAC | SF_FORMAT_PCM_S8)
                                                : (SF_FORMAT_OGG | SF_FORMAT_VORBIS);
    int fd = STDOUT_FILENO;
    if (!toStdout_) {
      if (!temp_.Create(path, error)) return false;
      fd = temp_.fd;
    }
    file_ = sf_open_fd(fd, SFM_WRITE, &info, SF_FALSE);
    if (!file_) {
      error = std::string("cannot start the ") + FormatName(format_) +
              " stream: " + sf_strerror(nullptr);
      return false;
    }
    return true;
  }

  bool Write(const uint8_t* samples, size_t count) override {
    buffer_.resize(count);
    for (size_t i = 0; i < count; ++i) {
      buffer_[i] = static_cast<short>((static_cast<int>(samples[i]) - 128) * 256);
    }
    if (sf_write_short(file_, buffer_.data(), static_cast<sf_count_t>(count)) !=
        static_cast<sf_count_t>(count)) {
      error_ =
          std::string("cannot write the ") + FormatName(format_) + " stream: " + sf_strerror(file_);
      return false;
    }
    return true;
  }

  bool Finish() override {
    const int status = sf_close(file_);
    file_ = nullptr;
    if (status != 0) {
      error_ = std::string("cannot finish the ") + FormatName(format_) +
               " stream: " + sf_error_number(status);
      return false;
    }
    if (toStdout_) return true;
    struct stat st {};
    if (fstat(temp_.fd, &st) == 0) bytes_ = st.st_size;
    return temp_.Commit(error_);
  }

  void Abandon() override {
    if (file_) sf_close(file_);
    file_ = nullptr;
    temp_.Remove();
  }
  const std::string& Error() const override { return error_; }
  int64_t BytesWritten() const override { return bytes_; }

 private:
  AudioFormat format_;
  bool toStdout_;
  TempFile temp_;
  SNDFILE* file_ = nullptr;
  std::vector<short> buffer_;
  int64_t bytes_ = 0;
  std::string error_;
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
  const bool toStdout = path == "-";
  if (format == AudioFormat::kWav || format == AudioFormat::kRaw) {
    auto sink = std::make_unique<StreamSink>(format, toStdout);
    if (!sink->Open(path, error)) {
      sink->Abandon();
      return nullptr;
    }
    return sink;
  }
  auto sink = std::make_unique<SndfileSink>(format, toStdout);
  if (!sink->Open(path, error)) {
    sink->Abandon();
    return nullptr;
  }
  return sink;
}

}  // namespace velmora::render
