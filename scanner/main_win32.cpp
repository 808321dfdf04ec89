// Entry point of the Windows program, a windowed program that opens its own
// console. Arguments and environment are not read: the tool always scans the
// directory it starts in.

#include <windows.h>

#include "scanner/scan.h"

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, PWSTR /*command_line*/,
                    int /*show*/) {
  return dumpscan::RunDumpscan();
}
