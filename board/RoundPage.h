// The LED board page: which lamp board is attached, the chip's I2C address
// and bus speed, and the periodic write of changed LED brightness. It hosts
// the sub-pages (LED layout, dial, blink and fade, GPIO) in its host frames.
#pragma once

#include <QString>
#include <cstdint>
#include <span>

#include "ui/Page.h"

class CMyRectButton;
class CMyComboBox;
class CMyStaticFont;

class CRound : public CPage {
  Q_OBJECT
 public:
  static constexpr std::uint32_t kBrightnessTimer = 3;
  static constexpr std::uint32_t kBrightnessPeriodMs = 100;

  explicit CRound(QWidget* parent = nullptr);
  ~CRound() override;

  void InitDialog();
  void SelectChipBoard(int button);
  void SendI2cAddress();
  void ApplyLedBrightness();
  // Enter with the pointer over the page: write the brightness now.
  void OnEnterKey();
  void RelayoutPage();
  // Sends (16, 3) only while the board is identified and the link exists.
  void WriteChipRegisters(std::uint8_t reg, std::span<const std::uint8_t> data);

  void OnMessage(const platform::Message& message) override;
  void OnTimer(std::uint32_t id) override;

  CMyRectButton* BoardButton(int id) const;
  CMyComboBox* AddressCombo() const { return m_address; }
  CMyComboBox* SpeedCombo() const { return m_speed; }

  // A chip-board button and the board it selects (name and LED count come
  // from the board table the link knows).
  struct ChipBoard {
    int button;
    const char* tooltip;  // null: none
    std::uint8_t boardId;
    int LedCount() const;
  };
  static const ChipBoard* FindBoardByButton(int button);
  static const ChipBoard* FindBoardById(std::uint8_t id);

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  void ResetLedState();
  bool WriteBrightnessNow();  // false: no board identified, nothing written
  void OnAddressChanged(int index);
  void OnSpeedChanged(int index);

  CMyComboBox* m_address = nullptr;
  CMyComboBox* m_speed = nullptr;
  CMyStaticFont* m_speedLabel = nullptr;
};
