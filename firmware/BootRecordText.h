// Names the bootloader's raw records for the traffic decoder (traffic page,
// --trace, --log), next to the record format it reads.
#pragma once

#include <cstdint>
#include <span>

#include "link/TrafficRecord.h"

// Fills opcode, name and meaning of one 64-byte record; `out`: sent to the
// board (a request), else the bootloader's answer.
void DescribeBootRecord(std::span<const std::uint8_t> record, bool out, TrafficRow& row);

// The decoder every traffic view uses: frames, and bootloader records named.
inline TrafficDecoder MakeTrafficDecoder() { return TrafficDecoder(&DescribeBootRecord); }
