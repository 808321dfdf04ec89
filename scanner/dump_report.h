#pragma once
// The report a dump gets from the bytes read at 0x774: the per-dump part of
// the scan, shared by the console program and the web page. Pure: bytes in,
// lines out.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "scanner/counter_word.h"
#include "scanner/record_block.h"

namespace dumpscan {

/// Where the two stored forms of the reading sit in a dump.
inline constexpr std::uint64_t kRecordBlockOffset = 0x774;
inline constexpr std::uint64_t kCounterWordOffset = 0x788;

/// The bytes read from kRecordBlockOffset on: the record block and the
/// counter word that follows it directly.
inline constexpr std::size_t kDumpBytesSize = kRecordBlockSize + kCounterWordSize;

static_assert(kCounterWordOffset == kRecordBlockOffset + kRecordBlockSize,
              "one read covers both ranges only while they are adjacent");

/// One report line of a dump and its verdict.
struct ReportLine {
  std::u16string text;        ///< "0x774: ..." or "0x788: ...", without a line end
  bool check_failed = false;  ///< the line's verdict is the check error
};

/// The report lines for a dump of which `got` bytes (0..kDumpBytesSize; more
/// counts as kDumpBytesSize) were read into `bytes` from kRecordBlockOffset:
/// none when the record block did not arrive whole, the "0x774: " line when
/// it did, and the "0x788: " line after it when the counter word did too.
/// Bytes past `got` are not looked at.
std::vector<ReportLine> DescribeDumpBytes(std::span<const std::uint8_t, kDumpBytesSize> bytes,
                                          std::size_t got);

}  // namespace dumpscan
