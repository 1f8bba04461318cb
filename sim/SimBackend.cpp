#include "sim/SimBackend.h"

#include <algorithm>
#include <cstring>
#include <utility>

class SimDevice final : public HidDevice {
 public:
  SimDevice(SimBackend& backend, sim::SimBoard& board, std::uint64_t connection)
      : backend_(backend), board_(board), connection_(connection) {}

  int Write(const std::uint8_t* data, std::size_t length) override {
    if (length != kHidReportSize) return -1;
    {
      std::lock_guard lock(backend_.mutex_);
      if (backend_.recordWrites_) {
        backend_.written_.emplace_back(data, data + length);
        // A long soak must not grow this without bound.
        if (backend_.written_.size() > 4096) backend_.written_.erase(backend_.written_.begin(), backend_.written_.begin() + 2048);
      }
    }
    std::array<std::uint8_t, sim::kReportSize> report;
    std::memcpy(report.data(), data + 1, report.size());
    return board_.HostWrite(report, connection_) ? static_cast<int>(length) : -1;
  }

  int Read(std::uint8_t* buffer, std::size_t length, int timeoutMs) override {
    {
      std::lock_guard lock(backend_.mutex_);
      if (!backend_.injected_.empty()) {
        auto r = std::move(backend_.injected_.front());
        backend_.injected_.pop_front();
        const std::size_t n = std::min(length, r.size());
        std::memcpy(buffer, r.data(), n);
        return static_cast<int>(n);
      }
    }
    if (length < kHidReportSize) return -1;
    sim::Report report;
    const int r = board_.HostRead(report, std::chrono::milliseconds(timeoutMs), connection_);
    if (r <= 0) return r;
    buffer[0] = 0;
    std::memcpy(buffer + 1, report.data(), report.size());
    return static_cast<int>(kHidReportSize);
  }

  // Woken like a hidraw node: the reader waits long while the link is quiet.
  bool CanWake() const override { return true; }
  void Wake() override { board_.WakeHostRead(); }

 private:
  SimBackend& backend_;
  sim::SimBoard& board_;
  std::uint64_t connection_;  // the board's connection this handle was opened on
};

SimBackend::SimBackend(sim::SimBoard& board) : boards_{&board} {}

SimBackend::SimBackend(std::vector<sim::SimBoard*> boards) : boards_(std::move(boards)) {}

std::string SimBackend::PathOf(std::size_t index, std::size_t boards) {
  return boards == 1 ? std::string(kPath) : std::string(kPath) + "/" + std::to_string(index + 1);
}

std::vector<HidDeviceInfo> SimBackend::Enumerate(std::uint16_t vendorId, std::uint16_t productId) {
  std::vector<HidDeviceInfo> found;
  if (vendorId != sim::kVendorId || productId != sim::kProductId) return found;
  for (std::size_t i = 0; i < boards_.size(); ++i) {
    const sim::SimBoard& board = *boards_[i];
    if (board.IsPlugged())
      found.push_back(HidDeviceInfo{PathOf(i, boards_.size()), sim::kVendorId, sim::kProductId,
                                    board.ReleaseNumber(), board.SerialNumber()});
  }
  return found;
}

std::unique_ptr<HidDevice> SimBackend::Open(const std::string& path, std::string& error) {
  for (std::size_t i = 0; i < boards_.size(); ++i) {
    if (path != PathOf(i, boards_.size())) continue;
    if (!boards_[i]->IsPlugged()) break;
    {
      std::lock_guard lock(mutex_);
      ++opens_;
    }
    return std::make_unique<SimDevice>(*this, *boards_[i], boards_[i]->Connection());
  }
  error = "The simulated board is not plugged in.";
  return nullptr;
}

int SimBackend::OpenCount() const {
  std::lock_guard lock(mutex_);
  return opens_;
}

void SimBackend::InjectInputReport(std::vector<std::uint8_t> report) {
  std::lock_guard lock(mutex_);
  injected_.push_back(std::move(report));
}

std::vector<std::vector<std::uint8_t>> SimBackend::TakeWritten() {
  std::lock_guard lock(mutex_);
  return std::exchange(written_, {});
}
