// The yardstick of the console text test: a windowed program that opens a
// console, says so, and then waits without ever reading or handling an
// event. What Ctrl+C does to it is the platform's default handling, which
// must also be what Ctrl+C does to the tool.

#include <windows.h>

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*command_line*/,
                   int /*show*/) {
  AllocConsole();
  static const wchar_t kReady[] = L"ready\r\n";
  DWORD written = 0;
  WriteConsoleW(GetStdHandle(STD_OUTPUT_HANDLE), kReady, ARRAYSIZE(kReady) - 1, &written, nullptr);
  Sleep(INFINITE);
  return 0;
}
