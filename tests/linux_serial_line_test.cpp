// The Linux serial line against a pty of the test's own: raw bytes, the
// speed set, and the reasons it gives.
#include "platform/linux/linux_serial_line.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace velmora {
namespace {

class Pty {
 public:
  Pty() {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0) slave = ptsname(master);
  }
  ~Pty() { Close(); }
  void Close() {
    if (master >= 0) close(master);
    master = -1;
  }
  std::vector<uint8_t> Read(size_t count) {
    std::vector<uint8_t> bytes;
    uint8_t buffer[512];
    while (bytes.size() < count) {
      const ssize_t n = read(master, buffer, sizeof buffer);
      if (n <= 0) break;
      bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
  }
  int master = -1;
  std::string slave;
};

TEST(LinuxSerialLineTest, EveryByteArrivesUnchangedAtTheSpeedAsked) {
  Pty pty;
  ASSERT_FALSE(pty.slave.empty());
  LinuxSerialLine line;
  ASSERT_EQ(line.Open(pty.slave, 1000000), "");
  // The line as set: raw, 8N1, 1 Mbaud (read back through a second opening).
  const int fd = open(pty.slave.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  termios tio{};
  ASSERT_EQ(tcgetattr(fd, &tio), 0);
  close(fd);
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B1000000));
  EXPECT_EQ(tio.c_oflag & OPOST, 0u);
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  // Line ends, control characters and flow-control bytes pass as they are,
  // one at a time and a run at once.
  std::string why;
  std::vector<uint8_t> all(256);
  for (int v = 0; v < 256; ++v) {
    all[v] = static_cast<uint8_t>(v);
    ASSERT_TRUE(line.Send(&all[v], 1, why)) << why;
  }
  ASSERT_TRUE(line.Send(all.data(), all.size(), why)) << why;
  const std::vector<uint8_t> got = pty.Read(512);
  ASSERT_EQ(got.size(), 512u);
  for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], i % 256) << i;
  // Nobody reads the far side: once the pty's buffer is full, a send fails
  // at its deadline (half a second and a millisecond a byte), saying so.
  std::vector<uint8_t> run(256, 0x55);
  const auto start = std::chrono::steady_clock::now();
  bool taken = true;
  for (int i = 0; i < 10000 && taken; ++i) taken = line.Send(run.data(), run.size(), why);
  const auto took = std::chrono::steady_clock::now() - start;
  ASSERT_FALSE(taken);
  EXPECT_NE(why.find("the line took"), std::string::npos) << why;
  EXPECT_GE(took, std::chrono::nanoseconds(SendDeadlineNanos(0)));
  // The far side gone: the send says so.
  pty.Close();
  EXPECT_FALSE(line.Send(all.data(), 1, why));
  EXPECT_FALSE(why.empty());
}

TEST(LinuxSerialLineTest, Reasons) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("velmora-line-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "plain") << "x";
  Pty pty;
  struct Case {
    std::string device;
    uint32_t baud;
    const char* expect;
  };
  const Case cases[] = {
      {(dir / "none").string(), 1000000, "No such file or directory"},
      {(dir / "plain").string(), 1000000, "(not a serial device)"},
      {pty.slave, 12345, "12345 baud is not a speed this system sets"},
  };
  for (const Case& c : cases) {
    LinuxSerialLine line;
    const std::string why = line.Open(c.device, c.baud);
    EXPECT_NE(why.find(c.expect), std::string::npos) << c.device << ": " << why;
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace velmora
