// The blink page: ramp and keep times for the chip's blink effect, and
// "Blink Go", which starts it. The chip must be reset before blink starts a
// second time, so the second press offers the reset instead; the press after
// that starts the effect again. Once the chip confirms the effect, the effect
// dialog opens.
#pragma once

#include "chip/ChipClaims.h"
#include <cstdint>

#include "chip/EffectChain.h"
#include "ui/Page.h"

class CMyComboBox;
class CMyRectButton;
class EffectTimingPlot;

class BlinkMode : public CPage {
  Q_OBJECT
 public:
  // What this page shows of the chip, for checks (see chip/ChipClaims.h).
  chip::ChipClaims Claims() const;
  explicit BlinkMode(QWidget* parent = nullptr);

  void InitDialog();

  void OnRampChanged();
  void OnKeepChanged();
  void OnBlinkGo();
  void OnWriteAcknowledged(const platform::Message& message);
  void OnRegisterRead(const platform::Message& message);
  void OnMessage(const platform::Message& message) override;

  CMyComboBox* TimeCombo(int id) const;
  // Shows the times of a 0x15 and a 0x16 byte without writing them.
  void ShowTimes(std::uint8_t ramp, std::uint8_t keep);
  // The time lists follow 0x15 and 0x16 whoever wrote them (the register
  // page, the fade page's shared ramp); run by the model timer.
  void ShowChipModel();
  void OnTimer(std::uint32_t id) override;
  CMyRectButton* GoButton() const { return m_go; }
  // The period of the chosen times, and whether blink runs on the chip.
  void UpdatePlot();
  EffectTimingPlot* Plot() const { return m_plot; }
  const chip::EffectChain& Chain() const { return m_chain; }

 signals:
  // "Blink Go" pressed again and the reset confirmed: every page is to start
  // over as after a reset of the chip (this one included, which is retired
  // and made again). The host acts on it before the reset is written.
  void ResetRequested();
  // The reset is written and the chip given the chosen times again: the
  // fresh pages are to show them (0x15, 0x16 bytes).
  void EffectTimesKept(std::uint8_t ramp, std::uint8_t keep);

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  std::uint8_t Code(int id) const;
  void ChainStep(chip::EffectChain::Outcome outcome);

  CMyRectButton* m_go = nullptr;
  EffectTimingPlot* m_plot = nullptr;
  chip::EffectChain m_chain;
  std::uint64_t m_modelVersion = ~std::uint64_t{0};
};
