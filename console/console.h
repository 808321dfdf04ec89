#pragma once
// The tool's console: opened once for the run, written a whole line at a
// time, read once. One implementation per platform (console_posix.cpp,
// console_win32.cpp).

#include <string>
#include <string_view>

namespace dumpscan {

/// Opens the console for the run (on Windows a new console window, titled
/// `title` when one is given; on POSIX the terminal or streams the tool was
/// started with). Always reports success.
bool OpenConsoleWindow(std::u16string_view title = {});

/// Writes text and CR LF in one write. A console or terminal gets characters;
/// anything else gets UTF-16LE bytes without a byte-order mark. Waits while
/// the output cannot take more, also when it is in non-blocking mode, so no
/// byte is dropped; failures are ignored. Which of the two the output gets
/// is decided when the console is opened, on Windows by the first line for a
/// character device that does not answer as a console (a console handle
/// opened for writing only, NUL); on Windows a console write that fails is
/// made again as bytes.
void PrintLine(std::u16string_view text);

/// Waits for one line of input (also when the input is in non-blocking mode)
/// and returns it without its line break; the single character U+0004 when
/// the input ended before anything arrived. Output redirected to a file on
/// Windows is flushed to the disk first, so what was printed survives a run
/// that ends during the wait; lines themselves are never flushed.
std::u16string ReadLine();

/// Closes the console.
void CloseConsoleWindow();

}  // namespace dumpscan
