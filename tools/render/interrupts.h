// Interrupts of a render. SIGINT, SIGTERM and SIGHUP remove the temporary
// file, if one exists, say so on stderr (unless quiet) and end the process by
// the same signal, so the shell reports 128 + its number and a script that
// was interrupted stops too. The handler calls only async-signal-safe
// functions (unlink, write, sigaction, raise) and reads only what was set
// before it could run.
//
// Thread safety: Install, the setters and SignalsBlocked from the main thread.
// The main thread starts every other thread with the three signals blocked,
// so the handler runs on the main thread.
#pragma once

#include <signal.h>

#include <string>

namespace velmora::render::interrupts {

// Takes the three signals, except those the parent ignored (a background
// job's SIGINT, nohup's SIGHUP): they stay ignored.
void Install(bool quiet);

// The temporary file an interrupt must remove. Call with the signals blocked
// (SignalsBlocked), so that no interrupt falls between making it and naming it.
void SetTemporary(const std::string& path);
// The output is written as it comes (a pipe, a device): an interrupt leaves
// what was written and says the output is incomplete.
void SetStreaming();
// The output is complete (or gone): an interrupt just ends the process.
void SetDone();
// Whether the progress bar is on the terminal; the handler clears its line.
void SetBarShown(bool shown);

// Blocks the three signals on this thread for its lifetime.
class SignalsBlocked {
 public:
  SignalsBlocked();
  ~SignalsBlocked();
  SignalsBlocked(const SignalsBlocked&) = delete;
  SignalsBlocked& operator=(const SignalsBlocked&) = delete;

 private:
  sigset_t previous_;
};

}  // namespace velmora::render::interrupts
