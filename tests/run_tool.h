#pragma once
// Runs the built tool as a person would script it: in a given directory,
// standard output redirected to a file, standard input from a file.

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace dumpscan::testing_support {

struct ToolRun {
  bool finished = false;  ///< ended by itself within the time limit
  int exit_code = -1;
  int signal = 0;      ///< the signal that ended it, where one did
  std::string output;  ///< the exact bytes written to standard output
};

/// Runs the tool in `directory` with `input` as the bytes of its standard
/// input; a run that takes over 30 seconds is killed and reported unfinished.
ToolRun RunTool(const std::filesystem::path& directory, std::string_view input = {});

/// The lines a dump produces after its name line, keyed by the name.
using ExpectedDumps = std::map<std::u16string, std::vector<std::u16string>>;

/// The exact bytes the tool must write for `dumps`, in the order their names
/// appear in `actual` (enumeration order is the platform's), then the prompt.
std::string ExpectedOutput(const ExpectedDumps& dumps, const std::string& actual);

/// A fresh, empty directory that is removed again with this object.
class ScratchDirectory {
 public:
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace dumpscan::testing_support
