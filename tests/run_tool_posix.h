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

/// Replaces this process with the tool, started the way this build runs its
/// programs (through the emulator of a cross build); exits with 127 when
/// that fails. For the child side of a fork, after its setup.
[[noreturn]] void ExecTool();

/// Waits up to 30 seconds for `pid`; kills it when it does not end.
ToolRun WaitForTool(int pid);

}  // namespace dumpscan::testing_support
