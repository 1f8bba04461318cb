#include "sim/SimFrameCodec.h"

#include <algorithm>

#include "link/Crc16.h"

namespace sim::wire {
namespace {

constexpr std::size_t kAddressOffset = 2;
constexpr std::size_t kLengthOffset = 4;
constexpr std::size_t kTypeOffset = 7;
constexpr std::size_t kSequenceOffset = 8;
constexpr std::size_t kChecksumOffset = 10;
constexpr std::size_t kMarkerOffset = 12;
constexpr std::size_t kClassOffset = 13;
constexpr std::size_t kCommandOffset = 14;
constexpr std::size_t kPayloadLengthOffset = 16;
constexpr std::size_t kPayloadOffset = 18;
constexpr std::size_t kLengthBias = 6;  // bytes before and including the length field

std::uint16_t ReadU16(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

void WriteU16(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint16_t value) {
  bytes[offset] = static_cast<std::uint8_t>(value & 0xFF);
  bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

std::vector<std::uint8_t> Header(std::size_t frameSize, std::uint8_t address, std::uint8_t type,
                                 std::uint16_t sequence) {
  std::vector<std::uint8_t> frame(frameSize, 0);
  frame[0] = kMagicByte;
  frame[1] = kMagicByte;
  frame[kAddressOffset] = address;
  WriteU16(frame, kLengthOffset, static_cast<std::uint16_t>(frameSize - kLengthBias));
  frame[kTypeOffset] = type;
  WriteU16(frame, kSequenceOffset, sequence);
  return frame;
}

}  // namespace

std::vector<std::uint8_t> EncodeDataFrame(std::uint8_t address, std::uint16_t sequence,
                                          std::uint8_t cls, std::uint8_t cmd,
                                          std::span<const std::uint8_t> payload) {
  const std::size_t n = std::min(payload.size(), kMaxBoardPayload);
  std::vector<std::uint8_t> frame = Header(kPayloadOffset + n, address, kTypeData, sequence);
  frame[kMarkerOffset] = kFormatMarker;
  frame[kClassOffset] = cls;
  WriteU16(frame, kCommandOffset, cmd);
  WriteU16(frame, kPayloadLengthOffset, static_cast<std::uint16_t>(n));
  std::copy_n(payload.begin(), n, frame.begin() + kPayloadOffset);
  const auto body = std::span<const std::uint8_t>(frame).subspan(kMarkerOffset);
  WriteU16(frame, kChecksumOffset, CCRC16::Update(0, body));
  return frame;
}

std::vector<std::uint8_t> EncodeLinkFrame(std::uint8_t address, std::uint8_t type,
                                          std::uint16_t sequence) {
  return Header(kLinkFrameSize, address, type, sequence);
}

std::vector<Report> CutIntoReports(std::span<const std::uint8_t> frame) {
  std::vector<Report> reports;
  for (std::size_t at = 0; at < frame.size(); at += kReportSize) {
    Report report{};
    const std::size_t n = std::min(kReportSize, frame.size() - at);
    std::copy_n(frame.begin() + static_cast<std::ptrdiff_t>(at), n, report.begin());
    reports.push_back(report);
  }
  return reports;
}

std::optional<std::size_t> FrameSizeAtStart(const Report& report) {
  if (report[0] != kMagicByte || report[1] != kMagicByte) return std::nullopt;
  const std::uint32_t length = ReadU16(report, kLengthOffset);
  if (length < kMinLengthField || length > kMaxHostLengthField) return std::nullopt;
  return length + kLengthBias;
}

DecodedFrame DecodeFrame(std::span<const std::uint8_t> frame) {
  DecodedFrame decoded;
  // The assembler only hands over whole frames, but this is the last line
  // before the bytes get indexed: never trust that blindly.
  if (frame.size() < kLinkFrameSize || frame.size() != ReadU16(frame, kLengthOffset) + kLengthBias) {
    return decoded;
  }
  decoded.senderEndpoint = frame[kAddressOffset] >> 4;
  decoded.receiverEndpoint = frame[kAddressOffset] & 0x0F;
  decoded.sequence = ReadU16(frame, kSequenceOffset);
  switch (frame[kTypeOffset]) {
    case kTypeAck: decoded.kind = DecodedFrame::Kind::kAck; return decoded;
    case kTypeNak: decoded.kind = DecodedFrame::Kind::kNak; return decoded;
    case kTypeData: decoded.kind = DecodedFrame::Kind::kData; break;
    default: return decoded;
  }
  const auto body = frame.subspan(kMarkerOffset);
  decoded.checksumOk = CCRC16::Update(0, body) == ReadU16(frame, kChecksumOffset);
  decoded.protectedBytes = frame.subspan(kChecksumOffset);
  if (!decoded.checksumOk || frame.size() < kPayloadOffset || frame[kMarkerOffset] != kFormatMarker) {
    return decoded;
  }
  const std::size_t n = ReadU16(frame, kPayloadLengthOffset);
  if (n > frame.size() - kPayloadOffset) return decoded;  // claims more than it carries
  decoded.command = HostCommand{frame[kClassOffset], frame[kCommandOffset],
                                frame.subspan(kPayloadOffset, n)};
  return decoded;
}

bool FrameAssembler::WouldStartFrame(const Report& report, Clock::time_point now) const {
  if (!FrameSizeAtStart(report)) return false;
  return !InProgress() || now - lastReport_ > kStaleGap;
}

FrameAssembler::Fed FrameAssembler::Feed(const Report& report, Clock::time_point now) {
  Fed fed = Fed::kContinued;
  if (WouldStartFrame(report, now)) {
    total_ = *FrameSizeAtStart(report);
    buffer_.clear();
    buffer_.reserve(total_);
    fed = Fed::kStarted;
  } else if (!InProgress() || Complete()) {
    return Fed::kDiscarded;
  }
  lastReport_ = now;
  // The last report supplies exactly the missing bytes; the rest is padding.
  const std::size_t n = std::min(kReportSize, total_ - buffer_.size());
  buffer_.insert(buffer_.end(), report.begin(), report.begin() + static_cast<std::ptrdiff_t>(n));
  return fed;
}

std::vector<std::uint8_t> FrameAssembler::TakeFrame() {
  std::vector<std::uint8_t> frame;
  if (Complete()) frame.swap(buffer_);
  Reset();
  return frame;
}

void FrameAssembler::Reset() {
  buffer_.clear();
  total_ = 0;
}

}  // namespace sim::wire
