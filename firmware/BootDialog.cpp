#include "firmware/BootDialog.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <filesystem>
#include <algorithm>
#include <QPainter>
#include <QProgressBar>

#include "chip/ChipAccess.h"
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
#include "ui/StatusSink.h"

using namespace dialogs;

CQV48XXX_Boot* g_pBootDialog = nullptr;

namespace {
const QColor kStepColour(229, 190, 157);
const QColor kStopColour(254, 67, 101);
const QColor kRed(255, 0, 0);
constexpr const char* kFileFilter = "Qvbin file(*.qvbin)|*.qvbin|";
}  // namespace

CQV48XXX_Boot::CQV48XXX_Boot(BootTransferContext& context, QWidget* parent, StatusSink* status)
    : CPage(parent, Qt::Dialog | Qt::FramelessWindowHint), m_context(context), m_status(status),
      m_pImage(std::make_unique<ImageBuffer>()) {
  m_pImage->fill(kImageFill);
  BuildStandardDialog(this, kBootDialog);
  m_statusLine = platform::Control<CMyStaticFont>(this, IDC_BOOT_STATUS);
  m_fileName = platform::Control<CMyStaticFont>(this, IDC_BOOT_FILE);
  m_messageLine = platform::Control<CMyStaticFont>(this, IDC_BOOT_MESSAGE);
  m_percent = platform::Control<CMyStaticFont>(this, IDC_BOOT_PERCENT);
  m_progress = platform::Control<QProgressBar>(this, IDC_BOOT_PROGRESS);
  m_boardLine = platform::Control<CMyStaticFont>(this, IDC_BOOT_BOARD);
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
  // Messages that say what to do next take two lines rather than be cut.
  m_messageLine->setWordWrap(true);
  m_boardLine->SetCtrlFont(18, 7, 400, "Arial");
  ShowBoardName();
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
    /* Ended        */ {Btn::Off, Btn::On, Btn::On, Btn::Off, Btn::On, true, true, true},
    /* Finished     */ {Btn::On, Btn::Off, Btn::Off, Btn::Off, Btn::On, true, true, true},
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

void CQV48XXX_Boot::SetBoardNameSource(std::function<QString()> source) {
  m_boardName = std::move(source);
  ShowBoardName();
}

// The update is for one board of maybe several: the dialog says which.
void CQV48XXX_Boot::ShowBoardName() {
  if (!m_boardLine) return;
  const QString name = m_boardName ? m_boardName() : QString();
  m_boardLine->setText(name.isEmpty() ? QStringLiteral("Board: none linked") : QStringLiteral("Board: ") + name);
}

void CQV48XXX_Boot::OnBnClickedConnect() {
  ShowBoardName();
  // A board left in its bootloader by an update that did not finish needs
  // no restart: it is asked straight away, and the update finished from
  // there.
  if (QVCommunication* comm = g_pCommunication.load();
      comm && comm->Hid() && comm->Hid()->IsConnected() && comm->Hid()->DeviceIsBootloader()) {
    SetLine(m_statusLine, QStringLiteral("Waiting for connection..."), false);
    ApplyLook(Look::Waiting);
    comm->SetFirmwareUpdate(1);
    StartConnectAttempts();
    return;
  }
  if (g_bBoardMatched != 1) {
    if (m_status) m_status->ShowNotConnected();
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
  // The extension in any case of its letters; any other file is not read and
  // the image checked before stays, so its name stays too: the line names
  // what DownLoad writes.
  if (info.suffix().toLower() == QLatin1String("qvbin")) {
    std::uint32_t checkWord = 0;
    m_nImageLength = CheckImageFile(std::filesystem::path(m_strPath.toStdU16String()), *m_pImage, &checkWord);
    if (m_nImageLength) m_nCheckWord = checkWord;
    m_strImageName = m_nImageLength ? info.fileName() : QString();
    // A rejected image leaves nothing to download: offer Open File again
    // rather than a DownLoad that can only fail and strand the dialog.
    if (m_nImageLength == 0 && m_look == Look::ImageReady) ApplyLook(Look::Connected);
  }
  m_fileName->setText(m_nImageLength ? m_strImageName : info.fileName());
  if (m_nImageLength != 0) ApplyLook(Look::ImageReady);
}

void CQV48XXX_Boot::OnBnClickedDownload() {
  const bool started = m_context.StartTransfer(std::span<const std::uint8_t>(m_pImage->data(), m_pImage->size()),
                                               m_nImageLength, m_nCheckWord);
  if (started) m_flash = Flash::kWriting;
  ApplyLook(started ? Look::Transferring : Look::Idle);
}

void CQV48XXX_Boot::OnBnClickedStop() {
  m_context.RequestStop();
  ApplyLook(Look::Stopped);
}

void CQV48XXX_Boot::OnBnClickedOk() {
  // The end record runs the firmware in the flash: the one that was there
  // if nothing was written; never one that is half written (the board then
  // stays in its bootloader until it is flashed or re-plugged).
  if (m_bConnected && m_flash == Flash::kUntouched) m_context.SendEndRecord();
  KillTimer(kConnectRetryTimer);
  KillTimer(kEraseTimer);
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

void CQV48XXX_Boot::StartConnectAttempts() {
  m_connectAttempts = 1;
  m_context.SendConnectRecord();
  SetTimer(kConnectRetryTimer, static_cast<std::uint32_t>(kBootConnectRetry.count()));
}

void CQV48XXX_Boot::ShowEraseProgress() {
  const auto elapsed = std::chrono::milliseconds(m_eraseClock.isValid() ? m_eraseClock.elapsed() : 0);
  SetLine(m_messageLine, QString::fromStdString(EraseProgressText(elapsed, m_nImageLength)), false);
}

void CQV48XXX_Boot::OnTimer(std::uint32_t id) {
  if (id == kEraseTimer) {
    ShowEraseProgress();
    return;
  }
  if (id != kConnectRetryTimer) return;
  if (m_bConnected) {
    KillTimer(kConnectRetryTimer);
    return;
  }
  if (m_connectAttempts < kBootConnectAttempts) {
    ++m_connectAttempts;
    m_context.SendConnectRecord();
    return;
  }
  // The bootloader is there but does not answer: a re-plug restarts it,
  // and its arrival starts the attempts again.
  KillTimer(kConnectRetryTimer);
  SetLine(m_statusLine, QString::fromUtf8(kTextBootloaderSilent), true);
  ApplyLook(Look::Idle);
}

void CQV48XXX_Boot::OnTransferEnded(std::uintptr_t status) {
  if (status == kBootStatusDone) {
    m_flash = Flash::kWritten;
    // The board restarts into the new firmware; its removal may have been
    // reported first, and was no error. The headline says how it ended.
    SetLine(m_statusLine, QString::fromUtf8(kHeadlineDone), false);
    ApplyLook(Look::Finished);
    return;
  }
  m_flash = Flash::kIncomplete;
  // The board is still in its bootloader, unless it went: another DownLoad
  // (or another image) may finish the update from here.
  ApplyLook(m_bConnected ? Look::Ended : Look::Finished);
}

void CQV48XXX_Boot::OnBootStatus(std::uintptr_t status, std::intptr_t value) {
  switch (status) {
    case kBootStatusConnected:
      KillTimer(kConnectRetryTimer);
      SetLine(m_statusLine, QStringLiteral("Connected! Boot version is ") +
                                QString::fromStdString(BootVersionText(value)), false);
      m_bConnected = true;
      if (m_flash == Flash::kIncomplete || m_flash == Flash::kWriting || m_removedMidUpdate) {
        // Back after an update that did not finish: its flash is not
        // runnable, so the board came up in its bootloader. The image
        // chosen before is still loaded.
        m_removedMidUpdate = false;
        m_flash = Flash::kUntouched;
        SetLine(m_messageLine, QString::fromUtf8(kTextFinishFromBootloader), false);
        ApplyLook(m_nImageLength != 0 ? Look::ImageReady : Look::Connected);
        if (m_nImageLength != 0) m_fileName->setText(m_strImageName);
        m_messageLine->show();
        return;
      }
      m_flash = Flash::kUntouched;
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
    // A file that cannot be used leaves a connected bootloader connected.
    case kBootStatusImageRejected: ApplyLook(m_bConnected ? Look::Connected : Look::Idle); return;
    case kBootStatusDeviceRemoved: {
      if (!m_bConnected) return;
      // After a successful update the bootloader is expected to go; the
      // headline says how the update came out.
      if (m_flash == Flash::kWritten) {
        SetLine(m_statusLine, QString::fromUtf8(kHeadlineDone), false);
      } else if (m_flash == Flash::kUntouched) {
        SetLine(m_statusLine, QStringLiteral("Disconnect! "), true);
      } else {
        m_removedMidUpdate = true;
        SetLine(m_statusLine, QString::fromUtf8(kHeadlineUnfinished), true);
        const bool erasing = Timers().IsTimerArmed(kEraseTimer);
        SetLine(m_messageLine, QString::fromUtf8(erasing ? kTextGoneWhileErasing : kTextGoneWhileWriting), true);
      }
      m_context.OnDeviceRemoved();
      m_context.RequestStop();
      m_bConnected = false;
      KillTimer(kConnectRetryTimer);
      KillTimer(kEraseTimer);
      // Whatever a transfer came to stays in view; its worker may still
      // have its last word to say.
      ApplyLook(m_flash == Flash::kUntouched ? Look::Idle : Look::Finished);
      return;
    }
    case kBootStatusBootloaderFound: StartConnectAttempts(); return;
    default:
      if (const char* text = BootStatusText(status)) {
        const bool red = status == kBootStatusTimeout || status == kBootStatusEraseFailed ||
                         status == kBootStatusUpdateError || status == kBootStatusStopped;
        // A board that went during the update was neither stopped nor
        // frozen: the worker's last word (a stop, a timeout) is only the
        // removal, which the message line already tells with what to do.
        const bool wentMidUpdate = m_removedMidUpdate && IsFinalBootStatus(status) && status != kBootStatusDone;
        if (!wentMidUpdate) SetLine(m_messageLine, QString::fromUtf8(text), red);
        if (status == kBootStatusStarted) {
          m_flash = Flash::kWriting;
          // The bootloader is silent while it erases (seconds for a large
          // image): say what it does and how long it should take.
          m_eraseClock.start();
          ShowEraseProgress();
          SetTimer(kEraseTimer, kEraseTickMs);
        } else {
          KillTimer(kEraseTimer);
        }
        if (IsFinalBootStatus(status)) OnTransferEnded(status);
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
