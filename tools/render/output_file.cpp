#include "tools/render/output_file.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <utility>
#include <vector>

namespace velmora::render {
namespace {

// Linux follows at most 40 links while resolving one name (MAXSYMLINKS).
constexpr int kMaxLinks = 40;

std::string Folder(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The descriptor a name stands for: "-", /dev/stdout, /dev/stderr,
// /dev/fd/N, /proc/self/fd/N. Such a name is the descriptor the program was
// given (its offset, its append mode), not a file to replace.
std::optional<int> NamedDescriptor(const std::string& given) {
  if (given == "-") return STDOUT_FILENO;
  const std::string path = std::filesystem::path(given).lexically_normal().string();
  if (path == "/dev/stdout") return STDOUT_FILENO;
  if (path == "/dev/stderr") return STDERR_FILENO;
  for (const char* prefix : {"/dev/fd/", "/proc/self/fd/"}) {
    const size_t n = std::strlen(prefix);
    if (path.compare(0, n, prefix) != 0 || path.size() == n || path.size() > n + 6) continue;
    if (path.find_first_not_of("0123456789", n) != std::string::npos) return std::nullopt;
    return std::stoi(path.substr(n));
  }
  return std::nullopt;
}

// Follows `path` through symbolic links, as deep as the system follows them,
// to a name that is not a link (it may not exist) or that names an open
// descriptor. False with errno set (ELOOP when the chain is too long).
bool FollowLinks(const std::string& path, std::string& target) {
  target = path;
  for (int links = 0;; ++links) {
    if (NamedDescriptor(target)) return true;
    struct stat st {};
    if (lstat(target.c_str(), &st) != 0) return errno == ENOENT;
    if (!S_ISLNK(st.st_mode)) return true;
    if (links == kMaxLinks) {
      errno = ELOOP;
      return false;
    }
    std::vector<char> buffer(static_cast<size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1);
    const ssize_t n = readlink(target.c_str(), buffer.data(), buffer.size());
    if (n < 0) return false;
    if (static_cast<size_t>(n) >= buffer.size()) {  // the link grew meanwhile
      errno = ENAMETOOLONG;
      return false;
    }
    const std::string next(buffer.data(), static_cast<size_t>(n));
    target = next.front() == '/' ? next : Folder(target).append(next);
  }
}

mode_t CurrentUmask() {
  const mode_t mask = umask(0);
  umask(mask);
  return mask;
}

// Flushes a folder's entries to the disk. Filesystems that cannot (EINVAL)
// keep them as they do.
int SyncFolder(const std::string& folder) {
  const int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  const int why = fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
  close(fd);
  return why;
}

}  // namespace

OutputFile::OutputFile(OutputFile&& other) noexcept
    : given_(std::move(other.given_)),
      target_(std::move(other.target_)),
      tempPath_(std::exchange(other.tempPath_, {})),
      existing_(other.existing_),
      exists_(other.exists_),
      descriptor_(other.descriptor_),
      socket_(other.socket_),
      fd_(std::exchange(other.fd_, -1)),
      inPlace_(other.inPlace_),
      seekable_(other.seekable_),
      start_(other.start_) {}

std::string OutputFile::Failure(const std::string& what, int error) const {
  return what + " '" + given_ + "': " + std::strerror(error);
}

std::string OutputFile::WriteFailure(int why) const {
  return given_ == "-" ? std::string("cannot write to standard output: ") + std::strerror(why)
                       : Failure("cannot write", why);
}

bool OutputFile::Choose(const std::string& path, std::string& error) {
  given_ = path;
  if (!FollowLinks(path, target_)) {
    error = Failure("cannot write", errno);
    return false;
  }
  if (const std::optional<int> descriptor = NamedDescriptor(target_)) {
    descriptor_ = *descriptor;
    inPlace_ = true;
    return true;
  }
  struct stat st {};
  if (stat(target_.c_str(), &st) != 0) {
    if (errno != ENOENT) {
      error = Failure("cannot write", errno);
      return false;
    }
    return true;  // a new file
  }
  if (S_ISDIR(st.st_mode)) {
    error = "'" + path + "' is a directory";
    return false;
  }
  if (S_ISREG(st.st_mode)) {
    if (faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) != 0) {
      error = Failure("cannot write", errno);
      return false;
    }
    existing_ = st;
    exists_ = true;
    return true;
  }
  inPlace_ = true;
  socket_ = S_ISSOCK(st.st_mode);
  return true;
}

bool OutputFile::Open(std::string& error) {
  return inPlace_ ? OpenInPlace(error) : CreateTemporary(error);
}

bool OutputFile::Open(const std::string& path, std::string& error) {
  return Choose(path, error) && Open(error);
}

bool OutputFile::CreateTemporary(std::string& error) {
  const std::string folder = Folder(target_);
  const std::string pattern = folder + "." + BaseName(target_) + ".partial-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  fd_ = mkostemp(name.data(), O_CLOEXEC);
  if (fd_ < 0) {
    const int why = errno;
    error = !exists_ ? Failure("cannot create", why)
                     : "cannot write '" + given_ + "': cannot make a temporary file in '" +
                           (folder.empty() ? "." : folder) + "': " + std::strerror(why);
    return false;
  }
  tempPath_ = name.data();
  seekable_ = true;
  if (exists_) {
    fchmod(fd_, existing_.st_mode & 07777);
    // Root rewriting someone's file gives it back to them; elsewhere this
    // fails harmlessly and the file is the writer's, as any new file.
    if (geteuid() == 0) (void)!fchown(fd_, existing_.st_uid, existing_.st_gid);
  } else {
    fchmod(fd_, 0666 & ~CurrentUmask());
  }
  return true;
}

bool OutputFile::OpenInPlace(std::string& error) {
  if (descriptor_ >= 0) return DuplicateDescriptor(descriptor_, error);
  if (socket_) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (target_.size() >= sizeof address.sun_path) {
      error = Failure("cannot write", ENAMETOOLONG);
      return false;
    }
    std::memcpy(address.sun_path, target_.c_str(), target_.size() + 1);
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      const int why = errno;
      close(fd_);
      fd_ = -1;
      errno = why;
    }
  } else {
    fd_ = open(target_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  }
  return OpenedInPlace(error);
}

bool OutputFile::DuplicateDescriptor(int descriptor, std::string& error) {
  fd_ = fcntl(descriptor, F_DUPFD_CLOEXEC, 3);
  return OpenedInPlace(error);
}

bool OutputFile::OpenedInPlace(std::string& error) {
  if (fd_ < 0) {
    error = Failure("cannot write", errno);
    return false;
  }
  struct stat st {};
  if (fstat(fd_, &st) != 0) st.st_mode = 0;
  // A pipe holds 64 KiB unless asked for more: with room for a whole write
  // (1 MiB, the most an ordinary user may ask) the writer and the reader
  // take turns sixteen times less often. Refused, the pipe stays as it was.
  if (S_ISFIFO(st.st_mode)) (void)fcntl(fd_, F_SETPIPE_SZ, 1 << 20);
  // Appending, every write goes to the end whatever the offset asked.
  const int flags = fcntl(fd_, F_GETFL);
  start_ = lseek(fd_, 0, SEEK_CUR);
  seekable_ = (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode)) && start_ >= 0 && flags >= 0 &&
              (flags & O_APPEND) == 0;
  return true;
}

bool OutputFile::Write(const uint8_t* data, size_t count, int& why) {
  while (count > 0) {
    const ssize_t n = ::write(fd_, data, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      why = errno;
      return false;
    }
    data += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

bool OutputFile::WriteAt(int64_t offset, const uint8_t* data, size_t count, int& why) {
  for (off_t at = start_ + offset; count > 0;) {
    const ssize_t n = pwrite(fd_, data, count, at);
    if (n < 0) {
      if (errno == EINTR) continue;
      why = errno;
      return false;
    }
    data += n;
    at += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

int64_t OutputFile::Length() const {
  struct stat st {};
  return fstat(fd_, &st) == 0 ? st.st_size - start_ : -1;
}

bool OutputFile::Commit(std::string& error) {
  const int fd = std::exchange(fd_, -1);
  if (!tempPath_.empty() && fsync(fd) != 0) {
    error = Failure("cannot write", errno);
    close(fd);
    Abandon();
    return false;
  }
  if (fd >= 0 && close(fd) != 0) {
    error = Failure("cannot write", errno);
    Abandon();
    return false;
  }
  if (tempPath_.empty()) return true;
  if (std::rename(tempPath_.c_str(), target_.c_str()) != 0) {
    error = Failure("cannot rename to", errno);
    Abandon();
    return false;
  }
  tempPath_.clear();
  if (const int why = SyncFolder(Folder(target_)); why != 0) {
    // The name is in place but may not survive a power cut.
    error = Failure("cannot flush the folder of", why);
    return false;
  }
  return true;
}

void OutputFile::Abandon() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  if (!tempPath_.empty()) unlink(tempPath_.c_str());
  tempPath_.clear();
}

}  // namespace velmora::render
