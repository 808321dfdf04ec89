// The tool on a pseudo-terminal, as a person sees it: UTF-8 lines, the
// prompt, echoed typing, and the terminal's mode given back afterwards.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/dump_fixture.h"
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

  // Starts the tool in `directory` with this terminal as its controlling
  // terminal and all three standard streams.
  pid_t Start(const std::filesystem::path& directory) {
    const pid_t pid = fork();
    if (pid == 0) {
      setsid();
      const int fd = open(slave_name_.c_str(), O_RDWR);
      if (fd < 0 || chdir(directory.c_str()) != 0) _exit(126);
      for (int stream = 0; stream < 3; ++stream) dup2(fd, stream);
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

  // The screen without carriage returns, which the terminal adds freely.
  std::string Lines() const {
    std::string lines;
    for (const char c : screen_) if (c != '\r') lines += c;
    return lines;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slave_name_;
  std::string screen_;
};

TEST(TerminalTest, ShowsUtf8LinesEchoesTheTypedLineAndRestoresTheMode) {
  const testing_support::ScratchDirectory dir;
  fixture::WriteFile(dir.path() / std::filesystem::path(u8"\u00FCber.bin"),
                     fixture::MakeDump(fixture::EncodeRecordBlock(123456),
                                       fixture::EncodeCounterWord(12345600)));
  Terminal terminal;
  ASSERT_TRUE(terminal.ok());
  termios quiet = terminal.Mode();
  quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
  terminal.SetMode(quiet);

  const pid_t pid = terminal.Start(dir.path());
  ASSERT_TRUE(terminal.ReadUntil("Press ENTER"));
  ASSERT_TRUE(terminal.WaitForEcho());
  terminal.Type("typed words\r");
  EXPECT_TRUE(terminal.ReadUntil("typed words"));
  const auto run = testing_support::WaitForTool(pid);
  EXPECT_TRUE(run.finished);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(terminal.Lines(),
            "\xC3\xBC" "ber.bin\n"
            "0x774: 3C 48 F0 3E 3C 48 F0 3E 3C 48 F0 3E 3C 48 F0 3E 3C 48 F0 3E "
            "--> 123456 km --> CRC/Parity OK\n"
            "0x788: A0 BC 61 00 --> 123456.00 km  --> CRC OK\n"
            "\n"
            "Press ENTER\n"
            "typed words\n");
  EXPECT_EQ(terminal.Mode().c_lflag & ECHO, 0u) << "the terminal's mode was not restored";
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
  termios quiet = terminal.Mode();
  quiet.c_lflag &= static_cast<tcflag_t>(~(ECHO | ISIG));
  terminal.SetMode(quiet);
  const pid_t pid = terminal.Start(dir.path());
  ASSERT_TRUE(terminal.ReadUntil("Press ENTER"));
  ASSERT_TRUE(terminal.WaitForEcho());
  terminal.Type(std::string(1, static_cast<char>(terminal.Mode().c_cc[VINTR])));
  const auto run = testing_support::WaitForTool(pid);
  EXPECT_EQ(run.signal, SIGINT);
  EXPECT_EQ(terminal.Mode().c_lflag & (ECHO | ISIG), 0u) << "the terminal's mode was not restored";
}

}  // namespace
}  // namespace dumpscan
