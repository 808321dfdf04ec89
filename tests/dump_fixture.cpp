#include "tests/dump_fixture.h"

#if defined(_WIN32)
#include <windows.h>
#include <winioctl.h>
#else
#include <sys/stat.h>
#endif

#include <fstream>
#include <iterator>
#include <limits>
#include <system_error>

namespace dumpscan::fixture {

std::uint8_t BitwiseNibbleChecksum(std::uint32_t x, unsigned nibbles) {
  unsigned c = 0xF;
  for (unsigned k = 0; k < nibbles; ++k) {
    for (int bit = 0; bit < 4; ++bit) {
      c <<= 1;
      if (c & 0x10) c ^= 0x1D;  // x^4+x^3+x^2+1
    }
    c ^= x & 0xF;
    x >>= 4;
  }
  return static_cast<std::uint8_t>(c);
}

std::array<std::uint8_t, 4> EncodeRecord(std::uint32_t distance, std::uint8_t spare) {
  const std::uint32_t value = (distance - 2) / 128;
  const std::uint32_t steps = (distance - 2) % 128;
  const std::uint32_t high = ((value & 0xFFF) << 4) | BitwiseNibbleChecksum(value, 4);
  unsigned bits = 0;
  for (std::uint32_t s = steps; s != 0; s >>= 1) bits += s & 1;
  const std::uint32_t step_byte = steps | ((bits % 2 == 0) ? 0x80u : 0u);
  return {static_cast<std::uint8_t>(high >> 8), static_cast<std::uint8_t>(high & 0xFF),
          static_cast<std::uint8_t>(((~(value >> 12) & 0xF) << 4) | (spare & 0xF)),
          static_cast<std::uint8_t>(step_byte)};
}

std::array<std::uint8_t, 20> EncodeRecordBlock(std::uint32_t distance) {
  std::array<std::uint8_t, 20> block{};
  const auto record = EncodeRecord(distance);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = record[i % 4];
  return block;
}

std::array<std::uint8_t, 4> EncodeCounterWord(std::uint32_t count) {
  const std::uint32_t word =
      (std::uint32_t{BitwiseNibbleChecksum(count, 7)} << 28) | (count & 0x0FFFFFFF);
  return {static_cast<std::uint8_t>(word >> 24), static_cast<std::uint8_t>(word >> 16),
          static_cast<std::uint8_t>(word >> 8), static_cast<std::uint8_t>(word)};
}

std::vector<std::uint8_t> MakeDump(const std::array<std::uint8_t, 20>& block,
                                   const std::array<std::uint8_t, 4>& word, std::size_t size) {
  std::vector<std::uint8_t> bytes(size, 0x5A);
  for (std::size_t i = 0; i < block.size() && 0x774 + i < size; ++i) bytes[0x774 + i] = block[i];
  for (std::size_t i = 0; i < word.size() && 0x788 + i < size; ++i) bytes[0x788 + i] = word[i];
  return bytes;
}

bool WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

std::uint64_t WriteSparseFile(const std::filesystem::path& path,
                              const std::vector<std::uint8_t>& head, std::uint64_t size) {
  constexpr std::uint64_t kFailed = std::numeric_limits<std::uint64_t>::max();
  fixture::WriteFile(path, head);
#if defined(_WIN32)
  // NTFS gives a file that grows the whole length on the disk unless the
  // file is marked sparse first.
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kFailed;
  DWORD returned = 0;
  DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
  LARGE_INTEGER end;
  end.QuadPart = static_cast<LONGLONG>(size);
  FILE_STANDARD_INFO info{};
  const bool made = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file) &&
                    GetFileInformationByHandleEx(file, FileStandardInfo, &info, sizeof info);
  CloseHandle(file);
  return made ? static_cast<std::uint64_t>(info.AllocationSize.QuadPart) : kFailed;
#else
  // A file extended by truncate(2) has a hole where the zeros would be.
  std::error_code error;
  std::filesystem::resize_file(path, size, error);
  struct stat info {};
  if (error || stat(path.c_str(), &info) != 0) return kFailed;
  return static_cast<std::uint64_t>(info.st_blocks) * 512;
#endif
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Utf16LeLines(std::initializer_list<std::u16string_view> lines) {
  std::string bytes;
  for (const std::u16string_view line : lines) {
    for (const char16_t unit : line) {
      bytes += static_cast<char>(unit & 0xFF);
      bytes += static_cast<char>(unit >> 8);
    }
    bytes.append("\r\0\n\0", 4);
  }
  return bytes;
}

}  // namespace dumpscan::fixture
