#pragma once
// Which directory entries are dumps, and how their names are shown: POSIX
// names as raw bytes, Windows names as UTF-16.

#include <string>
#include <string_view>

namespace dumpscan {

/// True when the name ends in "." followed by "bin" in any letter case,
/// with any text, possibly none, before the point: ".bin" and "X.BIN"
/// match, "x.bin.txt" and "xbin" do not.
bool IsDumpName(std::string_view name);

/// The same test for a UTF-16 name. Windows wildcards also match a file's
/// short 8.3 alias ("data.binary" is found as DATA~1.BIN by "*.bin"), so the
/// long name found is checked again.
bool IsDumpName(std::u16string_view name);

/// The name as shown on a line: its bytes decoded as UTF-8 (an undecodable
/// sequence as U+FFFD) and every control character (U+0000-U+001F,
/// U+007F-U+009F) as U+FFFD, so no name can break a line or reach a
/// terminal as an escape sequence.
std::u16string DisplayName(std::string_view name);

/// The same for a UTF-16 name: each control character and each unpaired
/// surrogate as U+FFFD, so that the text is well-formed UTF-16. A file system
/// that Windows reaches need not forbid either in names.
std::u16string DisplayName(std::u16string_view name);

}  // namespace dumpscan
