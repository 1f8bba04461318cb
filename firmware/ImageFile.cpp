#include "firmware/ImageFile.h"

#include <algorithm>
#include <cstdio>
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

// The box keeps its short text and says which check failed: "data error"
// alone leaves a person guessing between a truncated download and a file
// that is no image at all.
std::uint32_t RejectData(const std::string& why) {
  platform::MessageBox(std::string(kTextImageDataError) + " " + why);
  return 0;
}

std::string Hex8(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

std::string Bytes(std::size_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }

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
  if (static_cast<std::size_t>(file.gcount()) != length)
    return RejectData("The file ended after " + Bytes(static_cast<std::size_t>(file.gcount())) + " of its " +
                      Bytes(length) + ": it changed while it was read.");
  file.close();

  std::string why;
  const auto n = CheckImageData(std::span<const std::uint8_t>(buffer.data(), length), checkWord, &why);
  if (!n) return RejectData(why);
  return *n;  // 0 for an image without data: never offered for download
}

std::optional<std::uint32_t> CheckImageData(std::span<const std::uint8_t> file, std::uint32_t* checkWord,
                                            std::string* why) {
  const auto refuse = [why](std::string reason) -> std::optional<std::uint32_t> {
    if (why) *why = std::move(reason);
    return std::nullopt;
  };
  // The length test comes first, so that no trailer word is read from before
  // the data and the checksum never runs past the loaded bytes.
  const std::size_t length = file.size();
  if (length < kImageTrailerSize)
    return refuse("The file is " + Bytes(length) + " long, shorter than the " + std::to_string(kImageTrailerSize) +
                  "-byte trailer every image ends with.");
  const std::uint32_t n = boot::GetU32(file.data() + length - kTrailerLengthFromEnd);
  if (n != length - kImageTrailerSize)
    return refuse("Its trailer gives the data length as " + Bytes(n) + ", but " + Bytes(length - kImageTrailerSize) +
                  " come before the trailer: the file is cut short, too long, or not an image.");
  const std::uint32_t stored = boot::GetU32(file.data() + length - kTrailerChecksumFromEnd);
  if (const std::uint32_t computed = ComputeImageChecksum(file.first(n)); computed != stored)
    return refuse("The checksum of its " + Bytes(n) + " of data is " + Hex8(computed) + ", but its trailer says " +
                  Hex8(stored) + ": the data is damaged.");
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
