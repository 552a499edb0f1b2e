// Where a render's bytes go, decided before anything is written:
// - a new name or an existing regular file: a temporary file beside it,
//   renamed over it when complete (an existing file keeps its permission
//   bits; one the user may not write is refused, not replaced);
// - a symbolic link: followed, and its target treated by these rules; the
//   link stays a link;
// - a device, a FIFO, a socket, "-" or a name of an open descriptor
//   (/dev/stdout, /dev/fd/N): written in place, as a stream that cannot seek,
//   and never removed, truncated or renamed over;
// - a directory: refused.
// Errors name the path as the user gave it and the system's reason.
//
// Thread safety: Open, Commit and Abandon from the main thread; Fd may be
// written from any one thread between them.
#pragma once

#include <sys/stat.h>

#include <string>

namespace velmora::render {

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile() { Abandon(); }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // False with `error` when the path cannot be written; nothing is left then.
  bool Open(const std::string& path, std::string& error);

  int Fd() const { return fd_; }
  // Written in place: no seeking, nothing to rename.
  bool InPlace() const { return inPlace_; }
  const std::string& Given() const { return given_; }

  // Closes; a temporary file is renamed over the final name. False with `error`.
  bool Commit(std::string& error);
  // Closes; a temporary file is removed, an existing output stays as it was.
  void Abandon();

 private:
  bool CreateTemporary(const std::string& target, const struct stat* existing, std::string& error);
  bool OpenInPlace(const std::string& target, bool socket, std::string& error);
  bool Adopt(int descriptor, std::string& error);
  // The descriptor just opened (or its errno) as an in-place stream.
  bool TakeStream(std::string& error);
  std::string Failure(const std::string& what, int error) const;

  std::string given_;
  std::string finalPath_;
  std::string tempPath_;
  int fd_ = -1;
  bool inPlace_ = false;
};

// Follows `path` through symbolic links, as deep as the system follows them,
// to a name that is not a link (it may not exist). False with errno set
// (ELOOP when the chain is too long).
bool FollowLinks(const std::string& path, std::string& target);

}  // namespace velmora::render
