#include "platform/DeviceMonitor.h"

#include "platform/Messages.h"

#if defined(__linux__)
#include <libudev.h>
#include <poll.h>

#include <chrono>
#include <cstring>

namespace platform {

DeviceMonitor::DeviceMonitor() {
  udev_ = udev_new();
  if (!udev_) {
    error_ = "udev is not available";
    return;
  }
  monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
  if (!monitor_) {
    error_ = "cannot listen for device events";
    return;
  }
  if (udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor_) < 0) {
    error_ = "cannot listen for hidraw events";
    return;
  }
  fd_ = udev_monitor_get_fd(monitor_);
  if (fd_ < 0) error_ = "device monitor has no descriptor";
}

DeviceMonitor::~DeviceMonitor() {
  if (monitor_) udev_monitor_unref(monitor_);
  if (udev_) udev_unref(udev_);
}

std::optional<DeviceEvent> DeviceMonitor::ReadEvent() {
  if (fd_ < 0) return std::nullopt;
  for (;;) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN)) return std::nullopt;
    udev_device* dev = udev_monitor_receive_device(monitor_);
    if (!dev) return std::nullopt;
    const char* action = udev_device_get_action(dev);
    const char* node = udev_device_get_devnode(dev);
    std::optional<DeviceEvent> event;
    if (action && std::strcmp(action, "add") == 0)
      event = DeviceEvent{DBT_DEVICEARRIVAL, node ? node : ""};
    else if (action && std::strcmp(action, "remove") == 0)
      event = DeviceEvent{DBT_DEVICEREMOVECOMPLETE, node ? node : ""};
    udev_device_unref(dev);
    if (event) return event;
  }
}

std::optional<DeviceEvent> DeviceMonitor::WaitEvent(int timeoutMs) {
  if (fd_ < 0) return std::nullopt;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (auto e = ReadEvent()) return e;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return std::nullopt;
    pollfd p{fd_, POLLIN, 0};
    const int ready = poll(&p, 1, static_cast<int>(left));
    if (ready < 0) return std::nullopt;
    if (ready > 0) {
      if (auto e = ReadEvent()) return e;
      poll(nullptr, 0, 10);  // readable but nothing we could take: do not spin on it
    }
  }
}

}  // namespace platform

#else  // other systems: no monitor yet; callers fall back to polling

namespace platform {
DeviceMonitor::DeviceMonitor() : error_("no device monitor on this system") {}
DeviceMonitor::~DeviceMonitor() = default;
std::optional<DeviceEvent> DeviceMonitor::ReadEvent() { return std::nullopt; }
std::optional<DeviceEvent> DeviceMonitor::WaitEvent(int) { return std::nullopt; }
}  // namespace platform

#endif
