#pragma once
// The counter word's kilometres worked out with integers only, apart from
// the code under test: the float nearest to count / 100 and its text
// rounded at the hundredths, for the whole-domain check and the fuzzer.

#include <array>
#include <cmath>
#include <cstdint>
#include <string_view>

namespace dumpscan::fixture {

/// A float's exact value as m * 2^e with m below 2^24.
struct ExactFloat {
  std::uint64_t mantissa;
  int exponent;
};

/// The float nearest to count / 100 (ties to even), for any count.
inline ExactFloat NearestFloatOfHundredths(std::uint32_t count) {
  if (count == 0) return {0, 0};
  int e = std::ilogb(count / 100.0) - 23;
  for (;;) {
    // count / 100 / 2^e = num / den
    std::uint64_t num = count;
    std::uint64_t den = 100;
    if (e < 0)
      num <<= -e;
    else
      den <<= e;
    std::uint64_t m = num / den;
    const std::uint64_t rest = num % den;
    if (m < (1u << 23)) {
      --e;
      continue;
    }
    if (m >= (1u << 24)) {
      ++e;
      continue;
    }
    if (2 * rest > den || (2 * rest == den && (m & 1) != 0)) ++m;
    if (m == (1u << 24)) {
      m >>= 1;
      ++e;
    }
    return {m, e};
  }
}

/// Hundredths of the float value, rounded ties away from zero, as text in
/// `out` ("123456.00"; no allocation: the whole-domain check calls it 2^28
/// times); valid while `out` is.
inline std::u16string_view ExpectedText(ExactFloat f, std::array<char16_t, 24>& out) {
  std::uint64_t hundredths;
  if (f.exponent >= 0) {
    hundredths = (f.mantissa * 100) << f.exponent;
  } else {
    const std::uint64_t den = std::uint64_t{1} << -f.exponent;
    hundredths = (f.mantissa * 100 + den / 2) / den;
  }
  std::size_t at = out.size();
  out[--at] = static_cast<char16_t>(u'0' + hundredths % 10);
  out[--at] = static_cast<char16_t>(u'0' + hundredths / 10 % 10);
  out[--at] = u'.';
  std::uint64_t whole = hundredths / 100;
  do {
    out[--at] = static_cast<char16_t>(u'0' + whole % 10);
    whole /= 10;
  } while (whole != 0);
  return std::u16string_view(out.data() + at, out.size() - at);
}

}  // namespace dumpscan::fixture
