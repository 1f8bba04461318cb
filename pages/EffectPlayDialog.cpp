#include "pages/EffectPlayDialog.h"

#include <QPainter>

#include "pages/BoardGlobals.h"
#include "chip/EffectBlock.h"
#include "link/CommandSet.h"
#include "link/QVCommunication.h"
#include "resources/dialogs/EffectPlayDialog.h"
#include "ui/CMyRectButton.h"
#include "ui/CMyStaticFont.h"
#include "ui/ControlFactory.h"
#include "ui/PagePainting.h"
#include "ui/PictureEx.h"
#include "ui/Scaling.h"

using namespace dialogs;

QString g_strEffectMessage;
CLamp_Effect_Play* g_pEffectDialog = nullptr;

namespace {
// The window has no caption; a thin border sets it off the white page under it.
const QColor kStopFace(255, 0, 0);
}  // namespace

CLamp_Effect_Play::CLamp_Effect_Play(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
  BuildStandardDialog(this, kEffectPlayDialog);
  m_message = platform::Control<CMyStaticFont>(this, IDC_EFFECT_MESSAGE);
  m_stop = platform::Control<CMyRectButton>(this, IDC_EFFECT_STOP);
  connect(m_stop, &QAbstractButton::clicked, this, &CLamp_Effect_Play::OnStop);
  // Closed is gone, though the deletion itself waits for the event loop.
  connect(this, &QDialog::finished, this, [this] {
    if (g_pEffectDialog == this) g_pEffectDialog = nullptr;
  });
}

CLamp_Effect_Play::~CLamp_Effect_Play() {
  if (g_pEffectDialog == this) g_pEffectDialog = nullptr;
}

CLamp_Effect_Play* CLamp_Effect_Play::Open(QWidget* owner) {
  if (g_pEffectDialog) {
    g_pEffectDialog->raise();
    g_pEffectDialog->activateWindow();
    return g_pEffectDialog;
  }
  auto* dialog = new CLamp_Effect_Play(owner ? owner->window() : nullptr);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  g_pEffectDialog = dialog;
  dialog->InitDialog();
  dialog->open();
  return dialog;
}

void CLamp_Effect_Play::InitDialog() {
  ScaleDialogLayout(this, g_ratioX, g_ratioY, true);

  // The picture sits left of the message, a little above its top edge.
  const QRect text = m_message->geometry();
  const int left = static_cast<int>(text.left() - 80 * g_scaleX);
  const int top = static_cast<int>(text.top() - 1 / (g_scaleX * g_scaleY));
  const int right = static_cast<int>(text.left() - 30 * g_scaleX);
  const int bottom = text.top() + text.height();
  m_picture = new CPictureEx(this);
  platform::TagControl(m_picture, IDC_EFFECT_PICTURE);
  m_picture->setGeometry(left, top, right - left, bottom - top);
  m_picture->show();
  // Without the picture the dialog still does its work.
  if (m_picture->LoadFromResource(QString::fromLatin1(kPictureResource), QString::fromLatin1(kPictureType)))
    m_picture->Show();

  m_message->SetCtrlFont(50, 15, 400, QStringLiteral("Arial"));
  // From the top, like the picture beside it.
  m_message->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  m_message->setText(g_strEffectMessage);

  m_stop->SetButtonFont(50, 15, 400, QStringLiteral("Arial"));
  m_stop->SetButtonColor(kStopFace);
  m_stop->SetButtonHoverTextColor(kStopFace);
  m_stop->SetButtonTextColor(Qt::white);
  // A frame and a drop shadow, so that the dialog reads as a window above
  // the white page.
  m_shadow.Attach(this);

  UploadEffect();
}

int CLamp_Effect_Play::UploadEffect() {
  if (!g_pCommunication.load() || !ChipRegistryExists()) return 0;
  const std::vector<std::uint8_t> block = chip::EffectDataBlock(g_ledCount);
  const auto header = chip::EffectBlockHeader(g_boardKind, block.size());
  return SendChipCommandBlock(kCmdBoardData, header.data(), block.data());
}

void CLamp_Effect_Play::OnStop() {
  // The effect is over: acknowledgements go back to the LED board page, whose
  // rule (0x14 <- 0x00 after a mode write) must run again.
  g_bBlinkActive = 0;
  g_bFadeActive = 0;
  WriteLedBrightness();
  QDialog::reject();
}

void CLamp_Effect_Play::reject() { OnStop(); }

void CLamp_Effect_Play::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintPlainBackground(this, painter);
  m_shadow.Paint(painter);
}
