// QuietStderr: while it lives, standard error goes to /dev/null. The libraries
// under SDL (ALSA, PulseAudio, Wayland) print their own complaints while they
// probe for a display or a sound device; the user gets one line of ours
// instead. Used only while the window thread is the only thread.
#pragma once

#include <fcntl.h>
#include <unistd.h>

namespace velmora {

class QuietStderr {
 public:
  QuietStderr() : saved_(dup(STDERR_FILENO)) {
    const int null = open("/dev/null", O_WRONLY);
    if (saved_ >= 0 && null >= 0) dup2(null, STDERR_FILENO);
    if (null >= 0) close(null);
  }
  ~QuietStderr() {
    if (saved_ >= 0) {
      dup2(saved_, STDERR_FILENO);
      close(saved_);
    }
  }
  QuietStderr(const QuietStderr&) = delete;
  QuietStderr& operator=(const QuietStderr&) = delete;

 private:
  int saved_;
};

}  // namespace velmora
