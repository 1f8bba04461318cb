// Feeds arbitrary bytes to the .qvbin checks as a whole file: whatever its
// length and trailer words say, nothing may be read outside the file, and a
// file that passes must describe itself (N = length - 12, checksum of the N
// data bytes as stored).
#include <cstdint>
#include <span>

#include "firmware/BootRecord.h"
#include "firmware/ImageFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> file(data, size);
  std::uint32_t checkWord = 0xDEADBEEF;
  const auto n = CheckImageData(file, &checkWord);
  if (!n) {
    if (checkWord != 0xDEADBEEF) __builtin_trap();  // a refused file hands out no check word
    return 0;
  }
  if (*n != size - kImageTrailerSize) __builtin_trap();
  if (ComputeImageChecksum(file.first(*n)) != boot::GetU32(data + size - kTrailerChecksumFromEnd)) __builtin_trap();
  if (checkWord != boot::GetU32(data + size - kTrailerCheckWordFromEnd)) __builtin_trap();
  // And the file the tool would write for those bytes passes the same way.
  const auto rebuilt = BuildImageFile(file.first(*n), checkWord);
  if (rebuilt.size() != size || CheckImageData(rebuilt, nullptr) != n) __builtin_trap();
  return 0;
}
