// Never built with the rest: the test windows_7_interfaces_only builds it
// and expects the compiler to refuse it, because the interface it calls
// came with Windows 8 and the build declares only Windows 7's.

#include <windows.h>

int main() {
  const HANDLE file = CreateFile2(L"a.bin", GENERIC_READ, 0, OPEN_EXISTING, nullptr);
  return file == INVALID_HANDLE_VALUE ? 1 : 0;
}
