#include "scanner/scan.h"

#include <array>

#include "console/console.h"

namespace dumpscan {

int ScanDumpDirectory(const NativeString& path) {
  const DirectoryScan scan = BeginDirectoryScan(path);
  if (!scan) return 0;
  // One entry and one block for the whole scan: their storage is reused,
  // so a dump's lines cost no allocation once the longest has been seen.
  DumpEntry entry;
  DumpBlock block;
  std::array<std::uint8_t, kDumpBytesSize> bytes{};
  while (NextDumpEntry(*scan, entry)) {
    // The block's first line, the name, goes out before the open: where an
    // open or a read is slow (a network share, a device), the screen shows
    // which dump the tool is waiting on.
    PrintLine(entry.display_name);
    // Both ranges in one read: the counter word follows the record block
    // directly, so a short read tells which of the two arrived whole. A
    // dump that cannot be opened gets its name and the empty line.
    std::size_t got = 0;
    if (const DumpFile file = OpenDumpFile(*scan, entry)) {
      got = ReadDumpBytes(*file, kRecordBlockOffset, bytes);
    }
    DescribeDump(entry.display_name, bytes, got, block);
    for (std::size_t i = kFirstLineAfterName; i < block.line_count; ++i) {
      PrintLine(LineText(block, i));
    }
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
