#pragma once
// The record block: five 4-byte mileage records that store one distance
// reading, each guarded by a nibble checksum and a parity bit. Also home of
// the nibble checksum and the byte dump that the counter word reuses.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace dumpscan {

inline constexpr std::size_t kRecordCount = 5;
inline constexpr std::size_t kRecordBlockSize = 4 * kRecordCount;

/// Running-checksum table of a CRC-4 with the generator x^4+x^3+x^2+1,
/// most significant bit first: entry k is k*x^4 modulo the generator.
inline constexpr std::array<std::uint8_t, 16> NibbleTable = {
    0x0, 0xD, 0x7, 0xA, 0xE, 0x3, 0x9, 0x4, 0x1, 0xC, 0x6, 0xB, 0xF, 0x2, 0x8, 0x5};

/// 4-bit checksum of the low `nibbles` nibbles of x, fed least significant
/// first from the start value 0xF, with no final XOR. Returns 0..15.
std::uint8_t NibbleChecksum(std::uint32_t x, unsigned nibbles);

/// True when b has an odd number of set bits.
bool HasOddParity(std::uint8_t b);

/// Private copy of a record block; the per-record checks read only this.
struct RecordBlock {
  std::array<std::uint8_t, kRecordBlockSize> bytes;
};

/// Big-endian word j (0: HighWord, 1: LowWord) of record i (0..4); nothing
/// when an index is out of range.
std::optional<std::uint16_t> ReadRecordWord(const RecordBlock& block, std::size_t i, std::size_t j);

/// The 16-bit record value V of record i as its fields store it, whether or
/// not its check nibble matches; nothing when i is out of range.
std::optional<std::uint16_t> RecordValue(const RecordBlock& block, std::size_t i);

/// The step count S (1..128) a step byte stands for, whatever its parity.
std::uint8_t StepCount(std::uint8_t step_byte);

/// The 16-bit record value V of record i when its check nibble matches.
std::optional<std::uint16_t> CheckRecordHigh(const RecordBlock& block, std::size_t i);

/// The step count S (1..128) of record i when its step byte has odd parity.
std::optional<std::uint8_t> CheckRecordLow(const RecordBlock& block, std::size_t i);

/// The distance in km (2..8,388,609) stored in the block, or -1 when any
/// record fails its checksum or parity test.
std::int32_t DecodeRecordBlock(std::span<const std::uint8_t, kRecordBlockSize> block);

/// Report text: the byte dump, then "--> <km> km --> CRC/Parity OK" or
/// "--> Crc And/Or Parity Error".
std::u16string DescribeRecordBlock(std::span<const std::uint8_t, kRecordBlockSize> block);

/// Appends DescribeRecordBlock(block) to `out` and returns what
/// DecodeRecordBlock(block) returns, from one decode: the verdict a caller
/// acts on is the one the text shows. Allocates only when `out` lacks room.
std::int32_t AppendRecordBlockReport(std::span<const std::uint8_t, kRecordBlockSize> block,
                                     std::u16string& out);

/// Two uppercase hex digits and a space per byte ("3C 48 "), so the text
/// ends in a space.
std::u16string FormatByteDump(std::span<const std::uint8_t> bytes);

/// Appends FormatByteDump(bytes) to `out`.
void AppendByteDump(std::span<const std::uint8_t> bytes, std::u16string& out);

/// Appends the decimal digits of n (no sign, no grouping) to `out`: the
/// distance as the report line and the CSV write it.
void AppendDecimal(std::uint64_t n, std::u16string& out);

/// The verdict both report texts share when a check fails.
inline constexpr std::u16string_view kCheckErrorVerdict = u"--> Crc And/Or Parity Error";

}  // namespace dumpscan
