// What the page calls: the engine's name rule, name display and per-dump
// report, over buffers in the module's memory. The page writes a name (UTF-16
// code units, as JavaScript strings hold them) and the bytes it read, calls,
// and reads the lines back; nothing here keeps anything from one dump to the
// next but the last result.

#include <emscripten/emscripten.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

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

std::u16string_view LineText(std::size_t i) {
  return i < block.line_count ? dumpscan::LineText(block, i) : std::u16string_view();
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
/// lines and an empty line. Returns the number of lines.
EMSCRIPTEN_KEEPALIVE std::size_t dumpscan_describe(std::size_t name_length, std::size_t got) {
  dumpscan::DescribeDump(dumpscan::DisplayName(Name(name_length)), bytes_buffer, got, block);
  return block.line_count;
}

/// Line `i` of the last block described: its UTF-16 text (not terminated),
/// its length in code units, and its verdict (0 none, 1 OK, 2 check failed).
/// An `i` past the last line gives an empty text and verdict 0.
EMSCRIPTEN_KEEPALIVE const char16_t* dumpscan_line_text(std::size_t i) {
  return LineText(i).data();
}
EMSCRIPTEN_KEEPALIVE std::size_t dumpscan_line_length(std::size_t i) { return LineText(i).size(); }
EMSCRIPTEN_KEEPALIVE int dumpscan_line_verdict(std::size_t i) {
  return i < block.line_count ? static_cast<int>(block.lines[i].verdict) : 0;
}

}  // extern "C"
