// The Windows program as a person sees it. Started with no handles handed
// down, it opens a console window of its own; this test attaches to that
// console, reads the screen back as text and types into it as a keyboard
// does. The test program is windowed itself: one with a console would hand
// that console down, and the tool would find it open instead of making its
// own.
//
// Under Wine it runs through console-text-win32.sh, which gives it a screen
// to draw on and a console buffer wider than the longest report line.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/dump_fixture.h"
#include "tests/end_to_end_support.h"
#include "tests/run_tool_win32.h"

namespace dumpscan {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::ExpectedDumps;
using testing_support::kExampleReadings;
using testing_support::OwnedHandle;
using testing_support::ScratchDirectory;

// How long anything the program should do by itself may take.
constexpr auto kPatience = std::chrono::milliseconds(20s);
// How long a program that should keep waiting is watched.
constexpr auto kWatch = std::chrono::milliseconds(500ms);

// Polls `done` until it holds or `limit` passes; says whether it held.
template <typename Condition>
bool Eventually(Condition done, std::chrono::milliseconds limit = kPatience) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

std::u16string ToU16(std::wstring_view text) { return {text.begin(), text.end()}; }

std::string ToUtf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), size,
                      nullptr, nullptr);
  return utf8;
}

// The screen for a failure message, one row a line.
std::string Shown(const std::vector<std::wstring>& rows) {
  std::string text = "the screen:\n";
  for (const std::wstring& row : rows) text += "| " + ToUtf8(row) + "\n";
  return text;
}

// One key as the keyboard delivers it.
struct Key {
  wchar_t character;
  WORD virtual_key;
  DWORD modifiers;
};
constexpr Key kEnter{L'\r', VK_RETURN, 0};
constexpr Key kCtrlZ{0x1A, 'Z', LEFT_CTRL_PRESSED};
// Typed rather than sent with GenerateConsoleCtrlEvent: Wine's console
// raises the event for a typed Ctrl+C only while processed input is on,
// which the tool must set. (Whether a written key record raises it on
// Windows too has not been tried.)
constexpr Key kCtrlC{0x03, 'C', LEFT_CTRL_PRESSED};

// The keys that type `text`.
std::vector<Key> Keys(std::wstring_view text) {
  std::vector<Key> keys;
  for (const wchar_t c : text) {
    const SHORT scan = VkKeyScanW(c);
    keys.push_back({c, scan == -1 ? WORD{0} : static_cast<WORD>(scan & 0xFF), 0});
  }
  return keys;
}

// Every row of the screen buffer behind `screen` (opened for reading) up to
// the cursor's, without the blanks that pad it.
std::vector<std::wstring> ScreenRows(HANDLE screen) {
  std::vector<std::wstring> rows;
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(screen, &info)) return rows;
  for (SHORT y = 0; y <= info.dwCursorPosition.Y; ++y) {
    std::wstring row(static_cast<std::size_t>(info.dwSize.X), L' ');
    DWORD got = 0;
    ReadConsoleOutputCharacterW(screen, row.data(), static_cast<DWORD>(row.size()), COORD{0, y},
                                &got);
    row.resize(got);
    row.erase(row.find_last_not_of(L' ') + 1);
    rows.push_back(std::move(row));
  }
  return rows;
}

// A program started in a directory as a person starts it: no handles handed
// down and no console of ours. While this object lives, this process is
// attached to the console the program opens (a process has at most one).
class ConsoleProgram {
 public:
  ConsoleProgram(const std::wstring& program, const fs::path& directory) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    std::wstring command_line = L"\"" + program + L"\"";
    if (!CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        directory.c_str(), &startup, &process_)) {
      return;
    }
    started_ = true;
    // The console can be joined once the program has opened it.
    Eventually([this] {
      attached_ = AttachConsole(process_.dwProcessId) != 0;
      return attached_ || !Running();
    });
    if (!attached_) return;
    input_ = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    output_ = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  }
  ConsoleProgram(const ConsoleProgram&) = delete;
  ConsoleProgram& operator=(const ConsoleProgram&) = delete;
  ~ConsoleProgram() {
    if (input_ != INVALID_HANDLE_VALUE) CloseHandle(input_);
    if (output_ != INVALID_HANDLE_VALUE) CloseHandle(output_);
    if (attached_) FreeConsole();
    if (!started_) return;
    if (Running()) {
      TerminateProcess(process_.hProcess, 1);
      WaitForSingleObject(process_.hProcess, INFINITE);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }

  /// Started, and its console joined and opened for reading and typing.
  bool ready() const {
    return attached_ && input_ != INVALID_HANDLE_VALUE && output_ != INVALID_HANDLE_VALUE;
  }

  bool Running() const { return WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT; }

  /// The exit code once the program has ended, waiting up to `limit`.
  std::optional<DWORD> ExitCode(std::chrono::milliseconds limit = kPatience) const {
    if (WaitForSingleObject(process_.hProcess, static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0)
      return std::nullopt;
    DWORD code = 0;
    if (!GetExitCodeProcess(process_.hProcess, &code)) return std::nullopt;
    return code;
  }

  /// The size of the screen buffer in characters: columns, rows.
  COORD BufferSize() const {
    CONSOLE_SCREEN_BUFFER_INFO info;
    return GetConsoleScreenBufferInfo(output_, &info) ? info.dwSize : COORD{0, 0};
  }

  /// Every row of the screen buffer up to the cursor's (ScreenRows).
  std::vector<std::wstring> Rows() const { return ScreenRows(output_); }

  /// The index of the first row that reads exactly `text`, once one does;
  /// none when the program ends or kPatience passes first.
  std::optional<std::size_t> AwaitRow(std::wstring_view text) const {
    std::optional<std::size_t> found;
    Eventually([&] {
      const std::vector<std::wstring> rows = Rows();
      for (std::size_t k = 0; k < rows.size(); ++k) {
        if (rows[k] == text) found = k;
        if (found) break;
      }
      return found.has_value() || !Running();
    });
    return found;
  }

  /// The title of the console joined: the one this process is attached to.
  static std::wstring Title() {
    std::wstring title(1024, L'\0');
    title.resize(GetConsoleTitleW(title.data(), static_cast<DWORD>(title.size())));
    return title;
  }

  /// Presses each key in turn: a key-down and a key-up record each, written
  /// to the console's input as the keyboard would.
  void Press(const std::vector<Key>& keys) const {
    std::vector<INPUT_RECORD> records;
    for (const Key& key : keys) {
      for (const BOOL down : {TRUE, FALSE}) {
        INPUT_RECORD record{};
        record.EventType = KEY_EVENT;
        record.Event.KeyEvent.bKeyDown = down;
        record.Event.KeyEvent.wRepeatCount = 1;
        record.Event.KeyEvent.wVirtualKeyCode = key.virtual_key;
        record.Event.KeyEvent.uChar.UnicodeChar = key.character;
        record.Event.KeyEvent.dwControlKeyState = key.modifiers;
        records.push_back(record);
      }
    }
    DWORD written = 0;
    WriteConsoleInputW(input_, records.data(), static_cast<DWORD>(records.size()), &written);
  }

 private:
  PROCESS_INFORMATION process_{};
  bool started_ = false;
  bool attached_ = false;
  HANDLE input_ = INVALID_HANDLE_VALUE;
  HANDLE output_ = INVALID_HANDLE_VALUE;
};

// Ctrl+C reaches every program attached to the console, this one too; it
// must not end it. A handler, unlike the ignore flag that
// SetConsoleCtrlHandler(nullptr, TRUE) sets, is not handed down to the
// programs started from here.
BOOL WINAPI KeepRunning(DWORD /*event*/) { return TRUE; }

// Rows joined into the bytes the same lines make when redirected: what
// the redirected end-to-end tests compare.
std::string AsRedirectedOutput(const std::vector<std::wstring>& rows) {
  std::string bytes;
  for (const std::wstring& row : rows) bytes += fixture::Utf16LeLines({ToU16(row)});
  return bytes;
}

// Everything shown after the row `prompt`, rows joined: wrapped echo reads
// as the one line that was typed.
std::wstring TextAfter(const std::vector<std::wstring>& rows, std::size_t prompt) {
  std::wstring text;
  for (std::size_t k = prompt + 1; k < rows.size(); ++k) text += rows[k];
  return text;
}

class ConsoleTextWin32Test : public testing::Test {
 protected:
  static void SetUpTestSuite() { SetConsoleCtrlHandler(KeepRunning, TRUE); }

  ConsoleTextWin32Test() {
    const std::vector<std::uint8_t> dump = testing_support::ExampleDump();
    fixture::WriteFile(dir_.path() / "a.bin", dump);
    fixture::WriteFile(dir_.path() / u"Ωμέγα.bin", dump);
    // Long enough for the record block, too short for the counter word.
    fixture::WriteFile(dir_.path() / "short.bin", testing_support::ExampleDump(1930));
  }

  const ExpectedDumps dumps_ = {{u"a.bin", kExampleReadings},
                                {u"Ωμέγα.bin", kExampleReadings},
                                {u"short.bin", {kExampleReadings[0]}}};
  const ScratchDirectory dir_;
};

// Waits for the program's prompt and checks what a person sees there: the
// report as exact lines, the console's title as the platform gave it, and
// the program still waiting. `shown` receives the rows up to the prompt.
void ExpectWaitingAtThePrompt(const ConsoleProgram& tool, const ExpectedDumps& dumps,
                              const std::wstring& default_title, std::vector<std::wstring>& shown) {
  ASSERT_TRUE(tool.ready()) << "no console to attach to";
  // Narrower rows would wrap report lines; fewer would scroll them away.
  const COORD size = tool.BufferSize();
  ASSERT_TRUE(size.X >= 100 && size.Y >= 100)
      << "console buffer " << size.X << "x" << size.Y
      << ": widen it through HKCU\\Console ScreenBufferSize";
  const std::optional<std::size_t> prompt = tool.AwaitRow(L"Press ENTER");
  ASSERT_TRUE(prompt.has_value()) << "no prompt; " << Shown(tool.Rows());
  shown = tool.Rows();
  shown.resize(*prompt + 1);
  const std::string text = AsRedirectedOutput(shown);
  EXPECT_EQ(text, testing_support::ExpectedOutput(dumps, text)) << Shown(shown);
  EXPECT_EQ(ToUtf8(ConsoleProgram::Title()), ToUtf8(default_title));
  std::this_thread::sleep_for(kWatch);
  EXPECT_TRUE(tool.Running()) << "ended without input";
  EXPECT_EQ(TextAfter(tool.Rows(), *prompt), L"") << "wrote more after the prompt";
}

// What the platform does for a console nobody configures: the title it
// gives a console opened by `program`, and the exit code its default
// handling of Ctrl+C gives a program that never handles it. Learnt from a
// program that opens a console and waits without reading.
struct PlatformDefaults {
  std::wstring title;
  DWORD ctrl_c_exit_code = 0;
};

void LearnPlatformDefaults(const fs::path& directory, const std::wstring& program,
                           PlatformDefaults& defaults) {
  const std::wstring idle_path = testing_support::WindowsPath(CONSOLE_IDLE_PROGRAM);
  const ConsoleProgram idle(idle_path, directory);
  ASSERT_TRUE(idle.ready()) << "no console to attach to";
  ASSERT_TRUE(idle.AwaitRow(L"ready").has_value()) << Shown(idle.Rows());
  // The platform names a console after the program that opened it.
  std::wstring title = ConsoleProgram::Title();
  const std::size_t at = title.find(idle_path);
  ASSERT_NE(at, std::wstring::npos)
      << "a default title without the program's path: " << ToUtf8(title);
  defaults.title = title.replace(at, idle_path.size(), program);
  idle.Press({kCtrlC});
  const std::optional<DWORD> code = idle.ExitCode();
  ASSERT_TRUE(code.has_value()) << "Ctrl+C did not end a program that waits";
  defaults.ctrl_c_exit_code = *code;
}

std::string Hex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%lX", static_cast<unsigned long>(value));
  return text;
}

TEST_F(ConsoleTextWin32Test, ShowsTheReportAndEndsTheWaitEachWayAPersonCan) {
  const std::wstring tool_path = testing_support::ToolPath();
  PlatformDefaults defaults;
  ASSERT_NO_FATAL_FAILURE(LearnPlatformDefaults(dir_.path(), tool_path, defaults));
  std::cout << "default console title: " << ToUtf8(defaults.title)
            << "\nexit code after Ctrl+C by default: " << Hex(defaults.ctrl_c_exit_code) << "\n";

  std::wstring long_line;
  for (int k = 0; k < 5000; ++k) long_line += static_cast<wchar_t>(L'a' + k % 26);
  const struct {
    const char* what;
    std::vector<Key> typed;  // keys that leave the program waiting
    std::wstring echo;       // what they show after the prompt
    Key ending;              // the key that ends the wait
    DWORD exit_code;
  } cases[] = {
      {"a line, Enter", Keys(L"done reading"), L"done reading", kEnter, 0},
      {"Enter alone", {}, L"", kEnter, 0},
      {"Ctrl+Z, Enter", {kCtrlZ}, L"^Z", kEnter, 0},
      {"a 5,000-character line, Enter", Keys(long_line), long_line, kEnter, 0},
      {"Ctrl+C", {}, L"", kCtrlC, defaults.ctrl_c_exit_code},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto started = std::chrono::steady_clock::now();
    const ConsoleProgram tool(tool_path, dir_.path());
    std::vector<std::wstring> shown;
    ASSERT_NO_FATAL_FAILURE(ExpectWaitingAtThePrompt(tool, dumps_, defaults.title, shown));
    const std::size_t prompt = shown.size() - 1;
    if (!c.typed.empty()) {
      tool.Press(c.typed);
      EXPECT_TRUE(Eventually([&] { return TextAfter(tool.Rows(), prompt) == c.echo; }))
          << "typed text not echoed; " << Shown(tool.Rows());
      std::this_thread::sleep_for(kWatch);
      EXPECT_TRUE(tool.Running()) << "ended before the last key";
    }
    tool.Press({c.ending});
    const std::optional<DWORD> code = tool.ExitCode();
    ASSERT_TRUE(code.has_value()) << "still waiting";
    EXPECT_EQ(Hex(*code), Hex(c.exit_code));
    // The report stays as it was, and nothing follows but the echo.
    std::vector<std::wstring> rows = tool.Rows();
    EXPECT_EQ(TextAfter(rows, prompt), c.echo) << Shown(rows);
    rows.resize(shown.size());
    EXPECT_EQ(rows, shown) << Shown(rows);
    std::cout << c.what << ": exit code " << Hex(*code) << " after "
              << std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now() - started)
                     .count()
              << " ms\n";
  }
}

// Wine's ntdll exports its version; Windows' does not.
bool RunsUnderWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// A console handed down as standard output, opened for writing only (as a
// program may open CONOUT$ to write to it): every query of the console's
// state needs read access and fails on it, yet it takes console text. The
// report must arrive there as characters: as UTF-16LE bytes, a console shows
// a NUL between every two of them.
TEST_F(ConsoleTextWin32Test, AConsoleHandedDownForWritingOnlyGetsTheReportAsText) {
  ASSERT_TRUE(AllocConsole()) << "this test program has a console already";
  struct Detach {
    ~Detach() { FreeConsole(); }
  } detach;
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const OwnedHandle write_only(CreateFileW(L"CONOUT$", GENERIC_WRITE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                           OPEN_EXISTING, 0, nullptr));
  const OwnedHandle screen(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                       0, nullptr));
  const OwnedHandle no_input(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         &inherit, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(write_only.valid() && screen.valid() && no_input.valid());
  // The case this test is about: the handle refuses the console's state.
  // Windows refuses it; Wine may not check the handle's access.
  DWORD mode = 0;
  const bool queried = GetConsoleMode(write_only.get(), &mode) != 0;
  if (queried && RunsUnderWine()) {
    GTEST_SKIP() << "Wine gives the console mode through a console handle opened for writing "
                    "only: the handle this test needs cannot be made here";
  }
  ASSERT_FALSE(queried) << "GetConsoleMode answered through a handle opened for writing only";

  const testing_support::ToolRun run =
      testing_support::RunToolWithHandles(dir_.path(), no_input.get(), write_only.get());
  ASSERT_TRUE(run.finished) << "still waiting with empty input";
  EXPECT_EQ(run.exit_code, 0);
  std::vector<std::wstring> rows = ScreenRows(screen.get());
  // The cursor's row, after the prompt's line break, is empty.
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows.back(), L"") << Shown(rows);
  rows.pop_back();
  const std::string text = AsRedirectedOutput(rows);
  EXPECT_EQ(text, testing_support::ExpectedOutput(dumps_, text)) << Shown(rows);
}

}  // namespace
}  // namespace dumpscan

int main(int argc, char** argv) {
  // Unbuffered, so that what was printed survives a run that is cut short.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
