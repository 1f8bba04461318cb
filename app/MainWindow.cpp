#include "app/MainWindow.h"

#include <algorithm>
#include <cstring>

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QEventLoop>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QResizeEvent>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <QToolTip>
#include <QWindow>

#include "app/BoardChooser.h"
#include "app/ChipRegistry.h"
#include "app/QtLampSession.h"
#include "app/CorvelGUIApp.h"
#include "app/SetupActions.h"
#include "app/ToolPages.h"
#include "pages/EffectPlayDialog.h"
#include "pages/BrightnessDial.h"
#include "pages/LedLayoutPage.h"
#include "pages/PageReplies.h"
#include "pages/RegisterPage.h"
#include "pages/RoundPage.h"
#include "chip/ChipAccess.h"
#include "chip/RegisterJournal.h"
#include "firmware/BootDialog.h"
#include "firmware/BootTransfer.h"
#include "link/BoardIds.h"
#include "link/CommandSet.h"
#include "link/LinkHost.h"
#include "link/QVCommunication.h"
#include "platform/DeviceMonitor.h"
#include "platform/MessageBox.h"
#include "platform/Messages.h"
#include "platform/qt/TimedStep.h"
#include "resources/dialogs/MainWindowDialog.h"
#include "ui/BitmapButton.h"
#include "ui/Bitmaps.h"
#include "ui/CMyRectButton.h"
#include "ui/CMyStaticFont.h"
#include "ui/ControlFactory.h"
#include "ui/FocusRing.h"
#include "ui/ReadingOrder.h"
#include "ui/PagePainting.h"
#include "ui/Scaling.h"

using namespace dialogs;
using platform::Message;

CQV512XX* g_pMainDialog = nullptr;

namespace {

constexpr QColor kBandGrey(90, 90, 90);
constexpr QColor kStatusTeal(0, 180, 200);
constexpr QColor kStatusRed(210, 0, 0);
constexpr QColor kCaptionRed(204, 0, 0);
constexpr QSize kReferenceWindow(1558, 928);
constexpr QSize kReferenceWorkArea(1920, 1040);

int Trunc(double v) { return static_cast<int>(v); }

QRect DefaultWorkArea() {
  QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry() : QRect(0, 0, kReferenceWorkArea.width(), kReferenceWorkArea.height());
}

void DefaultRestart() {
  // A new instance computes its scale for the new work area. It gets no
  // command line but the choice of the simulated board, so it talks to the
  // same board as this one.
  QStringList args;
  for (const QString& a : QCoreApplication::arguments().mid(1))
    if (a.startsWith(QLatin1String("--simulate"))) args << a;
  QProcess::startDetached(QCoreApplication::applicationFilePath(), args);
}

}  // namespace

std::function<QRect()> CQV512XX::s_workArea = DefaultWorkArea;
std::function<QPoint()> CQV512XX::s_cursorPos = [] { return QCursor::pos(); };
std::function<void()> CQV512XX::s_restart = DefaultRestart;

CQV512XX::CQV512XX(QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::FramelessWindowHint),
      m_target(std::make_unique<platform::WindowTarget>(nullptr, this)),
      m_bootContext(std::make_unique<BootTransferContext>()) {
  if (QVCommunication* comm = g_pCommunication.load()) comm->SetBootTransferContext(m_bootContext.get());
  BuildStandardDialog(this, kMainWindowDialog);
  m_linkText = platform::Control<CMyStaticFont>(this, IDC_LINK_TEXT);
  m_versionText = platform::Control<CMyStaticFont>(this, IDC_VERSION_TEXT);
  m_status = platform::Control<CMyStaticFont>(this, IDC_STATUS);
  m_redDot = platform::Control<QLabel>(this, IDC_RED_DOT);
  m_greenDot = platform::Control<QLabel>(this, IDC_GREEN_DOT);
  m_logo = platform::Control<QLabel>(this, IDC_LOGO);
  m_round = platform::Control<CMyRectButton>(this, IDC_PAGE_ROUND);
  m_boot = platform::Control<CMyRectButton>(this, IDC_BOOT);
  m_close = platform::Control<CBitmapButton>(this, IDC_CLOSE);
  m_minimize = platform::Control<CBitmapButton>(this, IDC_MINIMIZE);
  m_maximize = platform::Control<CBitmapButton>(this, IDC_MAXIMIZE);
  m_pageHost = platform::FindControl(this, IDC_PAGE_HOST);
  m_pageHost2 = platform::FindControl(this, IDC_PAGE_HOST2);
  m_redDot->setPixmap(bitmaps::Bitmap(bitmaps::IDB_RED_DOT));
  m_greenDot->setPixmap(bitmaps::Bitmap(bitmaps::IDB_GREEN_DOT));
  m_logo->setPixmap(bitmaps::Bitmap(bitmaps::IDB_LOGO));

  // Through the close event, like the window manager's close: one path
  // that asks first while work is under way.
  connect(m_close, &QAbstractButton::clicked, this, &QWidget::close);
  auto* quit = new QAction(QStringLiteral("Quit"), this);
  quit->setShortcut(QKeySequence(QString::fromLatin1(kQuitShortcut)));
  connect(quit, &QAction::triggered, this, &QWidget::close);
  m_windowActions << quit;
  addAction(quit);
  connect(m_minimize, &QAbstractButton::clicked, this, [this] { showMinimized(); });
  connect(m_maximize, &QAbstractButton::clicked, this, &CQV512XX::ToggleMaximize);
  connect(m_boot, &QAbstractButton::clicked, this, &CQV512XX::OnBootClicked);
  g_pRoundPage = nullptr;
}

// An update dialog left open is a child window and goes with this one.
CQV512XX::~CQV512XX() {
  if (QVCommunication* comm = g_pCommunication.load()) {
    comm->SetBootTransferContext(nullptr);
    comm->SetPauseScheduler({});  // a settle pause still running is ours and ends with us
  }
  m_bootContext.reset();  // joins a worker that is still running
  if (corvel::GetMainDialogHandle() == m_target->handle()) corvel::SetMainDialogHandle(platform::kNoHandle);
  m_roundPage.reset();
  g_pRoundPage = nullptr;
  m_target.reset();  // nothing is delivered to a window on its way out
}

// ---- initialisation ---------------------------------------------------------

void CQV512XX::InitDialog() {
  setWindowIcon(bitmaps::AppIcon());

  // Scale to the work area and lay out.
  g_workArea = s_workArea();
  g_scaleX = g_workArea.width() / double(kReferenceWorkArea.width());
  g_scaleY = g_workArea.height() / double(kReferenceWorkArea.height());
  g_ratioX = g_baseRatioX = kReferenceWindow.width() * g_scaleX / width();
  g_ratioY = g_baseRatioY = kReferenceWindow.height() * g_scaleY / height();
  LayoutControls();

  QString title;
  if (g_pChip) title = g_pChip->GetChipName() + "_" + g_pChip->GetChipVersion();
  setWindowTitle(title);
  corvel::SetMainDialogHandle(m_target->handle());

  qApp->installEventFilter(this);  // windows opened later share the shortcuts
  m_focusRing = std::make_unique<FocusRing>();
  CreateRoundPage();
  m_toolPages = new CToolPages(this, this);
  // A reset written on the register page is the LED board page's own reset.
  connect(m_toolPages->RegisterPage(), &CRegisterPage::SoftwareResetRequested, m_roundPage.get(),
          &CRound::OnSoftwareReset);
  m_chooser = new BoardChooser(this);
  PlaceChooser();
  m_round->SetChecked(true);
  m_boot->SetChecked(false);
  // A little narrower than the page buttons' proportion: the stand-in face is wider than Arial and
  // the caption would be cut by its button.
  m_boot->SetButtonFont(50, 13, 400, "Arial");
  m_boot->SetButtonColor(QColor(252, 157, 154));
  m_status->hide();
  ShowDots(false);
  m_close->SetBitmaps(bitmaps::Bitmap(bitmaps::IDB_CLOSE));
  m_minimize->SetBitmaps(bitmaps::Bitmap(bitmaps::IDB_MINIMIZE));
  m_maximize->SetBitmaps(bitmaps::Bitmap(bitmaps::IDB_MAXIMIZE));
  SizeCaptionButtonsToBitmaps();
  for (CMyStaticFont* band : {m_linkText, m_versionText}) {
    band->SetCtrlFont(18, 7, 400, "Arial");
    band->SetCtrlBkColor(kBandGrey);
  }
  m_status->SetCtrlFont(17, 7, 400, "Arial");
  m_status->SetCtrlBkColor(kStatusRed);
  // Until the link reports its first state (after the settle pause) the red
  // dot alone would read as a failure: say what is going on.
  SetBandText(m_linkText, QString::fromUtf8(texts::kConnectingBoard));
  m_round->setToolTip(QStringLiteral("A round pattern board with some LEDs"));
  QToolTip::setFont(ScaledFont(20, 8, 400, QStringLiteral("Arial")));

  PlaceMainWindow();
  // A display change (new resolution, another primary screen) is what may
  // change the work area; a panel that merely hides does not restart us.
  auto displayChanged = [this] {
    if (QGuiApplication::primaryScreen()) OnDisplayChange(s_workArea());
  };
  if (QScreen* screen = QGuiApplication::primaryScreen())
    connect(screen, &QScreen::geometryChanged, this, displayChanged);
  connect(qApp, &QGuiApplication::primaryScreenChanged, this, displayChanged);

  if (session::LampSession* board = session::LampSession::Process()) {
    QtLampSession::Owner owner;
    owner.sendChipAddress = [] {
      if (!g_pRoundPage) return false;
      g_pRoundPage->SendI2cAddress();
      return true;
    };
    owner.isChosenBoard = [](std::uint8_t id) { return CRound::FindBoardById(id) && id == g_selectedBoardId; };
    owner.boardKind = [] { return g_boardKind; };
    m_session = new QtLampSession(*board, std::move(owner), this);
    ConnectSession();
    m_chooser->SetSession(board);
    QVCommunication& comm = board->Communication();
    // The settle pause runs on the event loop, so the window shows at once
    // and answers while the board settles.
    comm.SetPauseScheduler([this](std::uint32_t ms, std::function<void()> then) {
      platform::RunAfterPause(this, ms, std::move(then));
    });
    comm.RegisterForDeviceNotifications(m_target->handle());
    board->Start();
    m_chooser->Refresh();
  }
}

void CQV512XX::ConnectSession() {
  // The board is there and its handshake is on its way: whatever the band
  // said of the link before (its removal, say) is over.
  connect(m_session, &QtLampSession::connecting, this, [this] {
    m_linkGivenUp = false;  // a board plugged in again starts afresh
    m_goneBoard.clear();
    if (m_chooser) {
      m_linkedBoard = m_chooser->LinkedLabel();
      m_linkedKey = m_chooser->LinkedKey();
    }
    SetBandText(m_linkText, QString::fromUtf8(texts::kConnectingBoard));
  });
  connect(m_session, &QtLampSession::reopening, this, [this] {
    ShowDots(true);
    SetBandText(m_linkText, QString::fromUtf8(texts::kConnectingBoard));
  });
  // Attached and answering its bootloader: not "not found".
  connect(m_session, &QtLampSession::inBootloader, this, [this] {
    ShowDots(true);
    SetBandText(m_linkText, QString::fromUtf8(texts::kInBootloader));
  });
  connect(m_session, &QtLampSession::linkShown, this, &CQV512XX::OnLinkShown);
  connect(m_session, &QtLampSession::linkFailed, this, &CQV512XX::OnLinkFailed);
  connect(m_session, &QtLampSession::boardGone, this, &CQV512XX::OnBoardGone);
  connect(m_session, &QtLampSession::boardMatched, this, &CQV512XX::OnBoardMatched);
  connect(m_session, &QtLampSession::boardMismatch, this, &CQV512XX::OnBoardMismatch);
  connect(m_session, &QtLampSession::versionAnswered, this, [this](const QString& version) {
    SetBandText(m_versionText, QString::fromUtf8(texts::kVersionPrefix) + version);
  });
}

int CQV512XX::Run() {
  // An event loop of its own and no modality: a modal loop would keep every
  // click from the update dialog, which is a window of its own beside this one.
  setModal(false);
  show();
  activateWindow();
  QEventLoop loop;
  connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
  loop.exec();
  return result();
}

namespace {
// The bridge firmware, the device path and serial number, for the LED board
// page's board summary.
CRound::BoardLink AttachedBoardLink(const CMyStaticFont* versionText) {
  CRound::BoardLink board;
  // The band shows the version the board answered; it goes with the board.
  const QString prefix = QString::fromUtf8(texts::kVersionPrefix);
  if (versionText && versionText->text().startsWith(prefix)) board.firmware = versionText->text().mid(prefix.size());
  if (QVCommunication* comm = g_pCommunication.load(); comm && comm->Hid()) {
    board.devicePath = QString::fromStdString(comm->Hid()->OpenDevicePath());
    board.serialNumber = QString::fromStdString(comm->Hid()->OpenDeviceSerial());
  }
  return board;
}
}  // namespace

void CQV512XX::CreateRoundPage() {
  g_boardKind = kBoardKindPage;
  m_roundPage = std::make_unique<CRound>(m_pageHost, this);
  g_pRoundPage = m_roundPage.get();
  connect(g_pRoundPage, &CRound::BoardQueryRequested, this, &CQV512XX::SendBoardQuery);
  g_pRoundPage->SetBoardLinkSource([this] { return AttachedBoardLink(m_versionText); });
  g_pRoundPage->InitDialog();
  CentreInHost(g_pRoundPage, m_pageHost);
  g_pRoundPage->show();
  m_pageHost->show();
  m_pageHost2->hide();
}

void CQV512XX::PlaceMainWindow() {
  // The full screen size, not the work area.
  QScreen* screen = QGuiApplication::primaryScreen();
  const QRect s = screen ? screen->geometry() : QRect(0, 0, 1920, 1080);
  move(s.topLeft() + CCorvelGUIApp::PlaceMainWindow(s.size(), size()));
}

void CQV512XX::WatchDeviceMonitor(platform::DeviceMonitor* monitor) {
  m_monitor = monitor;
  if (!monitor || !monitor->IsValid()) return;
  m_monitorNotifier = new QSocketNotifier(monitor->Fd(), QSocketNotifier::Read, this);
  connect(m_monitorNotifier, &QSocketNotifier::activated, this, [this] {
    while (auto e = m_monitor->ReadEvent())
      if (m_session) m_session->Session().OnDeviceChange(e->event);
    if (m_chooser) m_chooser->Refresh();
    ShowWhichBoardWent();
  });
}

void CQV512XX::AddCaptionActions(const QList<QAction*>& actions) {
  m_captionActions += actions;
  m_windowActions += actions;
  addActions(actions);  // their shortcuts work anywhere in the window
  for (QWidget* w : QApplication::topLevelWidgets()) ShareShortcuts(w);
}

// The window's shortcuts (the cable, Ctrl+Q) work from every window of the
// program: the effect window, the update dialog, the register window. Not
// from one that waits for an answer (a file dialog, a message box): it keeps
// its keys.
void CQV512XX::ShareShortcuts(QWidget* w) {
  if (!w || w == this || !w->isWindow() || w->windowModality() == Qt::ApplicationModal) return;
  const Qt::WindowType type = w->windowType();
  if (type == Qt::Popup || type == Qt::ToolTip || type == Qt::SplashScreen) return;
  const QList<QAction*> present = w->actions();
  for (QAction* a : m_windowActions)
    if (!present.contains(a)) w->addAction(a);
}

bool CQV512XX::focusNextPrevChild(bool next) {
  return FocusNextInReadingOrder(this, next) || QDialog::focusNextPrevChild(next);
}

bool CQV512XX::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Show && watched->isWidgetType()) ShareShortcuts(static_cast<QWidget*>(watched));
  return QDialog::eventFilter(watched, event);
}

// ---- status -----------------------------------------------------------------

void CQV512XX::ShowStatus(const QString& text, bool ok) {
  m_status->setText(text);
  m_status->SetCtrlTextColor(Qt::white);
  m_status->SetCtrlBkColor(ok ? kStatusTeal : kStatusRed);
  m_status->show();
  m_target->KillTimer(kStatusTimer);
  m_target->SetTimer(kStatusTimer, kStatusPeriodMs);
}

void CQV512XX::ShowNotConnected() {
  if (const QString went = BoardWentText(); !went.isEmpty()) {
    m_status->setText(QStringLiteral("  ⛔  ") + went);
    m_status->SetCtrlTextColor(Qt::white);
    m_status->SetCtrlBkColor(kStatusRed);
    m_status->show();
    m_target->KillTimer(kStatusTimer);
    m_target->SetTimer(kStatusTimer, kNotConnectedPeriodMs);
    return;
  }
  // A board that is attached but has stopped answering is not "not found".
  const char* text = BoardInBootloader() ? texts::kStatusInBootloader
                     : m_session && m_session->Session().LinkFailed()
                         ? (m_linkGivenUp ? texts::kStatusLinkFailed : texts::kStatusLinkReconnecting)
                     : g_bDevicePresent == 1 ? texts::kNotConnectedPresent
                                             : texts::kNotConnectedAbsent;
  m_status->setText(QString::fromUtf8(text));
  m_status->SetCtrlTextColor(Qt::white);
  m_status->SetCtrlBkColor(kStatusRed);
  m_status->show();
  m_target->KillTimer(kStatusTimer);
  m_target->SetTimer(kStatusTimer, kNotConnectedPeriodMs);
}

bool CQV512XX::BoardInBootloader() const { return m_session && m_session->Session().InBootloader(); }

bool CQV512XX::LinkComingUp() const { return m_session && m_session->Session().LinkComingUp(); }

void CQV512XX::ShowDots(bool green) {
  m_redDot->setVisible(!green);
  m_greenDot->setVisible(green);
}

void CQV512XX::SetBandText(CMyStaticFont* label, const QString& text) {
  label->setText(text);
  label->SetCtrlTextColor(palette().color(QPalette::WindowText));
  label->SetCtrlBkColor(kBandGrey);
}

void CQV512XX::SendBoardQuery() {
  if (m_session && g_pChip) m_session->Session().QueryBoard();
}

// ---- notifications ---------------------------------------------------------

void CQV512XX::OnMessage(const Message& m) {
  using namespace platform;
  auto status = [this](const char* text, bool ok) { ShowStatus(QString::fromUtf8(text), ok); };
  switch (m.id) {
    case kMsgLinkState:
      if (m_chooser) m_chooser->Refresh();
      if (m_session) m_session->Session().OnMessage(m);
      ShowWhichBoardWent();
      return;
    case kMsgRegisterRead:
      m_target->KillTimer(kReplyTimer);
      DeliverPageReply(m);
      if (m_toolPages) m_toolPages->RelayRegisterReply(m);
      status(texts::kStatusReadOk, true);
      return;
    case kMsgRegisterReadFailed:
      m_target->KillTimer(kReplyTimer);
      if (m_toolPages) m_toolPages->RelayRegisterReply(m);
      ShowStatus(QString::fromUtf8(texts::kStatusReadFailed) + NoAnswerAtAddress(m) + EndReplyWaits(), false);
      return;
    case kMsgGpioControlStatus: {
      const auto* bytes = m.Bytes();
      if (bytes && !bytes->empty() && (*bytes)[0] == 0)
        if (QVCommunication* comm = g_pCommunication.load()) comm->SetLinkState(kLinkGpioError);
      return;
    }
    case kMsgFirmwareVersion: {
      m_target->KillTimer(kReplyTimer);
      if (m_session) m_session->Session().OnMessage(m);  // the band shows the version it answers
      return;
    }
    case kMsgBoardQueryOk:
    case kMsgBoardQueryFailed:
      m_target->KillTimer(kReplyTimer);
      if (m_session) m_session->Session().OnMessage(m);  // matched or not, the band says so
      return;
    case kMsgSetDataOk: m_target->KillTimer(kReplyTimer); status(texts::kStatusSetDataOk, true); return;
    case kMsgSetDataFailed: m_target->KillTimer(kReplyTimer); status(texts::kStatusSetDataFailed, false); return;
    case kMsgTextOk:
    case kMsgTextFailed:
      m_target->KillTimer(kReplyTimer);
      if (m_session) m_session->Session().OnMessage(m);  // the chip address's answer, maybe
      ShowStatus(m.wParam ? QString::fromUtf8(reinterpret_cast<const char*>(m.wParam)) : QString(),
                 m.id == kMsgTextOk);
      return;
    case kMsgOpenShortOk: m_target->KillTimer(kReplyTimer); status(texts::kStatusOpenShortOk, true); return;
    case kMsgOpenShortFailed: m_target->KillTimer(kReplyTimer); status(texts::kStatusOpenShortFailed, false); return;
    case kMsgRegisterWritten:
      m_target->KillTimer(kReplyTimer);
      // Exactly one page hears of a write: the first that is waiting for it.
      DeliverPageReply(m);
      if (m_toolPages) m_toolPages->RelayRegisterReply(m);
      status(texts::kStatusWriteOk, true);
      return;
    case kMsgInterrupt:
      m_target->KillTimer(kReplyTimer);
      DeliverPageReply(m);
      status(texts::kStatusInterrupt, true);
      return;
    case WM_DEVICECHANGE:
      if (m_session) m_session->Session().OnMessage(m);
      if (m_chooser) m_chooser->Refresh();
      ShowWhichBoardWent();
      return;
    default: return;  // 106, 107, 108 and anything else: nothing to do
  }
}

void CQV512XX::OnLinkShown(bool up, const QString& text) {
  ShowDots(up);
  if (!text.isNull()) SetBandText(m_linkText, text);
}

QString CQV512XX::BoardWentText() const {
  // Only while that board is away (not back already, in its bootloader
  // say) and another one is there to be chosen.
  if (m_goneBoard.isEmpty() || !m_chooser || m_chooser->Boards().empty() || g_bDevicePresent == 1 ||
      BoardInBootloader() || m_chooser->Attached(m_linkedKey))
    return {};
  return QString::fromUtf8(texts::kBoardWentOthersRemain).arg(m_goneBoard);
}

// "not found" would be false with other boards attached, and would not say
// that the chooser offers them.
void CQV512XX::ShowWhichBoardWent() {
  if (const QString text = BoardWentText(); !text.isEmpty()) SetBandText(m_linkText, QStringLiteral(" ") + text);
}

void CQV512XX::OnBoardGone() {
  m_goneBoard = m_linkedBoard;
  EndReplyWaits();  // their answers cannot come any more
  // The page shows the chip as unknown, as after a reset (the mode boxes
  // cleared, the GPIO pages gone); what it would write on the way is for the
  // board that went.
  if (g_pRoundPage) g_pRoundPage->OnChipForgotten();
  // The board that comes next starts from its reset: nothing the program
  // wrote to this one is known to be there.
  chip::Journal().Forget();
  // Its version goes with it; the next identification brings one again.
  SetBandText(m_versionText, QString());
}

void CQV512XX::PlaceChooser() {
  if (!m_chooser) return;
  const int h = Trunc(24 * g_scaleY);
  const int w = Trunc(240 * g_scaleX);
  m_chooser->setGeometry(width() - Trunc(140 * g_scaleX) - w, (Trunc(30 * g_scaleY) - h) / 2, w, h);
}

void CQV512XX::OnLinkFailed(bool givingUp) {
  // The command in flight and those behind it are lost: the reply timer
  // would only call the board frozen later, so the band says what happened.
  // A re-plug is asked for only once reconnecting has not helped: before
  // that the window is still at it, and a person who re-plugs would only
  // interrupt it.
  m_linkGivenUp = givingUp;
  m_target->KillTimer(kReplyTimer);
  const QString failed = QString::fromUtf8(givingUp ? texts::kStatusLinkFailed : texts::kStatusLinkReconnecting);
  if (const QString ended = EndReplyWaits(); !ended.isEmpty() || givingUp) ShowStatus(failed + ended, false);
  ShowDots(false);
  SetBandText(m_linkText, QString::fromUtf8(LinkStateText(kLinkFailed)));
}

void CQV512XX::OnBoardMatched() {
  if (g_pRoundPage) g_pRoundPage->OnBoardMatched();
  if (m_chooser) {
    if (const ChipBoardEntry* chip = FindChipBoard(g_selectedBoardId))
      m_chooser->NoteIdentified(QString::fromLatin1(chip->name));
    m_linkedBoard = m_chooser->LinkedLabel();
    m_linkedKey = m_chooser->LinkedKey();
  }
  SetBandText(m_linkText, QString::fromUtf8(texts::kChipConnected));
  ShowDots(true);
  ShowStatus(QString::fromUtf8(texts::kStatusDataReceived), true);
}

void CQV512XX::OnBoardMismatch(int id) {
  // Another chip board than the one chosen: the page chooses the board's
  // own, and asks again.
  const CRound::ChipBoard* board = id >= 0 ? CRound::FindBoardById(static_cast<std::uint8_t>(id)) : nullptr;
  if (board && g_pRoundPage) g_pRoundPage->SelectChipBoard(board->button);
  SetBandText(m_linkText, QString::fromUtf8(texts::kBoardMismatch));
  ShowDots(false);
  ShowStatus(QString::fromUtf8(texts::kStatusBoardMismatch), false);
}

// A failure reply, the reply timeout or a lost link: the answer a page waits
// for may never come, and a later reply for the same register would be
// someone else's. Every wait ends; the text names the steps that stopped.
QString CQV512XX::NoAnswerAtAddress(const platform::Message&) {
  const auto sent = chip::LastSentTransfer();
  if (!sent) return {};
  return QStringLiteral(" ") + QString::fromStdString(chip::ChipDidNotAnswerText(*sent));
}

QString CQV512XX::EndReplyWaits() {
  const std::vector<std::string> ended = chip::EndReplyWaits();
  if (ended.empty()) return {};
  QString text = QStringLiteral(" Stopped: ");
  for (std::size_t i = 0; i < ended.size(); ++i)
    text += (i ? QStringLiteral("; ") : QString()) + QString::fromStdString(ended[i]);
  return text;
}

void CQV512XX::OnTimer(std::uint32_t id) {
  if (id == kStatusTimer) {
    m_target->KillTimer(kStatusTimer);
    m_status->hide();
  } else if (id == kReplyTimer) {
    m_target->KillTimer(kReplyTimer);
    if (m_session) m_session->Session().StopComingUp();  // it did not come up: say so again
    SetBandText(m_linkText, QString::fromUtf8(texts::kTimeoutToConnect));
    ShowDots(false);
    m_status->setText(QString::fromUtf8(texts::kStatusMcuFrozen) + EndReplyWaits());
    m_status->SetCtrlTextColor(Qt::white);
    m_status->SetCtrlBkColor(kStatusRed);
    m_status->show();
  }
}

void CQV512XX::OnBootClicked() {
  if (g_pBootDialog) return;  // one update dialog at a time
  // Owned by this window and kept above it by the window manager, but a
  // window of its own that takes input while this one runs.
  g_pBootDialog = new CQV48XXX_Boot(*m_bootContext, this, this);
  g_pBootDialog->SetBoardNameSource([this] { return m_chooser ? m_chooser->LinkedLabel() : QString(); });
  g_pBootDialog->InitDialog();
  g_pBootDialog->show();
}

// ---- frame and scaling -------------------------------------------------------

QRect CQV512XX::AnchoredRect(int id, bool relayout) const {
  const int W = width(), H = height();
  const double sx = g_scaleX, sy = g_scaleY;
  const auto remembered = m_anchored.find(id);
  auto templateRect = [&](int cid) {
    for (const auto& c : kMainWindowControls)
      if (c.id == cid) return platform::DialogUnitsToPixels(kMainWindowDialog, c.x, c.y, c.cx, c.cy);
    return QRect();
  };
  QSize size;
  if (relayout && remembered != m_anchored.end()) {
    size = remembered->second.size();
  } else {
    const QRect t = templateRect(id);
    switch (id) {
      case IDC_CLOSE: case IDC_MAXIMIZE: case IDC_MINIMIZE:
        size = QSize(Trunc(t.width() * g_baseRatioX), Trunc(t.width() * g_baseRatioY));
        break;
      case IDC_LINK_TEXT: size = QSize(Trunc(t.width() * sx), Trunc(32 * sy)); break;
      case IDC_VERSION_TEXT: size = QSize(Trunc(t.width() * sx), Trunc(32 * sy)); break;
      case IDC_LOGO: size = QSize(Trunc(t.width() * sx), Trunc(t.height() * sy)); break;
      case IDC_RED_DOT: case IDC_GREEN_DOT: size = QSize(Trunc(t.width() * sx), Trunc(t.width() * sy)); break;
      default: return QRect();
    }
  }
  const int captionTop = relayout ? Trunc(16 * sy) - Trunc(size.height() * sy * 0.5) : Trunc(8 * sy);
  switch (id) {
    case IDC_CLOSE: return QRect(W - Trunc(40 * sx), captionTop, size.width(), size.height());
    case IDC_MAXIMIZE: return QRect(W - Trunc(80 * sx), captionTop, size.width(), size.height());
    case IDC_MINIMIZE: return QRect(W - Trunc(120 * sx), captionTop, size.width(), size.height());
    case IDC_LINK_TEXT: {
      const int top = H - Trunc(32 * sy);
      return QRect(Trunc(100 * sx), top, size.width(), H - top);
    }
    case IDC_VERSION_TEXT: {
      // Kept on the bottom band, whose height does not follow the layout ratio.
      const int top = H - Trunc(32 * sy);
      const int left = relayout ? Trunc(m_versionText->x() * g_ratioX) : Trunc(templateRect(id).x() * g_ratioX);
      return QRect(left, top, size.width(), H - top);
    }
    case IDC_LOGO: return QRect(W - Trunc(150 * sx), H - Trunc(32 * sy), size.width(), size.height());
    case IDC_RED_DOT: case IDC_GREEN_DOT:
      return QRect(Trunc(80 * sx), H - Trunc(16 * sy) - size.height() / 2, size.width(), size.height());
    default: return QRect();
  }
}

namespace {
bool IsAnchored(int id) {
  switch (id) {
    case IDC_CLOSE: case IDC_MAXIMIZE: case IDC_MINIMIZE: case IDC_LINK_TEXT: case IDC_VERSION_TEXT:
    case IDC_LOGO: case IDC_RED_DOT: case IDC_GREEN_DOT: return true;
    default: return false;
  }
}

}  // namespace

void CQV512XX::LayoutControls() { PlaceControls(false); }

void CQV512XX::ComputeLayoutRatio() {
  const QSizeF target = g_bMaximized ? QSizeF(kReferenceWorkArea.width() * g_scaleX,
                                              kReferenceWorkArea.height() * g_scaleY)
                                      : QSizeF(kReferenceWindow.width() * g_scaleX,
                                              kReferenceWindow.height() * g_scaleY);
  g_ratioX = target.width() / width();
  g_ratioY = target.height() / height();
  if (g_bMaximized) {
    g_maxRatioX = g_ratioX;
    g_maxRatioY = g_ratioY;
  }
}

void CQV512XX::RelayoutControls() {
  PlaceControls(true);
  SizeCaptionButtonsToBitmaps();
}

// Resizes the window by the current ratios, centres it on the work area, and
// moves every control: the anchored ones by their anchors (the first layout
// remembers their rectangles, later ones keep the sizes), the rest scaled.
void CQV512XX::PlaceControls(bool relayout) {
  m_programSize = QSize(Trunc(width() * g_ratioX), Trunc(height() * g_ratioY));
  // Fixed, so that the window manager offers no resizing of its own: the
  // frame is drawn for the size given here.
  setFixedSize(m_programSize);
  // On the screen the window is on, which need not be the primary one.
  if (QScreen* on = screen()) {
    const QRect area = on->availableGeometry();
    move(area.center() - rect().center());
  }
  for (QObject* child : children()) {
    auto* w = qobject_cast<QWidget*>(child);
    if (!w || w->isWindow()) continue;
    const int id = platform::ControlId(w);
    if (IsAnchored(id)) {
      const QRect r = AnchoredRect(id, relayout);
      if (!relayout) m_anchored[id] = r;
      w->setGeometry(r);
    } else if (id != 0) {
      w->setGeometry(ScaleRectEdges(w->geometry(), g_ratioX, g_ratioY));
    }
  }
}

// The caption buttons' glyphs grow and shrink with the screen like the
// band they sit in, and sit in its middle: after a maximise and a restore on
// a small screen, buttons of their bitmaps' size at the anchors' top ran
// over the band's lower edge.
void CQV512XX::SizeCaptionButtonsToBitmaps() {
  const int band = Trunc(30 * g_scaleY);
  for (CBitmapButton* b : {m_close, m_minimize, m_maximize}) {
    const QSize bitmap = b->Normal().isNull() ? b->size() : b->Normal().size();
    const int side = std::clamp(Trunc(bitmap.height() * g_scaleY), 8, std::max(8, band - 2));
    b->setGeometry(b->x(), (band - side) / 2, side, side);
  }
}

void CQV512XX::ToggleMaximize() {
  g_bMaximized = !g_bMaximized;
  ComputeLayoutRatio();
  RelayoutControls();
  if (g_pLayoutPage) g_pLayoutPage->RelayoutPage();
  if (g_pRoundPage) {
    g_pRoundPage->RelayoutPage();
    CentreInHost(g_pRoundPage, m_pageHost);
  }
  if (m_toolPages) m_toolPages->Relayout();
  PlaceChooser();
  if (g_bMaximized) {
    g_ratioX = g_maxRatioX * g_baseRatioX;
    g_ratioY = g_maxRatioY * g_baseRatioY;
  } else {
    g_ratioX = g_baseRatioX;
    g_ratioY = g_baseRatioY;
  }
  m_maximize->SetBitmaps(bitmaps::Bitmap(g_bMaximized ? bitmaps::IDB_RESTORE : bitmaps::IDB_MAXIMIZE));
  SizeCaptionButtonsToBitmaps();
}

void CQV512XX::OnDisplayChange(const QRect& workArea) {
  if (workArea == g_workArea) return;  // e.g. a colour-depth change
  g_workArea = workArea;
  // A person who keeps the window (a recording runs) keeps this instance
  // too: no second one beside it.
  if (!close()) return;
  if (s_restart) s_restart();
}

// A window manager may resize or maximise a window whatever its size hints say
// (keyboard maximise, edge snapping); the caption buttons and the bottom band
// would then sit in the middle of it. Such a size does not last.
void CQV512XX::KeepProgramSize() {
  if (!m_programSize.isValid() || isMinimized()) return;
  constexpr Qt::WindowStates kSized = Qt::WindowMaximized | Qt::WindowFullScreen;
  // Asked of the window system's own window: the widget may not have heard
  // of the new state yet, and a sized window ignores a plain resize.
  if (QWindow* handle = windowHandle(); handle && (handle->windowStates() & kSized)) {
    handle->setWindowStates(handle->windowStates() & ~kSized);
  }
  if (size() != m_programSize) resize(m_programSize);
}

void CQV512XX::resizeEvent(QResizeEvent* e) {
  QDialog::resizeEvent(e);
  // Queued: the window system is still in the middle of its own change.
  if (e->size() != m_programSize) QTimer::singleShot(0, this, &CQV512XX::KeepProgramSize);
}

void CQV512XX::changeEvent(QEvent* e) {
  QDialog::changeEvent(e);
  if (e->type() == QEvent::WindowStateChange && (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
    QTimer::singleShot(0, this, &CQV512XX::KeepProgramSize);
}

// ---- painting and input -------------------------------------------------------

void CQV512XX::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect r = rect();
  const int captionH = Trunc(30 * g_scaleY);
  const double bandTop = r.bottom() + 1 - 35.5 * g_scaleY;
  p.fillRect(QRect(r.left(), r.top(), r.width(), captionH), kCaptionRed);
  p.fillRect(QRectF(r.left(), r.top() + captionH, r.width(), bandTop - (r.top() + captionH)), Qt::white);
  p.setPen(QPen(QColor(200, 200, 200), 2));
  p.drawLine(QPointF(r.left() + 1, r.top() + captionH), QPointF(r.left() + 1, bandTop));
  p.fillRect(QRectF(r.left(), bandTop, r.width(), r.bottom() + 1 - bandTop), kBandGrey);

  QFont title = ScaledFont(20, 8, 700, QStringLiteral("Arial"));
  title.setStyleHint(QFont::SansSerif);
  p.setFont(title);
  p.setPen(Qt::white);
  p.drawText(QRect(r.left() + 10, r.top(), r.width() - 10, captionH), Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine,
             windowTitle());
}

void CQV512XX::mousePressEvent(QMouseEvent* e) {
  const int y = e->position().toPoint().y();
  if (e->button() == Qt::LeftButton && y >= 1 && y <= 49) {
    ++m_dragRequests;
    // The window system moves us, once the pointer really drags: a move
    // asked for at the press may reach the window manager after a quick
    // click's release, and some then keep the window on the pointer until
    // the next click.
    m_dragFrom = e->globalPosition().toPoint();
  } else if (e->button() == Qt::RightButton && y < Trunc(30 * g_scaleY) && !m_captionActions.isEmpty()) {
    QMenu menu(this);
    menu.addActions(m_captionActions);
    menu.exec(e->globalPosition().toPoint());
  }
  QDialog::mousePressEvent(e);
}

void CQV512XX::mouseMoveEvent(QMouseEvent* e) {
  if (m_dragFrom && (e->buttons() & Qt::LeftButton) &&
      (e->globalPosition().toPoint() - *m_dragFrom).manhattanLength() >= QApplication::startDragDistance()) {
    m_dragFrom.reset();
    ++m_systemMoves;
    if (QWindow* w = windowHandle()) w->startSystemMove();
  }
  QDialog::mouseMoveEvent(e);
}

void CQV512XX::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) m_dragFrom.reset();
  QDialog::mouseReleaseEvent(e);
}

QString CQV512XX::WorkUnderWay() const {
  QStringList work;
  if (const CSetupActions* setup = m_toolPages ? m_toolPages->SetupActions() : nullptr; setup && setup->Recording())
    work << QStringLiteral("a recording runs (into %1)")
                .arg(QFileInfo(QString::fromStdString(setup->ScriptPath())).fileName());
  if (m_bootContext && m_bootContext->IsRunning()) work << QStringLiteral("a firmware update runs");
  return work.join(QStringLiteral(" and "));
}

void CQV512XX::reject() {
  if (!isVisible()) {
    QDialog::reject();
    return;
  }
  if (const QString work = WorkUnderWay(); !work.isEmpty()) {
    const auto answer = platform::MessageBox(
        ("Close CorvelGUI although " + work + "? The recording stops where it is; an update stopped now leaves the "
                                              "board in its bootloader.")
            .toStdString(),
        "Close CorvelGUI", platform::MessageIcon::Question, platform::MessageButtons::OkCancel);
    if (answer != platform::MessageResult::Ok && answer != platform::MessageResult::Yes) return;
  }
  // An effect left running would have nobody to stop it: ending the program
  // is a STOP too.
  if (g_pEffectDialog) g_pEffectDialog->OnStop();
  QDialog::reject();
}

// Nothing in this window ends it with "OK": Enter is never a way out.
void CQV512XX::accept() {}

void CQV512XX::keyPressEvent(QKeyEvent* e) {
  const bool enterOrEscape = e->key() == Qt::Key_Escape || e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter;
  if (!enterOrEscape) {
    QDialog::keyPressEvent(e);
    return;
  }
  // Swallowed wherever the pointer is, so that a stray key never ends the
  // program (the work of a session, a recording, goes with it). Enter goes
  // to the page under the pointer, or, with the pointer elsewhere, to the
  // page that has the focus: the dial takes its typed value, the LED layout
  // keeps it, the rest of the LED board page writes the brightness at once.
  e->accept();
  if (e->key() == Qt::Key_Escape) return;
  const QPoint pointer = s_cursorPos();
  const bool overWindow = frameGeometry().contains(pointer);
  QWidget* focus = QApplication::focusWidget();
  auto target = [&](QWidget* page) {
    if (!page || !page->isVisible()) return false;
    if (overWindow) return page->rect().contains(page->mapFromGlobal(pointer));
    return focus && (focus == page || page->isAncestorOf(focus));
  };
  if (CSetBrightnessLevel* dial = g_pRoundPage ? g_pRoundPage->BrightnessPage() : nullptr; target(dial))
    dial->CommitEditValue();
  else if (target(g_pLayoutPage))
    ;
  else if (target(g_pRoundPage))
    g_pRoundPage->OnEnterKey();
}
