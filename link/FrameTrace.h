// Decodes the reports of one direction of the link back into frames for a
// human: type, sequence number, class/command, payload length and whether the
// checksum holds. Reports that belong to no frame are named as such; raw
// bootloader records are not frames and are left to the caller. A line here
// is the row of link/TrafficRecord written for --trace.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "link/TrafficRecord.h"

class FrameTracer {
 public:
  // Feeds the 64 data bytes of one report; returns a line for every frame it
  // completes (or a note for a report that starts none).
  std::optional<std::string> Feed(std::span<const std::uint8_t> report);

  // One line for a complete frame.
  static std::string Describe(std::span<const std::uint8_t> frame);

 private:
  TrafficDecoder decoder_;
};
