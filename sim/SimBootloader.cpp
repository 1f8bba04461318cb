#include "sim/SimBootloader.h"

#include <algorithm>
#include <span>

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

SimBootloader::SimBootloader() = default;

void SimBootloader::Restart() {
  erasedLength_ = 0;
  erasedRange_ = 0;
  erasedSinceStart_ = false;
  std::fill(written_.begin(), written_.end(), false);
  checked_ = Checked::kNot;
}

SimBootloader::Outcome SimBootloader::Handle(const Report& request, const SimConfig& config,
                                             const SimFaults& faults, std::mt19937& rng) {
  switch (request[kOpcodeOffset]) {
    case kOpConnect: return {Connect(config)};
    case kOpErase: return Erase(request, faults);
    case kOpBlock: return {WriteBlock(request, faults, rng)};
    case kOpCheck: return {Check(request)};
    case kOpEnd: return End();
    default: return {};  // a bootloader ignores what it does not know
  }
}

std::vector<std::uint8_t> SimBootloader::Flash(std::size_t offset, std::size_t length) const {
  if (offset >= kFlashSize) return {};
  std::vector<std::uint8_t> out(std::min(length, kFlashSize - offset), kErasedByte);
  if (offset < flash_.size()) {
    const std::size_t held = std::min(out.size(), flash_.size() - offset);
    std::copy_n(flash_.begin() + static_cast<std::ptrdiff_t>(offset), held, out.begin());
  }
  return out;
}

Report SimBootloader::Connect(const SimConfig& config) const {
  Report reply = Answer(kOpConnect);
  std::copy(config.bootVersion.begin(), config.bootVersion.end(), reply.begin() + kVersionOffset);
  return reply;
}

SimBootloader::Outcome SimBootloader::Erase(const Report& request, const SimFaults& faults) {
  Outcome outcome{Answer(kOpErase)};
  const std::uint32_t length = ReadU32(request, kNumberOffset);
  if (faults.refuseErase || length > kFlashSize) return outcome;
  const std::size_t sectors = (std::size_t{length} + kSectorSize - 1) / kSectorSize;
  erasedRange_ = sectors * kSectorSize;
  if (erasedRange_ >= flash_.size()) {
    flash_.clear();  // all of what was ever written is blank again
  } else {
    std::fill_n(flash_.begin(), erasedRange_, kErasedByte);
  }
  written_.assign(kFlashSize / kBlockSize, false);
  erasedLength_ = length;
  erasedSinceStart_ = true;
  applicationIntact_ = false;
  checked_ = Checked::kNot;
  outcome.busyFor = faults.eraseTime * static_cast<int>(sectors) / static_cast<int>(kSectors);
  (*outcome.reply)[kResultOffset] = 1;
  return outcome;
}

Report SimBootloader::WriteBlock(const Report& request, const SimFaults& faults,
                                 std::mt19937& rng) {
  Report reply{};
  reply.fill(0xFF);
  reply[kOpcodeOffset] = kOpBlockEcho;
  const std::size_t offset = ReadU32(request, kNumberOffset);
  // Flash takes a block only where the last erase cleared it and nothing
  // has been written since; the host's last block, which runs past N into
  // the trailer and padding, still lies in the erased sectors.
  const bool writable = offset % kBlockSize == 0 && offset < erasedRange_ &&
                        erasedRange_ - offset >= kBlockSize && !written_[offset / kBlockSize];
  if (!writable) {
    // Answer with every echoed byte changed, so the host cannot take the
    // block as written.
    for (std::size_t i = 1; i < kEchoEnd; ++i) reply[i] = static_cast<std::uint8_t>(~request[i]);
    return reply;
  }
  if (flash_.size() < offset + kBlockSize) flash_.resize(offset + kBlockSize, kErasedByte);
  std::copy_n(request.begin() + kBlockDataOffset, kBlockSize,
              flash_.begin() + static_cast<std::ptrdiff_t>(offset));
  written_[offset / kBlockSize] = true;
  std::copy(request.begin() + 1, request.begin() + kEchoEnd, reply.begin() + 1);
  if (faults.wrongBlockEcho) {
    reply[kBlockDataOffset + rng() % kBlockSize] ^= 0xFF;
  }
  return reply;
}

bool SimBootloader::ImageComplete() const {
  if (!erasedSinceStart_ || erasedLength_ == 0) return false;
  const std::size_t blocks = (std::size_t{erasedLength_} + kBlockSize - 1) / kBlockSize;
  return std::all_of(written_.begin(), written_.begin() + static_cast<std::ptrdiff_t>(blocks),
                     [](bool w) { return w; });
}

Report SimBootloader::Check(const Report& request) {
  Report reply = Answer(kOpCheck);
  // The host says how much it wrote: whole blocks covering the image. Less
  // (or more) is not the image that was erased for.
  const std::uint32_t written = ReadU32(request, kNumberOffset);
  const std::uint32_t expected =
      static_cast<std::uint32_t>((std::size_t{erasedLength_} + kBlockSize - 1) / kBlockSize * kBlockSize);
  const std::uint32_t checkWord = ReadU32(request, kCheckWordOffset);
  const bool good =
      ImageComplete() && written == expected && checkWord == ImageChecksum(Flash(0, erasedLength_));
  checked_ = good ? Checked::kPassed : Checked::kFailed;
  reply[kResultOffset] = good ? 1 : 0;
  return reply;
}

SimBootloader::Outcome SimBootloader::End() {
  // The firmware that was there runs again if nothing was erased; a new one
  // runs if it was written whole and no check refused it. Anything else
  // would start a broken firmware: the bootloader says no and stays.
  const bool runnable = !erasedSinceStart_ || (ImageComplete() && checked_ != Checked::kFailed);
  Outcome outcome{Answer(kOpEnd)};
  (*outcome.reply)[kResultOffset] = runnable ? 1 : 0;
  outcome.restartIntoApplication = runnable;
  if (runnable) applicationIntact_ = true;
  return outcome;
}

}  // namespace sim
