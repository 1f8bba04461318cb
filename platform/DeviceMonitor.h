// Hears of HID devices arriving and leaving (hidraw through libudev on Linux).
// It is enabled before the first enumeration so that no arrival is missed, and
// exposes a descriptor to poll: the window watches it with a socket notifier,
// the command-line tool polls it while waiting for a board.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct udev;
struct udev_monitor;

namespace platform {

struct DeviceEvent {
  std::uint32_t event;  // DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE
  std::string node;     // e.g. /dev/hidraw3
};

class DeviceMonitor {
 public:
  DeviceMonitor();
  ~DeviceMonitor();
  DeviceMonitor(const DeviceMonitor&) = delete;
  DeviceMonitor& operator=(const DeviceMonitor&) = delete;

  bool IsValid() const { return fd_ >= 0; }
  const std::string& Error() const { return error_; }
  int Fd() const { return fd_; }

  // The next event if one is ready (never blocks); other actions are skipped.
  std::optional<DeviceEvent> ReadEvent();
  // Waits up to timeoutMs for an event.
  std::optional<DeviceEvent> WaitEvent(int timeoutMs);

 private:
  ::udev* udev_ = nullptr;
  ::udev_monitor* monitor_ = nullptr;
  int fd_ = -1;
  std::string error_;
};

}  // namespace platform
