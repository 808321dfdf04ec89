#include "tests/run_tool_posix.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/dump_fixture.h"

namespace dumpscan::testing_support {

// A cross build's emulator command as string literals, each with its comma.
#ifndef DUMPSCAN_EMULATOR
#define DUMPSCAN_EMULATOR
#endif

void ExecTool() {
  static const char* const kCommand[] = {DUMPSCAN_EMULATOR DUMPSCAN_BINARY, nullptr};
  execv(kCommand[0], const_cast<char* const*>(kCommand));
  _exit(127);
}

ToolRun WaitForTool(int pid) {
  ToolRun run;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return run;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  run.finished = WIFEXITED(status);
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return run;
}

ToolRun RunToolAfter(const std::function<void()>& setup) {
  const pid_t pid = fork();
  if (pid == 0) {
    setup();
    ExecTool();
  }
  return WaitForTool(pid);
}

ToolRun RunTool(const std::filesystem::path& directory, std::string_view input) {
  const ScratchDirectory streams;
  const auto in_path = streams.path() / "stdin";
  const auto out_path = streams.path() / "stdout";
  fixture::WriteFile(in_path, std::vector<std::uint8_t>(input.begin(), input.end()));
  ToolRun run = RunToolAfter([&] {
    const int in = open(in_path.c_str(), O_RDONLY);
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open("/dev/null", O_WRONLY);
    if (in < 0 || out < 0 || err < 0 || chdir(directory.c_str()) != 0) _exit(126);
    dup2(in, STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
  });
  run.output = fixture::ReadFile(out_path);
  return run;
}

}  // namespace dumpscan::testing_support
