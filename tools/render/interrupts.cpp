#include "tools/render/interrupts.h"

#include <unistd.h>

#include <atomic>
#include <cstring>

namespace velmora::render::interrupts {
namespace {

enum Stage : int { kNothingYet, kTemporary, kStreaming, kDone };

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

std::atomic<int> stage{kNothingYet};
std::atomic<const char*> temporary{nullptr};
std::atomic<bool> barShown{false};
bool quietly = false;
std::string temporaryPath;  // owns what `temporary` points to

void WriteToStderr(const char* text) {
  if (quietly) return;
  if (barShown.load()) {
    static const char kClear[] = "\r\033[K";
    (void)!write(STDERR_FILENO, kClear, sizeof kClear - 1);
  }
  (void)!write(STDERR_FILENO, text, std::strlen(text));
}

void OnInterrupt(int signal) {
  switch (stage.load()) {
    case kNothingYet:
      WriteToStderr("velmora-render: interrupted, nothing written\n");
      break;
    case kTemporary: {
      const char* path = temporary.load();
      if (path != nullptr) unlink(path);
      WriteToStderr("velmora-render: interrupted, nothing written\n");
      break;
    }
    case kStreaming:
      WriteToStderr("velmora-render: interrupted; the output is incomplete\n");
      break;
    default:
      break;
  }
  // The handler was installed with SA_RESETHAND: the signal raised again is
  // delivered with its default action as soon as the handler returns.
  raise(signal);
}

sigset_t TheSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : kSignals) sigaddset(&set, s);
  return set;
}

}  // namespace

void Install(bool quiet) {
  quietly = quiet;
  for (int s : kSignals) {
    struct sigaction old {};
    sigaction(s, nullptr, &old);
    if (old.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESETHAND;
    sigfillset(&action.sa_mask);
    sigaction(s, &action, nullptr);
  }
}

void SetTemporary(const std::string& path) {
  temporary.store(nullptr);
  temporaryPath = path;
  temporary.store(temporaryPath.c_str());
  stage.store(kTemporary);
}

void SetStreaming() {
  stage.store(kStreaming);
}

void SetDone() {
  stage.store(kDone);
  temporary.store(nullptr);
}

void SetBarShown(bool shown) {
  barShown.store(shown);
}

SignalsBlocked::SignalsBlocked() {
  const sigset_t set = TheSignals();
  pthread_sigmask(SIG_BLOCK, &set, &previous_);
}

SignalsBlocked::~SignalsBlocked() {
  pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

}  // namespace velmora::render::interrupts
