#include "link/TrafficCapture.h"

#include <utility>

TrafficCapture::TrafficCapture(std::size_t capacity) : m_capacity(capacity) {}

void TrafficCapture::Push(bool out, bool bootloader, const std::uint8_t* report, std::size_t length,
                          TrafficClock::time_point time) {
  std::lock_guard lock(m_mutex);
  if (m_queue.size() >= m_capacity) {
    m_dropped.fetch_add(1);
    ++m_droppedSinceTake;
    return;
  }
  m_queue.push_back(TrafficReport::From(time, out, bootloader, report, length));
}

std::uint64_t TrafficCapture::TakeAll(std::vector<TrafficReport>& into) {
  into.clear();
  std::lock_guard lock(m_mutex);
  // The two buffers trade places: the queue keeps the capacity `into` had,
  // so neither side allocates once both have grown.
  m_queue.swap(into);
  return std::exchange(m_droppedSinceTake, 0);
}
