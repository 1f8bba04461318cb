// Frames built by hand for tests, independent of the engine's own encoder, so
// that a fault in one is not mirrored by the other.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "link/Crc16.h"

namespace testframes {

using Bytes = std::vector<std::uint8_t>;
using Report = std::array<std::uint8_t, 64>;

// A data frame as the board sends it: address byte 0x1N, no trailing byte.
inline Bytes BoardFrame(std::uint8_t cls, std::uint8_t cmd, const Bytes& payload, std::uint16_t seq = 0,
                        std::uint8_t endpoint = 4, int payloadLengthField = -1) {
  Bytes body{0x10, cls, cmd, 0x00};
  const std::uint16_t plen = payloadLengthField < 0 ? static_cast<std::uint16_t>(payload.size())
                                                    : static_cast<std::uint16_t>(payloadLengthField);
  body.push_back(static_cast<std::uint8_t>(plen & 0xFF));
  body.push_back(static_cast<std::uint8_t>(plen >> 8));
  body.insert(body.end(), payload.begin(), payload.end());
  const std::uint16_t crc = CCRC16::Update(0, body.data(), static_cast<std::uint32_t>(body.size()));
  const std::size_t lengthField = body.size() + 6;
  Bytes f{0x5A,
          0x5A,
          static_cast<std::uint8_t>(0x10 | endpoint),
          0x00,
          static_cast<std::uint8_t>(lengthField & 0xFF),
          static_cast<std::uint8_t>(lengthField >> 8),
          0x00,
          0x00,
          static_cast<std::uint8_t>(seq & 0xFF),
          static_cast<std::uint8_t>(seq >> 8),
          static_cast<std::uint8_t>(crc & 0xFF),
          static_cast<std::uint8_t>(crc >> 8)};
  f.insert(f.end(), body.begin(), body.end());
  return f;
}

// An ACK (type 0x10) or NAK (0x11) from the board for our endpoint 4.
inline Bytes BoardAck(std::uint16_t seq, std::uint8_t type = 0x10, std::uint8_t address = 0x14) {
  return {0x5A, 0x5A, address, 0x00, 0x06, 0x00, 0x00, type,
          static_cast<std::uint8_t>(seq & 0xFF), static_cast<std::uint8_t>(seq >> 8), 0x00, 0x00};
}

// Cuts a frame into 64-byte reports, the last filled up with 0xFF.
inline std::vector<Report> Cut(const Bytes& f) {
  std::vector<Report> out;
  for (std::size_t off = 0; off < f.size(); off += 64) {
    Report r;
    r.fill(0xFF);
    for (std::size_t i = 0; i < 64 && off + i < f.size(); ++i) r[i] = f[off + i];
    out.push_back(r);
  }
  return out;
}

}  // namespace testframes
