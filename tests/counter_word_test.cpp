#include "scanner/counter_word.h"

#include <gtest/gtest.h>

#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "scanner/record_block.h"
#include "tests/dump_fixture.h"

namespace dumpscan {
namespace {

using Word = std::array<std::uint8_t, 4>;

struct CounterCase {
  Word word;
  std::int32_t count;
  std::u16string verdict;
};

class CounterWordTest : public testing::TestWithParam<CounterCase> {};

TEST_P(CounterWordTest, DecodesAndDescribes) {
  const CounterCase& c = GetParam();
  EXPECT_EQ(DecodeCounterWord(c.word), c.count);
  EXPECT_EQ(DescribeCounterWord(c.word), FormatByteDump(c.word) + c.verdict);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CounterWordTest,
    testing::Values(
        CounterCase{{0xF0, 0x00, 0x00, 0x00}, 0, u"--> 0.00 km  --> CRC OK"},
        CounterCase{{0x70, 0x00, 0x00, 0x01}, 1, u"--> 0.01 km  --> CRC OK"},
        CounterCase{{0x10, 0x12, 0xD6, 0x87}, 1234567, u"--> 12345.67 km  --> CRC OK"},
        CounterCase{{0xA0, 0xBC, 0x61, 0x00}, 12345600, u"--> 123456.00 km  --> CRC OK"},
        // 131072.125 as a float: an exact tie, rounded away from zero.
        CounterCase{{0x40, 0xC8, 0x00, 0x0C}, 13107212, u"--> 131072.13 km  --> CRC OK"},
        CounterCase{{0xC0, 0xC8, 0x00, 0x0D}, 13107213, u"--> 131072.13 km  --> CRC OK"},
        CounterCase{{0x90, 0xC8, 0x00, 0x0E}, 13107214, u"--> 131072.14 km  --> CRC OK"},
        CounterCase{{0xFF, 0xFF, 0xFF, 0xFF}, 268435455, u"--> 2684354.50 km  --> CRC OK"},
        CounterCase{{0x00, 0x00, 0x00, 0x00}, -1, u"--> Crc And/Or Parity Error"}));

TEST(CounterWordBitsTest, EverySingleBitFlipFails) {
  const Word valid = fixture::EncodeCounterWord(1234567);
  ASSERT_EQ(DecodeCounterWord(valid), 1234567);
  for (std::size_t byte = 0; byte < 4; ++byte) {
    for (unsigned bit = 0; bit < 8; ++bit) {
      Word word = valid;
      word[byte] = static_cast<std::uint8_t>(word[byte] ^ (1u << bit));
      EXPECT_EQ(DecodeCounterWord(word), -1) << "byte " << byte << " bit " << bit;
    }
  }
}

struct FixedCase {
  float x;
  int decimals;
  std::u16string text;
};

class FormatFixedTest : public testing::TestWithParam<FixedCase> {};

TEST_P(FormatFixedTest, Text) {
  EXPECT_EQ(FormatFixed(GetParam().x, GetParam().decimals), GetParam().text);
}

constexpr float kInf = std::numeric_limits<float>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Cases, FormatFixedTest,
    testing::Values(FixedCase{kInf, 2, u"+Infinity"}, FixedCase{-kInf, 2, u"-Infinity"},
                    FixedCase{std::numeric_limits<float>::quiet_NaN(), 2, u"NaN"},
                    FixedCase{-0.0f, 2, u"0.00"}, FixedCase{0.0f, 0, u"0"},
                    FixedCase{0.125f, 2, u"0.13"}, FixedCase{-0.125f, 2, u"-0.13"},
                    FixedCase{2.5f, 0, u"3"},
                    FixedCase{1.005f, 2, u"1.00"},     // 1.005f lies below the tie
                    FixedCase{99.995f, 2, u"100.00"},  // and this one above it
                    FixedCase{0.1f, 10, u"0.1000000015"},
                    FixedCase{1e30f, 2, u"1000000015047466219876688855040.00"},
                    FixedCase{-9.5f, 0, u"-10"}, FixedCase{1.5f, -3, u"2"}));

#if defined(__cpp_lib_to_chars)
// Where the standard library has an exact fixed-point conversion, the text
// past the fast path (many decimals, huge values) must agree with it for
// floats of every exponent, but for exact ties, which it rounds to even and
// FormatFixed away from zero (the table above has those).
TEST(FormatFixedTest, AgreesWithTheLibrarysExactConversionOutsideTies) {
  constexpr int kAllDigits = 200;  // past a float's 149 fractional digits
  std::string full(512, '\0');
  std::string rounded(512, '\0');
  auto to_fixed = [](std::string& out, double value, int decimals) {
    const auto end = std::to_chars(out.data(), out.data() + out.size(), value,
                                   std::chars_format::fixed, decimals);
    return std::string(out.data(), end.ptr);
  };
  for (int exponent = -149; exponent <= 104; ++exponent) {
    for (const std::uint32_t mantissa : {1u, 3u, 0x800001u, 0xABCDEFu, 0xFFFFFFu}) {
      const float x = std::ldexp(static_cast<float>(mantissa), exponent);
      if (!std::isfinite(x) || x == 0) continue;
      const std::string exact = to_fixed(full, x, kAllDigits);
      for (const int decimals : {0, 2, 8, 9, 20, 60, 149, kAllDigits}) {
        const std::size_t cut = exact.find('.') + 1 + static_cast<std::size_t>(decimals);
        const bool tie = cut < exact.size() && exact[cut] == '5' &&
                         exact.find_first_not_of('0', cut + 1) == std::string::npos;
        if (tie) continue;
        std::string expected(1, '-');
        expected += to_fixed(rounded, x, decimals);
        const std::u16string negative(expected.begin(), expected.end());
        EXPECT_EQ(FormatFixed(x, decimals), negative.substr(1))
            << "mantissa " << mantissa << " exponent " << exponent << " decimals " << decimals;
        EXPECT_EQ(FormatFixed(-x, decimals), negative);
      }
    }
  }
}
#endif

}  // namespace
}  // namespace dumpscan
