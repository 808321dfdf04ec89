// The stack protector's guard value and failure routine for the Windows
// program. Code built with -fstack-protector-strong compares
// __stack_chk_guard on return from every function that holds a buffer and
// calls __stack_chk_fail when the copy on the stack was overwritten.
// GCC's own support library would draw the guard from CryptGenRandom,
// which brings ADVAPI32.dll into the import table; this one keeps the
// program's imports to KERNEL32 and the C runtime.

#include <windows.h>

#include <cstdint>

extern "C" {

// Replaced before any of the program's own code runs (below); this value
// only stands in while the C runtime starts.
// NOLINTNEXTLINE(bugprone-reserved-identifier): the name the compiler calls
std::uintptr_t __stack_chk_guard = 0x2B992DDFA2320000;

// A buffer on the stack was overrun: the process ends at once, with the
// code Windows uses for this, and no more of its code runs.
// NOLINTNEXTLINE(bugprone-reserved-identifier): the name the compiler calls
[[noreturn]] void __stack_chk_fail() {
  TerminateProcess(GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
  __builtin_trap();
}

}  // extern "C"

namespace {

// Seeds the guard the way the Windows C runtime seeds its own stack cookie:
// the time, the process and thread ids, the performance counter and an
// address the loader placed at random. It runs as a constructor, from the
// C runtime's start-up code, which has no guarded frame that could be
// active across the change; nothing of the program's own is on the stack.
// Its low byte stays zero, so a string copy cannot write the guard's value.
__attribute__((constructor(101), no_stack_protector)) void SeedStackGuard() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  std::uint64_t seed = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  seed ^= static_cast<std::uint64_t>(GetCurrentProcessId()) << 32;
  seed ^= GetCurrentThreadId();
  seed ^= static_cast<std::uint64_t>(counter.QuadPart) << 17;
  seed ^= GetTickCount64() << 43;
  seed ^= reinterpret_cast<std::uintptr_t>(&counter);
  // One round of a 64-bit mixer spreads every input bit over the whole word.
  seed ^= seed >> 33;
  seed *= 0xFF51AFD7ED558CCDull;
  seed ^= seed >> 33;
  __stack_chk_guard = static_cast<std::uintptr_t>(seed) & ~std::uintptr_t{0xFF};
}

}  // namespace
