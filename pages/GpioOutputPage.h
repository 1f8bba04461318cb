// The GPIO output page: below the board drawing while the pins are GPIO
// outputs. It sets the output driver type of all pins (bit 4 of 0x11, by
// reading the register and writing it back changed) and the output level of
// the selected pin (0x02-0x03, mapped to bits as the chip board wires them).
// The pins set high are marked on the drawing.
#pragma once

#include "chip/ChipClaims.h"
#include <cstdint>

#include "chip/ChipAccess.h"
#include "pages/PageHost.h"
#include "ui/Page.h"

class CMyComboBox;
class CMyStaticFont;

class CQV512XX_Gpio_Output : public CPage {
  Q_OBJECT
 public:
  // What this page shows of the chip, for checks (see chip/ChipClaims.h).
  chip::ChipClaims Claims() const;
  // Entries of the two boxes.
  static constexpr int kOpenDrain = 0;
  static constexpr int kPushPull = 1;
  static constexpr int kLowLevel = 0;
  static constexpr std::uint32_t kModelTimer = 22;
  static constexpr std::uint32_t kModelPeriodMs = 100;
  // The driver type and the selected pin's level as the chip holds them
  // (0x11 bit 4, 0x02/0x03), or "not known"; run by the model timer.
  void ShowChipModel();
  void OnTimer(std::uint32_t id) override;
  static constexpr int kHighLevel = 1;

  // `host` colours the pins on its board drawing for the page.
  CQV512XX_Gpio_Output(QWidget* parent, PageHost& host);
  ~CQV512XX_Gpio_Output() override;

  void InitDialog();

  void OnOutputModeChanged(int index);
  void OnOutputLevelChanged(int index);
  void OnMessage(const platform::Message& message) override;

  CMyComboBox* ModeCombo() const { return m_mode; }
  CMyComboBox* LevelCombo() const { return m_level; }
  CMyStaticFont* NoMappingNote() const { return m_noMapping; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void OnRegisterRead(const platform::Message& message);

  PageHost& m_host;
  CMyComboBox* m_mode = nullptr;
  CMyComboBox* m_level = nullptr;
  CMyStaticFont* m_noMapping = nullptr;
  chip::ReplyWait m_wait{"GPIO output: the value of register 0x11"};  // the read of 0x11 whose reply is to be written back
  // The driver type chosen for that write: the box may be redrawn from the
  // chip model, which holds the old type, before the reply is in.
  int m_chosenMode = -1;
  std::uint64_t m_modelVersion = ~std::uint64_t{0};
  bool m_marked = false;  // the pins were marked from the chip's levels
  int m_modelPin = -2;
};
