#pragma once
// Conversions between the tool's UTF-16 text and the UTF-8 bytes of POSIX
// names and terminals. Plain text, no platform: part of the engine, and the
// one piece of it the console uses too.

#include <string>
#include <string_view>

namespace dumpscan {

inline constexpr char16_t kReplacementCharacter = u'\uFFFD';

/// UTF-16 text of UTF-8 bytes; each maximal ill-formed subsequence becomes
/// one U+FFFD, so any byte string converts.
std::u16string Utf8ToUtf16(std::string_view bytes);

/// UTF-8 bytes of UTF-16 text; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

/// Stores the UTF-16LE bytes of `text` (2 per unit) at `out`; returns the
/// end of what it stored.
char* StoreUtf16Le(std::u16string_view text, char* out);

/// Appends the UTF-16LE bytes of `text` (no byte-order mark) to `out`.
void AppendUtf16Le(std::u16string_view text, std::string& out);

}  // namespace dumpscan
