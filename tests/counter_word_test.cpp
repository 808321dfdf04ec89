#include "engine/counter_word.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "engine/record_block.h"
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

// An unsigned integer of any size: 32-bit limbs, least significant first.
using Limbs = std::vector<std::uint32_t>;

// n = n * factor + addend.
void MultiplyAdd(Limbs& n, std::uint32_t factor, std::uint32_t addend) {
  std::uint64_t carry = addend;
  for (std::uint32_t& limb : n) {
    const std::uint64_t product = std::uint64_t{limb} * factor + carry;
    limb = static_cast<std::uint32_t>(product);
    carry = product >> 32;
  }
  if (carry != 0) n.push_back(static_cast<std::uint32_t>(carry));
}

// n = floor(n / divisor); returns the remainder.
std::uint32_t DivideBy(Limbs& n, std::uint32_t divisor) {
  std::uint64_t rest = 0;
  for (std::size_t k = n.size(); k-- > 0;) {
    const std::uint64_t part = (rest << 32) | n[k];
    n[k] = static_cast<std::uint32_t>(part / divisor);
    rest = part % divisor;
  }
  while (!n.empty() && n.back() == 0) n.pop_back();
  return static_cast<std::uint32_t>(rest);
}

// The text FormatFixed must give for a finite, positive float, found by
// integer arithmetic alone, ties included: with x = m * 2^e taken from the
// float's bits and y = x * 10^decimals, the rounded value in units of the
// last decimal is floor(y + 1/2) = (floor(2y) + 1) / 2, and floor(2y) is
// m * 10^decimals * 2^(e+1) with the division by 2^-(e+1) truncating.
std::string ExactFixedText(float x, int decimals) {
  static_assert(std::numeric_limits<float>::is_iec559);
  std::uint32_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  const std::uint32_t biased = (bits >> 23) & 0xFF;
  const std::uint32_t mantissa = biased == 0 ? bits & 0x7FFFFF : (bits & 0x7FFFFF) | 0x800000;
  const int exponent = (biased == 0 ? 1 : static_cast<int>(biased)) - 150;

  Limbs units{mantissa};
  for (int k = 0; k < decimals; ++k) MultiplyAdd(units, 10, 0);
  if (exponent >= 0) {
    for (int k = 0; k < exponent; ++k) MultiplyAdd(units, 2, 0);
  } else {
    MultiplyAdd(units, 2, 0);
    for (int k = -exponent; k > 0; k -= 16) DivideBy(units, 1u << std::min(k, 16));
    MultiplyAdd(units, 1, 1);
    DivideBy(units, 2);
  }

  std::string reversed;
  while (!units.empty() || reversed.size() <= static_cast<std::size_t>(decimals)) {
    reversed.push_back(static_cast<char>('0' + DivideBy(units, 10)));
    if (reversed.size() == static_cast<std::size_t>(decimals)) reversed.push_back('.');
  }
  if (reversed.back() == '.') reversed.push_back('0');
  return std::string(reversed.rbegin(), reversed.rend());
}

// Past the table: floats of every exponent, normal and subnormal, at few
// and at many decimals (the text of a float ends within 149 of them), ties
// among them, against the exact value rounded by integer arithmetic.
TEST(FormatFixedTest, IsTheExactValueRoundedTiesAwayFromZero) {
  for (int exponent = -149; exponent <= 104; ++exponent) {
    for (const std::uint32_t mantissa : {1u, 3u, 0x800001u, 0xABCDEFu, 0xFFFFFFu}) {
      const float x = std::ldexp(static_cast<float>(mantissa), exponent);
      if (!std::isfinite(x) || x == 0) continue;
      for (const int decimals : {0, 1, 2, 8, 9, 20, 60, 149, 200}) {
        const std::string text = ExactFixedText(x, decimals);
        const std::u16string expected(text.begin(), text.end());
        EXPECT_EQ(FormatFixed(x, decimals), expected)
            << "mantissa " << mantissa << " exponent " << exponent << " decimals " << decimals;
        EXPECT_EQ(FormatFixed(-x, decimals), u"-" + expected);
      }
    }
  }
}

}  // namespace
}  // namespace dumpscan
