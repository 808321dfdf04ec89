#include "scanner/dump_report.h"

namespace dumpscan {

std::vector<ReportLine> DescribeDumpBytes(std::span<const std::uint8_t, kDumpBytesSize> bytes,
                                          std::size_t got) {
  std::vector<ReportLine> lines;
  if (got < kRecordBlockSize) return lines;
  lines.reserve(2);
  const auto block = bytes.first<kRecordBlockSize>();
  // The prefix goes in front of the report text in place, which the text's
  // spare capacity usually allows without a second allocation.
  lines.push_back({DescribeRecordBlock(block).insert(0, u"0x774: "), DecodeRecordBlock(block) < 0});
  if (got < kDumpBytesSize) return lines;
  const auto word = bytes.last<kCounterWordSize>();
  lines.push_back({DescribeCounterWord(word).insert(0, u"0x788: "), DecodeCounterWord(word) < 0});
  return lines;
}

}  // namespace dumpscan
