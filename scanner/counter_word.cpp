#include "scanner/counter_word.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "scanner/record_block.h"

namespace dumpscan {

std::int32_t DecodeCounterWord(std::span<const std::uint8_t, kCounterWordSize> block) {
  const std::uint32_t word = (std::uint32_t{block[0]} << 24) | (std::uint32_t{block[1]} << 16) |
                             (std::uint32_t{block[2]} << 8) | block[3];
  const std::uint32_t count = word & 0x0FFFFFFFu;
  if (NibbleChecksum(count, 7) != (word >> 28)) return -1;
  return static_cast<std::int32_t>(count);
}

float CounterKilometres(std::uint32_t count) {
  // A 28-bit count does not fit a float's mantissa, so the division runs in
  // double (exact enough that the one rounding to float is the only one).
  return static_cast<float>(static_cast<double>(count) / 100.0);
}

std::u16string DescribeCounterWord(std::span<const std::uint8_t, kCounterWordSize> block) {
  std::u16string text = FormatByteDump(block);
  const std::int32_t count = DecodeCounterWord(block);
  if (count < 0) {
    text += kCheckErrorVerdict;
  } else {
    text += u"--> ";
    text += FormatFixed(CounterKilometres(static_cast<std::uint32_t>(count)), 2);
    text += u" km  --> CRC OK";
  }
  return text;
}

namespace {

std::u16string Widen(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// Exact digits of |x| rounded at `decimals`, ties away from zero. A float's
// full expansion has at most 149 fractional digits, so printing one digit
// past the cut (and at least 150) gives the exact value, and rounding the
// text is exact too.
std::string RoundedDigits(double magnitude, int decimals) {
  constexpr int kFloatDigits = 150;
  const int precision = std::max(decimals + 1, kFloatDigits);
  std::string text(static_cast<std::size_t>(precision) + 64, '\0');
  const auto result = std::to_chars(text.data(), text.data() + text.size(), magnitude,
                                    std::chars_format::fixed, precision);
  text.resize(static_cast<std::size_t>(result.ptr - text.data()));
  const std::size_t point = text.find('.');
  const auto cut = point + 1 + static_cast<std::size_t>(decimals);
  const bool round_up = text[cut] >= '5';
  text.resize(decimals > 0 ? cut : point);
  if (round_up) {
    std::size_t at = text.size();
    while (at > 0) {
      --at;
      if (text[at] == '.') continue;
      if (text[at] != '9') {
        ++text[at];
        break;
      }
      text[at] = '0';
      if (at == 0) text.insert(text.begin(), '1');
    }
  }
  return text;
}

}  // namespace

std::u16string FormatFixed(float x, int decimals) {
  if (std::isnan(x)) return u"NaN";
  if (std::isinf(x)) return x > 0 ? u"+Infinity" : u"-Infinity";
  decimals = std::clamp(decimals, 0, kMaxDecimals);
  const double magnitude = std::fabs(static_cast<double>(x));
  const std::u16string_view sign = (x < 0) ? u"-" : u"";

  // Fast path: a float scaled by up to 10^8 is exact in double, and below
  // 2^52 adding one half and flooring is an exact ties-away rounding. The
  // digits are laid out right to left in place: one allocation per text.
  if (decimals <= 8) {
    double scale = 1;
    for (int k = 0; k < decimals; ++k) scale *= 10;
    const double scaled = magnitude * scale;
    if (scaled < 0x1p52) {
      auto h = static_cast<std::uint64_t>(std::floor(scaled + 0.5));
      char16_t digits[32];
      std::size_t at = std::size(digits);
      for (int k = 0; k < decimals; ++k, h /= 10)
        digits[--at] = static_cast<char16_t>(u'0' + h % 10);
      if (decimals > 0) digits[--at] = u'.';
      do {
        digits[--at] = static_cast<char16_t>(u'0' + h % 10);
        h /= 10;
      } while (h != 0);
      if (!sign.empty()) digits[--at] = sign[0];
      return std::u16string(digits + at, std::end(digits));
    }
  }
  std::u16string text(sign);
  return text + Widen(RoundedDigits(magnitude, decimals));
}

}  // namespace dumpscan
