#pragma once
// POSIX-only ways of starting the tool, for cases that need a hand in how
// the process begins.

#include <functional>

#include "tests/run_tool.h"

namespace dumpscan::testing_support {

/// Runs the tool after `setup` has run in the child process, just before
/// the tool starts: `setup` arranges the working directory and the standard
/// streams (by default the child's are those of this process).
ToolRun RunToolAfter(const std::function<void()>& setup);

/// Replaces this process with the built tool, started the way this build
/// runs its programs (through the emulator of a cross build); exits with 127
/// when that fails. For the child side of a fork, after its setup.
[[noreturn]] void ExecTool();

/// The same for the tool at `binary` (a copy of the built one).
[[noreturn]] void ExecTool(const char* binary);

/// In a child about to start the tool: when running as root, becomes the
/// unprivileged user "nobody" (or uid and gid 65534 where it is missing), so
/// that file permissions apply; otherwise does nothing. Ends the child with
/// code 126 when the change fails.
void DropPrivileges();

/// Runs the tool in `directory` as DropPrivileges() leaves it, output to a
/// file and input closed; `then` runs in the child after the change of user.
/// The tool started is a copy that every user may run: the build tree's own
/// path may be closed to them.
ToolRun RunToolAsAnotherUser(
    const std::filesystem::path& directory, const std::function<void()>& then = [] {});

/// Waits up to 30 seconds for `pid`; kills it when it does not end.
ToolRun WaitForTool(int pid);

}  // namespace dumpscan::testing_support
