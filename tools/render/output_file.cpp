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
#include <optional>
#include <vector>

#include "tools/render/interrupts.h"

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
std::optional<int> NamedDescriptor(const std::string& path) {
  if (path == "-" || path == "/dev/stdout") return STDOUT_FILENO;
  if (path == "/dev/stderr") return STDERR_FILENO;
  for (const char* prefix : {"/dev/fd/", "/proc/self/fd/"}) {
    const size_t n = std::strlen(prefix);
    if (path.compare(0, n, prefix) != 0 || path.size() == n || path.size() > n + 6) continue;
    if (path.find_first_not_of("0123456789", n) != std::string::npos) return std::nullopt;
    return std::stoi(path.substr(n));
  }
  return std::nullopt;
}

mode_t CurrentUmask() {
  const mode_t mask = umask(0);
  umask(mask);
  return mask;
}

}  // namespace

bool FollowLinks(const std::string& path, std::string& target) {
  target = path;
  for (int links = 0;; ++links) {
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

std::string OutputFile::Failure(const std::string& what, int error) const {
  return what + " '" + given_ + "': " + std::strerror(error);
}

bool OutputFile::Open(const std::string& path, std::string& error) {
  given_ = path;
  if (const std::optional<int> descriptor = NamedDescriptor(path)) return Adopt(*descriptor, error);
  std::string target;
  if (!FollowLinks(path, target)) {
    error = Failure("cannot write", errno);
    return false;
  }
  struct stat st {};
  if (stat(target.c_str(), &st) != 0) {
    if (errno != ENOENT) {
      error = Failure("cannot write", errno);
      return false;
    }
    return CreateTemporary(target, nullptr, error);
  }
  if (S_ISDIR(st.st_mode)) {
    error = "'" + path + "' is a directory";
    return false;
  }
  if (S_ISREG(st.st_mode)) {
    if (faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
      error = Failure("cannot write", errno);
      return false;
    }
    return CreateTemporary(target, &st, error);
  }
  return OpenInPlace(target, S_ISSOCK(st.st_mode), error);
}

bool OutputFile::CreateTemporary(const std::string& target, const struct stat* existing,
                                 std::string& error) {
  const std::string folder = Folder(target);
  const std::string pattern = folder + "." + BaseName(target) + ".partial-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  {
    interrupts::SignalsBlocked blocked;
    fd_ = mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0) {
      const int why = errno;
      error = existing == nullptr
                  ? Failure("cannot create", why)
                  : "cannot write '" + given_ + "': cannot make a temporary file in '" +
                        (folder.empty() ? "." : folder) + "': " + std::strerror(why);
      return false;
    }
    tempPath_ = name.data();
    interrupts::SetTemporary(tempPath_);
  }
  finalPath_ = target;
  if (existing != nullptr) {
    fchmod(fd_, existing->st_mode & 07777);
    // Root rewriting someone's file gives it back to them; elsewhere this
    // fails harmlessly and the file is the writer's, as any new file.
    if (geteuid() == 0) (void)!fchown(fd_, existing->st_uid, existing->st_gid);
  } else {
    fchmod(fd_, 0666 & ~CurrentUmask());
  }
  return true;
}

bool OutputFile::OpenInPlace(const std::string& target, bool socket, std::string& error) {
  if (socket) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (target.size() >= sizeof address.sun_path) {
      error = Failure("cannot write", ENAMETOOLONG);
      return false;
    }
    std::memcpy(address.sun_path, target.c_str(), target.size() + 1);
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      const int why = errno;
      close(fd_);
      fd_ = -1;
      errno = why;
    }
  } else {
    fd_ = open(target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  }
  return TakeStream(error);
}

bool OutputFile::Adopt(int descriptor, std::string& error) {
  fd_ = fcntl(descriptor, F_DUPFD_CLOEXEC, 3);
  return TakeStream(error);
}

bool OutputFile::TakeStream(std::string& error) {
  if (fd_ < 0) {
    error = Failure("cannot write", errno);
    return false;
  }
  inPlace_ = true;
  interrupts::SetStreaming();
  // A pipe holds 64 KiB unless asked for more: with room for a whole write
  // (1 MiB, the most an ordinary user may ask) the writer and the reader
  // take turns sixteen times less often. Refused, the pipe stays as it was.
  struct stat st {};
  if (fstat(fd_, &st) == 0 && S_ISFIFO(st.st_mode)) (void)fcntl(fd_, F_SETPIPE_SZ, 1 << 20);
  return true;
}

bool OutputFile::Commit(std::string& error) {
  interrupts::SignalsBlocked blocked;
  const int fd = fd_;
  fd_ = -1;
  if (fd >= 0 && close(fd) != 0) {
    error = Failure("cannot write", errno);
    Abandon();
    return false;
  }
  if (!tempPath_.empty()) {
    if (std::rename(tempPath_.c_str(), finalPath_.c_str()) != 0) {
      error = Failure("cannot rename to", errno);
      Abandon();
      return false;
    }
    tempPath_.clear();
  }
  interrupts::SetDone();
  return true;
}

void OutputFile::Abandon() {
  interrupts::SignalsBlocked blocked;
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  if (!tempPath_.empty()) unlink(tempPath_.c_str());
  tempPath_.clear();
  interrupts::SetDone();
}

}  // namespace velmora::render
