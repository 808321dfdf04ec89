#include "scanner/dump_name.h"

#include "console/utf.h"

namespace dumpscan {

bool IsDumpName(std::string_view name) {
  if (name.size() < 4) return false;
  const std::string_view tail = name.substr(name.size() - 4);
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  return tail[0] == '.' && lower(tail[1]) == 'b' && lower(tail[2]) == 'i' &&
         lower(tail[3]) == 'n';
}

std::u16string DisplayName(std::string_view name) {
  std::u16string text = Utf8ToUtf16(name);
  for (char16_t& unit : text) {
    if (unit < 0x20 || (unit >= 0x7F && unit <= 0x9F)) unit = kReplacementCharacter;
  }
  return text;
}

}  // namespace dumpscan
