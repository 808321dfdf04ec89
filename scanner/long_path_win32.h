#pragma once
// The form in which the Windows scan hands paths to the file system.

#include <string>

namespace dumpscan {

/// `path` as the file system takes it at any length: an absolute path of
/// MAX_PATH (260) characters or more in its long form, "C:\..." as
/// "\\?\C:\..." and "\\server\share\..." as "\\?\UNC\server\share\...".
/// Shorter paths, paths in the long form already, device paths ("\\.\...")
/// and relative paths come back unchanged.
std::wstring LongPathForm(std::wstring path);

}  // namespace dumpscan
