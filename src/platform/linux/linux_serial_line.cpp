#include "platform/linux/linux_serial_line.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace velmora {
namespace {

struct Speed {
  uint32_t baud;
  speed_t code;
};

constexpr Speed kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

std::string SystemReason(int error) {
  std::string why = std::strerror(error);
  if (error == EACCES) why += " (add the user to the group dialout and log in again)";
  if (error == ENOTTY) why += " (not a serial device)";
  return why;
}

}  // namespace

std::string LinuxSerialLine::Open(const std::string& device, uint32_t baud) {
  Close();
  const Speed* speed = nullptr;
  for (const Speed& s : kSpeeds) {
    if (s.baud == baud) speed = &s;
  }
  if (speed == nullptr) return std::to_string(baud) + " baud is not a speed this system sets";
  // Without O_NONBLOCK an open could wait for a modem's carrier.
  const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return SystemReason(errno);
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) {
    const int error = errno;
    close(fd);
    return SystemReason(error);
  }
  cfmakeraw(&tio);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS | CSIZE);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  cfsetispeed(&tio, speed->code);
  cfsetospeed(&tio, speed->code);
  // The descriptor stays non-blocking: a write waits in poll, with a deadline.
  if (tcsetattr(fd, TCSANOW, &tio) != 0) {
    const int error = errno;
    close(fd);
    return SystemReason(error);
  }
  fd_ = fd;
  return {};
}

bool LinuxSerialLine::Send(const uint8_t* bytes, size_t count, std::string& why) {
  // A line that has not taken the bytes by the deadline (half a second and a
  // millisecond a byte, as on Windows) belongs to a box that is gone: hung
  // firmware, or a device whose other end nobody reads.
  const size_t total = count;
  const int64_t start = NowNanos();
  const int64_t deadline = start + SendDeadlineNanos(count);
  while (count > 0) {
    const ssize_t n = write(fd_, bytes, count);
    if (n > 0) {
      bytes += n;
      count -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      why = SystemReason(errno);
      return false;
    }
    const int64_t left = deadline - NowNanos();
    pollfd ready{fd_, POLLOUT, 0};
    const int polled =
        left > 0 ? poll(&ready, 1, static_cast<int>((left + 999'999) / 1'000'000)) : 0;
    if (polled < 0 && errno == EINTR) continue;
    if (polled < 0) {
      why = SystemReason(errno);
      return false;
    }
    if (polled == 0) {
      why = "the line took " + std::to_string(total - count) + " of " + std::to_string(total) +
            " bytes in " + std::to_string((NowNanos() - start) / 1'000'000) + " ms";
      return false;
    }
    // Ready, or an error the next write reports.
  }
  return true;
}

int64_t LinuxSerialLine::NowNanos() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

void LinuxSerialLine::WaitNanos(int64_t nanoseconds) {
  if (nanoseconds <= 0) return;
  const timespec wait{static_cast<time_t>(nanoseconds / 1'000'000'000),
                      static_cast<long>(nanoseconds % 1'000'000'000)};
  clock_nanosleep(CLOCK_MONOTONIC, 0, &wait, nullptr);
}

void LinuxSerialLine::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

}  // namespace velmora
