// The HID backend in front of the simulated lamp board(s): it enumerates each
// board while it is plugged (with the release number of whatever it runs and
// its serial number) and moves reports to and from it.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "link/HidBackend.h"
#include "sim/SimBoard.h"

class SimBackend final : public HidBackend {
 public:
  explicit SimBackend(sim::SimBoard& board);
  // A bench of several boards, listed in this order. Each has a path of its
  // own (SimBackend::PathOf).
  explicit SimBackend(std::vector<sim::SimBoard*> boards);

  std::vector<HidDeviceInfo> Enumerate(std::uint16_t vendorId, std::uint16_t productId) override;
  std::unique_ptr<HidDevice> Open(const std::string& path, std::string& error) override;

  // Queues a raw input report exactly as given (any length, any report id),
  // ahead of the board's own, for tests of the transport's report checks.
  void InjectInputReport(std::vector<std::uint8_t> report);
  // Every output report written, report id first, in order.
  std::vector<std::vector<std::uint8_t>> TakeWritten();

  int OpenCount() const;

  // The one board's path; on a bench of several, board i (from 0) is at
  // kPath + "/" + (i + 1).
  static constexpr const char* kPath = "sim:lamp-board";
  static std::string PathOf(std::size_t index, std::size_t boards);

 private:
  friend class SimDevice;
  std::vector<sim::SimBoard*> boards_;
  mutable std::mutex mutex_;
  std::deque<std::vector<std::uint8_t>> injected_;
  std::vector<std::vector<std::uint8_t>> written_;
  bool recordWrites_ = true;
  int opens_ = 0;
};
