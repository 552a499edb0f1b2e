// Where a render's bytes go, decided before anything is written:
// - a new name or an existing regular file: a temporary file beside it,
//   renamed over it when complete (an existing file keeps its permission
//   bits; one the user may not write is refused, not replaced);
// - a symbolic link: followed, and its target treated by these rules; the
//   link stays a link;
// - a device, a FIFO, a socket, "-" or a name of an open descriptor
//   (/dev/stdout, /dev/fd/N, /proc/self/fd/N, or a link to one of them):
//   written in place, and never removed, truncated or renamed over;
// - a directory: refused.
// Errors name the path as the user gave it and the system's reason.
//
// Apart from that choice, the descriptor says whether the output can seek: a
// regular file or a block device, not opened for appending (standard output
// redirected to a file can; a pipe cannot). Headers are completed at the end
// only where it can.
//
// "Done" lasts: a temporary file is flushed to the disk before it is renamed,
// and its folder after, so after a power cut the name holds either the whole
// new output or what it held before. Outputs written in place are not
// flushed: they belong to whoever gave them.
//
// Thread safety: Choose, Open, Commit and Abandon from one thread; the writes
// from any one thread between Open and Commit.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace velmora::render {

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile() { Abandon(); }
  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&&) = delete;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Decides how `path` ("-" for standard output) is written, without writing
  // anything. False with `error` when it cannot be written.
  bool Choose(const std::string& path, std::string& error);
  // Written under a temporary name and renamed when complete (rather than in
  // place).
  bool Replaces() const { return !inPlace_; }
  // Makes the temporary file, or opens the output in place (for a FIFO, this
  // waits for its reader). False with `error`; nothing is left then.
  bool Open(std::string& error);
  // Choose, then Open.
  bool Open(const std::string& path, std::string& error);

  // The temporary file, while there is one.
  const std::string& TemporaryPath() const { return tempPath_; }
  // The output as the user named it ("-" for standard output).
  const std::string& NameGiven() const { return given_; }
  // The output can be written back at any offset from its start.
  bool Seekable() const { return seekable_; }

  // Writes all of `data` after what went before; false with the system's
  // reason in `why` (an errno value).
  bool Write(const uint8_t* data, size_t count, int& why);
  // Writes `data` over the output from `offset` on (seekable outputs only).
  bool WriteAt(int64_t offset, const uint8_t* data, size_t count, int& why);
  // The length so far (seekable outputs only; -1 when it cannot be told).
  int64_t Length() const;
  // "cannot write 'NAME': REASON", or "... to standard output".
  std::string WriteFailure(int why) const;

  // Closes; a temporary file is flushed, renamed over the final name, and
  // the folder flushed. False with `error`.
  bool Commit(std::string& error);
  // Closes; a temporary file is removed, an existing output stays as it was.
  void Abandon();

 private:
  bool CreateTemporary(std::string& error);
  bool OpenInPlace(std::string& error);
  bool DuplicateDescriptor(int descriptor, std::string& error);
  // The descriptor just opened in place (or errno, when there is none).
  bool OpenedInPlace(std::string& error);
  std::string Failure(const std::string& what, int error) const;

  std::string given_;
  std::string target_;    // the name the links lead to
  std::string tempPath_;  // the temporary file, while it exists
  struct stat existing_ {};
  bool exists_ = false;  // target_ is an existing regular file
  int descriptor_ = -1;  // a descriptor the name stands for
  bool socket_ = false;  // target_ is a socket, connected to rather than opened
  int fd_ = -1;
  bool inPlace_ = false;
  bool seekable_ = false;
  int64_t start_ = 0;  // where the output begins on the descriptor
};

}  // namespace velmora::render
