// Where the link's notifications go, and the I2C settings every register
// command carries. The application stores the main window's handle here while
// the window initialises; the firmware-update window stores its own while it
// exists. Notifications to a handle that is gone are dropped by the platform.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/MessageTarget.h"

namespace corvel {

void SetMainDialogHandle(platform::Handle handle);
platform::Handle GetMainDialogHandle();

void SetBootDialogHandle(platform::Handle handle);
platform::Handle GetBootDialogHandle();

// Result callbacks run only while the chip registry exists (replies arriving
// after it was destroyed are acknowledged and dropped).
void SetChipRegistryPresent(bool present);
bool ChipRegistryPresent();

// Short trace lines the link prints (the enumeration's "VID: .. PID: .."
// lines, "interrupt signal is commig"). They go to standard output unless a
// sink is installed; an installed sink may drop them.
void TraceLine(const std::string& line);
void SetTraceSink(std::function<void(const std::string&)> sink);

}  // namespace corvel

// Current chip address (I2C record byte 1) and bus speed code (byte 4).
inline constexpr std::uint8_t kI2cSpeed400K = 4;
inline constexpr std::uint8_t kI2cSpeed1M = 10;
inline constexpr std::uint8_t kDefaultChipAddress = 0x5B;
extern std::atomic<std::uint8_t> g_i2cAddress;
extern std::atomic<std::uint8_t> g_i2cSpeed;
