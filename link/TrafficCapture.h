// Hands the reports the transport's tap sees to a window that decodes them
// later, without ever holding up the link: the tap (on the reader thread, or
// under the transport's write lock) only copies the report into a bounded
// queue; the window takes everything queued in one go on its own thread.
// When the window falls that far behind, further reports are counted and
// dropped instead of queued, so memory stays bounded.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "link/TrafficRecord.h"

class TrafficCapture {
 public:
  static constexpr std::size_t kDefaultCapacity = 65536;  // about 5 MB of reports

  explicit TrafficCapture(std::size_t capacity = kDefaultCapacity);

  // Any thread. `bootloader`: the report is a raw bootloader record.
  void Push(bool out, bool bootloader, const std::uint8_t* report, std::size_t length,
            TrafficClock::time_point time = TrafficClock::now());
  // Moves everything queued so far into `into` (which it clears first).
  // Returns how many reports were dropped after the last of them: the queue
  // was full from then until this call.
  std::uint64_t TakeAll(std::vector<TrafficReport>& into);

  std::uint64_t Dropped() const { return m_dropped.load(); }  // since the start
  std::size_t Capacity() const { return m_capacity; }

 private:
  const std::size_t m_capacity;
  std::mutex m_mutex;
  std::vector<TrafficReport> m_queue;
  std::uint64_t m_droppedSinceTake = 0;
  std::atomic<std::uint64_t> m_dropped{0};
};
