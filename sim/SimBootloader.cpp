#include "sim/SimBootloader.h"

#include <algorithm>

namespace sim {
namespace {

constexpr std::uint8_t kOpConnect = 0xE0;
constexpr std::uint8_t kOpErase = 0xE1;
constexpr std::uint8_t kOpBlock = 0xE2;
constexpr std::uint8_t kOpBlockEcho = 0xE3;
constexpr std::uint8_t kOpCheck = 0xE4;
constexpr std::uint8_t kOpEnd = 0xE5;

constexpr std::size_t kOpcodeOffset = 0;
constexpr std::size_t kResultOffset = 1;       // 1 = done, 0 = refused
constexpr std::size_t kVersionOffset = 1;      // four version parts
constexpr std::size_t kNumberOffset = 4;       // erase length, block offset, bytes written
constexpr std::size_t kBlockDataOffset = 8;
constexpr std::size_t kBlockSize = 32;
constexpr std::size_t kEchoEnd = kBlockDataOffset + kBlockSize;  // echo covers bytes 1..39
constexpr std::size_t kCheckWordOffset = 8;

constexpr std::uint8_t kErasedByte = 0xFF;

std::uint32_t ReadU32(const Report& record, std::size_t offset) {
  return static_cast<std::uint32_t>(record[offset]) |
         static_cast<std::uint32_t>(record[offset + 1]) << 8 |
         static_cast<std::uint32_t>(record[offset + 2]) << 16 |
         static_cast<std::uint32_t>(record[offset + 3]) << 24;
}

Report Answer(std::uint8_t opcode) {
  Report reply{};
  reply[kOpcodeOffset] = opcode;
  return reply;
}

}  // namespace

std::uint32_t ImageChecksum(std::span<const std::uint8_t> data) {
  std::uint32_t s = 0;
  for (std::size_t i = 0; i < data.size(); ++i) {
    s += static_cast<std::uint32_t>(i + 1) * data[i];  // wraps modulo 2^32 by design
  }
  const std::uint32_t t = s + (s >> 16);
  const std::uint32_t u = t + (t >> 16);
  return ~u;
}

SimBootloader::SimBootloader() : flash_(kFlashSize, kErasedByte) {}

SimBootloader::Outcome SimBootloader::Handle(const Report& request, const SimConfig& config,
                                             const SimFaults& faults, std::mt19937& rng) {
  switch (request[kOpcodeOffset]) {
    case kOpConnect: return {Connect(config), false};
    case kOpErase: return {Erase(request, faults), false};
    case kOpBlock: return {WriteBlock(request, faults, rng), false};
    case kOpCheck: return {Check(request), false};
    case kOpEnd: return {Answer(kOpEnd), true};
    default: return {};  // a bootloader ignores what it does not know
  }
}

std::vector<std::uint8_t> SimBootloader::Flash(std::size_t offset, std::size_t length) const {
  if (offset >= flash_.size()) return {};
  const std::size_t n = std::min(length, flash_.size() - offset);
  const auto first = flash_.begin() + static_cast<std::ptrdiff_t>(offset);
  return {first, first + static_cast<std::ptrdiff_t>(n)};
}

Report SimBootloader::Connect(const SimConfig& config) const {
  Report reply = Answer(kOpConnect);
  std::copy(config.bootVersion.begin(), config.bootVersion.end(), reply.begin() + kVersionOffset);
  return reply;
}

Report SimBootloader::Erase(const Report& request, const SimFaults& faults) {
  Report reply = Answer(kOpErase);
  const std::uint32_t length = ReadU32(request, kNumberOffset);
  if (faults.refuseErase || length > flash_.size()) return reply;
  std::fill_n(flash_.begin(), length, kErasedByte);
  erasedLength_ = length;
  reply[kResultOffset] = 1;
  return reply;
}

Report SimBootloader::WriteBlock(const Report& request, const SimFaults& faults,
                                 std::mt19937& rng) {
  Report reply{};
  reply.fill(0xFF);
  reply[kOpcodeOffset] = kOpBlockEcho;
  const std::size_t offset = ReadU32(request, kNumberOffset);
  if (offset > flash_.size() - kBlockSize) {
    // Nowhere to put it: answer with every echoed byte changed, so the host
    // cannot take the block as written.
    for (std::size_t i = 1; i < kEchoEnd; ++i) reply[i] = static_cast<std::uint8_t>(~request[i]);
    return reply;
  }
  // The host's last block may run past the erased length (trailer and 0xFF
  // padding); it is stored as written, like any other block.
  std::copy_n(request.begin() + kBlockDataOffset, kBlockSize,
              flash_.begin() + static_cast<std::ptrdiff_t>(offset));
  std::copy(request.begin() + 1, request.begin() + kEchoEnd, reply.begin() + 1);
  if (faults.wrongBlockEcho) {
    reply[kBlockDataOffset + rng() % kBlockSize] ^= 0xFF;
  }
  return reply;
}

Report SimBootloader::Check(const Report& request) const {
  Report reply = Answer(kOpCheck);
  const std::uint32_t checkWord = ReadU32(request, kCheckWordOffset);
  const auto image = std::span<const std::uint8_t>(flash_).first(erasedLength_);
  reply[kResultOffset] = checkWord == ImageChecksum(image) ? 1 : 0;
  return reply;
}

}  // namespace sim
