// The operations the transport needs from a HID stack: find devices by vendor
// and product id (with their release number), open one, write a 65-byte
// output report, read a 65-byte input report with a timeout. One backend
// speaks to the system's HID stack, another to the simulated board.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

inline constexpr std::size_t kHidReportSize = 65;  // report id 0, then 64 data bytes

struct HidDeviceInfo {
  std::string path;
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::uint16_t releaseNumber = 0;
  std::string serialNumber;  // empty when the device does not say
};

// Which of several attached boards a link may open: the one at `path`, the
// one with `serial`, or (both empty) whichever is found first.
struct DeviceChoice {
  std::string path;
  std::string serial;
  bool Any() const { return path.empty() && serial.empty(); }
  bool Matches(const HidDeviceInfo& d) const {
    return (path.empty() || d.path == path) && (serial.empty() || d.serialNumber == serial);
  }
};

class HidDevice {
 public:
  virtual ~HidDevice() = default;
  // Writes one report, report id first. Returns the bytes written, or -1.
  virtual int Write(const std::uint8_t* data, std::size_t length) = 0;
  // Reads one input report, report id first. Returns the bytes read, 0 when
  // nothing came within the timeout, -1 when the device is gone. May run on
  // one thread while Write runs on another.
  virtual int Read(std::uint8_t* buffer, std::size_t length, int timeoutMs) = 0;
  // Whether Wake can end a Read early; a device that can lets its reader
  // wait long while nothing happens.
  virtual bool CanWake() const { return false; }
  // Ends a Read in progress (or the next one) at once; it returns 0. Any thread.
  virtual void Wake() {}
};

class HidBackend {
 public:
  virtual ~HidBackend() = default;
  virtual std::vector<HidDeviceInfo> Enumerate(std::uint16_t vendorId, std::uint16_t productId) = 0;
  // Null on failure, with a sentence for the user in `error`.
  virtual std::unique_ptr<HidDevice> Open(const std::string& path, std::string& error) = 0;
  // Why enumeration found no board, where the backend knows more than that
  // (a given device path that does not exist); empty otherwise.
  virtual std::string WhyNotFound() { return {}; }
};
