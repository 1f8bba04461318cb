#include "firmware/BootDialog.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <filesystem>
#include <algorithm>
#include <QPainter>
#include <QProgressBar>

#include "board/BoardGlobals.h"
#include "firmware/BootTransfer.h"
#include "link/CommandSet.h"
#include "link/LinkHost.h"
#include "link/QVCommunication.h"
#include "platform/FileDialog.h"
#include "platform/MessageBox.h"
#include "platform/Messages.h"
#include "resources/dialogs/BootDialog.h"
#include "ui/CMyRectButton.h"
#include "ui/CMyStaticFont.h"
#include "ui/ControlFactory.h"
#include "ui/PagePainting.h"
#include "ui/Scaling.h"

using namespace dialogs;

CQV48XXX_Boot* g_pBootDialog = nullptr;

namespace {
const QColor kStepColour(229, 190, 157);
const QColor kStopColour(254, 67, 101);
const QColor kRed(255, 0, 0);
constexpr const char* kFileFilter = "Qvbin file(*.qvbin)|*.qvbin|";
}  // namespace

CQV48XXX_Boot::CQV48XXX_Boot(BootTransferContext& context, QWidget* parent)
    : CPage(parent, Qt::Dialog | Qt::FramelessWindowHint), m_context(context),
      m_pImage(std::make_unique<ImageBuffer>()) {
  m_pImage->fill(kImageFill);
  BuildStandardDialog(this, kBootDialog);
  m_statusLine = platform::Control<CMyStaticFont>(this, IDC_BOOT_STATUS);
  m_fileName = platform::Control<CMyStaticFont>(this, IDC_BOOT_FILE);
  m_messageLine = platform::Control<CMyStaticFont>(this, IDC_BOOT_MESSAGE);
  m_percent = platform::Control<CMyStaticFont>(this, IDC_BOOT_PERCENT);
  m_progress = platform::Control<QProgressBar>(this, IDC_BOOT_PROGRESS);
  connect(Button(IDC_BOOT_CONNECT), &QAbstractButton::clicked, this, &CQV48XXX_Boot::OnBnClickedConnect);
  connect(Button(IDC_BOOT_OPEN), &QAbstractButton::clicked, this, &CQV48XXX_Boot::OnBnClickedOpenFile);
  connect(Button(IDC_BOOT_DOWNLOAD), &QAbstractButton::clicked, this, &CQV48XXX_Boot::OnBnClickedDownload);
  connect(Button(IDC_BOOT_STOP), &QAbstractButton::clicked, this, &CQV48XXX_Boot::OnBnClickedStop);
  connect(Button(IDC_BOOT_OK), &QAbstractButton::clicked, this, &CQV48XXX_Boot::OnBnClickedOk);
  setWindowTitle(QStringLiteral("Update firmware"));
  setWindowModality(Qt::NonModal);
  corvel::SetBootDialogHandle(Handle());
}

CQV48XXX_Boot::~CQV48XXX_Boot() {
  if (corvel::GetBootDialogHandle() == Handle()) corvel::SetBootDialogHandle(platform::kNoHandle);
  if (g_pBootDialog == this) g_pBootDialog = nullptr;
}

CMyRectButton* CQV48XXX_Boot::Button(int id) const { return platform::Control<CMyRectButton>(this, id); }

void CQV48XXX_Boot::InitDialog() {
  ScaleDialogLayout(this, g_ratioX, g_ratioY, true);
  for (int id : {IDC_BOOT_CONNECT, IDC_BOOT_OPEN, IDC_BOOT_DOWNLOAD}) {
    Button(id)->SetButtonFont(18, 7, 400, "Arial");
    Button(id)->SetButtonTextColor(Qt::white);
    Button(id)->SetButtonColor(kStepColour);
  }
  for (int id : {IDC_BOOT_STOP, IDC_BOOT_OK}) {
    Button(id)->SetButtonFont(30, 13, 400, "Arial");
    Button(id)->SetButtonColor(kStopColour);
    Button(id)->SetButtonHoverTextColor(kRed);
    Button(id)->SetButtonTextColor(Qt::white);
  }
  for (CMyStaticFont* line : {m_statusLine, m_fileName, m_messageLine}) line->SetCtrlFont(20, 8, 400, "Arial");
  m_percent->SetCtrlFont(18, 7, 400, "Arial");
  m_percent->setText(QStringLiteral("0%"));
  m_progress->setRange(0, 100);
  m_progress->setValue(0);
  m_progress->setTextVisible(false);
  ApplyLook(Look::Idle);
  m_shadow.Attach(this);
}

namespace {

enum class Btn { On, Off, Keep };

// The dialog's looks: which buttons are enabled (and their colour applied
// again) and which lines are shown.
struct LookRow {
  Btn connect, open, download, stop, ok;
  bool progress, file, message;
};
constexpr LookRow kLooks[] = {
    /* Idle         */ {Btn::On, Btn::Off, Btn::Off, Btn::Off, Btn::On, false, false, false},
    /* Waiting      */ {Btn::Off, Btn::Off, Btn::Off, Btn::Off, Btn::On, false, false, false},
    /* Connected    */ {Btn::Off, Btn::On, Btn::Off, Btn::Off, Btn::On, false, true, false},
    /* ImageReady   */ {Btn::Off, Btn::On, Btn::On, Btn::Off, Btn::On, false, true, false},
    /* Transferring */ {Btn::Off, Btn::Off, Btn::Off, Btn::On, Btn::Off, true, true, true},
    /* Stopped      */ {Btn::Keep, Btn::Off, Btn::Keep, Btn::Off, Btn::On, true, true, true},
};

}  // namespace

void CQV48XXX_Boot::ApplyLook(Look look) {
  m_look = look;
  const LookRow& row = kLooks[static_cast<int>(look)];
  const struct {
    int id;
    Btn state;
    const QColor& colour;
  } buttons[] = {{IDC_BOOT_CONNECT, row.connect, kStepColour}, {IDC_BOOT_OPEN, row.open, kStepColour},
                 {IDC_BOOT_DOWNLOAD, row.download, kStepColour}, {IDC_BOOT_STOP, row.stop, kStopColour},
                 {IDC_BOOT_OK, row.ok, kStopColour}};
  for (const auto& b : buttons) {
    if (b.state == Btn::Keep) continue;
    Button(b.id)->setEnabled(b.state == Btn::On);
    // Enabling changes no colour of its own: the face colour is set again.
    if (b.state == Btn::On) Button(b.id)->SetButtonColor(b.colour);
  }
  if (look == Look::Connected) m_fileName->setText(QString());
  if (look == Look::Transferring) {
    m_progress->setValue(0);
    m_percent->setText(QStringLiteral("0%"));
  }
  m_progress->setVisible(row.progress);
  m_percent->setVisible(row.progress);
  m_fileName->setVisible(row.file);
  m_messageLine->setVisible(row.message);
}

void CQV48XXX_Boot::SetLine(CMyStaticFont* line, const QString& text, bool red) {
  line->setText(text);
  line->SetCtrlTextColor(red ? kRed : palette().color(QPalette::WindowText));
}

void CQV48XXX_Boot::OnBnClickedConnect() {
  if (g_bBoardMatched != 1) {
    if (g_pMainServices) g_pMainServices->ShowNotConnected();
    return;
  }
  SetLine(m_statusLine, QStringLiteral("Waiting for connection..."), false);
  ApplyLook(Look::Waiting);
  const std::uint8_t bootValue = 0x00;
  SendBootCommand(kCmdSetBootValue, &bootValue, 1);
  if (QVCommunication* comm = g_pCommunication.load()) comm->SetFirmwareUpdate(1);
}

void CQV48XXX_Boot::OnBnClickedOpenFile() {
  const auto chosen = platform::OpenFileDialog(kFileFilter, "Open file");
  if (!chosen) return;  // cancelled
  m_strPath = QString::fromStdString(*chosen);
  if (m_strPath.isEmpty()) {
    platform::MessageBox("The file path cannot be empty!");
    ApplyLook(Look::Connected);
    return;
  }
  const QFileInfo info(m_strPath);
  m_fileName->setText(info.fileName());
  // The extension in any case of its letters; any other file is not read and
  // the image checked before stays.
  if (info.suffix().toLower() == QLatin1String("qvbin")) {
    std::uint32_t checkWord = 0;
    m_nImageLength = CheckImageFile(std::filesystem::path(m_strPath.toStdU16String()), *m_pImage, &checkWord);
    if (m_nImageLength) m_nCheckWord = checkWord;
    // A rejected image leaves nothing to download: offer Open File again
    // rather than a DownLoad that can only fail and strand the dialog.
    if (m_nImageLength == 0 && m_look == Look::ImageReady) ApplyLook(Look::Connected);
  }
  if (m_nImageLength != 0) ApplyLook(Look::ImageReady);
}

void CQV48XXX_Boot::OnBnClickedDownload() {
  const bool started = m_context.StartTransfer(std::span<const std::uint8_t>(m_pImage->data(), m_pImage->size()),
                                               m_nImageLength, m_nCheckWord);
  ApplyLook(started ? Look::Transferring : Look::Idle);
}

void CQV48XXX_Boot::OnBnClickedStop() {
  m_context.RequestStop();
  ApplyLook(Look::Stopped);
}

void CQV48XXX_Boot::OnBnClickedOk() {
  if (m_bConnected) m_context.SendEndRecord();
  if (QVCommunication* comm = g_pCommunication.load()) comm->SetFirmwareUpdate(0);
  // The worker keeps its own copy of the image, so the buffer may go now.
  if (g_pBootDialog == this) g_pBootDialog = nullptr;
  if (corvel::GetBootDialogHandle() == Handle()) corvel::SetBootDialogHandle(platform::kNoHandle);
  hide();
  deleteLater();
}

void CQV48XXX_Boot::closeEvent(QCloseEvent* e) {
  // Closed by the window system: end it as OK does, so that the Boot button
  // works again and the link leaves update mode.
  e->ignore();
  OnBnClickedOk();
}

void CQV48XXX_Boot::OnBootCommandFailed() {
  ApplyLook(Look::Idle);
  m_statusLine->setText(QStringLiteral("Fail!"));
}

void CQV48XXX_Boot::OnBootStatus(std::uintptr_t status, std::intptr_t value) {
  switch (status) {
    case kBootStatusConnected:
      SetLine(m_statusLine, QStringLiteral("Connected! Boot version is ") +
                                QString::fromStdString(BootVersionText(value)), false);
      m_bConnected = true;
      ApplyLook(Look::Connected);
      return;
    case kBootStatusProgress: {
      // The worker counts whole blocks, so the last one of an image whose
      // length is not a multiple of 32 would read past 100 %.
      const int percent = static_cast<int>(std::clamp<std::intptr_t>(value, 0, 100));
      if (m_progress->value() != percent) {
        m_progress->setValue(percent);
        m_percent->setText(QStringLiteral("%1%").arg(percent));
      }
      return;
    }
    case kBootStatusImageRejected: ApplyLook(Look::Idle); return;
    case kBootStatusDeviceRemoved:
      if (!m_bConnected) return;
      SetLine(m_statusLine, QStringLiteral("Disconnect! "), true);
      m_context.OnDeviceRemoved();
      m_context.RequestStop();
      m_bConnected = false;
      ApplyLook(Look::Idle);
      return;
    case kBootStatusBootloaderFound: m_context.SendConnectRecord(); return;
    default:
      if (const char* text = BootStatusText(status)) {
        const bool red = status == kBootStatusTimeout || status == kBootStatusEraseFailed ||
                         status == kBootStatusUpdateError || status == kBootStatusStopped;
        SetLine(m_messageLine, QString::fromUtf8(text), red);
      }
      return;
  }
}

void CQV48XXX_Boot::OnMessage(const platform::Message& message) {
  if (message.id == platform::kMsgBootStatus) {
    OnBootStatus(message.wParam, message.Value());
  } else if (message.id == platform::kMsgBootCommandFailed) {
    OnBootCommandFailed();
  }
}

void CQV48XXX_Boot::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintPlainBackground(this, painter);
  m_shadow.Paint(painter);
}
