// CPU use of the light thread on its two routes, side by side: the parallel
// port's (a port that takes each write at once, so the loop has no pause: its
// rate is the port's, and it holds a core) and the light box's (the same loop
// through the serial route to a pty, whose far side a reader drains at
// 100,000 bytes a second, as a box at 1 Mbaud takes them). Alternating
// rounds; medians of the light thread's own CPU time over wall time.
//   light_route_cpu [SECONDS-PER-ROUND] [ROUNDS]
#include <fcntl.h>
#include <pthread.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "output/light_output.h"
#include "platform/linux/linux_serial_line.h"
#include "platform/serial/serial_lights.h"

namespace {

using namespace velmora;

class InstantPort final : public Port {
 public:
  void PortWrite(uint16_t, uint8_t value) override { last.store(value, std::memory_order_relaxed); }
  std::atomic<uint8_t> last{0};
};

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Runs the light thread on `port` for `seconds`; its CPU share of one core.
double LightThreadShare(Port& port, double seconds) {
  SharedState state;
  state.envelopeNow = 32;
  LightThreadContext light{state, port};
  double cpu = 0;
  std::thread thread([&] {
    const double start = ThreadCpuSeconds();
    LightThread(light);
    cpu = ThreadCpuSeconds() - start;
  });
  const auto begun = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  state.sleepRunning = 0;
  thread.join();
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
  return cpu / wall;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 10;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    std::perror("light_route_cpu: no pty");
    return 1;
  }
  const std::string slave = ptsname(master);
  // Held open for the whole run: a pty whose slave side is closed between
  // rounds would end the reader.
  const int held = open(slave.c_str(), O_RDWR | O_NOCTTY);
  // The box: drains 100,000 bytes a second, in 1 ms steps.
  std::atomic<bool> stop{false};
  std::atomic<long long> drained{0};
  std::thread reader([&] {
    const auto start = std::chrono::steady_clock::now();
    char buffer[4096];
    while (!stop) {
      const double t =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      const long long allowed = static_cast<long long>(t * 100000) - drained;
      if (allowed <= 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        continue;
      }
      const ssize_t n = read(master, buffer, std::min<long long>(allowed, sizeof buffer));
      if (n <= 0) break;
      drained += n;
    }
  });
  std::vector<double> parallel, line;
  long long lineBytes = 0;
  double lineWall = 0;
  for (int r = 0; r < rounds; ++r) {
    InstantPort instant;
    parallel.push_back(LightThreadShare(instant, seconds));
    LinuxSerialLine serial;
    SerialLights lights(serial, slave.c_str());
    if (lights.SetUpPortAccess(0x378) != PortAccessResult::kNoDriverNeeded) {
      std::fprintf(stderr, "light_route_cpu: cannot open %s\n", slave.c_str());
      return 1;
    }
    const long long before = drained;
    const auto begun = std::chrono::steady_clock::now();
    line.push_back(LightThreadShare(lights, seconds));
    lineWall += std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
    lineBytes += drained - before;
  }
  stop = true;
  close(held);  // the reader's read then ends
  reader.join();
  close(master);
  std::printf("light thread, %d rounds of %.0f s, medians of its CPU over wall time:\n", rounds,
              seconds);
  std::printf("  parallel-port route (no pause): %5.1f %% of one core\n", 100 * Median(parallel));
  std::printf("  light box on a 1 Mbaud line:    %5.1f %% of one core (%.0f bytes/s taken)\n",
              100 * Median(line), static_cast<double>(lineBytes) / lineWall);
  std::printf("  ratio: %.3f\n", Median(line) / Median(parallel));
  return 0;
}
