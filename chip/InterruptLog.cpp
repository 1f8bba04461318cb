#include "chip/InterruptLog.h"

namespace chip {

bool InterruptLog::Entry::Comparable() const {
  for (const auto& level : before)
    if (level) return true;
  return false;
}

void InterruptLog::Add(std::int64_t timeMs, const PinLevelArray& levelsNow) {
  ++m_count;
  ++m_unseen;
  ++m_version;
  m_entries.push_back(Entry{m_count, timeMs, levelsNow, std::nullopt});
  while (m_entries.size() > kCapacity) m_entries.pop_front();
}

void InterruptLog::PortsRead(const PinLevelArray& levelsNow) {
  bool moved = false;
  for (auto& e : m_entries) {
    if (e.changed) continue;
    e.changed = ChangedPins(e.before, levelsNow);
    moved = true;
  }
  if (moved) ++m_version;
}

void InterruptLog::MarkSeen() {
  if (m_unseen == 0) return;
  m_unseen = 0;
  ++m_version;  // the view shows the same entries, no longer as new
}

void InterruptLog::Clear() {
  m_entries.clear();
  m_count = 0;
  m_unseen = 0;
  ++m_version;
}

}  // namespace chip
