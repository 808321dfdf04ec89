// Any 4 bytes: the counter word's report is the dump and one verdict, its
// kilometres those worked out with integers apart from the decoder, and any
// float printed by FormatFixed reads back within half a unit of its last
// digit.

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>

#include "engine/counter_word.h"
#include "engine/record_block.h"
#include "tests/exact_kilometres.h"

namespace {

void CheckCounterWord(std::span<const std::uint8_t, 4> word) {
  using namespace dumpscan;
  const std::u16string text = DescribeCounterWord(word);
  const std::u16string dump = FormatByteDump(word);
  if (text.compare(0, dump.size(), dump) != 0) std::abort();
  const std::int32_t count = DecodeCounterWord(word);
  const std::uint32_t raw = (std::uint32_t{word[0]} << 24) | (std::uint32_t{word[1]} << 16) |
                            (std::uint32_t{word[2]} << 8) | word[3];
  if ((count == -1) != (NibbleChecksum(raw & 0x0FFFFFFF, 7) != (raw >> 28))) std::abort();
  if (count == -1) {
    if (text.substr(dump.size()) != kCheckErrorVerdict) std::abort();
  } else {
    std::array<char16_t, 24> digits;
    std::u16string expected = u"--> ";
    expected += fixture::ExpectedText(fixture::NearestFloatOfHundredths(raw & 0x0FFFFFFF), digits);
    expected += u" km  --> CRC OK";
    if (text.substr(dump.size()) != expected) std::abort();
  }
}

void CheckFormatFixed(float x, int decimals) {
  const std::u16string text = dumpscan::FormatFixed(x, decimals);
  if (std::isnan(x)) {
    if (text != u"NaN") std::abort();
    return;
  }
  if (std::isinf(x)) {
    if (text != (x > 0 ? u"+Infinity" : u"-Infinity")) std::abort();
    return;
  }
  std::string ascii;
  for (const char16_t unit : text) {
    if (unit > 0x7F) std::abort();
    ascii += static_cast<char>(unit);
  }
  const std::size_t point = ascii.find('.');
  if (decimals == 0 ? point != std::string::npos
                    : ascii.size() - point - 1 != static_cast<std::size_t>(decimals)) {
    std::abort();
  }
  if (x == 0 && ascii[0] == '-') std::abort();
  const long double back = std::strtold(ascii.c_str(), nullptr);
  const long double half_unit = 0.5L * std::pow(10.0L, -decimals);
  // Reading the text back as a long double adds an error of its own.
  const long double slack = std::fabs(static_cast<long double>(x)) * 1e-18L + half_unit * 1e-12L;
  if (std::fabs(back - static_cast<long double>(x)) > half_unit + slack) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  CheckCounterWord(std::span<const std::uint8_t, 4>(data, 4));
  float x;
  std::memcpy(&x, data, sizeof x);
  const int decimals = size > 4 ? data[4] % 40 : 2;
  CheckFormatFixed(x, decimals);
  return 0;
}
