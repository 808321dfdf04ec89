#include "engine/dump_report.h"

namespace dumpscan {

namespace {

// Starts a line at the end of the block's text; its length is set by
// EndLine once its text is in.
BlockLine& BeginLine(DumpBlock& block, LineVerdict verdict) {
  BlockLine& line = block.lines[block.line_count++];
  line = {block.text.size(), 0, verdict};
  return line;
}

void EndLine(DumpBlock& block, BlockLine& line) { line.length = block.text.size() - line.offset; }

LineVerdict VerdictOf(std::int32_t decoded) {
  return decoded < 0 ? LineVerdict::kCheckFailed : LineVerdict::kOk;
}

}  // namespace

void DescribeDump(std::u16string_view name, std::span<const std::uint8_t, kDumpBytesSize> bytes,
                  std::size_t got, DumpBlock& block) {
  block.text.clear();
  block.line_count = 0;

  BlockLine& name_line = BeginLine(block, LineVerdict::kNone);
  block.text += name;
  EndLine(block, name_line);

  if (got >= kRecordBlockSize) {
    BlockLine& line = BeginLine(block, LineVerdict::kNone);
    block.text += kRecordBlockLinePrefix;
    line.verdict = VerdictOf(AppendRecordBlockReport(bytes.first<kRecordBlockSize>(), block.text));
    EndLine(block, line);
  }
  if (got >= kDumpBytesSize) {
    BlockLine& line = BeginLine(block, LineVerdict::kNone);
    block.text += kCounterWordLinePrefix;
    line.verdict = VerdictOf(AppendCounterWordReport(bytes.last<kCounterWordSize>(), block.text));
    EndLine(block, line);
  }

  BeginLine(block, LineVerdict::kNone);  // the empty line
}

std::u16string_view LineText(const DumpBlock& block, std::size_t i) {
  const BlockLine& line = block.lines[i];
  return std::u16string_view(block.text).substr(line.offset, line.length);
}

}  // namespace dumpscan
