// The protocol object: owns the choice of checksum algorithm. Its existence is
// the condition for sending anything on the link.
#pragma once

#include <atomic>
#include <cstdint>

class CQVProtocol {
 public:
  CQVProtocol() = default;
  ~CQVProtocol() = default;
  CQVProtocol(const CQVProtocol&) = delete;
  CQVProtocol& operator=(const CQVProtocol&) = delete;

  void UseCrc16();
  std::uint16_t ComputeChecksum(const std::uint8_t* data, int length) const;
  std::uint32_t ChecksumAlgorithm() const { return m_checksumAlgorithm.load(); }

 private:
  std::atomic<std::uint32_t> m_checksumAlgorithm{0};
};

// Null while the protocol object does not exist.
extern std::atomic<CQVProtocol*> g_pProtocol;
