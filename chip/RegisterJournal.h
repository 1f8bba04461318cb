// What the program knows of each chip register: the value the chip last
// returned to a read, and the value the program last wrote, from whichever
// page. Writes are noted where every write goes out (WriteChipRegisters);
// reads by whoever receives the reply. The register page shows it. Pure C++.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>

namespace chip {

struct RegisterRecord {
  std::optional<std::uint8_t> read;     // last value the chip returned
  std::optional<std::uint8_t> written;  // last value the program sent
  // Order of the two events among all others noted (0: never), so that a page
  // can tell which is newer and whether it came before a software reset.
  std::uint64_t readStamp = 0;
  std::uint64_t writeStamp = 0;

  // The newer of the two values, or nothing when neither is known.
  std::optional<std::uint8_t> Latest() const { return writeStamp > readStamp ? written : read; }
};

class RegisterJournal {
 public:
  // `data` belongs to the consecutive registers from `first`; bytes that
  // would fall past register 0xFF are not noted.
  void RecordWrite(std::uint8_t first, std::span<const std::uint8_t> data);
  void RecordRead(std::uint8_t first, std::span<const std::uint8_t> data);

  RegisterRecord Get(std::uint8_t reg) const;
  // What the chip holds now, as far as the program knows: the newer of the
  // last value read and the last value written, unless a software reset or a
  // re-plug came after it. Nothing: not known until someone sets it.
  std::optional<std::uint8_t> Known(std::uint8_t reg) const;
  // The chip started over behind the program's back (a re-plug): nothing
  // noted before is known any more. Kept for the register page, greyed.
  void Forget();
  // Moves on with every note; a page redraws only when it moved.
  std::uint64_t Version() const;
  // Stamp of the last software reset the program wrote (0: none): the chip
  // no longer holds what was noted before it.
  std::uint64_t ResetStamp() const;
  // The board reported an interrupt: what is outside the pins changed, so a
  // port value read before it may no longer be what the port holds.
  void NoteInterrupt();
  std::uint64_t InterruptStamp() const;
  void Clear();

 private:
  void Record(std::uint8_t first, std::span<const std::uint8_t> data, bool write);

  mutable std::mutex m_mutex;
  std::array<RegisterRecord, 256> m_registers{};
  std::uint64_t m_stamp = 0;
  std::uint64_t m_resetStamp = 0;
  std::uint64_t m_interruptStamp = 0;
};

// The process-wide journal.
RegisterJournal& Journal();

}  // namespace chip
