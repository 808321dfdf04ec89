#include "console/line_input.h"

#include <algorithm>
#include <array>

namespace dumpscan {

namespace {

constexpr char16_t kCr = u'\r';
constexpr char16_t kLf = u'\n';

// Feeds units into the line; on a break, keeps what follows it as pending
// and reports the line complete.
class LineGatherer {
 public:
  LineGatherer(PendingInput& pending, std::u16string& line) : pending_(pending), line_(line) {}

  bool Feed(std::u16string_view units) {
    for (std::size_t k = 0; k < units.size(); ++k) {
      const char16_t unit = units[k];
      if (pending_.after_cr) {
        pending_.after_cr = false;
        if (unit == kLf) continue;
      }
      gathered_any_ = true;
      if (unit == kCr || unit == kLf) {
        pending_.after_cr = unit == kCr;
        pending_.units.assign(units.substr(k + 1));
        return true;
      }
      if (line_.size() < kMaxLineUnits) line_ += unit;
    }
    return false;
  }

  bool gathered_any() const { return gathered_any_; }

 private:
  PendingInput& pending_;
  std::u16string& line_;
  bool gathered_any_ = false;
};

}  // namespace

std::u16string ReadRedirectedLine(PendingInput& pending, const RawInputReader& read) {
  std::u16string line;
  LineGatherer gatherer(pending, line);
  const std::u16string carried = std::move(pending.units);
  pending.units.clear();
  if (gatherer.Feed(carried)) return line;

  std::array<std::byte, 8192> chunk;
  std::u16string units;
  for (;;) {
    std::size_t filled = 0;
    if (pending.odd_byte) {
      chunk[0] = std::byte{*pending.odd_byte};
      pending.odd_byte.reset();
      filled = 1;
    }
    const std::span<std::byte> room = std::span(chunk).subspan(filled);
    const InputRead got = read(room);
    if (got.status == InputStatus::kError) return line;
    if (got.status == InputStatus::kEnd || got.bytes == 0) {
      return gatherer.gathered_any() ? line : std::u16string(1, u'\x04');
    }
    filled += std::min(got.bytes, room.size());
    if (filled % 2 != 0) {
      pending.odd_byte = std::to_integer<std::uint8_t>(chunk[filled - 1]);
    }
    units.resize(filled / 2);
    for (std::size_t k = 0; k < units.size(); ++k) {
      units[k] = static_cast<char16_t>(std::to_integer<unsigned>(chunk[2 * k]) |
                                       (std::to_integer<unsigned>(chunk[2 * k + 1]) << 8));
    }
    if (gatherer.Feed(units)) return line;
  }
}

}  // namespace dumpscan
