// The console on Windows: a console window of the tool's own, or whatever
// the standard handles were redirected to. Text that the console cannot take
// goes out as UTF-16LE bytes, so redirected output is the same on every
// platform.

#include <windows.h>

#include <algorithm>
#include <array>
#include <string>

#include "console/console.h"
#include "console/line_input.h"

namespace dumpscan {

namespace {

constexpr DWORD kLineInputMode = ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT;
static_assert(kLineInputMode == 7);
constexpr DWORD kMaxConsoleUnits = 4096;

enum class OutputKind { kConsole, kConsoleOrDevice, kBytes };

struct ConsoleState {
  HANDLE input = nullptr;  // the standard handles: never closed here
  HANDLE output = nullptr;
  // Decided once: a console takes text, and anything else bytes, so no line
  // costs a call that is bound to fail. A character device that does not
  // answer as a console (a console handle opened for writing only, or NUL)
  // stays undecided until its first line: a console write that takes it
  // makes it a console, one that fails makes it a device for bytes.
  OutputKind output_kind = OutputKind::kBytes;
  bool output_on_disk = false;  // a file: flushed before each wait for input
  bool lock_ready = false;
  CRITICAL_SECTION input_lock;  // guards `pending`
  PendingInput pending;
  // The line being printed, with its line end; its storage is kept from one
  // line to the next, so printing a report allocates nothing per line.
  std::wstring line;
};

ConsoleState& Console() {
  static ConsoleState state;
  return state;
}

// Holds a critical section for the length of a scope.
class ScopedLock {
 public:
  explicit ScopedLock(CRITICAL_SECTION& lock) : lock_(lock) { EnterCriticalSection(&lock_); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;
  ~ScopedLock() { LeaveCriticalSection(&lock_); }

 private:
  CRITICAL_SECTION& lock_;
};

// Runs on a thread the system starts. Returning FALSE leaves every event to
// the default handling, which ends the process; nothing is released here,
// because the main thread may be using the very console and lock at that
// moment, and process exit frees them anyway.
BOOL WINAPI OnConsoleEvent(DWORD /*event*/) { return FALSE; }

InputRead ReadRawInput(std::span<std::byte> room) {
  const DWORD ask = room.size() > MAXDWORD ? MAXDWORD : static_cast<DWORD>(room.size());
  DWORD got = 0;
  if (ReadFile(Console().input, room.data(), ask, &got, nullptr)) {
    if (got == 0) return {0, InputStatus::kEnd};
    return {got, InputStatus::kData};
  }
  if (GetLastError() == ERROR_BROKEN_PIPE) return {0, InputStatus::kEnd};
  return {0, InputStatus::kError};
}

}  // namespace

bool OpenConsoleWindow(std::u16string_view title) {
  ConsoleState& console = Console();
  // Fails when a console is attached already; that one is then used.
  AllocConsole();
  console.input = GetStdHandle(STD_INPUT_HANDLE);
  console.output = GetStdHandle(STD_OUTPUT_HANDLE);
  // Every query of a console's state needs read access, so a console handle
  // opened for writing only fails it like a file would; only a write tells
  // such a handle from another character device.
  DWORD mode = 0;
  const DWORD type = GetFileType(console.output);
  if (GetConsoleMode(console.output, &mode)) {
    console.output_kind = OutputKind::kConsole;
  } else if (type == FILE_TYPE_CHAR) {
    console.output_kind = OutputKind::kConsoleOrDevice;
  } else {
    console.output_kind = OutputKind::kBytes;
  }
  console.output_on_disk = type == FILE_TYPE_DISK;
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  if (!title.empty()) {
    const std::wstring wide(title.begin(), title.end());
    SetConsoleTitleW(wide.c_str());
  }
  if (!console.lock_ready) {
    InitializeCriticalSection(&console.input_lock);
    console.lock_ready = true;
  }
  return true;
}

void PrintLine(std::u16string_view text) {
  ConsoleState& console = Console();
  std::wstring& line = console.line;
  line.resize(text.size() + 2);
  std::copy(text.begin(), text.end(), line.begin());
  line[text.size()] = L'\r';
  line[text.size() + 1] = L'\n';
  const auto units = static_cast<DWORD>(line.size());
  DWORD written = 0;
  if (console.output_kind != OutputKind::kBytes) {
    if (WriteConsoleW(console.output, line.data(), units, &written, nullptr)) {
      console.output_kind = OutputKind::kConsole;
      return;
    }
    // A console write that fails all the same still leaves the line as
    // bytes; a device that is no console gets bytes from now on.
    if (console.output_kind == OutputKind::kConsoleOrDevice)
      console.output_kind = OutputKind::kBytes;
  }
  WriteFile(console.output, line.data(), units * static_cast<DWORD>(sizeof(wchar_t)), &written,
            nullptr);
  // No flush here: a written line is visible to every reader already. On a
  // pipe a flush waits until the reader has taken everything, so a parent
  // that reads only after the tool has ended would wait forever; on a file
  // it is a write to the disk per line.
}

std::u16string ReadLine() {
  ConsoleState& console = Console();
  // Everything printed so far, the prompt included, reaches the disk before
  // the wait: a window closed at the prompt, Ctrl+C or a log-off ends the
  // process without coming back here. Once a wait, not once a line.
  if (console.output_on_disk) FlushFileBuffers(console.output);
  SetConsoleMode(console.input, kLineInputMode);
  std::array<wchar_t, kMaxConsoleUnits> buffer;
  DWORD count = 0;
  if (ReadConsoleW(console.input, buffer.data(), kMaxConsoleUnits, &count, nullptr)) {
    std::u16string line(buffer.begin(), buffer.begin() + count);
    if (line.size() >= 2 && line[line.size() - 2] == u'\r') line.resize(line.size() - 2);
    if (line == u"\x1A") return std::u16string(1, u'\x04');
    return line;
  }
  // Not a console: the input was redirected to a file or a pipe.
  if (!console.lock_ready) return {};
  const ScopedLock hold(console.input_lock);
  return ReadRedirectedLine(console.pending, ReadRawInput);
}

void CloseConsoleWindow() {
  ConsoleState& console = Console();
  FreeConsole();
  if (console.lock_ready) {
    DeleteCriticalSection(&console.input_lock);
    console.lock_ready = false;
  }
  console.pending = PendingInput{};
}

}  // namespace dumpscan
