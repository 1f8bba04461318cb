// A stand-in for the pages that read register 0x11 and act on the answer (the
// blink chain's read-modify-write, the GPIO output page's driver type): it
// reads through chip/, waits with chip::ReplyWait like they do, and when its
// own answer comes writes the register back with a bit set. Its chain is the
// blink chain's: 0xFF to 0x14, 03 0F to 0x04-0x05, read 0x11, write 0x11 | 0x80.
#pragma once

#include <array>

#include "chip/ChipAccess.h"
#include "chip/RegisterMap.h"
#include "platform/Messages.h"
#include "ui/Page.h"

class StandInChainPage : public CPage {
 public:
  // `readMessage`: the relay the main window uses for this kind of page
  // (kMsgBlinkRead, kMsgGpioOutputRead).
  StandInChainPage(QWidget* parent, std::uint32_t readMessage) : CPage(parent), m_readMessage(readMessage) {}

  void StartChain() {
    chip::WriteChipRegisters(chip::kRegEffectControl, std::array{chip::kEffectStart});
    chip::WriteChipRegisters(chip::kRegDirection, std::array<std::uint8_t, 2>{0x03, 0x0F});
    ReadGlobalControl();
  }
  void ReadGlobalControl() {
    if (chip::ReadChipRegisters(chip::kRegGlobalControl, 1)) m_wait.Expect(chip::kRegGlobalControl);
  }

  void OnMessage(const platform::Message& m) override {
    if (m.id != m_readMessage || !m.Bytes()) return;
    ++repliesSeen;
    const auto reply = chip::ParseRegisterReply(*m.Bytes());
    if (!reply || !m_wait.Take(*reply)) return;
    ++actions;
    chip::WriteChipRegisters(chip::kRegGlobalControl,
                             std::array{static_cast<std::uint8_t>(reply->Value() | chip::kBlinkEnableBits)});
  }

  int repliesSeen = 0;  // read replies relayed to it
  int actions = 0;      // of them, the ones it acted on

 private:
  std::uint32_t m_readMessage;
  chip::ReplyWait m_wait;
};
