#include "tests/run_tool_win32.h"

#include <vector>

#include "tests/dump_fixture.h"

namespace dumpscan::testing_support {

namespace {

std::wstring Utf8ToWide(std::string_view text) {
  if (text.empty()) return {};
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

// A handle the child can inherit, open on `path`.
HANDLE OpenInheritable(const std::filesystem::path& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                     disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

std::wstring WindowsPath(std::string_view build_path) {
  std::wstring path = Utf8ToWide(build_path);
  if (!path.empty() && path.front() == L'/') path.insert(0, L"Z:");
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

std::wstring ToolPath() { return WindowsPath(DUMPSCAN_BINARY); }

ToolRun RunToolWithHandles(const std::filesystem::path& directory, HANDLE input, HANDLE output,
                           DWORD timeout_ms) {
  ToolRun run;
  const std::wstring application = ToolPath();
  std::wstring command_line = L"\"" + application + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = output;
  startup.hStdError = nullptr;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(application.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                      directory.c_str(), &startup, &process)) {
    return run;
  }
  const OwnedHandle process_handle(process.hProcess);
  const OwnedHandle thread_handle(process.hThread);
  if (WaitForSingleObject(process.hProcess, timeout_ms) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, INFINITE);
    return run;
  }
  DWORD code = 0;
  if (GetExitCodeProcess(process.hProcess, &code)) {
    run.finished = true;
    run.exit_code = static_cast<int>(code);
  }
  return run;
}

ToolRun RunTool(const std::filesystem::path& directory, std::string_view input) {
  const ScratchDirectory streams;
  const auto in_path = streams.path() / "stdin";
  const auto out_path = streams.path() / "stdout";
  fixture::WriteFile(in_path, std::vector<std::uint8_t>(input.begin(), input.end()));
  ToolRun run;
  {
    const OwnedHandle in(OpenInheritable(in_path, GENERIC_READ, OPEN_EXISTING));
    const OwnedHandle out(OpenInheritable(out_path, GENERIC_WRITE, CREATE_ALWAYS));
    if (!in.valid() || !out.valid()) return run;
    run = RunToolWithHandles(directory, in.get(), out.get());
  }
  run.output = fixture::ReadFile(out_path);
  return run;
}

}  // namespace dumpscan::testing_support
