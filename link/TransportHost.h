// What the HID transport needs from whoever owns it (the transport manager):
// where its reports go and what it may open. Called from the reader thread
// (OnReport, OnReaderTick) and from the enumeration (the rest).
#pragma once

#include <cstdint>

class TransportHost {
 public:
  virtual ~TransportHost() = default;
  // The 64 data bytes of one input report; `fromBootloader`: read from the
  // bootloader device.
  virtual void OnReport(const std::uint8_t* data, int length, bool fromBootloader) = 0;
  // Between reads of an open device: the engine's clock.
  virtual void OnReaderTick(bool fromBootloader) = 0;
  // The enumeration found the board's firmware (0) or its bootloader (1).
  virtual void SetBootMode(int flag) = 0;
  // A bootloader is accepted only while a firmware update could serve it.
  virtual bool FirmwareUpdatePossible() const = 0;
  // The enumeration accepted the board's bootloader.
  virtual void OnBootloaderFound() = 0;
};
