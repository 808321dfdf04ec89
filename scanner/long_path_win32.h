#pragma once
// The form in which the Windows scan hands paths to the file system.

#include <string>

namespace dumpscan {

/// `path` in the long form, whatever its length: "C:\..." as "\\?\C:\..."
/// and "\\server\share\..." as "\\?\UNC\server\share\...". A path in that
/// form is taken as it is written: its last part is only ever a file name,
/// never a device (CON.bin, COM1.bin), and it may be longer than MAX_PATH.
/// Paths in the long form already, device paths ("\\.\...") and relative
/// paths come back unchanged.
std::wstring LongPathForm(std::wstring path);

}  // namespace dumpscan
