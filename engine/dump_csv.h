#pragma once
// The report as a table for spreadsheets: one row per dump with both
// readings, their verdicts and the bytes of both forms, as comma-separated
// values (fields with a comma, a quote or a line end quoted, quotes doubled,
// rows ended with CR LF).

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "engine/dump_report.h"

namespace dumpscan {

/// The verdict a form's column shows when the file is too short for it.
inline constexpr std::u16string_view kMissingFormVerdict = u"missing";

/// Appends the header row: name, record block km, its verdict, counter
/// word km, its verdict, record block bytes, counter word bytes.
void AppendCsvHeader(std::u16string& out);

/// Appends the row of a dump shown as `name`, of which `got` bytes were read
/// into `bytes` from kRecordBlockOffset (as DescribeDump takes them): the
/// distances as the report shows them (empty when a check fails or the form
/// is missing), the verdicts in the report's words without the arrow
/// ("CRC/Parity OK", "CRC OK", "Crc And/Or Parity Error") or "missing", and
/// the bytes of each form ("3C 48 F0 3E ...", empty when missing).
void AppendCsvRow(std::u16string_view name, std::span<const std::uint8_t, kDumpBytesSize> bytes,
                  std::size_t got, std::u16string& out);

/// Appends `field` as one CSV field, quoted when it holds a comma, a quote,
/// CR or LF.
void AppendCsvField(std::u16string_view field, std::u16string& out);

}  // namespace dumpscan
