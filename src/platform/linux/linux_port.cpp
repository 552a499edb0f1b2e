#include "platform/linux/linux_port.h"

#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#define VELMORA_HAS_IOPERM 1
#endif

namespace velmora {
namespace {

std::string Hex(unsigned v) {
  char text[16];
  std::snprintf(text, sizeof text, "%04x", v);
  return text;
}

}  // namespace

LinuxPort::~LinuxPort() {
  if (fd_ >= 0) {
    ioctl(fd_, PPRELEASE);
    close(fd_);
  }
}

bool LinuxPort::TryParportDevices(uint16_t base) {
  bool anyDevice = false;
  for (int n = 0; n < 8; ++n) {
    const std::string device = devRoot_ + "/parport" + std::to_string(n);
    if (access(device.c_str(), F_OK) != 0) continue;
    anyDevice = true;
    unsigned long deviceBase = 0;
    std::ifstream baseFile(procRoot_ + "/parport" + std::to_string(n) + "/base-addr");
    if (!(baseFile >> deviceBase) || deviceBase != base) {
      attempts_ += device + " is at another address; ";
      continue;
    }
    const int fd = open(device.c_str(), O_RDWR);
    if (fd < 0) {
      const int error = errno;
      attempts_ += device + ": " + std::strerror(error);
      if (error == EACCES) attempts_ += " (add the user to the group lp and log in again)";
      attempts_ += "; ";
      continue;
    }
    if (ioctl(fd, PPCLAIM) != 0) {
      attempts_ += device + ": cannot claim it: " + std::strerror(errno) + "; ";
      close(fd);
      continue;
    }
    fd_ = fd;
    route_ = Route::kParportDevice;
    return true;
  }
  if (!anyDevice)
    attempts_ += "no " + devRoot_ + "/parport* device (is the parport_pc module loaded?); ";
  return false;
}

bool LinuxPort::TryDirect(uint16_t base) {
#ifdef VELMORA_HAS_IOPERM
  if (ioperm(base, 3, 1) == 0) {
    route_ = Route::kDirect;
    return true;
  }
  const int error = errno;
  attempts_ += std::string("direct port output (ioperm): ") + std::strerror(error);
  if (error == EPERM) attempts_ += " (needs root or CAP_SYS_RAWIO)";
  attempts_ += "; ";
#else
  (void)base;
  attempts_ += "direct port output: not on this processor; ";
#endif
  return false;
}

PortAccessResult LinuxPort::SetUpPortAccess(uint16_t base) {
  base_ = base;
  attempts_.clear();
  if (TryParportDevices(base_) || (tryDirect_ && TryDirect(base_))) {
    return PortAccessResult::kNoDriverNeeded;
  }
  return PortAccessResult::kFailed;
}

void LinuxPort::ReportFailure(WindowHost& host) {
  std::string text = "Can't use LPT port " + Hex(base_) + ".\n" + attempts_;
  if (text.size() >= 2 && text.compare(text.size() - 2, 2, "; ") == 0) text.resize(text.size() - 2);
  host.ShowMessageBox("ERROR", text, BoxIcon::kNone);
}

void LinuxPort::PortWrite(uint16_t port, uint8_t value) {
  if (route_ == Route::kParportDevice) {
    unsigned char byte = value;
    if (port == base_) {
      ioctl(fd_, PPWDATA, &byte);
    } else if (port == static_cast<uint16_t>(base_ + 2)) {
      ioctl(fd_, PPWCONTROL, &byte);
    }
    return;
  }
#ifdef VELMORA_HAS_IOPERM
  // Only the three registers ioperm opened; anything else would fault.
  if (route_ == Route::kDirect && port >= base_ && port - base_ <= 2) outb(value, port);
#endif
}

}  // namespace velmora
