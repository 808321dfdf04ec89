#pragma once
// What the decoders find in a dump's two stored forms, laid open: each
// record's fields and tests, the counter word's count and check, and the
// readings. For the person who holds a damaged dump and needs to see which
// record fails which test and what the rest still say; the report's text
// stays as it is.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/counter_word.h"
#include "engine/dump_report.h"
#include "engine/record_block.h"

namespace dumpscan {

/// One mileage record, field by field.
struct RecordFacts {
  std::array<std::uint8_t, 4> bytes{};  ///< b0..b3 as read
  std::uint16_t value = 0;              ///< V as its fields store it, checked or not
  std::uint8_t stored_check = 0;        ///< the check nibble it holds (low nibble of b1)
  std::uint8_t value_check = 0;         ///< the check nibble V gives: NibbleChecksum(V, 4)
  std::uint8_t step_byte = 0;           ///< b3
  bool odd_parity = false;              ///< whether the step byte has odd parity
  std::uint8_t steps = 0;               ///< S (1..128) the step byte stands for, any parity
  bool checksum_passes = false;         ///< CheckRecordHigh's verdict
  bool parity_passes = false;           ///< CheckRecordLow's verdict
  bool passes = false;                  ///< both tests pass
  /// 128 * V + S + 1: the distance five records like this one give, worked
  /// out from the fields whether or not the tests pass (2..8,388,609).
  std::uint32_t distance = 0;
};

/// The record block: its five records and what the block gives.
struct RecordBlockFacts {
  std::array<RecordFacts, kRecordCount> records{};
  /// DecodeRecordBlock's result, the report's reading: when all ten tests
  /// pass, the five records' distances averaged and rounded down (records
  /// that differ are not refused, they average); -1 when any test fails.
  std::int32_t distance = -1;
  /// All ten tests pass and the five records give the same distance.
  bool records_agree = false;
};

/// The counter word: its fields and what it gives.
struct CounterWordFacts {
  std::array<std::uint8_t, kCounterWordSize> bytes{};
  std::uint32_t count = 0;        ///< hundredths of a km (bits 0-27)
  std::uint8_t stored_check = 0;  ///< the check nibble it holds (bits 28-31)
  std::uint8_t count_check = 0;   ///< the check nibble the count gives: NibbleChecksum(count, 7)
  bool passes = false;            ///< DecodeCounterWord's verdict
  /// The count as kilometres, the single-precision value and the text the
  /// report shows when the check passes; worked out whether or not it does.
  float kilometres = 0;
  KilometresText kilometres_text;
};

/// Both forms of a dump; a form the file is too short for has no facts.
struct DumpFacts {
  bool has_record_block = false;
  bool has_counter_word = false;
  RecordBlockFacts record_block;
  CounterWordFacts counter_word;
};

/// The byte a file must reach past for each form: a file that ends before
/// it lacks the form (1,928 and 1,932).
inline constexpr std::uint64_t kRecordBlockEnd = kRecordBlockOffset + kRecordBlockSize;
inline constexpr std::uint64_t kCounterWordEnd = kCounterWordOffset + kCounterWordSize;

/// The facts of a record block, from the decoders' own functions.
RecordBlockFacts RecordBlockFactsOf(std::span<const std::uint8_t, kRecordBlockSize> block);

/// The facts of a counter word, from the decoder's own functions.
CounterWordFacts CounterWordFactsOf(std::span<const std::uint8_t, kCounterWordSize> block);

/// The facts of a dump of which `got` bytes (0..kDumpBytesSize; more counts
/// as kDumpBytesSize) were read into `bytes` from kRecordBlockOffset, the
/// same bytes DescribeDump takes. Bytes past `got` are not looked at.
/// Allocates nothing.
DumpFacts DumpFactsOf(std::span<const std::uint8_t, kDumpBytesSize> bytes, std::size_t got);

/// Where the bytes of record `i` (0..4) show in the record block's report
/// line: an offset into the line's text and a length ("3C 48 F0 3E").
struct LineSpan {
  std::size_t offset = 0;
  std::size_t length = 0;
};
LineSpan RecordBytesInLine(std::size_t i);

}  // namespace dumpscan
