#pragma once
// Windows-only ways of starting the tool, for cases that need a hand in how
// the process begins.

#include <windows.h>

#include <string>
#include <string_view>

#include "tests/run_tool.h"

namespace dumpscan::testing_support {

/// A kernel handle, closed when the scope ends; null and
/// INVALID_HANDLE_VALUE count as none.
class OwnedHandle {
 public:
  explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  ~OwnedHandle() {
    if (valid()) CloseHandle(handle_);
  }
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

/// A build path as Windows spells it: a path of the Linux side (under Wine)
/// becomes the same path on drive Z:, with backslashes.
std::wstring WindowsPath(std::string_view build_path);

/// The tool's path as Windows spells it (WindowsPath of the built tool).
std::wstring ToolPath();

/// Runs the tool in `directory` with the given standard input and output
/// handles (either may be null: the tool then starts without it); waits up
/// to `timeout_ms`, then kills it and reports it unfinished. `output` of the
/// result stays empty.
ToolRun RunToolWithHandles(const std::filesystem::path& directory, HANDLE input, HANDLE output,
                           DWORD timeout_ms = 30'000);

}  // namespace dumpscan::testing_support
