// The interrupts the board reported, newest last, for the LED board page's
// indicator and its list: bounded (a board that interrupts all day must not
// grow the window), numbered from the start, with what is new since someone
// last looked, and, once both input ports have been read after an interrupt,
// which pins changed. Pure C++: the page gives it times and pin levels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

#include "chip/PinLevels.h"

namespace chip {

class InterruptLog {
 public:
  static constexpr std::size_t kCapacity = 8;

  struct Entry {
    std::uint64_t number = 0;  // 1 for the first interrupt since the last Clear
    std::int64_t timeMs = 0;   // when it came, as the caller counts time
    // Pin levels known when it came; the next complete reading of the ports
    // is compared with them.
    PinLevelArray before{};
    // Bit i: drawing pin i changed. Nothing until the ports were read again.
    std::optional<std::uint16_t> changed;
    // Whether any pin's level was known when it came: without, a later
    // reading has nothing to compare with, and "no pin changed" would lie.
    bool Comparable() const;
  };

  // An interrupt arrived at `timeMs`, with the pin levels known then.
  void Add(std::int64_t timeMs, const PinLevelArray& levelsNow);
  // Both input ports were read (again): every entry still waiting learns
  // which pins changed since it came.
  void PortsRead(const PinLevelArray& levelsNow);

  const std::deque<Entry>& Entries() const { return m_entries; }
  // Interrupts since the last Clear, also those that fell out of the list.
  std::uint64_t Count() const { return m_count; }
  // Interrupts nobody has looked at yet: the indicator stays lit while > 0.
  std::uint64_t Unseen() const { return m_unseen; }
  void MarkSeen();
  void Clear();
  // Moves on with every change, so that a view redraws only when it moved.
  std::uint64_t Version() const { return m_version; }

 private:
  std::deque<Entry> m_entries;
  std::uint64_t m_count = 0;
  std::uint64_t m_unseen = 0;
  std::uint64_t m_version = 0;
};

}  // namespace chip
