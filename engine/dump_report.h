#pragma once
// The block of lines a dump gets from its name and the bytes read at 0x774:
// the per-dump part of the scan, shared by the console program and the web
// page. Pure: name and bytes in, lines out.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "engine/counter_word.h"
#include "engine/record_block.h"

namespace dumpscan {

/// Where the two stored forms of the reading sit in a dump.
inline constexpr std::uint64_t kRecordBlockOffset = 0x774;
inline constexpr std::uint64_t kCounterWordOffset = 0x788;

/// The bytes read from kRecordBlockOffset on: the record block and the
/// counter word that follows it directly.
inline constexpr std::size_t kDumpBytesSize = kRecordBlockSize + kCounterWordSize;

static_assert(kCounterWordOffset == kRecordBlockOffset + kRecordBlockSize,
              "one read covers both ranges only while they are adjacent");

/// What each report line starts with: where its form sits in the dump.
inline constexpr std::u16string_view kRecordBlockLinePrefix = u"0x774: ";
inline constexpr std::u16string_view kCounterWordLinePrefix = u"0x788: ";

/// What a line of a dump's block says about its stored form.
enum class LineVerdict : std::uint8_t {
  kNone = 0,         ///< the name line and the empty line
  kOk = 1,           ///< a report line whose check passed
  kCheckFailed = 2,  ///< a report line whose verdict is the check error
};

/// One line of a block: where its text sits in DumpBlock::text.
struct BlockLine {
  std::size_t offset = 0;
  std::size_t length = 0;
  LineVerdict verdict = LineVerdict::kNone;
};

/// The most lines a dump's block has: name, two report lines, empty line.
inline constexpr std::size_t kMaxBlockLines = 4;

/// Every block starts with the name line, the name exactly as given: a
/// caller that shows the name before it reads the dump prints the rest of
/// the block from this line on.
inline constexpr std::size_t kFirstLineAfterName = 1;

/// The block of lines a dump gets, laid out in storage the caller keeps
/// from one dump to the next: once `text` has grown to the longest block,
/// describing a dump allocates nothing.
struct DumpBlock {
  std::u16string text;  ///< the lines' texts one after another, without line ends
  std::array<BlockLine, kMaxBlockLines> lines{};
  std::size_t line_count = 0;
};

/// Replaces the contents of `block` (keeping its storage) with the block of
/// lines for a dump shown as `name`, of which `got` bytes (0..kDumpBytesSize;
/// more counts as kDumpBytesSize) were read into `bytes` from
/// kRecordBlockOffset: the name line; the "0x774: " line when the record
/// block arrived whole; the "0x788: " line after it when the counter word
/// did too; an empty line. A dump that could not be opened or read is
/// described with `got` 0. Each report line's verdict comes from the decode
/// that made its text. Bytes past `got` are not looked at.
void DescribeDump(std::u16string_view name, std::span<const std::uint8_t, kDumpBytesSize> bytes,
                  std::size_t got, DumpBlock& block);

/// The text of line `i` (below block.line_count) of `block`; valid until
/// the block is described again.
std::u16string_view LineText(const DumpBlock& block, std::size_t i);

}  // namespace dumpscan
