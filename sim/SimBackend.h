// The HID backend in front of the simulated lamp board: it enumerates the
// board while it is plugged (with the release number of whatever it runs) and
// moves reports to and from it.
#pragma once

#include <deque>
#include <mutex>
#include <vector>

#include "link/HidBackend.h"
#include "sim/SimBoard.h"

class SimBackend final : public HidBackend {
 public:
  explicit SimBackend(sim::SimBoard& board);

  std::vector<HidDeviceInfo> Enumerate(std::uint16_t vendorId, std::uint16_t productId) override;
  std::unique_ptr<HidDevice> Open(const std::string& path, std::string& error) override;

  // Queues a raw input report exactly as given (any length, any report id),
  // ahead of the board's own, for tests of the transport's report checks.
  void InjectInputReport(std::vector<std::uint8_t> report);
  // Every output report written, report id first, in order.
  std::vector<std::vector<std::uint8_t>> TakeWritten();

  int OpenCount() const;

  static constexpr const char* kPath = "sim:lamp-board";

 private:
  friend class SimDevice;
  sim::SimBoard& board_;
  mutable std::mutex mutex_;
  std::deque<std::vector<std::uint8_t>> injected_;
  std::vector<std::vector<std::uint8_t>> written_;
  bool recordWrites_ = true;
  int opens_ = 0;
};
