#include "pages/EffectPages.h"

#include <QSignalBlocker>
#include <QVBoxLayout>

#include "pages/EffectTimingPlot.h"
#include "chip/EffectTiming.h"
#include "chip/RegisterJournal.h"
#include "ui/ControlFactory.h"

#include "ui/Page.h"
#include "chip/EffectChain.h"
#include "chip/RegisterMap.h"
#include "platform/MessageBox.h"
#include "ui/CMyComboBox.h"
#include "ui/CMyRectButton.h"
#include "ui/CMyStaticFont.h"
#include "ui/PagePainting.h"
#include "ui/Scaling.h"

int g_blinkGoCount = 1;
int g_bFadeOn = 0;
int g_bFadeOff = 0;

namespace effectpages {
namespace {

const QColor kReadyFace(255, 120, 120);

}  // namespace

void SetUpTimeCombo(CMyComboBox* combo) {
  combo->setEditable(false);
  combo->SetCtrlFont(19, 6, 400, QStringLiteral("Arial"));
  combo->clear();
  for (const char* text : chip::kTimeTexts) combo->addItem(QString::fromLatin1(text));
  combo->setCurrentIndex(0);
  combo->setPlaceholderText(QStringLiteral("not known"));
}

void ShowTimeCode(CMyComboBox* combo, std::uint8_t code) {
  const QSignalBlocker quiet(combo);
  combo->setCurrentIndex(code < combo->count() ? code : -1);
}

std::uint8_t TimeCode(const CMyComboBox* combo) {
  const int index = combo->currentIndex();
  return static_cast<std::uint8_t>(index < 0 ? 0 : index);
}

std::uint8_t PlotCode(const CMyComboBox* combo) {
  constexpr std::uint8_t kCodeWithoutTime = 7;
  return combo->currentIndex() < 0 ? kCodeWithoutTime : static_cast<std::uint8_t>(combo->currentIndex());
}

void SetUpLabel(CMyStaticFont* label) { label->SetCtrlFont(20, 7, 400, QStringLiteral("Arial")); }

void WarnZeroTime() {
  platform::MessageBox(chip::kZeroTimeWarning, chip::kWarningCaption, platform::MessageIcon::Question);
}

void ShowReady(CMyRectButton* button) { button->SetButtonColor(kReadyFace); }

void ScalePage(CPage* page) { ScaleDialogLayout(page, g_baseRatioX, g_baseRatioX, false); }

std::span<const std::uint8_t> Payload(const platform::Message& message) {
  const auto* bytes = message.Bytes();
  return bytes ? std::span<const std::uint8_t>(*bytes) : std::span<const std::uint8_t>();
}

EffectTimingPlot* AddTimingPlot(CPage* page, int hostId) {
  QWidget* host = platform::FindControl(page, hostId);
  if (!host) return nullptr;
  auto* plot = new EffectTimingPlot(host);
  auto* layout = new QVBoxLayout(host);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(plot);
  return plot;
}

QString RunningText(bool blinkPage) {
  const chip::RegisterJournal& j = chip::Journal();
  const auto running = chip::EffectRunning({j.Known(chip::kRegEffectControl), j.Known(chip::kRegGlobalControl),
                                            j.Known(chip::kRegDirection), j.Known(chip::kRegDirection + 1),
                                            j.Known(chip::kRegOutputLevels), j.Known(chip::kRegOutputLevels + 1)});
  if (blinkPage) return running == chip::RunningEffect::kBlink ? QStringLiteral("Blink runs on the chip") : QString();
  if (running == chip::RunningEffect::kFadeOn) return QStringLiteral("Fade On runs on the chip");
  if (running == chip::RunningEffect::kFadeOff) return QStringLiteral("Fade Off runs on the chip");
  return {};
}

}  // namespace effectpages

namespace effectpages {

void AddTimeClaim(chip::ChipClaims& claims, const char* what, const CMyComboBox* combo, std::uint8_t reg, int shift) {
  if (!combo) return;
  const int index = combo->currentIndex();
  const auto mask = static_cast<std::uint8_t>(0x07 << shift);
  claims.push_back({what, reg, mask,
                    index < 0 ? std::nullopt : std::optional<std::uint8_t>(static_cast<std::uint8_t>(index << shift))});
}

void AddPlotClaims(chip::ChipClaims& claims, const EffectTimingPlot* plot) {
  if (!plot) return;
  for (const chip::TimingSegment& s : plot->Period()) {
    std::uint8_t reg = chip::kRegRampTimes;
    int shift = 0;
    switch (s.phase) {
      case chip::TimingPhase::kRampOn: break;
      case chip::TimingPhase::kRampOff: shift = 3; break;
      case chip::TimingPhase::kKeepOn: reg = chip::kRegKeepTimes; break;
      case chip::TimingPhase::kKeepOff: reg = chip::kRegKeepTimes; shift = 3; break;
      case chip::TimingPhase::kHold: continue;
    }
    std::optional<std::uint8_t> code;
    for (std::uint8_t c = 0; c < 8 && s.ms; ++c)
      if (chip::TimeCodeMilliseconds(c) == s.ms) code = static_cast<std::uint8_t>(c << shift);
    claims.push_back({"timing plot", reg, static_cast<std::uint8_t>(0x07 << shift), code});
  }
}

}  // namespace effectpages
