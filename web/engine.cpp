// What the page calls: the engine's name rule, name display, per-dump
// report, a dump's facts and its CSV row, over buffers in the module's memory. The page writes a
// name (UTF-16 code units, as JavaScript strings hold them) and the bytes it read, calls, and reads
// the lines back; nothing here keeps anything from one dump to the next but the last result.

#include <emscripten/emscripten.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/dump_csv.h"
#include "engine/dump_facts.h"
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

// The facts of the last dump laid open, and the last CSV text made.
dumpscan::DumpFacts facts;
std::u16string csv_text;

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

/// Lays open the dump of which `got` bytes arrived in the bytes buffer (as
/// dumpscan_describe takes them); its facts are read with dumpscan_fact.
EMSCRIPTEN_KEEPALIVE void dumpscan_facts(std::size_t got) {
  facts = dumpscan::DumpFactsOf(bytes_buffer, got);
}

/// One fact of the last dump laid open; `record` (0..4) picks the record
/// for the record fields. Fields:
///   0 the file holds the record block (1/0), 1 it holds the counter word,
///   2 the record block's distance (-1: none), 3 its records all pass and agree,
///   4 the byte a file must reach past for the record block, 5 for the counter word;
///   10 record value V, 11 its stored check nibble, 12 the nibble V gives,
///   13 step byte, 14 its parity is odd, 15 step count S, 16 checksum passes,
///   17 parity passes, 18 the record passes, 19 128*V + S + 1,
///   20 where its bytes start in the record block's report line, 21 how long
///   they show there, 22..25 its bytes b0..b3;
///   30 counter word count, 31 its stored check nibble, 32 the nibble the
///   count gives, 33 it passes, 34..37 its bytes.
/// Any other field, or a record out of range, gives -1. Kilometres: below.
EMSCRIPTEN_KEEPALIVE int dumpscan_fact(int field, int record) {
  const bool record_in_range = record >= 0 && record < static_cast<int>(dumpscan::kRecordCount);
  if (field >= 10 && field < 30 && !record_in_range) return -1;
  const auto at = static_cast<std::size_t>(record_in_range ? record : 0);
  const dumpscan::RecordFacts& r = facts.record_block.records[at];
  const dumpscan::CounterWordFacts& word = facts.counter_word;
  const dumpscan::LineSpan in_line = dumpscan::RecordBytesInLine(at);
  switch (field) {
    case 0:
      return facts.has_record_block ? 1 : 0;
    case 1:
      return facts.has_counter_word ? 1 : 0;
    case 2:
      return facts.record_block.distance;
    case 3:
      return facts.record_block.records_agree ? 1 : 0;
    case 4:
      return static_cast<int>(dumpscan::kRecordBlockEnd);
    case 5:
      return static_cast<int>(dumpscan::kCounterWordEnd);
    case 10:
      return r.value;
    case 11:
      return r.stored_check;
    case 12:
      return r.value_check;
    case 13:
      return r.step_byte;
    case 14:
      return r.odd_parity ? 1 : 0;
    case 15:
      return r.steps;
    case 16:
      return r.checksum_passes ? 1 : 0;
    case 17:
      return r.parity_passes ? 1 : 0;
    case 18:
      return r.passes ? 1 : 0;
    case 19:
      return static_cast<int>(r.distance);
    case 20:
      return static_cast<int>(in_line.offset);
    case 21:
      return static_cast<int>(in_line.length);
    case 22:
    case 23:
    case 24:
    case 25:
      return r.bytes[static_cast<std::size_t>(field - 22)];
    case 30:
      return static_cast<int>(word.count);
    case 31:
      return word.stored_check;
    case 32:
      return word.count_check;
    case 33:
      return word.passes ? 1 : 0;
    case 34:
    case 35:
    case 36:
    case 37:
      return word.bytes[static_cast<std::size_t>(field - 34)];
    default:
      return -1;
  }
}

/// The kilometres the last counter word laid open stands for, as the report
/// shows them (whether or not its check passes): UTF-16, not terminated.
EMSCRIPTEN_KEEPALIVE const char16_t* dumpscan_kilometres_text() {
  return facts.counter_word.kilometres_text.units.data();
}
EMSCRIPTEN_KEEPALIVE std::size_t dumpscan_kilometres_length() {
  return facts.counter_word.kilometres_text.length;
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
  dumpscan::AppendCsvRow(dumpscan::DisplayName(Name(name_length)), bytes_buffer, got,
                         readable != 0, csv_text);
  return csv_text.size();
}

/// The CSV text last made: UTF-16, not terminated.
EMSCRIPTEN_KEEPALIVE const char16_t* dumpscan_csv_text() { return csv_text.data(); }

}  // extern "C"
