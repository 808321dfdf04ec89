// Redirected input cut into arbitrary reads gives the same lines as the same
// bytes read whole, and no line outgrows the limit.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "console/line_input.h"

namespace {

using dumpscan::InputRead;
using dumpscan::InputStatus;

std::vector<std::u16string> Lines(const std::uint8_t* bytes, std::size_t size,
                                  const std::vector<std::size_t>& cuts) {
  std::size_t at = 0;
  std::size_t next_cut = 0;
  bool ended = false;
  const dumpscan::RawInputReader read = [&](std::span<std::byte> room) -> InputRead {
    if (at == size) {
      ended = true;
      return {0, InputStatus::kEnd};
    }
    std::size_t n = cuts.empty() ? size - at : cuts[next_cut++ % cuts.size()];
    n = std::min({n, room.size(), size - at});
    std::memcpy(room.data(), bytes + at, n);
    at += n;
    return {n, InputStatus::kData};
  };
  dumpscan::PendingInput pending;
  std::vector<std::u16string> lines;
  // Every line up to the one during which the reader saw the end.
  while (!ended) {
    lines.push_back(dumpscan::ReadRedirectedLine(pending, read));
    if (lines.back().size() > dumpscan::kMaxLineUnits) std::abort();
    if (lines.size() > size + 2) std::abort();  // every line consumes input
  }
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The first bytes choose the read sizes (1..16), the rest is the input.
  const std::size_t header = std::min<std::size_t>(size, data[0] % 8 + (size > 0 ? 1 : 0));
  std::vector<std::size_t> cuts;
  for (std::size_t k = 1; k < header; ++k) cuts.push_back(data[k] % 16 + 1);
  if (cuts.empty()) cuts.push_back(1);
  const auto whole = Lines(data + header, size - header, {});
  const auto pieces = Lines(data + header, size - header, cuts);
  if (whole != pieces) std::abort();
  return 0;
}
