// The Windows program's stack-protector guard and failure routine
// (scanner/stack_guard_win32.cpp), which replace GCC's libssp.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstddef>
#include <cstdint>

extern "C" std::uintptr_t __stack_chk_guard;

namespace {

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

TEST(StackGuard, IsSeededBeforeTheProgramRuns) {
  // The stand-in value the guard holds while the C runtime starts.
  EXPECT_NE(__stack_chk_guard, std::uintptr_t{0x2B992DDFA2320000});
  EXPECT_EQ(__stack_chk_guard & 0xFF, 0u) << "a string copy could write the guard";
  EXPECT_NE(__stack_chk_guard >> 8, 0u);
}

TEST(StackGuardDeathTest, AnOverrunBufferEndsTheProcessBeforeItsFunctionReturns) {
  FillStackBuffer(8);  // in bounds: nothing happens
  EXPECT_EXIT(FillStackBuffer(64),
              ::testing::ExitedWithCode(static_cast<int>(STATUS_STACK_BUFFER_OVERRUN)), "");
}

}  // namespace
