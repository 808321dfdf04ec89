// The tool on a pseudo-terminal, as a person sees it: UTF-8 lines, the
// prompt, echoed typing, and the terminal's mode given back afterwards. The
// terminal's output processing is turned off wherever lines are compared,
// so the bytes read are the bytes the tool wrote (a terminal would
// otherwise add the CR that a bare LF lacks).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string_view>
#include <thread>

#include "tests/dump_fixture.h"
#include "tests/end_to_end_support.h"
#include "tests/run_tool_posix.h"

namespace dumpscan {
namespace {

using Clock = std::chrono::steady_clock;

class Terminal {
 public:
  Terminal() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    slave_name_ = ptsname(master_);
    slave_ = open(slave_name_.c_str(), O_RDWR | O_NOCTTY);
  }
  ~Terminal() {
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
  }
  bool ok() const { return slave_ >= 0; }

  termios Mode() const {
    termios mode{};
    tcgetattr(slave_, &mode);
    return mode;
  }
  void SetMode(const termios& mode) { tcsetattr(slave_, TCSANOW, &mode); }

  // Turns local modes off before the tool starts; ECHO off, in particular,
  // lets WaitForEcho see the moment the tool starts reading.
  void ClearLocalModes(tcflag_t modes) {
    termios mode = Mode();
    mode.c_lflag &= static_cast<tcflag_t>(~modes);
    SetMode(mode);
  }

  // Turns the terminal's output processing off: what is read is then
  // exactly what was written.
  void RawOutput() {
    termios mode = Mode();
    mode.c_oflag &= static_cast<tcflag_t>(~OPOST);
    SetMode(mode);
  }

  // Starts the tool in `directory` with this terminal as its controlling
  // terminal and all three standard streams; `redirect` may then point some
  // of them elsewhere.
  pid_t Start(
      const std::filesystem::path& directory, const std::function<void()>& redirect = [] {}) {
    const pid_t pid = fork();
    if (pid == 0) {
      setsid();
      const int fd = open(slave_name_.c_str(), O_RDWR);
      if (fd < 0 || chdir(directory.c_str()) != 0) _exit(126);
      for (int stream = 0; stream < 3; ++stream) dup2(fd, stream);
      redirect();
      testing_support::ExecTool();
    }
    return pid;
  }

  // Reads what the terminal shows until `text` appears or 10 seconds pass.
  bool ReadUntil(const std::string& text) {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (screen_.find(text) == std::string::npos) {
      if (Clock::now() > deadline) return false;
      pollfd ready{master_, POLLIN, 0};
      if (poll(&ready, 1, 100) <= 0) continue;
      char buffer[4096];
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) return false;
      screen_.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
  }

  // Waits until the tool has switched the terminal to echoed line input.
  bool WaitForEcho() {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while ((Mode().c_lflag & ECHO) == 0) {
      if (Clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }

  void Type(const std::string& keys) {
    ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }

  // Everything read so far, byte for byte.
  const std::string& Screen() const { return screen_; }

  // Reads on for `wait`, for output that should not come.
  void Drain(std::chrono::milliseconds wait) {
    const auto deadline = Clock::now() + wait;
    while (Clock::now() < deadline) {
      pollfd ready{master_, POLLIN, 0};
      if (poll(&ready, 1, 20) <= 0) continue;
      char buffer[4096];
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) return;
      screen_.append(buffer, static_cast<std::size_t>(n));
    }
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slave_name_;
  std::string screen_;
};

// The report of one dump, as a terminal must show it: UTF-8, CR LF.
constexpr std::string_view kScreenReport =
    "\303\274ber.bin\r\n"
    "0x774: 3C 48 F0 3E 3C 48 F0 3E 3C 48 F0 3E 3C 48 F0 3E 3C 48 F0 3E "
    "--> 123456 km --> CRC/Parity OK\r\n"
    "0x788: A0 BC 61 00 --> 123456.00 km  --> CRC OK\r\n"
    "\r\n"
    "Press ENTER\r\n";

void WriteExampleDump(const std::filesystem::path& directory) {
  fixture::WriteFile(
      directory / std::filesystem::path(u8"\u00FCber.bin"),
      fixture::MakeDump(fixture::EncodeRecordBlock(123456), fixture::EncodeCounterWord(12345600)));
}

TEST(TerminalTest, ShowsUtf8LinesEchoesTheTypedLineAndRestoresTheMode) {
  const testing_support::ScratchDirectory dir;
  WriteExampleDump(dir.path());
  Terminal terminal;
  ASSERT_TRUE(terminal.ok());
  terminal.RawOutput();
  terminal.ClearLocalModes(ECHO);

  const pid_t pid = terminal.Start(dir.path());
  ASSERT_TRUE(terminal.ReadUntil("Press ENTER"));
  ASSERT_TRUE(terminal.WaitForEcho());
  terminal.Type("typed words\r");
  EXPECT_TRUE(terminal.ReadUntil("typed words"));
  const auto run = testing_support::WaitForTool(pid);
  EXPECT_TRUE(run.finished);
  EXPECT_EQ(run.exit_code, 0);
  // The echo is the terminal's own: the typed CR comes back as LF.
  EXPECT_EQ(terminal.Screen(), std::string(kScreenReport) + "typed words\n");
  EXPECT_EQ(terminal.Mode().c_lflag & ECHO, 0u) << "the terminal's mode was not restored";
}

// Each standard stream decides for itself: output to a file is UTF-16LE
// even when the prompt is answered on a terminal, and a terminal shows
// UTF-8 even when the input comes from elsewhere.
TEST(TerminalTest, EachStreamIsTreatedAsWhatItIs) {
  const testing_support::ScratchDirectory dir;
  WriteExampleDump(dir.path());
  const testing_support::ScratchDirectory streams;
  const auto report = streams.path() / "report";
  {
    SCOPED_TRACE("input from the terminal, output to a file");
    Terminal terminal;
    ASSERT_TRUE(terminal.ok());
    terminal.RawOutput();
    terminal.ClearLocalModes(ECHO);
    const pid_t pid = terminal.Start(dir.path(), [&] {
      const int fd = open(report.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (fd < 0) _exit(126);
      dup2(fd, STDOUT_FILENO);
    });
    ASSERT_TRUE(terminal.WaitForEcho()) << "the tool did not wait on the terminal";
    terminal.Type("ok\r");
    const auto run = testing_support::WaitForTool(pid);
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(fixture::ReadFile(report),
              fixture::Utf16LeLines({u"\u00FCber.bin", testing_support::kExampleReadings[0],
                                     testing_support::kExampleReadings[1], u"", u"Press ENTER"}));
    terminal.Drain(std::chrono::milliseconds(100));
    EXPECT_EQ(terminal.Screen(), "ok\n") << "only the echo belongs on the terminal";
  }
  {
    SCOPED_TRACE("input from an empty file, output to the terminal");
    Terminal terminal;
    ASSERT_TRUE(terminal.ok());
    terminal.RawOutput();
    const pid_t pid = terminal.Start(dir.path(), [] {
      const int fd = open("/dev/null", O_RDONLY);
      if (fd < 0) _exit(126);
      dup2(fd, STDIN_FILENO);
    });
    EXPECT_TRUE(terminal.ReadUntil("Press ENTER\r\n"));
    const auto run = testing_support::WaitForTool(pid);
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(terminal.Screen(), kScreenReport);
  }
}

// A terminal left in raw mode by an earlier program (no line editing, no
// CR to LF): the prompt still waits for a whole line, ended by Enter.
TEST(TerminalTest, ARawTerminalStillWaitsForAWholeLine) {
  const testing_support::ScratchDirectory dir;
  Terminal terminal;
  ASSERT_TRUE(terminal.ok());
  termios raw = terminal.Mode();
  cfmakeraw(&raw);
  terminal.SetMode(raw);
  const pid_t pid = terminal.Start(dir.path());
  ASSERT_TRUE(terminal.ReadUntil("Press ENTER"));
  ASSERT_TRUE(terminal.WaitForEcho());
  terminal.Type("half a line");
  terminal.Drain(std::chrono::milliseconds(300));
  siginfo_t ended{};  // looked at, not reaped
  waitid(P_PID, static_cast<id_t>(pid), &ended, WEXITED | WNOHANG | WNOWAIT);
  EXPECT_EQ(ended.si_pid, 0) << "the run ended before Enter";
  terminal.Type("\r");
  const auto run = testing_support::WaitForTool(pid);
  EXPECT_TRUE(run.finished);
  EXPECT_EQ(run.exit_code, 0);
  termios after = terminal.Mode();
  EXPECT_EQ(after.c_lflag & (ICANON | ECHO), 0u) << "the terminal's mode was not restored";
}

TEST(TerminalTest, EndOfInputAtThePromptEndsTheRun) {
  const testing_support::ScratchDirectory dir;
  Terminal terminal;
  ASSERT_TRUE(terminal.ok());
  const pid_t pid = terminal.Start(dir.path());
  ASSERT_TRUE(terminal.ReadUntil("Press ENTER"));
  ASSERT_TRUE(terminal.WaitForEcho());
  terminal.Type(std::string(1, static_cast<char>(terminal.Mode().c_cc[VEOF])));
  const auto run = testing_support::WaitForTool(pid);
  EXPECT_TRUE(run.finished);
  EXPECT_EQ(run.exit_code, 0);
}

TEST(TerminalTest, CtrlCAtThePromptEndsTheRunTheDefaultWayAndRestoresTheMode) {
  const testing_support::ScratchDirectory dir;
  Terminal terminal;
  ASSERT_TRUE(terminal.ok());
  terminal.ClearLocalModes(ECHO | ISIG);
  const pid_t pid = terminal.Start(dir.path());
  ASSERT_TRUE(terminal.ReadUntil("Press ENTER"));
  ASSERT_TRUE(terminal.WaitForEcho());
  terminal.Type(std::string(1, static_cast<char>(terminal.Mode().c_cc[VINTR])));
  const auto run = testing_support::WaitForTool(pid);
  EXPECT_EQ(run.signal, SIGINT);
  EXPECT_EQ(terminal.Mode().c_lflag & (ECHO | ISIG), 0u) << "the terminal's mode was not restored";
}

// A program that starts the tool with Ctrl+C ignored (as shells do for
// background jobs) keeps it ignored: only Enter ends the wait.
TEST(TerminalTest, CtrlCIgnoredByTheStarterStaysIgnored) {
  const testing_support::ScratchDirectory dir;
  Terminal terminal;
  ASSERT_TRUE(terminal.ok());
  terminal.ClearLocalModes(ECHO);
  const pid_t pid = terminal.Start(dir.path(), [] { signal(SIGINT, SIG_IGN); });
  ASSERT_TRUE(terminal.ReadUntil("Press ENTER"));
  ASSERT_TRUE(terminal.WaitForEcho());
  terminal.Type(std::string(1, static_cast<char>(terminal.Mode().c_cc[VINTR])));
  terminal.Drain(std::chrono::milliseconds(200));
  terminal.Type("\r");
  const auto run = testing_support::WaitForTool(pid);
  EXPECT_EQ(run.signal, 0);
  EXPECT_TRUE(run.finished);
  EXPECT_EQ(run.exit_code, 0);
}

}  // namespace
}  // namespace dumpscan
