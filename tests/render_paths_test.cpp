// velmora-render as a program, by the kind of path it is given: what it
// writes where, what it refuses, what it leaves behind, and how it ends when
// interrupted or when its reader goes away. Every path lies in a folder of
// the test's own; device nodes are made there too.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tools/render/night_render.h"

namespace velmora::render {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr uid_t kNobody = 65534;
constexpr const char* kAt = "--at=2005-09-29T00:00:00Z";

struct Finished {
  int status = 0;  // as waitpid gives it
  std::string err;
  Bytes out;
  int ExitCode() const { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }
  int Signal() const { return WIFSIGNALED(status) ? WTERMSIG(status) : 0; }
};

struct Options {
  bool asNobody = false;
  size_t closeStdoutAfter = 0;  // read this much of stdout, then close it (0: read all)
  // Runs once the program has started, with its pid.
  std::function<void(pid_t)> whileRunning;
  int stdoutFd = -1;  // the program's standard output, when not the captured pipe
};

Bytes ReadAll(int fd) {
  Bytes all;
  uint8_t buffer[65536];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    all.insert(all.end(), buffer, buffer + n);
  }
  return all;
}

Bytes FileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), {});
}

// Runs velmora-render with `args`, its stdout and stderr captured.
Finished RunRender(const std::vector<std::string>& args, const Options& options = {}) {
  std::vector<char*> argv{const_cast<char*>(VELMORA_RENDER_PATH)};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(options.stdoutFd >= 0 ? options.stdoutFd : out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    close(out[1]);
    close(out[0]);
    close(err[0]);
    // The program must meet these signals as a terminal's foreground job does,
    // whatever the test runner was started with.
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) std::signal(s, SIG_DFL);
    if (options.asNobody &&
        (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
      _exit(125);
    }
    execv(argv[0], argv.data());
    _exit(126);
  }
  close(out[1]);
  close(err[1]);
  if (options.whileRunning) options.whileRunning(pid);
  Finished f;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  bool outOpen = true, errOpen = true;
  uint8_t buffer[65536];
  while (outOpen || errOpen) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        (i == 0 ? outOpen : errOpen) = false;
      } else if (i == 0) {
        f.out.insert(f.out.end(), buffer, buffer + n);
        if (options.closeStdoutAfter > 0 && f.out.size() >= options.closeStdoutAfter) {
          close(fds[0].fd);
          fds[0].fd = -1;
          outOpen = false;
        }
      } else {
        f.err.append(reinterpret_cast<char*>(buffer), static_cast<size_t>(n));
      }
    }
  }
  waitpid(pid, &f.status, 0);
  return f;
}

// One second of healing, as velmora-render writes it: the reference for every
// path, made in this process.
const Bytes& Reference() {
  static const Bytes samples = [] {
    struct Collect final : SampleSink {
      Bytes all;
      bool Write(const uint8_t* s, size_t n) override {
        all.insert(all.end(), s, s + n);
        return true;
      }
    } sink;
    RenderRequest r;
    r.words = {"m1"};
    r.atSeconds = 1127952000;
    r.mode = RenderMode::kHealingOnly;
    r.healingSeconds = 1;
    RenderNight(r, sink);
    return sink.all;
  }();
  return samples;
}

std::vector<std::string> OneSecondTo(const std::string& out, const char* format = "raw") {
  return {"--quiet", kAt, "--healing-only=1", std::string("--format=") + format, "--out", out,
          "--",      "m1"};
}

std::vector<std::string> Listing(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class RenderPathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "velmora-paths-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    // A user switched to for a case must reach the folder.
    fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  fs::path dir_;
};

// A reader of a FIFO or a socket, on a thread of its own.
class Reader {
 public:
  explicit Reader(std::function<int()> open)
      : thread_([this, open] {
          const int fd = open();
          if (fd >= 0) {
            bytes_ = ReadAll(fd);
            close(fd);
          }
        }) {}
  Bytes Take() {
    thread_.join();
    return bytes_;
  }

 private:
  Bytes bytes_;
  std::thread thread_;
};

struct PathCase {
  const char* name;
  // Makes what the case needs in `dir`; returns the --out value, or nothing
  // to skip the case (with `why` set).
  std::function<std::optional<std::string>(const fs::path& dir, std::string& why)> prepare;
  bool asNobody;
  int exitCode;
  const char* message;  // a part of the stderr line of a refusal
  std::function<void(const fs::path& dir, const Finished& run)> check;
};

bool Root() {
  return geteuid() == 0;
}

TEST_F(RenderPathsTest, EachKindOfPathIsWrittenByItsOwnRule) {
  const mode_t mask = umask(022);
  umask(mask);
  const std::vector<PathCase> cases = {
      {"a new name", [](const fs::path& d, std::string&) { return (d / "n.raw").string(); }, false,
       0, "",
       [&](const fs::path& d, const Finished&) {
         EXPECT_EQ(FileBytes(d / "n.raw"), Reference());
         EXPECT_EQ(Listing(d), std::vector<std::string>{"n.raw"});
         EXPECT_EQ(fs::status(d / "n.raw").permissions(), static_cast<fs::perms>(0666 & ~mask));
       }},
      {"an existing file keeps its permission bits",
       [](const fs::path& d, std::string&) {
         std::ofstream(d / "n.raw") << "an older render";
         fs::permissions(d / "n.raw", static_cast<fs::perms>(0640));
         return (d / "n.raw").string();
       },
       false, 0, "",
       [](const fs::path& d, const Finished&) {
         EXPECT_EQ(FileBytes(d / "n.raw"), Reference());
         EXPECT_EQ(fs::status(d / "n.raw").permissions(), static_cast<fs::perms>(0640));
         EXPECT_EQ(Listing(d), std::vector<std::string>{"n.raw"});
       }},
      {"a file the user may not write, in a folder it may",
       [](const fs::path& d, std::string&) {
         fs::create_directory(d / "mine");
         std::ofstream(d / "mine" / "n.raw") << "not yours";
         if (Root()) {
           // The folder is nobody's, the file root's: nobody could replace it.
           EXPECT_EQ(chown((d / "mine").c_str(), kNobody, kNobody), 0);
           fs::permissions(d / "mine" / "n.raw", static_cast<fs::perms>(0644));
         } else {
           fs::permissions(d / "mine" / "n.raw", static_cast<fs::perms>(0444));
         }
         return (d / "mine" / "n.raw").string();
       },
       Root(), 1, "Permission denied",
       [](const fs::path& d, const Finished&) {
         EXPECT_EQ(FileBytes(d / "mine" / "n.raw"),
                   (Bytes{'n', 'o', 't', ' ', 'y', 'o', 'u', 'r', 's'}));
         EXPECT_EQ(Listing(d / "mine"), std::vector<std::string>{"n.raw"});
       }},
      {"a read-only folder",
       [](const fs::path& d, std::string& why) -> std::optional<std::string> {
         fs::create_directory(d / "ro");
         fs::permissions(d / "ro", static_cast<fs::perms>(0555));
         if (!Root() && access((d / "ro").c_str(), W_OK) == 0) {
           why = "this user may write any folder";
           return std::nullopt;
         }
         return (d / "ro" / "n.raw").string();
       },
       Root(), 1, "Permission denied",
       [](const fs::path& d, const Finished&) { EXPECT_TRUE(Listing(d / "ro").empty()); }},
      {"a device node",
       [](const fs::path& d, std::string& why) -> std::optional<std::string> {
         // The numbers of the null device, on a node of the test's own.
         if (mknod((d / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
           why = std::string("mknod: ") + std::strerror(errno);
           return std::nullopt;
         }
         return (d / "null").string();
       },
       false, 0, "",
       [](const fs::path& d, const Finished&) {
         struct stat st {};
         ASSERT_EQ(lstat((d / "null").c_str(), &st), 0);
         EXPECT_TRUE(S_ISCHR(st.st_mode));
         EXPECT_EQ(st.st_rdev, makedev(1, 3));
         EXPECT_EQ(Listing(d), std::vector<std::string>{"null"});
       }},
      {"a chain of symbolic links to a file in another folder",
       [](const fs::path& d, std::string&) {
         fs::create_directory(d / "sub");
         std::ofstream(d / "sub" / "night.raw") << "old";
         fs::create_symlink("sub/night.raw", d / "second");
         fs::create_symlink("second", d / "first");
         return (d / "first").string();
       },
       false, 0, "",
       [](const fs::path& d, const Finished&) {
         EXPECT_TRUE(fs::is_symlink(d / "first"));
         EXPECT_EQ(fs::read_symlink(d / "first"), "second");
         EXPECT_TRUE(fs::is_symlink(d / "second"));
         EXPECT_EQ(FileBytes(d / "sub" / "night.raw"), Reference());
         EXPECT_EQ(Listing(d / "sub"), std::vector<std::string>{"night.raw"});
       }},
      {"a dangling link",
       [](const fs::path& d, std::string&) {
         fs::create_directory(d / "sub");
         fs::create_symlink("sub/later.raw", d / "link");
         return (d / "link").string();
       },
       false, 0, "",
       [](const fs::path& d, const Finished&) {
         EXPECT_TRUE(fs::is_symlink(d / "link"));
         EXPECT_EQ(FileBytes(d / "sub" / "later.raw"), Reference());
       }},
      {"a loop of links",
       [](const fs::path& d, std::string&) {
         fs::create_symlink("b", d / "a");
         fs::create_symlink("a", d / "b");
         return (d / "a").string();
       },
       false, 1, "Too many levels of symbolic links",
       [](const fs::path& d, const Finished&) {
         EXPECT_EQ(Listing(d), (std::vector<std::string>{"a", "b"}));
       }},
      {"a directory", [](const fs::path& d, std::string&) { return d.string(); }, false, 1,
       "is a directory",
       [](const fs::path& d, const Finished& run) {
         EXPECT_EQ(run.err, "velmora-render: '" + d.string() + "' is a directory\n");
         EXPECT_TRUE(Listing(d).empty());
       }},
      {"a missing folder",
       [](const fs::path& d, std::string&) { return (d / "no" / "such" / "n.raw").string(); },
       false, 1, "No such file or directory",
       [](const fs::path& d, const Finished& run) {
         EXPECT_EQ(run.err, "velmora-render: cannot create '" + (d / "no/such/n.raw").string() +
                                "': No such file or directory\n");
         EXPECT_TRUE(Listing(d).empty());
       }},
      {"standard output by name", [](const fs::path&, std::string&) { return "/dev/stdout"; },
       false, 0, "", [](const fs::path&, const Finished& run) { EXPECT_EQ(run.out, Reference()); }},
      {"standard output as '-'", [](const fs::path&, std::string&) { return "-"; }, false, 0, "",
       [](const fs::path&, const Finished& run) { EXPECT_EQ(run.out, Reference()); }},
      {"a link to standard output, a pipe",
       [](const fs::path& d, std::string&) {
         fs::create_symlink("/dev/stdout", d / "link.raw");
         return (d / "link.raw").string();
       },
       false, 0, "",
       [](const fs::path& d, const Finished& run) {
         EXPECT_EQ(run.out, Reference());
         EXPECT_EQ(Listing(d), std::vector<std::string>{"link.raw"});
       }},
      {"a link to /dev/fd/1 through a relative one",
       [](const fs::path& d, std::string&) {
         fs::create_symlink("/dev/fd/1", d / "fd1");
         fs::create_symlink("./fd1", d / "link.raw");
         return (d / "link.raw").string();
       },
       false, 0, "", [](const fs::path&, const Finished& run) { EXPECT_EQ(run.out, Reference()); }},
  };
  for (const PathCase& c : cases) {
    SCOPED_TRACE(c.name);
    fs::path d = dir_ / std::to_string(&c - cases.data());
    fs::create_directory(d);
    fs::permissions(d, static_cast<fs::perms>(0755));
    std::string why;
    const std::optional<std::string> out = c.prepare(d, why);
    if (!out) {
      std::printf("skipped '%s': %s\n", c.name, why.c_str());
      continue;
    }
    const Finished run = RunRender(OneSecondTo(*out), {c.asNobody, 0, {}});
    EXPECT_EQ(run.ExitCode(), c.exitCode) << run.err;
    if (c.exitCode != 0) {
      EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
      EXPECT_NE(run.err.find(*out), std::string::npos) << "names the path given: " << run.err;
      EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    } else {
      EXPECT_EQ(run.err, "");
    }
    c.check(d, run);
  }
}

TEST_F(RenderPathsTest, AFifoItsReaderGetsEverySampleInEveryFormat) {
  ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  const std::string fifo = (dir_ / "fifo").string();
  auto throughFifo = [&](const char* format) {
    Reader reader([&] { return open(fifo.c_str(), O_RDONLY); });
    const Finished run = RunRender(OneSecondTo(fifo, format));
    EXPECT_EQ(run.ExitCode(), 0) << run.err;
    return reader.Take();
  };
  EXPECT_EQ(throughFifo("raw"), Reference());

  // A WAV stream says "length unknown" and holds the samples.
  const Bytes wav = throughFifo("wav");
  ASSERT_EQ(wav.size(), 44 + Reference().size());
  EXPECT_EQ(Bytes(wav.begin() + 40, wav.begin() + 44), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_TRUE(std::equal(Reference().begin(), Reference().end(), wav.begin() + 44));

  // A FLAC stream is the file's stream but for the totals in its first
  // header, which a stream cannot go back to fill in; nothing is appended.
  const Bytes flac = throughFifo("flac");
  ASSERT_EQ(RunRender(OneSecondTo((dir_ / "n.flac").string(), "flac")).ExitCode(), 0);
  const Bytes file = FileBytes(dir_ / "n.flac");
  ASSERT_EQ(flac.size(), file.size());
  EXPECT_EQ(Bytes(flac.begin(), flac.begin() + 4), (Bytes{'f', 'L', 'a', 'C'}));
  constexpr size_t kAfterStreamInfo = 4 + 4 + 34;
  EXPECT_TRUE(
      std::equal(file.begin() + kAfterStreamInfo, file.end(), flac.begin() + kAfterStreamInfo));

  struct stat st {};
  ASSERT_EQ(lstat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_EQ(Listing(dir_), (std::vector<std::string>{"fifo", "n.flac"}));
}

// Standard output that is a file can seek: WAV and FLAC come out as they do
// written to a file of their own, headers complete (after whatever the file
// held before). Appending cannot write back, and gives the stream's header,
// as a pipe does.
TEST_F(RenderPathsTest, StandardOutputAFileGetsTheFilesHeaders) {
  struct Case {
    const char* name;
    const char* format;
    const char* before;  // what the file holds before the render
    bool append;
  };
  const Case cases[] = {
      {"WAV", "wav", "", false},
      {"FLAC", "flac", "", false},
      {"WAV after a line of the caller's", "wav", "a line\n", false},
      {"FLAC after a line of the caller's", "flac", "a line\n", false},
      {"WAV appended", "wav", "a line\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path alone = dir_ / (std::string("alone.") + c.format);
    ASSERT_EQ(RunRender(OneSecondTo(alone.string(), c.format)).ExitCode(), 0);
    Bytes expected(c.before, c.before + std::strlen(c.before));
    const Bytes file = FileBytes(alone);
    expected.insert(expected.end(), file.begin(), file.end());
    if (c.append) std::fill(expected.begin() + 7 + 40, expected.begin() + 7 + 44, 0xFF);
    if (c.append) std::fill(expected.begin() + 7 + 4, expected.begin() + 7 + 8, 0xFF);

    const fs::path redirected = dir_ / (std::string("redirected.") + c.format);
    std::ofstream(redirected, std::ios::binary) << c.before;
    const int fd = open(redirected.c_str(), O_WRONLY | (c.append ? O_APPEND : 0));
    ASSERT_GE(fd, 0);
    lseek(fd, 0, SEEK_END);
    const Finished run = RunRender(OneSecondTo("-", c.format), {false, 0, {}, fd});
    close(fd);
    EXPECT_EQ(run.ExitCode(), 0) << run.err;
    EXPECT_TRUE(FileBytes(redirected) == expected);
  }
}

TEST_F(RenderPathsTest, ASocketIsConnectedToAndWritten) {
  const fs::path path = dir_ / "socket";
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  Reader reader([listener] { return accept(listener, nullptr, nullptr); });
  const Finished run = RunRender(OneSecondTo(path.string()));
  EXPECT_EQ(run.ExitCode(), 0) << run.err;
  EXPECT_EQ(reader.Take(), Reference());
  close(listener);
  EXPECT_TRUE(fs::is_socket(path));
}

// Waits until a file named like the render's temporary one appears in `dir`.
bool TemporaryAppears(const fs::path& dir) {
  for (int i = 0; i < 10000; ++i) {
    for (const auto& e : fs::directory_iterator(dir)) {
      if (e.path().filename().string().find(".partial-") != std::string::npos) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

TEST_F(RenderPathsTest, AnInterruptedRenderLeavesNothingAndEndsByTheSignal) {
  struct SignalCase {
    int signal;
    bool existing;  // an older output is there and must stay as it was
    bool quiet;
  };
  const SignalCase cases[] = {
      {SIGINT, false, false}, {SIGTERM, false, false}, {SIGHUP, false, false},
      {SIGINT, true, false},  {SIGTERM, true, true},
  };
  for (const SignalCase& c : cases) {
    SCOPED_TRACE(strsignal(c.signal) + std::string(c.existing ? ", over an older file" : "") +
                 (c.quiet ? ", quiet" : ""));
    const fs::path d = dir_ / std::to_string(&c - cases);
    fs::create_directory(d);
    if (c.existing) std::ofstream(d / "n.raw") << "yesterday";
    std::vector<std::string> args = {kAt, "--format=raw", "--out", (d / "n.raw").string(), "--",
                                     "m1"};
    if (c.quiet) args.insert(args.begin(), "--quiet");
    bool sent = false;
    const Finished run = RunRender(args, {false, 0, [&](pid_t pid) {
                                            sent = TemporaryAppears(d) && kill(pid, c.signal) == 0;
                                          }});
    ASSERT_TRUE(sent) << "no temporary file appeared";
    EXPECT_EQ(run.Signal(), c.signal) << "status " << run.status << ": " << run.err;
    EXPECT_EQ(run.err, c.quiet ? "" : "velmora-render: interrupted, nothing written\n");
    if (c.existing) {
      EXPECT_EQ(Listing(d), std::vector<std::string>{"n.raw"});
      EXPECT_EQ(FileBytes(d / "n.raw"), (Bytes{'y', 'e', 's', 't', 'e', 'r', 'd', 'a', 'y'}));
    } else {
      EXPECT_TRUE(Listing(d).empty());
    }
  }
}

// Whether `pid` sleeps in the open of a FIFO, waiting for a reader.
bool WaitsForAFifosReader(pid_t pid) {
  std::ifstream wchan("/proc/" + std::to_string(pid) + "/wchan");
  std::string where;
  return std::getline(wchan, where) && where == "wait_for_partner";
}

TEST_F(RenderPathsTest, InterruptedWhileWaitingForAFifosReader) {
  ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  std::vector<std::string> args = OneSecondTo((dir_ / "fifo").string());
  args.erase(args.begin());  // not --quiet: the handler says what it did
  bool waited = false;
  const Finished run = RunRender(
      args,
      {false, 0, [&](pid_t pid) {
         siginfo_t ended{};
         while (!(waited = WaitsForAFifosReader(pid)) &&
                waitid(P_PID, static_cast<id_t>(pid), &ended, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                ended.si_pid == 0) {
           std::this_thread::sleep_for(std::chrono::milliseconds(1));
         }
         kill(pid, SIGTERM);
       }});
  ASSERT_TRUE(waited) << "never waited for a reader: " << run.err;
  EXPECT_EQ(run.Signal(), SIGTERM) << run.err;
  EXPECT_EQ(run.err, "velmora-render: interrupted, nothing written\n");
  EXPECT_TRUE(fs::is_fifo(dir_ / "fifo"));
  EXPECT_EQ(Listing(dir_), std::vector<std::string>{"fifo"});
}

TEST_F(RenderPathsTest, AReaderThatStopsEndsTheRenderQuietly) {
  const Finished run =
      RunRender({kAt, "--format=raw", "--out", "-", "--", "m1"}, {false, 100000, {}});
  EXPECT_EQ(run.Signal(), SIGPIPE) << "status " << run.status;
  EXPECT_EQ(run.err, "");
  ASSERT_GE(run.out.size(), 100000u);
}

}  // namespace
}  // namespace velmora::render
