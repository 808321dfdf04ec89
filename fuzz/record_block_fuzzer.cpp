// Any 20 bytes: the report is the byte dump followed by exactly one of the
// two verdicts, and an OK verdict carries the decoded, in-range distance.

#include <cstdint>
#include <cstdlib>
#include <span>

#include "engine/record_block.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace dumpscan;
  if (size < kRecordBlockSize) return 0;
  const std::span<const std::uint8_t, kRecordBlockSize> block(data, kRecordBlockSize);
  const std::u16string text = DescribeRecordBlock(block);
  const std::u16string dump = FormatByteDump(block);
  if (text.compare(0, dump.size(), dump) != 0) std::abort();
  const std::u16string verdict = text.substr(dump.size());
  const std::int32_t distance = DecodeRecordBlock(block);
  if (distance == -1) {
    if (verdict != kCheckErrorVerdict) std::abort();
  } else {
    if (distance < 2 || distance > 8388609) std::abort();
    const std::u16string ok =
        u"--> " + DecimalText(static_cast<std::uint64_t>(distance)) + u" km --> CRC/Parity OK";
    if (verdict != ok) std::abort();
  }
  return 0;
}
