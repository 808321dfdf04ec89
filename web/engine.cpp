// What the page calls: the engine's name rule, name display, per-dump
// report, a dump's details and its CSV row, over buffers in the module's memory. The page writes a
// name (UTF-16 code units, as JavaScript strings hold them) and the bytes it read, calls, and reads
// the lines back; nothing here keeps anything from one dump to the next but the last result.

#include <emscripten/emscripten.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/dump_csv.h"
#include "engine/dump_details.h"
#include "engine/dump_name.h"
#include "engine/dump_report.h"

namespace {

std::u16string name_buffer;
std::u16string display_buffer;
std::array<std::uint8_t, dumpscan::kDumpBytesSize> bytes_buffer{};

// The last block described; its storage is kept from one dump to the next.
dumpscan::DumpBlock block;

std::u16string_view Name(std::size_t length) {
  return std::u16string_view(name_buffer).substr(0, length);
}

// The last CSV text made.
std::u16string csv_text;

// The details of the last dump opened: their text, and where each part of
// it is (dumpscan_details says how the words are laid out).
std::u16string details_text;
constexpr std::size_t kMaxDetailsRows = dumpscan::kRecordCount + 1;
std::array<std::uint32_t, 6 + 2 * (1 + dumpscan::kDetailsColumnCount) +
                              kMaxDetailsRows*(3 + 3 * dumpscan::kDetailsColumnCount) +
                              dumpscan::kRecordCount * 4>
    details_layout{};

// Where the last block's lines are, for the page to read in one go: the
// address of its text, its length in code units, then each line's offset in
// the text, length and verdict. One call per dump, not three per line:
// each call from the page's script into the module has a cost of its own.
std::array<std::uint32_t, 2 + 3 * dumpscan::kMaxBlockLines> layout{};

void LayOut() {
  layout[0] = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(block.text.data()));
  layout[1] = static_cast<std::uint32_t>(block.text.size());
  for (std::size_t i = 0; i < block.line_count; ++i) {
    layout[2 + 3 * i] = static_cast<std::uint32_t>(block.lines[i].offset);
    layout[3 + 3 * i] = static_cast<std::uint32_t>(block.lines[i].length);
    layout[4 + 3 * i] = static_cast<std::uint32_t>(block.lines[i].verdict);
  }
}

}  // namespace

extern "C" {

/// Where in the file, and how many bytes, the page reads for each dump.
EMSCRIPTEN_KEEPALIVE unsigned dumpscan_read_offset() {
  return static_cast<unsigned>(dumpscan::kRecordBlockOffset);
}
EMSCRIPTEN_KEEPALIVE unsigned dumpscan_read_size() {
  return static_cast<unsigned>(dumpscan::kDumpBytesSize);
}

/// Room for a name of `length` UTF-16 code units; valid until the next call.
EMSCRIPTEN_KEEPALIVE char16_t* dumpscan_name_buffer(std::size_t length) {
  name_buffer.assign(length, u'\0');
  return name_buffer.data();
}

/// The name in the name buffer (its first `length` units) as the report
/// shows it, in a buffer of its own valid until the next call: returns its
/// length; dumpscan_display_text() gives its UTF-16 text (not terminated).
EMSCRIPTEN_KEEPALIVE std::size_t dumpscan_display_name(std::size_t length) {
  display_buffer = dumpscan::DisplayName(Name(length));
  return display_buffer.size();
}
EMSCRIPTEN_KEEPALIVE const char16_t* dumpscan_display_text() { return display_buffer.data(); }

/// Room for the dumpscan_read_size() bytes read from dumpscan_read_offset().
EMSCRIPTEN_KEEPALIVE std::uint8_t* dumpscan_bytes_buffer() { return bytes_buffer.data(); }

/// 1 when the name in the name buffer (its first `length` units) is a dump's.
EMSCRIPTEN_KEEPALIVE int dumpscan_is_dump_name(std::size_t length) {
  return dumpscan::IsDumpName(Name(length)) ? 1 : 0;
}

/// Describes the dump named in the name buffer of which `got` bytes arrived
/// in the bytes buffer (0 for a file that could not be read): its block of
/// lines, as the console program prints them, is the name line, the report
/// lines and an empty line. Returns the number of lines; where they are is
/// in the block layout.
EMSCRIPTEN_KEEPALIVE std::size_t dumpscan_describe(std::size_t name_length, std::size_t got) {
  dumpscan::DescribeDump(dumpscan::DisplayName(Name(name_length)), bytes_buffer, got, block);
  LayOut();
  return block.line_count;
}

/// The block layout, at an address that does not change: 32-bit words
/// giving the last block's text (its address, its length in UTF-16 code
/// units), then for each of its lines the offset of its text in the
/// block's text, its length and its verdict (0 none, 1 OK, 2 check failed).
/// Valid until the next dumpscan_describe.
EMSCRIPTEN_KEEPALIVE const std::uint32_t* dumpscan_block_layout() { return layout.data(); }

/// The details of the dump of which `got` bytes arrived in the bytes buffer
/// (as dumpscan_describe takes them; `readable` 0 for a file that could not
/// be read), laid out for the page to read in one go. Returns the address
/// of the details layout, 32-bit words valid until the next call:
///   0 the address of the details' UTF-16 text, 1 its length in code units;
///   2, 3 the sentence (offset into that text, length);
///   4 the number of rows R, 5 the number of marks M;
///   6..21 the eight column titles (offset, length), the row label's first;
///   then R rows of 24 words: passes (1/0), the label (offset, length),
///     then seven cells of (offset, length, bad 1/0) in column order;
///   then M marks of 4 words: the damaged record's bytes in the record
///     block's report line (offset, length in code units), and the mark's
///     title (offset, length).
EMSCRIPTEN_KEEPALIVE const std::uint32_t* dumpscan_details(std::size_t got, int readable) {
  const dumpscan::DumpDetails details = dumpscan::DumpDetailsOf(bytes_buffer, got, readable != 0);
  details_text.clear();
  std::size_t at = 0;
  auto put = [&](std::u16string_view text) {
    details_layout[at++] = static_cast<std::uint32_t>(details_text.size());
    details_layout[at++] = static_cast<std::uint32_t>(text.size());
    details_text += text;
  };
  at = 2;
  put(details.sentence);
  details_layout[at++] = static_cast<std::uint32_t>(details.rows.size());
  details_layout[at++] = static_cast<std::uint32_t>(details.marks.size());
  for (const std::u16string_view title : dumpscan::kDetailsColumnTitles) put(title);
  for (const dumpscan::DetailsRow& row : details.rows) {
    details_layout[at++] = row.passes ? 1 : 0;
    put(row.label);
    for (std::size_t k = 0; k < dumpscan::kDetailsColumnCount; ++k) {
      put(row.cells[k]);
      details_layout[at++] = row.bad[k] ? 1 : 0;
    }
  }
  for (const dumpscan::DetailsMark& mark : details.marks) {
    details_layout[at++] = static_cast<std::uint32_t>(mark.offset);
    details_layout[at++] = static_cast<std::uint32_t>(mark.length);
    put(mark.title);
  }
  // The text has its final size only now: its address is written last.
  details_layout[0] =
      static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(details_text.data()));
  details_layout[1] = static_cast<std::uint32_t>(details_text.size());
  return details_layout.data();
}

/// The CSV header row (with its CR LF) as the CSV text; returns its length.
EMSCRIPTEN_KEEPALIVE std::size_t dumpscan_csv_header() {
  csv_text.clear();
  dumpscan::AppendCsvHeader(csv_text);
  return csv_text.size();
}

/// The CSV row (with its CR LF) of the dump named in the name buffer of
/// which `got` bytes arrived in the bytes buffer, as the CSV text; returns
/// its length. `readable` is 0 for a file that could not be read (its row
/// says so), 1 otherwise.
EMSCRIPTEN_KEEPALIVE std::size_t dumpscan_csv_row(std::size_t name_length, std::size_t got,
                                                  int readable) {
  csv_text.clear();
  dumpscan::AppendCsvRow(dumpscan::DisplayName(Name(name_length)), bytes_buffer, got, readable != 0,
                         csv_text);
  return csv_text.size();
}

/// The CSV text last made: UTF-16, not terminated.
EMSCRIPTEN_KEEPALIVE const char16_t* dumpscan_csv_text() { return csv_text.data(); }

}  // extern "C"
