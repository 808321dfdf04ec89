#pragma once
// Line splitting of input that is not a console: raw bytes taken as
// UTF-16LE units, where CR LF, a lone CR and a lone LF each end a line.
// Shared by every platform; the platform supplies the raw reads.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace dumpscan {

/// How one raw read ended.
enum class InputStatus {
  kData,   ///< `bytes` bytes arrived (0 counts as the end of input)
  kEnd,    ///< end of input or a broken pipe
  kError,  ///< any other read error
};

struct InputRead {
  std::size_t bytes = 0;
  InputStatus status = InputStatus::kData;
};

/// Reads raw bytes into the given room.
using RawInputReader = std::function<InputRead(std::span<std::byte>)>;

/// What earlier lines left unread, carried to the next call.
struct PendingInput {
  std::u16string units;                  ///< units after the last line break
  std::optional<std::uint8_t> odd_byte;  ///< first half of an incomplete unit
  bool after_cr = false;                 ///< an LF right here joins the last CR
};

/// The longest line kept; the rest of a longer line is read and dropped, so
/// input without line breaks cannot exhaust memory.
inline constexpr std::size_t kMaxLineUnits = std::size_t{64} * 1024;

/// The next line, without its break. At the end of input: what was gathered,
/// or U+0004 when nothing was. On another read error: what was gathered,
/// possibly nothing. The lines do not depend on how the reads split the bytes.
std::u16string ReadRedirectedLine(PendingInput& pending, const RawInputReader& read);

}  // namespace dumpscan
