// Prints the stack-protector guard this process was given, in hexadecimal,
// so that a test can compare the guards of separate runs.

#include <windows.h>

#include <cstdint>
#include <cstdio>

// NOLINTNEXTLINE(bugprone-reserved-identifier): the name the compiler calls
extern "C" std::uintptr_t __stack_chk_guard;

int main() {
  std::printf("%016llx\n", static_cast<unsigned long long>(__stack_chk_guard));
  return 0;
}
