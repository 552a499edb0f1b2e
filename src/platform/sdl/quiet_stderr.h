// QuietStderr: while it lives, standard error goes to /dev/null. The libraries
// under SDL (ALSA, PulseAudio, Wayland) print their own complaints while they
// probe for a display or a sound device; the user gets one line of ours
// instead. Used at start-up and, while the sound device is away, around each
// try to open it: the worker threads print nothing meanwhile (the generator
// never does), so no line of ours is lost to it.
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
