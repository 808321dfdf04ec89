// Any name bytes: matching agrees with a plain suffix comparison, and the
// shown name is well-formed UTF-16 with no control characters that
// re-encodes losslessly when the name was clean UTF-8 already.

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/dump_name.h"
#include "engine/utf.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace dumpscan;
  const std::string_view name(reinterpret_cast<const char*>(data), size);

  std::string lower(name);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const bool expected_match = lower.size() >= 4 && lower.compare(lower.size() - 4, 4, ".bin") == 0;
  if (IsDumpName(name) != expected_match) std::abort();

  const std::u16string shown = DisplayName(name);
  bool clean = true;
  for (std::size_t k = 0; k < shown.size(); ++k) {
    const char16_t unit = shown[k];
    if (unit < 0x20 || (unit >= 0x7F && unit <= 0x9F)) std::abort();
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (k + 1 >= shown.size() || shown[k + 1] < 0xDC00 || shown[k + 1] > 0xDFFF) std::abort();
      ++k;
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      std::abort();
    }
    if (unit == kReplacementCharacter) clean = false;
  }
  // A name that needed no replacement comes back byte for byte.
  if (clean && Utf16ToUtf8(shown) != name) std::abort();
  return 0;
}
