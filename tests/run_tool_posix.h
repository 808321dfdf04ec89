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

/// In a child about to start the tool: when running as root, becomes the
/// unprivileged user "nobody" (or uid and gid 65534 where it is missing), so
/// that file permissions apply; otherwise does nothing. Ends the child with
/// code 126 when the change fails.
void DropPrivileges();

/// Waits up to 30 seconds for `pid`; kills it when it does not end.
ToolRun WaitForTool(int pid);

}  // namespace dumpscan::testing_support
