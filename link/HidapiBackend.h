// HID through hidapi (on Linux its hidraw backend).
#pragma once

#include "link/HidBackend.h"

class HidapiBackend final : public HidBackend {
 public:
  HidapiBackend();
  // Sees only the node at `devicePath` (a hidraw path such as /dev/hidraw3),
  // instead of every board the system lists.
  explicit HidapiBackend(std::string devicePath);
  ~HidapiBackend() override;
  HidapiBackend(const HidapiBackend&) = delete;
  HidapiBackend& operator=(const HidapiBackend&) = delete;

  bool Initialised() const { return initialised_; }
  std::vector<HidDeviceInfo> Enumerate(std::uint16_t vendorId, std::uint16_t productId) override;
  std::unique_ptr<HidDevice> Open(const std::string& path, std::string& error) override;
  std::string WhyNotFound() override;

  // For a backend given one device path: why that path is not a board we can
  // open (missing, not permitted, not a HID device), or empty when it is.
  std::string CheckDevicePath();

 private:
  bool initialised_ = false;
  bool DevicePathExists() const;
  // What a given node the system does not list is taken for.
  static constexpr std::uint16_t kDefaultRelease = 0x1000;
  static constexpr std::uint16_t kBootloaderRelease = 0x0100;
  // The node's name (HIDIOCGRAWNAME: the USB product string), or empty.
  static std::string DeviceName(const std::string& path);
  std::string devicePath_;
};

// Where the udev rule that lets the logged-in user open the board lives, for
// messages that tell the user how to fix a permission problem.
inline constexpr const char* kUdevRuleName = "70-corvel-lamp-board.rules";
