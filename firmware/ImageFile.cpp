#include "firmware/ImageFile.h"

#include <algorithm>
#include <fstream>
#include <system_error>

#include "firmware/BootRecord.h"
#include "link/QVCommunication.h"
#include "platform/MessageBox.h"

std::uint32_t ComputeImageChecksum(std::span<const std::uint8_t> data) {
  std::uint32_t s = 0;
  std::uint32_t weight = 0;
  for (const std::uint8_t byte : data) s += ++weight * byte;  // wraps modulo 2^32 on purpose
  const std::uint32_t t = s + (s >> 16);
  const std::uint32_t u = t + (t >> 16);
  return ~u;
}

namespace {

std::uint32_t RejectUnreadable(const char* text) {
  platform::MessageBox(text);
  PostBootStatus(kBootStatusImageRejected, 0);
  return 0;
}

std::uint32_t RejectData() {
  platform::MessageBox(kTextImageDataError);
  return 0;
}

}  // namespace

std::uint32_t CheckImageFile(const std::filesystem::path& path, ImageBuffer& buffer,
                             std::uint32_t* checkWord) {
  buffer.fill(kImageFill);

  // Only a regular file has a length to test; a directory or a device would
  // "open" and then fail or block on the read.
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return RejectUnreadable(kTextImageOpenFailed);
  std::ifstream file(path, std::ios::binary);
  if (!file) return RejectUnreadable(kTextImageOpenFailed);
  const std::uintmax_t fileLength = std::filesystem::file_size(path, ec);
  if (ec) return RejectUnreadable(kTextImageOpenFailed);
  if (fileLength > kImageCapacity) return RejectUnreadable(kTextImageTooLong);
  if (fileLength == 0) return RejectUnreadable(kTextImageEmpty);

  const std::size_t length = static_cast<std::size_t>(fileLength);
  file.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(length));
  // A file cut short under us is not the file whose length passed.
  if (static_cast<std::size_t>(file.gcount()) != length) return RejectData();
  file.close();

  const auto n = CheckImageData(std::span<const std::uint8_t>(buffer.data(), length), checkWord);
  if (!n) return RejectData();
  return *n;  // 0 for an image without data: never offered for download
}

std::optional<std::uint32_t> CheckImageData(std::span<const std::uint8_t> file, std::uint32_t* checkWord) {
  // The length test comes first, so that no trailer word is read from before
  // the data and the checksum never runs past the loaded bytes.
  const std::size_t length = file.size();
  if (length < kImageTrailerSize) return std::nullopt;
  const std::uint32_t n = boot::GetU32(file.data() + length - kTrailerLengthFromEnd);
  if (n != length - kImageTrailerSize) return std::nullopt;
  const std::uint32_t stored = boot::GetU32(file.data() + length - kTrailerChecksumFromEnd);
  if (ComputeImageChecksum(file.first(n)) != stored) return std::nullopt;
  if (checkWord) *checkWord = boot::GetU32(file.data() + length - kTrailerCheckWordFromEnd);
  return n;
}

std::vector<std::uint8_t> BuildImageFile(std::span<const std::uint8_t> data, std::uint32_t checkWord) {
  if (data.size() > kImageMaxDataLength) return {};
  std::vector<std::uint8_t> file(data.begin(), data.end());
  file.resize(data.size() + kImageTrailerSize);
  std::uint8_t* trailer = file.data() + data.size();
  boot::PutU32(trailer + kImageTrailerSize - kTrailerLengthFromEnd, static_cast<std::uint32_t>(data.size()));
  boot::PutU32(trailer + kImageTrailerSize - kTrailerCheckWordFromEnd, checkWord);
  boot::PutU32(trailer + kImageTrailerSize - kTrailerChecksumFromEnd, ComputeImageChecksum(data));
  return file;
}
