// The GPIO input page: below the board drawing while the pins are GPIO inputs.
// It reads the two input ports (0x00, then 0x01 once the first answer is in)
// and sets, pin by pin, whether a pin may raise an interrupt (0x06-0x07). The
// pins whose interrupt is disabled are marked on the drawing.
#pragma once

#include "chip/ChipClaims.h"
#include <cstdint>

#include "chip/ChipAccess.h"
#include "pages/PageHost.h"
#include "ui/Page.h"

class CMyComboBox;
class CMyRectButton;
class CMyStaticFont;
namespace chip {
class RegisterJournal;
}

class CQV512XX_Gpio_Input : public CPage {
  Q_OBJECT
 public:
  // What this page shows of the chip, for checks (see chip/ChipClaims.h).
  chip::ChipClaims Claims() const;
  // Entries of the interrupt box; the index is what g_interruptDisabled keeps.
  static constexpr int kEnable = 0;
  static constexpr int kDisable = 1;

  // `host` colours the pins on its board drawing for the page.
  CQV512XX_Gpio_Input(QWidget* parent, PageHost& host);
  ~CQV512XX_Gpio_Input() override;

  void InitDialog();

  void OnReadInputState();
  void OnInterruptChanged(int index);
  void OnMessage(const platform::Message& message) override;

  CMyComboBox* InterruptCombo() const { return m_interrupt; }

  static constexpr std::uint32_t kModelTimer = 21;
  static constexpr std::uint32_t kModelPeriodMs = 100;
  // The Interrupt box shows the setting the chip holds for the selected pin
  // (0x06/0x07), or "not known"; run by the model timer.
  void ShowChipModel();
  void OnTimer(std::uint32_t id) override;
  CMyRectButton* ReadButton() const { return m_read; }
  CMyStaticFont* PortText(int port) const { return port == 0 ? m_port0 : m_port1; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void OnRegisterRead(const platform::Message& message);
  void Read(std::uint8_t port);
  void ShowPortAge(const chip::RegisterJournal& journal);

  PageHost& m_host;
  CMyComboBox* m_interrupt = nullptr;
  CMyRectButton* m_read = nullptr;
  CMyStaticFont* m_port0 = nullptr;
  CMyStaticFont* m_port1 = nullptr;
  chip::ReplyWait m_wait{"GPIO input: the value of an input port"};
  std::uint64_t m_modelVersion = ~std::uint64_t{0};
  int m_modelPin = -2;
};
