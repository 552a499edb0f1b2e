#include "platform/linux/linux_power.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstring>

namespace velmora {
namespace {

// The portal's "suspend" flag (4); "idle" (8) would keep the screen on.
constexpr uint32_t kPortalInhibitSuspend = 4;

// How long a call may wait for its answer: these calls run on the window
// thread, at start and at the end, and a desktop service that does not
// answer must not hold the window (sd-bus's own default is 25 s).
constexpr uint64_t kCallTimeoutUs = 2'000'000;

// The session (user) or the system bus; null, saying why, when there is none.
sd_bus* OpenBus(bool user, std::string& why) {
  sd_bus* bus = nullptr;
  const int r = user ? sd_bus_open_user(&bus) : sd_bus_open_system(&bus);
  if (r >= 0) {
    sd_bus_set_method_call_timeout(bus, kCallTimeoutUs);
    return bus;
  }
  why = std::string(user ? "no session bus (" : "no system bus (") + std::strerror(-r) + ")";
  return nullptr;
}

std::string Reason(const sd_bus_error& error, int r) {
  if (error.message != nullptr) return error.message;
  return std::strerror(-r);
}

}  // namespace

LinuxPower::~LinuxPower() {
  Release();
}

bool LinuxPower::Hold(std::string& why) {
  if (portalBus_ != nullptr || logindFd_ >= 0) return true;
  std::string portalWhy;
  if (HoldThroughPortal(portalWhy)) return true;
  std::string logindWhy;
  if (HoldThroughLogind(logindWhy)) return true;
  why = "desktop portal: " + portalWhy + "; logind: " + logindWhy;
  return false;
}

bool LinuxPower::HoldThroughPortal(std::string& why) {
  sd_bus* bus = OpenBus(true, why);
  if (bus == nullptr) return false;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  const int r =
      sd_bus_call_method(bus, "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                         "org.freedesktop.portal.Inhibit", "Inhibit", &error, &reply, "sua{sv}", "",
                         kPortalInhibitSuspend, 1, "reason", "s", kPowerReason);
  if (r < 0) {
    why = Reason(error, r);
    sd_bus_error_free(&error);
    sd_bus_flush_close_unref(bus);
    return false;
  }
  const char* handle = nullptr;
  if (sd_bus_message_read(reply, "o", &handle) >= 0 && handle != nullptr) request_ = handle;
  sd_bus_message_unref(reply);
  portalBus_ = bus;
  return true;
}

bool LinuxPower::HoldThroughLogind(std::string& why) {
  sd_bus* bus = OpenBus(false, why);
  if (bus == nullptr) return false;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  int r = sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                             "org.freedesktop.login1.Manager", "Inhibit", &error, &reply, "ssss",
                             "idle", "Velmora", kPowerReason, "block");
  int fd = -1;
  if (r >= 0) r = sd_bus_message_read(reply, "h", &fd);
  // The descriptor belongs to the reply: a copy of it is the hold.
  if (r >= 0) logindFd_ = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  if (r >= 0 && logindFd_ < 0) r = -errno;
  if (r < 0) why = Reason(error, r);
  sd_bus_error_free(&error);
  sd_bus_message_unref(reply);
  sd_bus_flush_close_unref(bus);
  return r >= 0;
}

void LinuxPower::Release() {
  if (portalBus_ != nullptr) {
    // Closing the request ends the hold at once; the connection's end would too.
    if (!request_.empty()) {
      sd_bus_call_method(portalBus_, "org.freedesktop.portal.Desktop", request_.c_str(),
                         "org.freedesktop.portal.Request", "Close", nullptr, nullptr, "");
    }
    sd_bus_flush_close_unref(portalBus_);
  }
  portalBus_ = nullptr;
  request_.clear();
  if (logindFd_ >= 0) close(logindFd_);
  logindFd_ = -1;
}

}  // namespace velmora
