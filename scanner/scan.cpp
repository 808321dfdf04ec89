#include "scanner/scan.h"

#include <array>

#include "console/console.h"

namespace dumpscan {

namespace {

// Both ranges in one read: the counter word follows the record block
// directly, so a short read tells which of the two arrived whole.
void DescribeDump(DumpFileState& file) {
  std::array<std::uint8_t, kDumpBytesSize> scratch{};
  const std::size_t got = ReadDumpBytes(file, kRecordBlockOffset, scratch);
  for (const ReportLine& line : DescribeDumpBytes(scratch, got)) PrintLine(line.text);
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
