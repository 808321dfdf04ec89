#pragma once
// The report as a table for spreadsheets: one row per dump with both
// readings, their verdicts and the bytes of both forms, as comma-separated
// values (fields with a comma, a quote or a line end quoted, quotes doubled,
// rows ended with CR LF). A spreadsheet may take a cell that starts with
// = + - @ for a formula, quoted or not, and work it out on opening (OWASP's
// list of such starts adds a tab and CR): a name that starts so is written
// with an apostrophe before it, so that it stays text. Some spreadsheets
// (Gnumeric) take a leading apostrophe as that mark and hide it, others
// (LibreOffice) show it; a name that itself starts with an apostrophe gets
// one more, so that the hiding ones do not eat its own.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "engine/dump_report.h"

namespace dumpscan {

/// The verdict a form's column shows when the file is too short for it.
inline constexpr std::u16string_view kMissingFormVerdict = u"missing";

/// The verdict both forms' columns show when the file could not be read:
/// the words the page's summary and details use.
inline constexpr std::u16string_view kUnreadVerdict = u"could not be read";

/// Appends the header row: name, record block km, its verdict, counter
/// word km, its verdict, record block bytes, counter word bytes.
void AppendCsvHeader(std::u16string& out);

/// Appends the row of a dump shown as `name` (written as AppendCsvField
/// writes it), of which `got` bytes were read into `bytes` from
/// kRecordBlockOffset (as DescribeDump takes them): the distances as the
/// report shows them (empty when a check fails or the form is missing), the
/// verdicts in the report's words without the arrow ("CRC/Parity OK",
/// "CRC OK", "Crc And/Or Parity Error") or kMissingFormVerdict, and the
/// bytes of each form ("3C 48 F0 3E ...", empty when missing). When the
/// file could not be read (`readable` false), `bytes` and `got` are not
/// looked at: both distances and both byte columns are empty and both
/// verdicts are kUnreadVerdict.
void AppendCsvRow(std::u16string_view name, std::span<const std::uint8_t, kDumpBytesSize> bytes,
                  std::size_t got, bool readable, std::u16string& out);

/// Appends the text `field` as one CSV field: with an apostrophe before it
/// when it starts with =, +, -, @, a tab or CR (a formula's start to a
/// spreadsheet) or an apostrophe (which a spreadsheet may take away); then
/// quoted, quotes doubled, when it holds a comma, a quote, CR or LF.
void AppendCsvField(std::u16string_view field, std::u16string& out);

}  // namespace dumpscan
