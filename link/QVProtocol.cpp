#include "link/QVProtocol.h"

#include "link/Crc16.h"

std::atomic<CQVProtocol*> g_pProtocol{nullptr};

void CQVProtocol::UseCrc16() { m_checksumAlgorithm.store(kChecksumCrc16); }

std::uint16_t CQVProtocol::ComputeChecksum(const std::uint8_t* data, int length) const {
  if (length <= 0) return 0;
  CALGORITHM algorithm;
  algorithm.SelectAlgorithm(m_checksumAlgorithm.load());
  return algorithm.Calculate(data, static_cast<std::uint32_t>(length));
}
