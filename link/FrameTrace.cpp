#include "link/FrameTrace.h"

#include <algorithm>
#include <cstdio>

#include "link/Crc16.h"
#include "link/FrameFormat.h"

std::string HexBytes(std::span<const std::uint8_t> bytes) {
  std::string out;
  out.reserve(bytes.size() * 3);
  char buf[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", bytes[i]);
    out += buf;
  }
  return out;
}

std::optional<std::string> FrameTracer::Feed(std::span<const std::uint8_t> report) {
  if (report.size() < frame::kReportSize) return "short report";
  if (expected_ == 0) {
    if (report[0] != frame::kMagicByte || report[1] != frame::kMagicByte) return "report outside any frame";
    expected_ = frame::ReadU16(report.data() + frame::kLengthOffset) + frame::kHeaderSize;
    partial_.clear();
  }
  const std::size_t take = std::min(expected_ - partial_.size(), frame::kReportSize);
  partial_.insert(partial_.end(), report.begin(), report.begin() + static_cast<std::ptrdiff_t>(take));
  if (partial_.size() < expected_) return std::nullopt;
  expected_ = 0;
  return Describe(partial_);
}

std::string FrameTracer::Describe(std::span<const std::uint8_t> f) {
  char line[160];
  if (f.size() < frame::kAckFrameSize) {
    std::snprintf(line, sizeof line, "runt frame of %zu bytes", f.size());
    return line;
  }
  const unsigned lengthField = frame::ReadU16(f.data() + frame::kLengthOffset);
  const unsigned address = f[frame::kAddressOffset];
  const unsigned type = f[frame::kTypeOffset];
  const unsigned sequence = frame::ReadU16(f.data() + frame::kSequenceOffset);
  if (lengthField < frame::kMinLengthField || lengthField > frame::kMaxLengthField) {
    std::snprintf(line, sizeof line, "bad frame: length field %u out of range", lengthField);
    return line;
  }
  if (f.size() < lengthField + frame::kHeaderSize) {
    std::snprintf(line, sizeof line, "truncated frame: %zu of %u bytes", f.size(), lengthField + 6);
    return line;
  }
  if ((type >> 4) == 1) {
    std::snprintf(line, sizeof line, "%s seq=%u addr=%02X", (type & 0x0F) == 0 ? "ACK" : "NAK", sequence,
                  address);
    return line;
  }
  if ((type >> 4) != 0) {
    std::snprintf(line, sizeof line, "frame type %02X seq=%u", type, sequence);
    return line;
  }
  const std::size_t covered = lengthField - 6;
  const bool ok = CCRC16::Update(0, f.data() + frame::kMarkerOffset, static_cast<std::uint32_t>(covered)) ==
                  frame::ReadU16(f.data() + frame::kChecksumOffset);
  if (covered < frame::kBodyHeaderSize) {
    std::snprintf(line, sizeof line, "DATA seq=%u addr=%02X body of %zu bytes checksum %s", sequence, address,
                  covered, ok ? "ok" : "BAD");
    return line;
  }
  std::snprintf(line, sizeof line, "DATA seq=%u addr=%02X (%u,%u) payload=%u checksum %s", sequence, address,
                f[frame::kClassOffset], f[frame::kCommandOffset],
                frame::ReadU16(f.data() + frame::kPayloadLengthOffset), ok ? "ok" : "BAD");
  return line;
}
