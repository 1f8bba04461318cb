#include "chip/RegisterJournal.h"

#include <algorithm>

#include "chip/RegisterMap.h"

namespace chip {

void RegisterJournal::Record(std::uint8_t first, std::span<const std::uint8_t> data, bool write) {
  std::lock_guard lock(m_mutex);
  ++m_stamp;
  for (std::size_t i = 0; i < data.size() && first + i < m_registers.size(); ++i) {
    RegisterRecord& r = m_registers[first + i];
    if (write) {
      r.written = data[i];
      r.writeStamp = m_stamp;
    } else {
      r.read = data[i];
      r.readStamp = m_stamp;
    }
  }
  if (write && first <= kRegSoftwareReset && kRegSoftwareReset - first < static_cast<int>(data.size()))
    m_resetStamp = m_stamp;
}

void RegisterJournal::RecordWrite(std::uint8_t first, std::span<const std::uint8_t> data) { Record(first, data, true); }
void RegisterJournal::RecordRead(std::uint8_t first, std::span<const std::uint8_t> data) { Record(first, data, false); }

RegisterRecord RegisterJournal::Get(std::uint8_t reg) const {
  std::lock_guard lock(m_mutex);
  return m_registers[reg];
}

std::optional<std::uint8_t> RegisterJournal::Known(std::uint8_t reg) const {
  std::lock_guard lock(m_mutex);
  const RegisterRecord& r = m_registers[reg];
  // The reset's own write carries the reset's stamp: a value noted with it
  // (register 0x7F itself) or before it is the old chip's.
  if (std::max(r.readStamp, r.writeStamp) <= m_resetStamp) return std::nullopt;
  return r.Latest();
}

void RegisterJournal::Forget() {
  std::lock_guard lock(m_mutex);
  m_resetStamp = ++m_stamp;
}

std::uint64_t RegisterJournal::Version() const {
  std::lock_guard lock(m_mutex);
  return m_stamp;
}

std::uint64_t RegisterJournal::ResetStamp() const {
  std::lock_guard lock(m_mutex);
  return m_resetStamp;
}

void RegisterJournal::NoteInterrupt() {
  std::lock_guard lock(m_mutex);
  m_interruptStamp = ++m_stamp;
}

std::uint64_t RegisterJournal::InterruptStamp() const {
  std::lock_guard lock(m_mutex);
  return m_interruptStamp;
}

void RegisterJournal::Clear() {
  std::lock_guard lock(m_mutex);
  m_registers = {};
  m_resetStamp = 0;
  m_interruptStamp = 0;
  ++m_stamp;
}

RegisterJournal& Journal() {
  static RegisterJournal journal;
  return journal;
}

}  // namespace chip
