#pragma once
// The tool's control flow: one block of lines per dump in a directory, then
// the closing prompt.

#include "engine/dump_report.h"
#include "scanner/dump_files.h"

namespace dumpscan {

/// Prints, for each dump entry of `path` in enumeration order, its name, the
/// "0x774: " line when the record block could be read whole, the "0x788: "
/// line when the counter word could, and an empty line. A directory that
/// cannot be searched prints nothing. Returns 0.
int ScanDumpDirectory(const NativeString& path);

/// The whole run: opens the console, scans the working directory, prints
/// "Press ENTER", waits for one line and closes the console. Returns the
/// exit code, 0.
int RunDumpscan();

}  // namespace dumpscan
