// Writes the CSV of a folder's dumps as the web page saves it: a UTF-8
// byte-order mark, then the engine's header and a row per dump, the dumps
// in the page's order (the files of the folder itself whose names are
// dumps', compared code unit by code unit in UTF-16), each row made from
// the bytes at the dump offset as the page reads them. Tests open what it
// writes in spreadsheet programs, and compare it with the page's own CSV.
//   write_csv [--unreadable NAME]... FOLDER OUT.csv
// A file that cannot be opened is written as one that could not be read;
// --unreadable NAME takes file NAME so too (a user allowed to read every
// file, such as root, cannot have one refused).

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "engine/dump_csv.h"
#include "engine/dump_name.h"
#include "engine/dump_report.h"
#include "engine/utf.h"

namespace {

namespace fs = std::filesystem;

struct Dump {
  std::u16string name;  // as the browser gives it: the file name's UTF-8 decoded
  fs::path path;
};

int Usage() {
  std::fputs("usage: write_csv [--unreadable NAME]... FOLDER OUT.csv\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::set<std::string> unreadable;
  std::vector<std::string> operands;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--unreadable" && i + 1 < argc) {
      unreadable.insert(argv[++i]);
    } else if (argument.starts_with("--")) {
      return Usage();
    } else {
      operands.emplace_back(argument);
    }
  }
  if (operands.size() != 2) return Usage();

  std::vector<Dump> dumps;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(operands[0], error)) {
    std::error_code kind_error;
    if (!entry.is_regular_file(kind_error)) continue;
    const std::string name = entry.path().filename().string();
    if (!dumpscan::IsDumpName(name)) continue;
    dumps.push_back({dumpscan::Utf8ToUtf16(name), entry.path()});
  }
  if (error) {
    std::fprintf(stderr, "write_csv: cannot list %s: %s\n", operands[0].c_str(),
                 error.message().c_str());
    return 1;
  }
  std::sort(dumps.begin(), dumps.end(),
            [](const Dump& a, const Dump& b) { return a.name < b.name; });

  std::u16string csv;
  dumpscan::AppendCsvHeader(csv);
  for (const Dump& dump : dumps) {
    std::array<std::uint8_t, dumpscan::kDumpBytesSize> bytes{};
    std::size_t got = 0;
    bool readable = !unreadable.contains(dump.path.filename().string());
    if (readable) {
      std::ifstream file(dump.path, std::ios::binary);
      readable = file.is_open();
      if (readable && file.seekg(dumpscan::kRecordBlockOffset)) {
        file.read(reinterpret_cast<char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        got = static_cast<std::size_t>(file.gcount());
      }
    }
    dumpscan::AppendCsvRow(dumpscan::DisplayName(dump.name), bytes, got, readable, csv);
  }

  std::ofstream out(operands[1], std::ios::binary);
  out << "\xEF\xBB\xBF" << dumpscan::Utf16ToUtf8(csv);
  out.close();
  if (!out) {
    std::fprintf(stderr, "write_csv: cannot write %s\n", operands[1].c_str());
    return 1;
  }
  return 0;
}
