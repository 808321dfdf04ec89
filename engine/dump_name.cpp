#include "engine/dump_name.h"

#include "engine/utf.h"

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
  auto is_high = [](char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; };
  auto is_low = [](char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; };
  for (std::size_t k = 0; k < text.size(); ++k) {
    char16_t& unit = text[k];
    if (is_high(unit) && k + 1 < text.size() && is_low(text[k + 1])) {
      ++k;  // a surrogate pair: one character, kept
      continue;
    }
    const bool control = unit < 0x20 || (unit >= 0x7F && unit <= 0x9F);
    if (control || is_high(unit) || is_low(unit)) unit = kReplacementCharacter;
  }
  return text;
}

}  // namespace dumpscan
