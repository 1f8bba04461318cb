// The fade page: ramp times for the chip's fade effect, and "Fade On" and
// "Fade Off", each of which starts the fade towards its end.
#pragma once

#include "chip/ChipClaims.h"
#include <cstdint>

#include "chip/EffectChain.h"
#include "ui/Page.h"

class CMyComboBox;
class CMyRectButton;

class EffectTimingPlot;

class FadeMode : public CPage {
  Q_OBJECT
 public:
  // What this page shows of the chip, for checks (see chip/ChipClaims.h).
  chip::ChipClaims Claims() const;
  explicit FadeMode(QWidget* parent = nullptr);

  void InitDialog();

  void OnRampChanged();
  void OnFadeOn();
  void OnFadeOff();
  void OnWriteAcknowledged(const platform::Message& message);
  void OnRegisterRead(const platform::Message& message);
  void OnMessage(const platform::Message& message) override;

  CMyComboBox* TimeCombo(int id) const;
  // Shows the times of a 0x15 byte without writing them.
  void ShowTimes(std::uint8_t ramp);
  // The time lists follow 0x15 whoever wrote it; run by the model timer.
  void ShowChipModel();
  void OnTimer(std::uint32_t id) override;
  CMyRectButton* Button(int id) const;
  const chip::EffectChain& Chain() const { return m_chain; }
  // The two ramps of the chosen times, and whether fade runs on the chip.
  void UpdatePlot();
  EffectTimingPlot* Plot() const { return m_plot; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  std::uint8_t Code(int id) const;
  void StartFade(bool on);

  chip::EffectChain m_chain;
  EffectTimingPlot* m_plot = nullptr;
  std::uint64_t m_modelVersion = ~std::uint64_t{0};
};
