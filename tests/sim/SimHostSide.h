// The host's half of the link, as small as the board tests need it. Written
// here from the wire format itself, not from either codec, so that the tests
// check the board against the bytes and not against its own encoder.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "link/Crc16.h"
#include "sim/SimBoard.h"

namespace simtest {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

inline constexpr std::uint8_t kHostAddress = 0x41;       // host endpoint 4 -> board endpoint 1
inline constexpr std::uint8_t kReplyAddress = 0x14;      // board -> host endpoint 4
inline constexpr std::uint8_t kAck = 0x10;
inline constexpr std::uint8_t kNak = 0x11;

inline void PutU16(Bytes& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v & 0xFF);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline std::uint16_t GetU16(const Bytes& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}
inline void SealChecksum(Bytes& frame) {
  PutU16(frame, 10, CCRC16::Update(0, frame.data() + 12, static_cast<std::uint32_t>(frame.size() - 12)));
}

// A data frame as the tool sends it: one trailing byte after the payload.
inline Bytes HostFrame(std::uint16_t seq, std::uint8_t cls, std::uint8_t cmd, const Bytes& payload,
                       std::uint8_t address = kHostAddress) {
  Bytes f{0x5A, 0x5A, address, 0x00, 0, 0, 0x00, 0x00, 0, 0, 0, 0, 0x10, cls, cmd, 0x00, 0, 0};
  f.insert(f.end(), payload.begin(), payload.end());
  f.push_back(0xEE);  // the trailing byte; any value
  PutU16(f, 4, static_cast<std::uint16_t>(f.size() - 6));
  PutU16(f, 8, seq);
  PutU16(f, 16, static_cast<std::uint16_t>(payload.size()));
  SealChecksum(f);
  return f;
}

// The host's ACK / NAK of a board frame sent to its endpoint 4.
inline Bytes HostLinkFrame(std::uint16_t seq, std::uint8_t type) {
  return {0x5A, 0x5A, kHostAddress, 0x00, 0x06, 0x00, 0x00, type,
          static_cast<std::uint8_t>(seq & 0xFF), static_cast<std::uint8_t>(seq >> 8), 0x00, 0x00};
}

// What the board must answer a host data frame with.
inline Bytes BoardLinkFrame(std::uint16_t seq, std::uint8_t type) {
  return {0x5A, 0x5A, kReplyAddress, 0x00, 0x06, 0x00, 0x00, type,
          static_cast<std::uint8_t>(seq & 0xFF), static_cast<std::uint8_t>(seq >> 8), 0x00, 0x00};
}

// Cut like the host does: 64-byte reports, the last one padded with 0xFF.
inline std::vector<sim::Report> ToReports(const Bytes& frame) {
  std::vector<sim::Report> reports;
  for (std::size_t at = 0; at < frame.size(); at += sim::kReportSize) {
    sim::Report r;
    r.fill(0xFF);
    for (std::size_t i = 0; i < sim::kReportSize && at + i < frame.size(); ++i) r[i] = frame[at + i];
    reports.push_back(r);
  }
  return reports;
}

struct Reply {
  std::uint8_t address = 0;
  std::uint8_t cls = 0;
  std::uint8_t cmd = 0;
  std::uint16_t seq = 0;
  Bytes payload;
};

// Takes a board data frame apart, checking every field the host relies on.
inline Reply ParseReply(const Bytes& f) {
  Reply r;
  EXPECT_GE(f.size(), 18u);
  if (f.size() < 18) return r;
  EXPECT_EQ(GetU16(f, 4), f.size() - 6) << "length field";
  EXPECT_EQ(f[7], 0x00) << "frame type";
  EXPECT_EQ(f[12], 0x10) << "format marker";
  EXPECT_EQ(GetU16(f, 10), CCRC16::Update(0, f.data() + 12, static_cast<std::uint32_t>(f.size() - 12)))
      << "checksum";
  EXPECT_EQ(GetU16(f, 16), f.size() - 18) << "payload length (board frames carry no trailing byte)";
  r.address = f[2];
  r.cls = f[13];
  r.cmd = f[14];
  r.seq = GetU16(f, 8);
  r.payload.assign(f.begin() + 18, f.end());
  return r;
}

class BoardFixture : public ::testing::Test {
 protected:
  explicit BoardFixture(sim::SimConfig config = {}) : board_(std::move(config)) {}

  void WriteFrame(const Bytes& frame) {
    for (const auto& report : ToReports(frame)) ASSERT_TRUE(board_.HostWrite(report));
  }

  std::uint16_t Send(std::uint8_t cls, std::uint8_t cmd, const Bytes& payload) {
    const std::uint16_t seq = seq_++;
    WriteFrame(HostFrame(seq, cls, cmd, payload));
    return seq;
  }

  // Reads one frame from the board by its length field; nothing on timeout.
  std::optional<Bytes> ReadFrame(std::chrono::milliseconds timeout = 1000ms) {
    sim::Report report;
    if (board_.HostRead(report, timeout) != 1) return std::nullopt;
    if (report[0] != 0x5A || report[1] != 0x5A) {
      ADD_FAILURE() << "report does not start a frame";
      return std::nullopt;
    }
    const std::size_t total = static_cast<std::size_t>(report[4] | report[5] << 8) + 6;
    Bytes frame(report.begin(), report.begin() + static_cast<std::ptrdiff_t>(std::min(total, sim::kReportSize)));
    while (frame.size() < total) {
      if (board_.HostRead(report, timeout) != 1) {
        ADD_FAILURE() << "frame cut short";
        return std::nullopt;
      }
      const std::size_t n = std::min(total - frame.size(), sim::kReportSize);
      frame.insert(frame.end(), report.begin(), report.begin() + static_cast<std::ptrdiff_t>(n));
    }
    return frame;
  }

  // Board work happens inside HostWrite, so "nothing more" needs no waiting.
  bool NothingQueued() {
    sim::Report report;
    return board_.HostRead(report, 0ms) == 0;
  }

  void ExpectLinkFrame(std::uint16_t seq, std::uint8_t type) {
    const auto frame = ReadFrame();
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(*frame, BoardLinkFrame(seq, type));
  }

  Reply ReadReply() {
    const auto frame = ReadFrame();
    EXPECT_TRUE(frame.has_value()) << "no reply";
    return frame ? ParseReply(*frame) : Reply{};
  }

  // Send, expect the ACK, return the reply.
  Reply Exchange(std::uint8_t cls, std::uint8_t cmd, const Bytes& payload) {
    const std::uint16_t seq = Send(cls, cmd, payload);
    ExpectLinkFrame(seq, kAck);
    return ReadReply();
  }

  sim::SimBoard board_;
  std::uint16_t seq_ = 0;
};

// I2C record as the pages fill it, speed code 400K.
inline Bytes I2cRecord(std::uint8_t chip, std::uint8_t reg, std::uint8_t count) {
  return {0x01, chip, reg, count, 0x04, 0x00};
}
inline Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace simtest
