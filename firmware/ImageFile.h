// Firmware images (.qvbin): the data to program, followed by a 12-byte
// trailer of little-endian words: the data length N, the check word handed to
// the bootloader (0 = no check step), and the checksum of the N data bytes.
// This is the one place that knows the trailer's layout.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

// Largest file accepted, trailer included; the loaded-image buffer has
// exactly this size.
inline constexpr std::size_t kImageCapacity = 0x1E000C;
inline constexpr std::size_t kImageTrailerSize = 12;
inline constexpr std::size_t kImageMaxDataLength = kImageCapacity - kImageTrailerSize;
// Trailer words, counted back from the end of the file.
inline constexpr std::size_t kTrailerLengthFromEnd = 12;
inline constexpr std::size_t kTrailerCheckWordFromEnd = 8;
inline constexpr std::size_t kTrailerChecksumFromEnd = 4;
// Bytes of the buffer past the loaded file read as this.
inline constexpr std::uint8_t kImageFill = 0xFF;

using ImageBuffer = std::array<std::uint8_t, kImageCapacity>;

// Message-box texts of a rejected file.
inline constexpr const char* kTextImageOpenFailed = "qvbin file open failed!";
inline constexpr const char* kTextImageTooLong = "qvbin file length larger than 0x1e000c!";
inline constexpr const char* kTextImageEmpty = "qvbin file length is null!";
inline constexpr const char* kTextImageDataError = "qvbin file data error!";

// Status posted to the firmware-update window when a file cannot be opened,
// is too long or is empty (the window goes back to its idle look).
inline constexpr std::uintptr_t kBootStatusImageRejected = 9;

// Each byte weighted by its 1-based position, summed modulo 2^32, the high
// half folded in twice, complemented: a full 32-bit value. No data gives
// 0xFFFFFFFF.
std::uint32_t ComputeImageChecksum(std::span<const std::uint8_t> data);

// The trailer checks on a file's bytes: at least the trailer, a length word
// that matches, a checksum that matches. Returns N (0 for an image without
// data), or nothing when the file is refused; `why`, if given, then says
// which check failed, in a sentence for a person ("The checksum of its 40
// data bytes is 0x…, but its trailer says 0x…."). Reads only within `file`.
std::optional<std::uint32_t> CheckImageData(std::span<const std::uint8_t> file, std::uint32_t* checkWord,
                                            std::string* why = nullptr);

// Loads and checks an image file into `buffer` (filled with 0xFF first).
// Returns N, or 0 when the file is rejected (after a message box: for damaged
// data kTextImageDataError followed by the reason) or holds no
// data. `checkWord`, if given, receives the trailer's check word of a file
// that passed.
std::uint32_t CheckImageFile(const std::filesystem::path& path, ImageBuffer& buffer,
                             std::uint32_t* checkWord);

// `data` followed by its trailer. Empty when the data would not fit the
// capacity.
std::vector<std::uint8_t> BuildImageFile(std::span<const std::uint8_t> data, std::uint32_t checkWord);
