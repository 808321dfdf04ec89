#include "engine/dump_csv.h"

#include "engine/dump_facts.h"

namespace dumpscan {

namespace {

constexpr std::u16string_view kRowEnd = u"\r\n";

// The verdicts as the report words them, without the arrow: the report
// line's text from its verdict on.
constexpr std::u16string_view kRecordBlockOk = u"CRC/Parity OK";
constexpr std::u16string_view kCounterWordOk = u"CRC OK";
constexpr std::u16string_view kCheckError = kCheckErrorVerdict.substr(4);

// The byte dump without its closing space.
void AppendBytes(std::span<const std::uint8_t> bytes, std::u16string& out) {
  if (bytes.empty()) return;
  AppendByteDump(bytes, out);
  out.pop_back();
}

}  // namespace

void AppendCsvField(std::u16string_view field, std::u16string& out) {
  // The apostrophe goes inside the quotes: spreadsheets read the quotes
  // away first, then look at how the cell's text starts.
  const bool mark_as_text =
      !field.empty() &&
      std::u16string_view(u"=+-@\t\r'").find(field.front()) != std::u16string_view::npos;
  if (field.find_first_of(u",\"\r\n") == std::u16string_view::npos) {
    if (mark_as_text) out += u'\'';
    out += field;
    return;
  }
  out += u'"';
  if (mark_as_text) out += u'\'';
  for (const char16_t unit : field) {
    if (unit == u'"') out += u'"';
    out += unit;
  }
  out += u'"';
}

void AppendCsvHeader(std::u16string& out) {
  out +=
      u"name,record block km,record block verdict,counter word km,counter word verdict,"
      u"record block bytes,counter word bytes";
  out += kRowEnd;
}

void AppendCsvRow(std::u16string_view name, std::span<const std::uint8_t, kDumpBytesSize> bytes,
                  std::size_t got, bool readable, std::u16string& out) {
  AppendCsvField(name, out);
  if (!readable) {
    // Neither form was looked at: no distance, no bytes.
    out += u",,";
    out += kUnreadVerdict;
    out += u",,";
    out += kUnreadVerdict;
    out += u",,";
    out += kRowEnd;
    return;
  }
  const DumpFacts facts = DumpFactsOf(bytes, got);
  // Each form: its distance (empty without one), then its verdict.
  out += u',';
  if (facts.has_record_block && facts.record_block.distance >= 0) {
    AppendDecimal(static_cast<std::uint64_t>(facts.record_block.distance), out);
    out += u',';
    out += kRecordBlockOk;
  } else {
    out += u',';
    out += facts.has_record_block ? kCheckError : kMissingFormVerdict;
  }
  out += u',';
  if (facts.has_counter_word && facts.counter_word.passes) {
    out += facts.counter_word.kilometres_text.View();
    out += u',';
    out += kCounterWordOk;
  } else {
    out += u',';
    out += facts.has_counter_word ? kCheckError : kMissingFormVerdict;
  }
  out += u',';
  if (facts.has_record_block) AppendBytes(bytes.first<kRecordBlockSize>(), out);
  out += u',';
  if (facts.has_counter_word) AppendBytes(bytes.last<kCounterWordSize>(), out);
  out += kRowEnd;
}

}  // namespace dumpscan
