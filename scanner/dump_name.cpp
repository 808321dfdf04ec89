#include "scanner/dump_name.h"

#include "console/utf.h"

namespace dumpscan {

namespace {

// Letters of any width: only ASCII letters fold, so no locale takes part.
template <typename Char>
bool EndsInPointBin(std::basic_string_view<Char> name) {
  if (name.size() < 4) return false;
  const auto tail = name.substr(name.size() - 4);
  auto lower = [](Char c) {
    return (c >= Char('A') && c <= Char('Z')) ? static_cast<Char>(c - Char('A') + Char('a')) : c;
  };
  return tail[0] == Char('.') && lower(tail[1]) == Char('b') && lower(tail[2]) == Char('i') &&
         lower(tail[3]) == Char('n');
}

}  // namespace

bool IsDumpName(std::string_view name) { return EndsInPointBin(name); }

bool IsDumpName(std::u16string_view name) { return EndsInPointBin(name); }

std::u16string DisplayName(std::string_view name) { return DisplayName(Utf8ToUtf16(name)); }

std::u16string DisplayName(std::u16string_view name) {
  std::u16string text(name);
  for (std::size_t k = 0; k < text.size(); ++k) {
    char16_t& unit = text[k];
    if (unit < 0x20 || (unit >= 0x7F && unit <= 0x9F)) {
      unit = kReplacementCharacter;
    } else if (unit >= 0xD800 && unit <= 0xDBFF && k + 1 < text.size() && text[k + 1] >= 0xDC00 &&
               text[k + 1] <= 0xDFFF) {
      ++k;  // a surrogate pair: one character, kept
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      unit = kReplacementCharacter;
    }
  }
  return text;
}

}  // namespace dumpscan
