#include "engine/counter_word.h"

#include <algorithm>
#include <cmath>

#include "engine/record_block.h"

namespace dumpscan {

namespace {

// The digits of a finite x with `decimals` (0..kMaxDecimals) after the
// point, written right to left so that they end at `end` (32 units of room
// before it); returns where they start, or nullptr when x needs the exact
// path. A float scaled by up to 10^8 is exact in double, and below 2^52
// adding one half and flooring is an exact ties-away rounding.
const char16_t* WriteFixedFast(float x, int decimals, char16_t* end) {
  if (decimals > 8) return nullptr;
  double scale = 1;
  for (int k = 0; k < decimals; ++k) scale *= 10;
  const double scaled = std::fabs(static_cast<double>(x)) * scale;
  if (!(scaled < 0x1p52)) return nullptr;
  auto h = static_cast<std::uint64_t>(std::floor(scaled + 0.5));
  char16_t* at = end;
  for (int k = 0; k < decimals; ++k, h /= 10) *--at = static_cast<char16_t>(u'0' + h % 10);
  if (decimals > 0) *--at = u'.';
  do {
    *--at = static_cast<char16_t>(u'0' + h % 10);
    h /= 10;
  } while (h != 0);
  if (x < 0) *--at = u'-';
  return at;
}

}  // namespace

CounterWordFields ReadCounterWord(std::span<const std::uint8_t, kCounterWordSize> block) {
  const std::uint32_t word = (std::uint32_t{block[0]} << 24) | (std::uint32_t{block[1]} << 16) |
                             (std::uint32_t{block[2]} << 8) | block[3];
  return {word & 0x0FFFFFFFu, static_cast<std::uint8_t>(word >> 28)};
}

std::int32_t DecodeCounterWord(std::span<const std::uint8_t, kCounterWordSize> block) {
  const CounterWordFields fields = ReadCounterWord(block);
  if (NibbleChecksum(fields.count, 7) != fields.check) return -1;
  return static_cast<std::int32_t>(fields.count);
}

float CounterKilometres(std::uint32_t count) {
  // A 28-bit count does not fit a float's mantissa, so the division runs in
  // double (exact enough that the one rounding to float is the only one).
  return static_cast<float>(static_cast<double>(count) / 100.0);
}

KilometresText CounterKilometresText(std::uint32_t count) {
  KilometresText text;
  char16_t digits[32];
  const char16_t* start = WriteFixedFast(CounterKilometres(count), 2, std::end(digits));
  // Every count is below 2^28, far inside the fast path's range.
  text.length = static_cast<std::size_t>(std::end(digits) - start);
  std::copy(start, static_cast<const char16_t*>(std::end(digits)), text.units.begin());
  return text;
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
    out += CounterKilometresText(static_cast<std::uint32_t>(count)).View();
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
  const std::u16string_view sign = (x < 0) ? u"-" : u"";

  char16_t digits[32];
  if (const char16_t* start = WriteFixedFast(x, decimals, std::end(digits))) {
    out.append(start, static_cast<std::size_t>(std::end(digits) - start));
    return;
  }
  out += sign;
  out += Widen(RoundedDigits(std::fabs(x), decimals));
}

}  // namespace dumpscan
