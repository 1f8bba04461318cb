// HID through hidapi (on Linux its hidraw backend).
#pragma once

#include "link/HidBackend.h"

class HidapiBackend final : public HidBackend {
 public:
  HidapiBackend();
  ~HidapiBackend() override;
  HidapiBackend(const HidapiBackend&) = delete;
  HidapiBackend& operator=(const HidapiBackend&) = delete;

  bool Initialised() const { return initialised_; }
  std::vector<HidDeviceInfo> Enumerate(std::uint16_t vendorId, std::uint16_t productId) override;
  std::unique_ptr<HidDevice> Open(const std::string& path, std::string& error) override;

 private:
  bool initialised_ = false;
};

// Where the udev rule that lets the logged-in user open the board lives, for
// messages that tell the user how to fix a permission problem.
inline constexpr const char* kUdevRuleName = "70-corvel-lamp-board.rules";
