#pragma once
// A dump's details in words: the sentence that sums up what its two stored
// forms still say, a row for each record and the counter word with every
// field as text, and the marks for the damaged records' bytes in the record
// block's report line. Every word the page shows about an opened dump is
// made here, from the facts (dump_facts.h); the page only lays it out.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/dump_facts.h"

namespace dumpscan {

/// The columns of a details row after its label, in order.
enum class DetailsColumn : std::size_t {
  kBytes = 0,  ///< "3C 48 F0 3E"
  kValue,      ///< V, or the counter word's count ("964", "12345600")
  kCheck,      ///< check nibble stored, then computed ("9, 8")
  kStepByte,   ///< step byte and its parity ("05, even"); "—" for the counter word
  kSteps,      ///< S ("63"); "—" for the counter word
  kGives,      ///< "123456 km", with " (untrusted)" when the form fails
  kResult,     ///< "passes", or "fails: " and each failed test in words
};
inline constexpr std::size_t kDetailsColumnCount = 7;

/// The titles of the details' columns: the row label's first, then one per
/// DetailsColumn.
inline constexpr std::array<std::u16string_view, 1 + kDetailsColumnCount> kDetailsColumnTitles = {
    u"Form",  u"Bytes", u"Value", u"Check nibble: stored, computed", u"Step byte, parity",
    u"Steps", u"Gives", u"Result"};

/// One record's or the counter word's row.
struct DetailsRow {
  std::u16string label;  ///< "Record 1".."Record 5" or "Counter word"
  bool passes = false;   ///< all of its tests pass
  std::array<std::u16string, kDetailsColumnCount> cells;
  /// A cell whose field is the one a failed test is about: the check nibble
  /// when the checksum fails, the step byte when the parity test fails.
  std::array<bool, kDetailsColumnCount> bad{};
};

/// A damaged record's bytes in the record block's report line: where they
/// show (an offset into the line's text and a length, as RecordBytesInLine)
/// and what the mark says ("Record 3: step byte 05 has even parity").
struct DetailsMark {
  std::size_t offset = 0;
  std::size_t length = 0;
  std::u16string title;
};

/// A dump's details.
struct DumpDetails {
  /// One paragraph: which records fail which test, what the passing ones
  /// give (and the report's average of them), what the counter word gives;
  /// or why neither form was checked.
  std::u16string sentence;
  /// Five record rows, then the counter word's when the file holds it;
  /// none when the file could not be read or lacks the record block.
  std::vector<DetailsRow> rows;
  /// One per record that fails a test, in record order; none when all pass.
  std::vector<DetailsMark> marks;
};

/// The details of a dump of which `got` bytes (0..kDumpBytesSize; more
/// counts as kDumpBytesSize) were read into `bytes` from kRecordBlockOffset,
/// as DumpFactsOf takes them; `readable` is false for a file that could not
/// be opened or read (its `got` is then not looked at). Bytes past `got`
/// are not looked at.
DumpDetails DumpDetailsOf(std::span<const std::uint8_t, kDumpBytesSize> bytes, std::size_t got,
                          bool readable);

}  // namespace dumpscan
