// The Windows program's stack-protector guard and failure routine
// (scanner/stack_guard_win32.cpp), which replace GCC's libssp.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "tests/run_tool_win32.h"

// NOLINTNEXTLINE(bugprone-reserved-identifier): the name the compiler calls
extern "C" std::uintptr_t __stack_chk_guard;

namespace {

// The stand-in value the guard holds while the C runtime starts.
constexpr std::uintptr_t kStandIn = 0x2B992DDFA2320000;

// The guard of a new process (tests/stack_guard_value_win32.cpp), or 0
// when it could not be had.
std::uintptr_t GuardOfANewProcess() {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inherit, 0)) return 0;
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  const std::wstring program = dumpscan::testing_support::WindowsPath(STACK_GUARD_VALUE_PROGRAM);
  std::wstring command_line = L"\"" + program + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = write_end;
  PROCESS_INFORMATION process{};
  const bool started = CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                                      0, nullptr, nullptr, &startup, &process);
  CloseHandle(write_end);
  std::string text;
  if (started) {
    char buffer[64];
    DWORD got = 0;
    while (ReadFile(read_end, buffer, sizeof buffer, &got, nullptr) && got > 0) {
      text.append(buffer, got);
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  CloseHandle(read_end);
  if (text.empty()) return 0;
  return static_cast<std::uintptr_t>(std::stoull(text, nullptr, 16));
}

// Writes `count` bytes into an 8-byte buffer on its own stack. Neither the
// count nor the target is known to the compiler (it would otherwise stop
// the loop at the buffer's end), so the overrun happens, and only the
// protector's check on return can notice it.
__attribute__((noinline)) void FillStackBuffer(std::size_t count) {
  char buffer[8];
  char* target = buffer;
  asm volatile("" : "+r"(target));
  const volatile std::size_t end = count;
  for (std::size_t k = 0; k < end; ++k) target[k] = 'x';
  asm volatile("" : : "r"(buffer) : "memory");
}

// A guard an attacker could know in advance protects nothing: every
// process draws its own, before any of its code runs.
TEST(StackGuard, EveryProcessIsSeededWithAGuardOfItsOwn) {
  const std::uintptr_t guards[] = {__stack_chk_guard, GuardOfANewProcess(), GuardOfANewProcess()};
  for (const std::uintptr_t guard : guards) {
    EXPECT_NE(guard, 0u) << "no guard, or none could be had";
    EXPECT_NE(guard, kStandIn) << "never seeded";
    EXPECT_EQ(guard & 0xFF, 0u) << "a string copy could write the guard " << std::hex << guard;
  }
  EXPECT_EQ(std::set<std::uintptr_t>(std::begin(guards), std::end(guards)).size(), 3u)
      << std::hex << guards[0] << " " << guards[1] << " " << guards[2];
}

TEST(StackGuardDeathTest, AnOverrunBufferEndsTheProcessBeforeItsFunctionReturns) {
  FillStackBuffer(8);  // in bounds: nothing happens
  EXPECT_EXIT(FillStackBuffer(64),
              ::testing::ExitedWithCode(static_cast<int>(STATUS_STACK_BUFFER_OVERRUN)), "");
}

}  // namespace
