// Any 20 bytes: the report is the byte dump followed by exactly one of the
// two verdicts, and an OK verdict carries the decoded, in-range distance.

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "engine/record_block.h"

namespace {

// The expected text is worked out here, not by the engine's own formatting:
// ASCII from the standard library, widened.
std::u16string Widened(const std::string& ascii) { return {ascii.begin(), ascii.end()}; }

std::u16string ExpectedDump(std::span<const std::uint8_t> bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (const std::uint8_t b : bytes) {
    text += kHex[b >> 4];
    text += kHex[b & 0xF];
    text += ' ';
  }
  return Widened(text);
}

std::u16string ExpectedOkVerdict(std::int32_t distance) {
  char digits[16];
  char* const end = std::to_chars(digits, digits + sizeof digits, distance).ptr;
  return Widened("--> " + std::string(digits, end) + " km --> CRC/Parity OK");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace dumpscan;
  if (size < kRecordBlockSize) return 0;
  const std::span<const std::uint8_t, kRecordBlockSize> block(data, kRecordBlockSize);
  const std::u16string text = DescribeRecordBlock(block);
  const std::u16string dump = ExpectedDump(block);
  if (FormatByteDump(block) != dump || text.compare(0, dump.size(), dump) != 0) std::abort();
  const std::u16string verdict = text.substr(dump.size());
  const std::int32_t distance = DecodeRecordBlock(block);
  if (distance == -1) {
    if (verdict != kCheckErrorVerdict) std::abort();
  } else {
    if (distance < 2 || distance > 8388609) std::abort();
    if (verdict != ExpectedOkVerdict(distance)) std::abort();
  }
  return 0;
}
