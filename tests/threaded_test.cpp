// The whole program with real threads: the window thread's message loop, the
// generator thread, the light thread, a device thread and a timer thread, on a
// clock 25 times faster than real time (faster, and a loaded machine would
// rightly trip the programme's load test). These tests also run under
// ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/main_window.h"
#include "fake_services.h"
#include "platform/raster/raster_canvas.h"
#include "platform/sim/threaded_sim.h"

namespace velmora {
namespace {

constexpr int kSpeed = 25;

struct ThreadedApp {
  explicit ThreadedApp(std::vector<std::string> words)
      : app(state, AppServices{clock, threads, wave, port, host, canvas, access},
            std::move(words)) {
    host.SetClock(&clock);
    wave.tap = [this](const std::vector<uint8_t>& block) {
      for (uint8_t b : block) loud.fetch_add(b != 128 ? 1 : 0);
    };
  }
  ~ThreadedApp() {
    // The program never stops its workers; a test must, before its records go.
    app.generator.RequestStop();
    state.sleepRunning = 0;
    threads.JoinAll();
  }

  // Waits (real time, at most 20 s) until `done` holds; a wait that runs
  // out is a failure of the test (the script goes on to its Escape).
  template <typename Done>
  bool WaitFor(Done done, const char* what = "the wait") {
    for (int i = 0; i < 20000 && !done(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const bool held = done();
    EXPECT_TRUE(held) << what << ": not within 20 s";
    return held;
  }
  void Key(uint32_t key) { host.Post({WindowEvent::kKeyDown, key}); }

  testing::CallLog log;
  FastClock clock{80100, kSpeed};
  JoinableThreads threads;
  QueueHost host;
  PacedWaveDevice wave{host, clock};
  testing::CountingPort port;
  RasterCanvas canvas{288, 272, nullptr};
  testing::FakePortAccess access{log};
  SharedState state;
  App app;
  std::atomic<int64_t> loud{0};
};

TEST(ThreadedAppTest, HealingNightAndEscape) {
  ThreadedApp t({"m1", "r2", "+0"});
  std::thread script([&t] {
    // Healing plays; Enter starts the night; a second Enter stops it. Each
    // wait gives up after 20 s, and Escape always comes last.
    t.WaitFor([&] { return t.wave.BlocksPlayed() > 8; });
    t.Key(kVkReturn);
    t.WaitFor([&] {
      return t.state.cycleIndex.Load() >= 1 && t.state.cycleIndex.Load() <= 2 &&
             t.state.healingMode.Load() == 0;
    });
    t.WaitFor([&] { return t.wave.BlocksPlayed() > 30; });
    t.Key(kVkReturn);
    t.WaitFor([&] { return t.state.healingMode.Load() == 1; });
    t.WaitFor([&] { return t.wave.BlocksPlayed() > 40; });
    t.Key(kVkEscape);
  });
  const int code = RunVelmora(t.app);
  script.join();
  EXPECT_EQ(code, 0);
  EXPECT_EQ(t.state.healingMode, 1);
  EXPECT_EQ(t.state.sleepRunning, 0);
  EXPECT_NE(t.state.stateText.Get().find(" is finished.Now healing."), std::string::npos)
      << t.state.stateText.Get();
  EXPECT_GT(t.loud.load(), 1000);  // pulses reached the device
  EXPECT_GT(t.host.Paints(), 10);
  EXPECT_GT(t.state.tickCount, 30);
}

TEST(ThreadedAppTest, CloseCommandWhileTheGeneratorWrites) {
  ThreadedApp t({"m1", ".", "#"});
  std::thread script([&t] {
    t.WaitFor([&] { return t.wave.BlocksPlayed() > 12; });
    t.host.Post({WindowEvent::kClose});
  });
  EXPECT_EQ(RunVelmora(t.app), 0);
  script.join();
  EXPECT_TRUE(t.app.ring.closed);
  EXPECT_FALSE(t.app.ring.storage);  // the window's share released; the generator keeps its own
  EXPECT_TRUE(t.app.generator.ring);
}

TEST(ThreadedAppTest, DeviceClosingMidNightRunsTheClosePath) {
  ThreadedApp t({"m1", "."});
  std::thread script([&t] {
    t.WaitFor([&] { return t.wave.BlocksPlayed() > 6; });
    t.wave.Close();  // the device goes away by itself
  });
  EXPECT_EQ(RunVelmora(t.app), 0);
  script.join();
  EXPECT_TRUE(t.app.ring.closed);
}

// The device away for a while: the timer thread's ticks hand the blocks back
// meanwhile, the generator writes on, and the device plays again after.
TEST(ThreadedAppTest, DeviceAwayAndBackMidNight) {
  ThreadedApp t({"m1", "."});
  const int64_t opened = t.clock.MonotonicMs();  // block 0 begins about now
  int64_t awayMs = 0, elapsedMs = 0, playedMs = 0;
  std::thread script([&] {
    t.WaitFor([&] { return t.wave.BlocksPlayed() > 4; }, "blocks played");
    t.wave.Lose("unplugged");
    const int64_t lost = t.clock.MonotonicMs();
    const int32_t ticks = t.state.tickCount;
    t.WaitFor([&] { return t.state.tickCount.Load() > ticks + 8; }, "the stand-in's ticks");
    const int64_t played = t.wave.BlocksPlayed();
    awayMs = t.clock.MonotonicMs() - lost;
    t.wave.ComeBack();
    t.WaitFor([&] { return t.wave.BlocksPlayed() > played + 3; }, "blocks played after");
    // The played clock where the clock is, with the time away counted: never
    // ahead of it, and behind it by the block playing, the creation's pause
    // and the window thread's lag on a clock this fast (a few seconds under
    // ThreadSanitizer), never by the time away.
    elapsedMs = t.clock.MonotonicMs() - opened;
    playedMs = t.state.playedMs;
    t.Key(kVkEscape);
  });
  EXPECT_EQ(RunVelmora(t.app), 0);
  script.join();
  EXPECT_FALSE(t.app.ring.deviceAway);
  EXPECT_GE(awayMs, 8000);
  EXPECT_LE(playedMs, elapsedMs) << "away " << awayMs << " ms";
  EXPECT_GE(playedMs, elapsedMs - 5000) << "away " << awayMs << " ms";
}

TEST(ThreadedAppTest, LightModeWithTheLightThread) {
  ThreadedApp t({"m1", "!2", "r2", "+0"});
  std::thread script([&t] {
    t.WaitFor([&] { return t.state.tickCount.Load() > 5; });  // the one-second timer ticks
    t.Key(kVkReturn);
    t.WaitFor([&] { return t.state.healingMode.Load() == 0 && t.state.cycleIndex.Load() >= 1; });
    t.Key(kVkUp);
    t.Key(kVkSpace);
    t.WaitFor([&] { return t.state.tickCount.Load() > 15; });
    t.Key(kVkEscape);
  });
  EXPECT_EQ(RunVelmora(t.app), 0);
  script.join();
  // Escape cleared sleepRunning, which ends the light thread by itself; the
  // generator is stopped here as the process's end would.
  t.app.generator.RequestStop();
  t.threads.JoinAll();
  EXPECT_EQ(t.port.last.load(), 0);  // its last write darkens the port
  EXPECT_GT(t.port.count.load(), 1000);
  EXPECT_EQ(t.state.lightLevel, 4);    // Up from 3
  EXPECT_EQ(t.state.lptOnPattern, 4);  // Space from 255
}

}  // namespace
}  // namespace velmora
