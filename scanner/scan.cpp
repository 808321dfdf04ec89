#include "scanner/scan.h"

#include <array>

#include "console/console.h"
#include "scanner/counter_word.h"
#include "scanner/record_block.h"

namespace dumpscan {

static_assert(kCounterWordOffset == kRecordBlockOffset + kRecordBlockSize,
              "one read covers both ranges only while they are adjacent");

namespace {

// Both ranges in one read: the counter word follows the record block
// directly, so a short read tells which of the two arrived whole.
void DescribeDump(DumpFileState& file) {
  std::array<std::uint8_t, kRecordBlockSize + kCounterWordSize> scratch{};
  const std::size_t got = ReadDumpBytes(file, kRecordBlockOffset, scratch);
  const std::span<const std::uint8_t> bytes(scratch);
  // The prefix goes in front of the report text in place, which the text's
  // spare capacity usually allows without a second allocation.
  if (got >= kRecordBlockSize) {
    PrintLine(DescribeRecordBlock(bytes.first<kRecordBlockSize>()).insert(0, u"0x774: "));
  }
  if (got >= kRecordBlockSize + kCounterWordSize) {
    PrintLine(DescribeCounterWord(bytes.subspan<kRecordBlockSize, kCounterWordSize>())
                  .insert(0, u"0x788: "));
  }
}

}  // namespace

int ScanDumpDirectory(const NativeString& path) {
  const DirectoryScan scan = BeginDirectoryScan(path);
  if (!scan) return 0;
  DumpEntry entry;
  while (NextDumpEntry(*scan, entry)) {
    PrintLine(entry.display_name);
    if (const DumpFile file = OpenDumpFile(*scan, entry)) DescribeDump(*file);
    PrintLine(u"");
  }
  return 0;
}

int RunDumpscan() {
  if (OpenConsoleWindow()) {
    ScanDumpDirectory(CurrentDirectory());
    PrintLine(u"Press ENTER");
    ReadLine();
    CloseConsoleWindow();
  }
  return 0;
}

}  // namespace dumpscan
