#include "engine/counter_word.h"

#include <algorithm>
#include <cmath>

#include "engine/record_block.h"

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
  std::u16string text;
  AppendCounterWordReport(block, text);
  return text;
}

std::int32_t AppendCounterWordReport(std::span<const std::uint8_t, kCounterWordSize> block,
                                     std::u16string& out) {
  static constexpr std::u16string_view kOkVerdict = u" km  --> CRC OK";
  const std::int32_t count = DecodeCounterWord(block);
  // The longest text at once: the dump, "--> ", "2684354.50" and the verdict.
  out.reserve(out.size() + 3 * kCounterWordSize + 4 + 10 + kOkVerdict.size());
  AppendByteDump(block, out);
  if (count < 0) {
    out += kCheckErrorVerdict;
  } else {
    out += u"--> ";
    AppendFixed(CounterKilometres(static_cast<std::uint32_t>(count)), 2, out);
    out += kOkVerdict;
  }
  return count;
}

namespace {

std::u16string Widen(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// The exact decimal expansion of a finite, non-negative float m * 2^e:
// digits, and how many of them follow the point. Plain long multiplication
// on decimal digits (least significant first): for e < 0 the value is
// m * 5^-e / 10^-e, so the digits of m * 5^-e with -e of them after the point.
struct DecimalExpansion {
  std::string digits;  // most significant first
  std::size_t fraction_digits = 0;
};

DecimalExpansion ExactExpansion(float magnitude) {
  int exponent = 0;
  const float fraction = std::frexp(magnitude, &exponent);
  auto mantissa = static_cast<std::uint32_t>(std::ldexp(fraction, 24));
  exponent -= 24;
  std::string reversed;
  do {
    reversed.push_back(static_cast<char>(mantissa % 10));
    mantissa /= 10;
  } while (mantissa != 0);
  const unsigned factor = exponent < 0 ? 5 : 2;
  for (int k = 0; k < std::abs(exponent); ++k) {
    unsigned carry = 0;
    for (char& digit : reversed) {
      const unsigned product = static_cast<unsigned>(digit) * factor + carry;
      digit = static_cast<char>(product % 10);
      carry = product / 10;
    }
    if (carry != 0) reversed.push_back(static_cast<char>(carry));
  }
  DecimalExpansion expansion;
  expansion.fraction_digits = exponent < 0 ? static_cast<std::size_t>(-exponent) : 0;
  // At least one digit before the point.
  if (reversed.size() <= expansion.fraction_digits) {
    reversed.resize(expansion.fraction_digits + 1, 0);
  }
  expansion.digits.assign(reversed.rbegin(), reversed.rend());
  for (char& digit : expansion.digits) digit = static_cast<char>('0' + digit);
  return expansion;
}

// Exact digits of a finite, non-negative float rounded at `decimals`, ties
// away from zero: the full expansion, cut one digit past the last one kept,
// then rounded as text.
std::string RoundedDigits(float magnitude, int decimals) {
  const DecimalExpansion expansion = ExactExpansion(magnitude);
  const std::size_t point = expansion.digits.size() - expansion.fraction_digits;
  std::string text = expansion.digits.substr(0, point) + '.' + expansion.digits.substr(point);
  const auto cut = point + 1 + static_cast<std::size_t>(decimals);
  if (text.size() <= cut) text.resize(cut + 1, '0');
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
  std::u16string text;
  AppendFixed(x, decimals, text);
  return text;
}

void AppendFixed(float x, int decimals, std::u16string& out) {
  if (std::isnan(x)) {
    out += u"NaN";
    return;
  }
  if (std::isinf(x)) {
    out += x > 0 ? u"+Infinity" : u"-Infinity";
    return;
  }
  decimals = std::clamp(decimals, 0, kMaxDecimals);
  const double magnitude = std::fabs(static_cast<double>(x));
  const std::u16string_view sign = (x < 0) ? u"-" : u"";

  // Fast path: a float scaled by up to 10^8 is exact in double, and below
  // 2^52 adding one half and flooring is an exact ties-away rounding. The
  // digits are laid out right to left on the stack, then appended.
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
      out.append(digits + at, std::size(digits) - at);
      return;
    }
  }
  out += sign;
  out += Widen(RoundedDigits(std::fabs(x), decimals));
}

}  // namespace dumpscan
