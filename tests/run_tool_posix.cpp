#include "tests/run_tool_posix.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "tests/dump_fixture.h"

namespace dumpscan::testing_support {

// A cross build's emulator command as string literals, each with its comma.
#ifndef DUMPSCAN_EMULATOR
#define DUMPSCAN_EMULATOR
#endif

void ExecTool() { ExecTool(DUMPSCAN_BINARY); }

void ExecTool(const char* binary) {
  std::vector<const char*> command = {DUMPSCAN_EMULATOR binary};
  command.push_back(nullptr);
  execv(command[0], const_cast<char* const*>(command.data()));
  _exit(127);
}

void DropPrivileges() {
  if (geteuid() != 0) return;
  uid_t uid = 65534;
  gid_t gid = 65534;
  if (const passwd* nobody = getpwnam("nobody")) {
    uid = nobody->pw_uid;
    gid = nobody->pw_gid;
  }
  if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) _exit(126);
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

ToolRun RunToolAsAnotherUser(const std::filesystem::path& directory,
                             const std::function<void()>& then) {
  namespace fs = std::filesystem;
  const ScratchDirectory streams;
  fs::permissions(streams.path(), fs::perms(0755));
  const fs::path tool = streams.path() / "dumpscan";
  fs::copy_file(DUMPSCAN_BINARY, tool);
  fs::permissions(tool, fs::perms(0755));
  const fs::path out = streams.path() / "out";
  ToolRun run = RunToolAfter([&] {
    const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || chdir(directory.c_str()) != 0) _exit(126);
    dup2(fd, STDOUT_FILENO);
    close(STDIN_FILENO);
    DropPrivileges();
    then();
    ExecTool(tool.c_str());
  });
  run.output = fixture::ReadFile(out);
  return run;
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
