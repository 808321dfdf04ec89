// The console on POSIX: the terminal or the streams the tool was started
// with. A terminal gets UTF-8 characters; anything else gets the same
// UTF-16LE bytes the Windows program writes, so redirected runs compare
// byte for byte across platforms.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <string>
#include <string_view>

#include "console/console.h"
#include "console/line_input.h"
#include "console/stream_wait_posix.h"
#include "engine/utf.h"

namespace dumpscan {

namespace {

struct ConsoleState {
  bool output_is_terminal = false;
  bool input_is_terminal = false;
  std::mutex input_lock;  // guards `pending`
  PendingInput pending;
};

ConsoleState& Console() {
  static ConsoleState state;
  return state;
}

// A closed standard stream would otherwise be handed out again by the next
// open, and a dump could end up where the lines go.
void ReserveStandardStream(int fd) {
  if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) return;
  const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null_fd >= 0 && null_fd != fd) {
    dup2(null_fd, fd);
    close(null_fd);
  }
}

// A stream the tool was handed in non-blocking mode (the mode belongs to the
// open stream, which the parent may share and expect back) answers EAGAIN
// instead of waiting: the reads and writes below wait for it instead
// (WaitUntilReady), which keeps the run the same whatever the mode: no byte
// dropped, no read cut short.
bool WouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

void WriteAll(int fd, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && WouldBlock(errno) && WaitUntilReady(fd, POLLOUT, poll)) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

// One read of the input that waits for bytes whatever the stream's mode.
ssize_t ReadWaiting(int fd, void* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = read(fd, buffer, size);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (WouldBlock(errno) && WaitUntilReady(fd, POLLIN, poll)) continue;
    return n;
  }
}

// The terminal's mode from before the prompt, for the signal handler below.
termios g_saved_mode;
volatile sig_atomic_t g_mode_changed = 0;

// Ctrl+C, Ctrl+\, a closed terminal or a kill still end the run the default
// way, but not before the terminal has its own mode back.
void RestoreModeAndDie(int signal_number) {
  if (g_mode_changed) tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_mode);
  ::signal(signal_number, SIG_DFL);
  raise(signal_number);
}

constexpr int kEndingSignals[] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM};

std::u16string ReadTerminalLine() {
  if (tcgetattr(STDIN_FILENO, &g_saved_mode) == 0) {
    termios line_mode = g_saved_mode;
    line_mode.c_lflag |= ICANON | ECHO | ISIG;
    line_mode.c_iflag |= ICRNL;
    for (const int signal_number : kEndingSignals) {
      struct sigaction action {};
      struct sigaction previous {};
      action.sa_handler = RestoreModeAndDie;
      sigemptyset(&action.sa_mask);
      // A signal the caller chose to ignore stays ignored.
      if (sigaction(signal_number, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN) {
        sigaction(signal_number, &action, nullptr);
      }
    }
    g_mode_changed = 1;
    tcsetattr(STDIN_FILENO, TCSANOW, &line_mode);
  }
  char buffer[4096];
  const ssize_t n = ReadWaiting(STDIN_FILENO, buffer, sizeof buffer);
  if (g_mode_changed) {
    tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_mode);
    g_mode_changed = 0;
  }

  if (n == 0) return std::u16string(1, u'\x04');
  if (n < 0) return {};
  std::string_view text(buffer, static_cast<std::size_t>(n));
  if (text.ends_with('\n')) text.remove_suffix(1);
  if (text.ends_with('\r')) text.remove_suffix(1);
  return Utf8ToUtf16(text);
}

InputRead ReadRawInput(std::span<std::byte> room) {
  const ssize_t n = ReadWaiting(STDIN_FILENO, room.data(), room.size());
  if (n > 0) return {static_cast<std::size_t>(n), InputStatus::kData};
  if (n == 0) return {0, InputStatus::kEnd};
  return {0, InputStatus::kError};
}

}  // namespace

bool WaitUntilReady(int fd, short events, PollCall poll_call) {
  pollfd ready{fd, events, 0};
  for (;;) {
    const int n = poll_call(&ready, 1, -1);
    if (n > 0) return (ready.revents & (POLLNVAL | POLLERR)) == 0;
    if (n < 0 && errno != EINTR) return false;
  }
}

bool OpenConsoleWindow(std::u16string_view /*title*/) {
  // A terminal keeps its own title; there is no window to name.
  for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) ReserveStandardStream(fd);
  // A reader that goes away must not end the run: writes just fail.
  signal(SIGPIPE, SIG_IGN);
  ConsoleState& console = Console();
  console.output_is_terminal = isatty(STDOUT_FILENO) == 1;
  console.input_is_terminal = isatty(STDIN_FILENO) == 1;
  return true;
}

void PrintLine(std::u16string_view text) {
  static constexpr std::u16string_view kLineEnd = u"\r\n";
  if (Console().output_is_terminal) {
    std::string bytes = Utf16ToUtf8(text);
    bytes += "\r\n";
    WriteAll(STDOUT_FILENO, bytes);
    return;
  }
  // Redirected runs print up to four lines per dump, and every usual line
  // (a name is at most 255 bytes) fits the stack: no heap traffic per line.
  constexpr std::size_t kStackUnits = 512;
  if (text.size() + kLineEnd.size() <= kStackUnits) {
    char buffer[2 * kStackUnits];
    char* end = StoreUtf16Le(kLineEnd, StoreUtf16Le(text, buffer));
    WriteAll(STDOUT_FILENO, std::string_view(buffer, static_cast<std::size_t>(end - buffer)));
    return;
  }
  std::string bytes;
  bytes.reserve(2 * (text.size() + kLineEnd.size()));
  AppendUtf16Le(text, bytes);
  AppendUtf16Le(kLineEnd, bytes);
  WriteAll(STDOUT_FILENO, bytes);
}

std::u16string ReadLine() {
  ConsoleState& console = Console();
  if (console.input_is_terminal) return ReadTerminalLine();
  const std::lock_guard<std::mutex> hold(console.input_lock);
  return ReadRedirectedLine(console.pending, ReadRawInput);
}

void CloseConsoleWindow() {
  // The terminal outlives the run; only leftover input is dropped.
  ConsoleState& console = Console();
  const std::lock_guard<std::mutex> hold(console.input_lock);
  console.pending = PendingInput{};
}

}  // namespace dumpscan
