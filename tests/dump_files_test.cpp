// The platform's file-system operations, through the same interface the
// scan uses.

#include "scanner/dump_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <set>

#include "tests/dump_fixture.h"
#include "tests/run_tool.h"

namespace dumpscan {
namespace {

namespace fs = std::filesystem;
using testing_support::ScratchDirectory;

NativeString ScanPath(const fs::path& directory) {
  return directory.native() + fs::path::preferred_separator;
}

std::set<std::u16string> ListedNames(const fs::path& directory) {
  std::set<std::u16string> names;
  const DirectoryScan scan = BeginDirectoryScan(ScanPath(directory));
  if (!scan) return names;
  DumpEntry entry;
  while (NextDumpEntry(*scan, entry)) names.insert(entry.display_name);
  return names;
}

TEST(DumpFilesTest, CurrentDirectoryEndsInTheSeparator) {
  const NativeString path = CurrentDirectory();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.back(), static_cast<NativeString::value_type>(fs::path::preferred_separator));
  NativeString expected = fs::current_path().native();
  if (expected.back() != fs::path::preferred_separator) expected += fs::path::preferred_separator;
  EXPECT_EQ(path, expected);
}

TEST(DumpFilesTest, ScansListOnlyDumpNames) {
  const ScratchDirectory dir;
  for (const char* name : {"a.bin", "B.BIN", "c.txt", "d.bin.txt"})
    fixture::WriteFile(dir.path() / name, {1});
  EXPECT_EQ(ListedNames(dir.path()), (std::set<std::u16string>{u"a.bin", u"B.BIN"}));
  EXPECT_EQ(BeginDirectoryScan(ScanPath(dir.path() / "missing")), nullptr);
}

TEST(DumpFilesTest, AnEntryThatVanishesBeforeItIsOpenedCannotBeOpened) {
  const ScratchDirectory dir;
  fixture::WriteFile(dir.path() / "gone.bin", {1, 2, 3});
  const DirectoryScan scan = BeginDirectoryScan(ScanPath(dir.path()));
  ASSERT_NE(scan, nullptr);
  DumpEntry entry;
  ASSERT_TRUE(NextDumpEntry(*scan, entry));
  fs::remove(dir.path() / "gone.bin");
  EXPECT_EQ(OpenDumpFile(*scan, entry), nullptr);
  EXPECT_FALSE(NextDumpEntry(*scan, entry));
}

TEST(DumpFilesTest, ReadsReturnWhatLiesBeforeTheEnd) {
  const ScratchDirectory dir;
  std::vector<std::uint8_t> bytes(100);
  for (std::size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<std::uint8_t>(k);
  fixture::WriteFile(dir.path() / "r.bin", bytes);
  const DirectoryScan scan = BeginDirectoryScan(ScanPath(dir.path()));
  ASSERT_NE(scan, nullptr);
  DumpEntry entry;
  ASSERT_TRUE(NextDumpEntry(*scan, entry));
  const DumpFile file = OpenDumpFile(*scan, entry);
  ASSERT_NE(file, nullptr);
  std::array<std::uint8_t, 8> buffer{};
  EXPECT_EQ(ReadDumpBytes(*file, 10, buffer), 8u);
  EXPECT_EQ(buffer[0], 10);
  EXPECT_EQ(ReadDumpBytes(*file, 96, buffer), 4u);
  EXPECT_EQ(buffer[3], 99);
  EXPECT_EQ(ReadDumpBytes(*file, 100, buffer), 0u);
  EXPECT_EQ(ReadDumpBytes(*file, 1u << 20, buffer), 0u);
}

}  // namespace
}  // namespace dumpscan
