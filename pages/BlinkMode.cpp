#include "pages/BlinkMode.h"

#include <QPainter>
#include <QPointer>

#include "pages/BoardGlobals.h"
#include "pages/EffectPlayDialog.h"
#include "pages/EffectTimingPlot.h"
#include "pages/EffectPages.h"
#include "chip/RegisterJournal.h"
#include "chip/RegisterMap.h"
#include "platform/MessageBox.h"
#include "platform/Messages.h"
#include "resources/dialogs/EffectModeDialogs.h"
#include "ui/CMyComboBox.h"
#include "ui/CMyRectButton.h"
#include "ui/CMyStaticFont.h"
#include "ui/ControlFactory.h"
#include "ui/PagePainting.h"

using namespace dialogs;

namespace {
const QColor kStartedFace(128, 128, 128);
}  // namespace

BlinkMode::BlinkMode(QWidget* parent) : CPage(parent) {
  BuildStandardDialog(this, kBlinkModeDialog);
  m_go = platform::Control<CMyRectButton>(this, IDC_BLINK_GO);
  m_plot = effectpages::AddTimingPlot(this, IDC_BLINK_PLOT);
}

CMyComboBox* BlinkMode::TimeCombo(int id) const { return platform::Control<CMyComboBox>(this, id); }

std::uint8_t BlinkMode::Code(int id) const { return effectpages::TimeCode(TimeCombo(id)); }

void BlinkMode::InitDialog() {
  effectpages::ScalePage(this);
  effectpages::ShowReady(m_go);
  for (int id : {IDC_BLINK_RAMP_ON_LABEL, IDC_BLINK_RAMP_OFF_LABEL, IDC_BLINK_KEEP_ON_LABEL, IDC_BLINK_KEEP_OFF_LABEL})
    effectpages::SetUpLabel(platform::Control<CMyStaticFont>(this, id));
  for (int id : {IDC_BLINK_RAMP_ON, IDC_BLINK_RAMP_OFF, IDC_BLINK_KEEP_ON, IDC_BLINK_KEEP_OFF})
    effectpages::SetUpTimeCombo(TimeCombo(id));
  // Connected after the start selection: it is not written to the chip.
  for (int id : {IDC_BLINK_RAMP_ON, IDC_BLINK_RAMP_OFF})
    connect(TimeCombo(id), &QComboBox::currentIndexChanged, this, &BlinkMode::OnRampChanged);
  for (int id : {IDC_BLINK_KEEP_ON, IDC_BLINK_KEEP_OFF})
    connect(TimeCombo(id), &QComboBox::currentIndexChanged, this, &BlinkMode::OnKeepChanged);
  connect(m_go, &QAbstractButton::clicked, this, &BlinkMode::OnBlinkGo);
  for (int id : {IDC_BLINK_RAMP_ON, IDC_BLINK_RAMP_OFF, IDC_BLINK_KEEP_ON, IDC_BLINK_KEEP_OFF})
    connect(TimeCombo(id), &QComboBox::currentIndexChanged, this, &BlinkMode::UpdatePlot);
  ShowChipModel();
  UpdatePlot();
  SetTimer(effectpages::kModelTimer, effectpages::kModelPeriodMs);
}

void BlinkMode::OnRampChanged() {
  g_bBlinkActive = 1;
  g_bFadeActive = 0;
  chip::WriteChipRegisters(chip::kRegRampTimes,
                           std::array{chip::TimeByte(Code(IDC_BLINK_RAMP_ON), Code(IDC_BLINK_RAMP_OFF))});
}

void BlinkMode::OnKeepChanged() {
  g_bBlinkActive = 1;
  g_bFadeActive = 0;
  chip::WriteChipRegisters(chip::kRegKeepTimes,
                           std::array{chip::TimeByte(Code(IDC_BLINK_KEEP_ON), Code(IDC_BLINK_KEEP_OFF))});
}

void BlinkMode::OnBlinkGo() {
  if (chip::AnyZeroTime({Code(IDC_BLINK_RAMP_ON), Code(IDC_BLINK_RAMP_OFF), Code(IDC_BLINK_KEEP_ON),
                         Code(IDC_BLINK_KEEP_OFF)})) {
    effectpages::WarnZeroTime();
    return;
  }
  g_bBlinkActive = 1;
  g_bFadeActive = 0;
  if (g_blinkGoCount == 1) {
    m_chain.Start(chip::Effect::kBlink);
    m_go->SetButtonColor(kStartedFace);
    ++g_blinkGoCount;
    return;
  }

  // The question runs an event loop of its own, in which this page may be
  // taken down (another board selected meanwhile): then there is nothing left
  // to reset for.
  const QPointer<BlinkMode> self(this);
  const auto answer = platform::MessageBox(chip::kBlinkResetQuestion, chip::kWarningCaption,
                                           platform::MessageIcon::Question, platform::MessageButtons::OkCancel);
  if (answer != platform::MessageResult::Ok || !self) return;
  effectpages::ShowReady(m_go);
  g_blinkGoCount = 1;
  // The times chosen are kept: the next "Blink Go" is to start blink with
  // them, so the chip, which loses them in the reset, gets them again.
  const std::array ramp{chip::TimeByte(Code(IDC_BLINK_RAMP_ON), Code(IDC_BLINK_RAMP_OFF))};
  const std::array keep{chip::TimeByte(Code(IDC_BLINK_KEEP_ON), Code(IDC_BLINK_KEEP_OFF))};
  // The host's reset retires this page (it is deleted once control is back
  // in the event loop) and makes a new one: from here on only process-wide
  // state and signals.
  emit ResetRequested();
  chip::WriteChipRegisters(chip::kRegSoftwareReset, std::array{chip::kSoftwareResetValue});
  chip::WriteChipRegisters(chip::kRegRampTimes, ramp);
  chip::WriteChipRegisters(chip::kRegKeepTimes, keep);
  emit EffectTimesKept(ramp[0], keep[0]);
}

void BlinkMode::ShowChipModel() {
  const chip::RegisterJournal& journal = chip::Journal();
  if (journal.Version() == m_modelVersion) return;
  m_modelVersion = journal.Version();
  const auto ramp = journal.Known(chip::kRegRampTimes);
  const auto keep = journal.Known(chip::kRegKeepTimes);
  // Not known (a reset, a re-plug, nobody wrote it yet): the lists show no
  // time, which no effect starts with, so nothing runs on a time the chip
  // may not hold.
  ShowTimes(ramp.value_or(effectpages::kNoTimeByte), keep.value_or(effectpages::kNoTimeByte));
}

void BlinkMode::OnTimer(std::uint32_t id) {
  if (id != effectpages::kModelTimer) return;
  ShowChipModel();
  UpdatePlot();
}

void BlinkMode::UpdatePlot() {
  if (!m_plot) return;
  using effectpages::PlotCode;
  m_plot->SetPeriod(chip::BlinkPeriod(PlotCode(TimeCombo(IDC_BLINK_RAMP_ON)), PlotCode(TimeCombo(IDC_BLINK_KEEP_ON)),
                                      PlotCode(TimeCombo(IDC_BLINK_RAMP_OFF)), PlotCode(TimeCombo(IDC_BLINK_KEEP_OFF))));
  m_plot->SetRunningText(effectpages::RunningText(true));
}

void BlinkMode::ShowTimes(std::uint8_t ramp, std::uint8_t keep) {
  const auto [rampOn, rampOff] = chip::DecodeTimeByte(ramp);
  const auto [keepOn, keepOff] = chip::DecodeTimeByte(keep);
  effectpages::ShowTimeCode(TimeCombo(IDC_BLINK_RAMP_ON), rampOn);
  effectpages::ShowTimeCode(TimeCombo(IDC_BLINK_RAMP_OFF), rampOff);
  effectpages::ShowTimeCode(TimeCombo(IDC_BLINK_KEEP_ON), keepOn);
  effectpages::ShowTimeCode(TimeCombo(IDC_BLINK_KEEP_OFF), keepOff);
}

void BlinkMode::ChainStep(chip::EffectChain::Outcome outcome) {
  if (outcome != chip::EffectChain::Outcome::kFinished) return;
  g_strEffectMessage = QString::fromUtf8(chip::kBlinkRunningMessage);
  CLamp_Effect_Play::Open(this);
}

void BlinkMode::OnWriteAcknowledged(const platform::Message& message) {
  ChainStep(m_chain.OnWriteAcknowledged(effectpages::Payload(message)));
}

void BlinkMode::OnRegisterRead(const platform::Message& message) {
  ChainStep(m_chain.OnRegisterRead(effectpages::Payload(message)));
}

void BlinkMode::OnMessage(const platform::Message& message) {
  if (message.id == platform::kMsgBlinkWriteAck) OnWriteAcknowledged(message);
  else if (message.id == platform::kMsgBlinkRead) OnRegisterRead(message);
}

void BlinkMode::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintFramedBackground(this, painter);
}

chip::ChipClaims BlinkMode::Claims() const {
  chip::ChipClaims claims;
  effectpages::AddTimeClaim(claims, "blink ramp on", TimeCombo(IDC_BLINK_RAMP_ON), chip::kRegRampTimes, 0);
  effectpages::AddTimeClaim(claims, "blink ramp off", TimeCombo(IDC_BLINK_RAMP_OFF), chip::kRegRampTimes, 3);
  effectpages::AddTimeClaim(claims, "blink keep on", TimeCombo(IDC_BLINK_KEEP_ON), chip::kRegKeepTimes, 0);
  effectpages::AddTimeClaim(claims, "blink keep off", TimeCombo(IDC_BLINK_KEEP_OFF), chip::kRegKeepTimes, 3);
  effectpages::AddPlotClaims(claims, m_plot);
  if (m_plot && !m_plot->RunningText().isEmpty())
    claims.push_back({"blink running text", chip::kRegEffectControl, 0xFF, chip::kEffectStart});
  return claims;
}
