#include "engine/utf.h"

#include <bit>
#include <cstdint>
#include <cstring>

namespace dumpscan {

namespace {

void AppendCodePoint(char32_t cp, std::u16string& out) {
  if (cp < 0x10000) {
    out += static_cast<char16_t>(cp);
  } else {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  }
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<std::uint8_t>(bytes[i]);
    if (lead < 0x80) {
      out += lead;
      ++i;
      continue;
    }
    // Sequence length and the allowed range of the second byte, which
    // excludes overlongs, surrogates and values past U+10FFFF.
    std::size_t length = 0;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    char32_t cp = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      cp = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      cp = lead & 0x0Fu;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      cp = lead & 0x07u;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    }
    std::size_t taken = 1;
    bool complete = length != 0;
    while (complete && taken < length) {
      if (i + taken >= bytes.size()) {
        complete = false;
        break;
      }
      const auto next = static_cast<std::uint8_t>(bytes[i + taken]);
      const std::uint8_t lo = taken == 1 ? low : 0x80;
      const std::uint8_t hi = taken == 1 ? high : 0xBF;
      if (next < lo || next > hi) {
        complete = false;
        break;
      }
      cp = (cp << 6) | (next & 0x3Fu);
      ++taken;
    }
    if (complete) {
      AppendCodePoint(cp, out);
    } else {
      out += kReplacementCharacter;
    }
    i += taken;
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = kReplacementCharacter;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

char* StoreUtf16Le(std::u16string_view text, char* out) {
  // Little-endian machines hold UTF-16LE in memory as it is.
  if constexpr (std::endian::native == std::endian::little) {
    if (!text.empty()) std::memcpy(out, text.data(), 2 * text.size());
    return out + 2 * text.size();
  } else {
    for (const char16_t unit : text) {
      *out++ = static_cast<char>(unit & 0xFF);
      *out++ = static_cast<char>(unit >> 8);
    }
    return out;
  }
}

void AppendUtf16Le(std::u16string_view text, std::string& out) {
  const std::size_t at = out.size();
  out.resize(at + 2 * text.size());
  StoreUtf16Le(text, out.data() + at);
}

}  // namespace dumpscan
