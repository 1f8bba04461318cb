#include "link/Crc16.h"

#include <array>
#include <atomic>
#include <memory>
#include <mutex>

#include "platform/MessageBox.h"

namespace {

constexpr std::array<std::uint16_t, 256> MakeCrcTable() {
  std::array<std::uint16_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint16_t crc = static_cast<std::uint16_t>(i);
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 1u) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001u)
                       : static_cast<std::uint16_t>(crc >> 1);
    }
    table[i] = crc;
  }
  return table;
}

constexpr auto kCrcTable = MakeCrcTable();
static_assert(kCrcTable[0x01] == 0xC0C1 && kCrcTable[0x80] == 0xA001 && kCrcTable[0xFF] == 0x4040);

std::atomic<std::uint32_t> g_selectedAlgorithm{kChecksumNone};

std::once_flag g_crcOnce;
std::unique_ptr<CCRC16> g_crcInstance;  // lives until the process ends
std::atomic<int> g_crcInstances{0};

}  // namespace

std::uint16_t CCRC16::Update(std::uint16_t start, const std::uint8_t* data, std::uint32_t length) {
  std::uint16_t crc = start;
  for (std::uint32_t i = 0; i < length; ++i) {
    crc = static_cast<std::uint16_t>((crc >> 8) ^ kCrcTable[(crc ^ data[i]) & 0xFFu]);
  }
  return crc;
}

const CCRC16* CCRC16::Instance() { return g_crcInstances.load() ? g_crcInstance.get() : nullptr; }
int CCRC16::InstanceCount() { return g_crcInstances.load(); }

void CALGORITHM::SelectAlgorithm(std::uint32_t number) {
  g_selectedAlgorithm.store(number);
  const char* unsupported = nullptr;
  switch (number) {
    case kChecksumCrc16:
      std::call_once(g_crcOnce, [] {
        g_crcInstance = std::make_unique<CCRC16>();
        g_crcInstances.store(1);
      });
      return;
    case kChecksumCrc8: unsupported = "CRC8 algorithm is not support!"; break;
    case kChecksumCrc32: unsupported = "CRC32 algorithm is not support!"; break;
    case kChecksumParity: unsupported = "Parity algorithm is not support!"; break;
    case kChecksumSum: unsupported = "Sum algorithm is not support!"; break;
    default: return;
  }
  platform::MessageBox(unsupported, "CorvelGUI", platform::MessageIcon::Error,
                       platform::MessageButtons::Ok);
}

std::uint16_t CALGORITHM::Calculate(const std::uint8_t* data, std::uint32_t length) const {
  if (g_selectedAlgorithm.load() != kChecksumCrc16) return 0;
  return CCRC16::Update(0, data, length);
}

std::uint32_t CALGORITHM::Selected() { return g_selectedAlgorithm.load(); }
