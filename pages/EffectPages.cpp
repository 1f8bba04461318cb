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
}

void ShowTimeCode(CMyComboBox* combo, std::uint8_t code) {
  const QSignalBlocker quiet(combo);
  combo->setCurrentIndex(code < combo->count() ? code : -1);
}

std::uint8_t TimeCode(const CMyComboBox* combo) {
  const int index = combo->currentIndex();
  return static_cast<std::uint8_t>(index < 0 ? 0 : index);
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
