#include "pages/FadeMode.h"

#include <QPainter>

#include "pages/BoardGlobals.h"
#include "pages/EffectTimingPlot.h"
#include "pages/EffectPages.h"
#include "chip/RegisterJournal.h"
#include "chip/RegisterMap.h"
#include "platform/Messages.h"
#include "resources/dialogs/EffectModeDialogs.h"
#include "ui/CMyComboBox.h"
#include "ui/CMyRectButton.h"
#include "ui/CMyStaticFont.h"
#include "ui/ControlFactory.h"
#include "ui/PagePainting.h"

using namespace dialogs;

FadeMode::FadeMode(QWidget* parent) : CPage(parent) {
  BuildStandardDialog(this, kFadeModeDialog);
  m_plot = effectpages::AddTimingPlot(this, IDC_FADE_PLOT);
}

CMyComboBox* FadeMode::TimeCombo(int id) const { return platform::Control<CMyComboBox>(this, id); }
CMyRectButton* FadeMode::Button(int id) const { return platform::Control<CMyRectButton>(this, id); }

std::uint8_t FadeMode::Code(int id) const { return effectpages::TimeCode(TimeCombo(id)); }

void FadeMode::InitDialog() {
  effectpages::ScalePage(this);
  effectpages::ShowReady(Button(IDC_FADE_ON));
  effectpages::ShowReady(Button(IDC_FADE_OFF));
  for (int id : {IDC_FADE_RAMP_ON_LABEL, IDC_FADE_RAMP_OFF_LABEL})
    effectpages::SetUpLabel(platform::Control<CMyStaticFont>(this, id));
  for (int id : {IDC_FADE_RAMP_ON, IDC_FADE_RAMP_OFF}) {
    effectpages::SetUpTimeCombo(TimeCombo(id));
    // Connected after the start selection: it is not written to the chip.
    connect(TimeCombo(id), &QComboBox::currentIndexChanged, this, &FadeMode::OnRampChanged);
    connect(TimeCombo(id), &QComboBox::currentIndexChanged, this, &FadeMode::UpdatePlot);
  }
  connect(Button(IDC_FADE_ON), &QAbstractButton::clicked, this, &FadeMode::OnFadeOn);
  connect(Button(IDC_FADE_OFF), &QAbstractButton::clicked, this, &FadeMode::OnFadeOff);
  ShowChipModel();
  UpdatePlot();
  SetTimer(effectpages::kModelTimer, effectpages::kModelPeriodMs);
}

void FadeMode::OnRampChanged() {
  g_bBlinkActive = 0;
  g_bFadeActive = 1;
  chip::WriteChipRegisters(chip::kRegRampTimes,
                           std::array{chip::TimeByte(Code(IDC_FADE_RAMP_ON), Code(IDC_FADE_RAMP_OFF))});
}

void FadeMode::ShowChipModel() {
  const chip::RegisterJournal& journal = chip::Journal();
  if (journal.Version() == m_modelVersion) return;
  m_modelVersion = journal.Version();
  // Not known (a reset, a re-plug, nobody wrote it yet): the lists show no
  // time, and no effect starts on a time the chip may not hold.
  const auto ramp = journal.Known(chip::kRegRampTimes);
  ShowTimes(ramp.value_or(effectpages::kNoTimeByte));
}

void FadeMode::OnTimer(std::uint32_t id) {
  if (id != effectpages::kModelTimer) return;
  ShowChipModel();
  UpdatePlot();
}

void FadeMode::UpdatePlot() {
  if (!m_plot) return;
  m_plot->SetPeriod(chip::FadePeriod(effectpages::PlotCode(TimeCombo(IDC_FADE_RAMP_ON)),
                                     effectpages::PlotCode(TimeCombo(IDC_FADE_RAMP_OFF))));
  m_plot->SetRunningText(effectpages::RunningText(false));
}

void FadeMode::ShowTimes(std::uint8_t ramp) {
  const auto [on, off] = chip::DecodeTimeByte(ramp);
  effectpages::ShowTimeCode(TimeCombo(IDC_FADE_RAMP_ON), on);
  effectpages::ShowTimeCode(TimeCombo(IDC_FADE_RAMP_OFF), off);
}

void FadeMode::OnFadeOn() { StartFade(true); }
void FadeMode::OnFadeOff() { StartFade(false); }

void FadeMode::StartFade(bool on) {
  if (chip::AnyZeroTime({Code(IDC_FADE_RAMP_ON), Code(IDC_FADE_RAMP_OFF)})) {
    effectpages::WarnZeroTime();
    return;
  }
  g_bBlinkActive = 0;
  g_bFadeActive = 1;
  g_bFadeOn = on ? 1 : 0;
  g_bFadeOff = on ? 0 : 1;
  m_chain.Start(on ? chip::Effect::kFadeOn : chip::Effect::kFadeOff);
}

void FadeMode::OnWriteAcknowledged(const platform::Message& message) {
  // The fade ends without a word. Once Fade Off's chain is through, the
  // effect is over and acknowledgements are the LED board page's again.
  const bool off = m_chain.CurrentEffect() == chip::Effect::kFadeOff;
  if (m_chain.OnWriteAcknowledged(effectpages::Payload(message)) == chip::EffectChain::Outcome::kFinished && off)
    g_bFadeActive = 0;
}

void FadeMode::OnRegisterRead(const platform::Message& message) {
  m_chain.OnRegisterRead(effectpages::Payload(message));
}

void FadeMode::OnMessage(const platform::Message& message) {
  if (message.id == platform::kMsgFadeWriteAck) OnWriteAcknowledged(message);
  else if (message.id == platform::kMsgFadeRead) OnRegisterRead(message);
}

void FadeMode::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintFramedBackground(this, painter);
}

chip::ChipClaims FadeMode::Claims() const {
  chip::ChipClaims claims;
  effectpages::AddTimeClaim(claims, "fade ramp on", TimeCombo(IDC_FADE_RAMP_ON), chip::kRegRampTimes, 0);
  effectpages::AddTimeClaim(claims, "fade ramp off", TimeCombo(IDC_FADE_RAMP_OFF), chip::kRegRampTimes, 3);
  effectpages::AddPlotClaims(claims, m_plot);
  if (m_plot && !m_plot->RunningText().isEmpty())
    claims.push_back({"fade running text", chip::kRegEffectControl, 0xFF, chip::kEffectStart});
  return claims;
}
