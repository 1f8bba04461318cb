#include "pages/EffectPages.h"

#include <QSignalBlocker>

#include "pages/RoundPage.h"
#include "ui/Page.h"
#include "pages/BlinkMode.h"
#include "pages/FadeMode.h"
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

template <typename Page>
CPage* MakePage(QWidget* host) {
  auto* page = new Page(host);
  page->InitDialog();
  page->move((host->width() - page->width()) / 2, (host->height() - page->height()) / 2);
  return page;
}

}  // namespace

void RegisterEffectPages() {
  CRound::SetSubPageFactory(CRound::SubPage::kBlink, &MakePage<BlinkMode>);
  CRound::SetSubPageFactory(CRound::SubPage::kFade, &MakePage<FadeMode>);
}

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

}  // namespace effectpages
