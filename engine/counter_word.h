#pragma once
// The counter word: a big-endian 32-bit word holding the distance in
// hundredths of a kilometre (bits 0-27) under a 4-bit nibble checksum
// (bits 28-31).

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace dumpscan {

inline constexpr std::size_t kCounterWordSize = 4;

/// The two fields of a counter word, as stored.
struct CounterWordFields {
  std::uint32_t count = 0;  ///< bits 0-27: hundredths of a km
  std::uint8_t check = 0;   ///< bits 28-31: the check nibble
};

/// The fields of the big-endian word in `block`, whether or not they agree.
CounterWordFields ReadCounterWord(std::span<const std::uint8_t, kCounterWordSize> block);

/// The count (0..268,435,455 hundredths of a km), or -1 when the check
/// nibble does not match the checksum of the count over 7 nibbles.
std::int32_t DecodeCounterWord(std::span<const std::uint8_t, kCounterWordSize> block);

/// The count as kilometres: count / 100 rounded once to the nearest float.
float CounterKilometres(std::uint32_t count);

/// The kilometres text of a count, as the report shows it, held in place.
struct KilometresText {
  std::array<char16_t, 16> units{};
  std::size_t length = 0;
  std::u16string_view View() const { return {units.data(), length}; }
};

/// FormatFixed(CounterKilometres(count), 2) without allocating: the text
/// the counter word's report shows for `count` ("123456.00").
KilometresText CounterKilometresText(std::uint32_t count);

/// Report text: the byte dump, then "--> <km, 2 decimals> km  --> CRC OK"
/// (two spaces before the arrow) or "--> Crc And/Or Parity Error".
std::u16string DescribeCounterWord(std::span<const std::uint8_t, kCounterWordSize> block);

/// Appends DescribeCounterWord(block) to `out` and returns what
/// DecodeCounterWord(block) returns, from one decode: the verdict a caller
/// acts on is the one the text shows. Allocates only when `out` lacks room.
std::int32_t AppendCounterWordReport(std::span<const std::uint8_t, kCounterWordSize> block,
                                     std::u16string& out);

/// The most digits FormatFixed puts after the point; more asks for this many.
inline constexpr int kMaxDecimals = 1000;

/// x in plain positional notation with `decimals` digits after the point,
/// the exact value rounded ties away from zero; "+Infinity", "-Infinity",
/// "NaN" for those values, and zero of either sign prints unsigned. A
/// negative `decimals` counts as 0.
std::u16string FormatFixed(float x, int decimals);

/// Appends FormatFixed(x, decimals) to `out`. For at most 8 decimals and
/// |x| * 10^decimals below 2^52 (every value the report prints) it
/// allocates only when `out` lacks room.
void AppendFixed(float x, int decimals, std::u16string& out);

}  // namespace dumpscan
