// The main window: opens the link, identifies the board, shows every status
// and relays each reply to the page that waits for it. It draws its own frame
// (caption band, body, bottom band), scales itself and every page to the
// screen, and can be maximised and restored without the window system.
#pragma once

#include <QDialog>
#include <QList>
#include <QRect>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "pages/BoardGlobals.h"
#include "ui/StatusSink.h"
#include "platform/qt/WindowTarget.h"

class QAction;
class QSocketNotifier;
class CMyRectButton;
class CRound;
class CMyStaticFont;
class CBitmapButton;
class QLabel;
class BootTransferContext;
class CToolPages;
class BoardChooser;
class QtLampSession;
class FocusRing;
namespace platform {
class DeviceMonitor;
}

// Texts the main window shows.
namespace texts {
inline constexpr const char* kChipConnected = "Chip connected successfully!";
inline constexpr const char* kConnectingBoard = "Connecting the lamp board…";
inline constexpr const char* kBoardMismatch = "Lamp board id not match, we will auto select the correctly lamp id!";
inline constexpr const char* kTimeoutToConnect = "Timeout to connect!";
inline constexpr const char* kStatusDataReceived = "  ✔  Chip have received datas successfully!";
inline constexpr const char* kStatusBoardMismatch = "  ⛔  Lamp board id not match!";
inline constexpr const char* kStatusMcuFrozen = "  ⛔ Maybe mcu is frozen, please restart mcu!";
inline constexpr const char* kStatusReadOk = "  ✔  Lamp read register successfully!";
inline constexpr const char* kStatusReadFailed = "  ⛔  Lamp read register failed!";
inline constexpr const char* kStatusSetDataOk = "  ✔  Lamp set data successfully!";
inline constexpr const char* kStatusSetDataFailed = "  ⛔  Lamp set data failed!";
inline constexpr const char* kStatusOpenShortOk = "  ✔  Lamp set open/short successfully!";
inline constexpr const char* kStatusOpenShortFailed = "  ⛔  Lamp set open/short failed!";
inline constexpr const char* kStatusWriteOk = "  ✔  Lamp write register successfully!";
inline constexpr const char* kStatusInterrupt = "  ✔  Interrupt triggerd successfully!";
inline constexpr const char* kNotConnectedPresent = "  ⛔  Device not connected. Connect the device and play the pattern!";
inline constexpr const char* kNotConnectedAbsent =
    "  ⛔  USB Hid device not found. Please connect the device through USB to the computer!";
inline constexpr const char* kVersionPrefix = "Mcu code version:";
// The board runs its bootloader (an update under way, or one that did not
// finish): it is there, and the update dialog is where it is served.
inline constexpr const char* kInBootloader = " Lamp board in its bootloader for the firmware update";
inline constexpr const char* kStatusInBootloader =
    "  ⛔  The board is in its bootloader: finish the firmware update with Boot.";
inline constexpr const char* kStatusLinkFailed =
    "  ⛔  The board does not answer. Please plug the USB device to reset!";
// The board the window was linked to went, others are still attached.
inline constexpr const char* kBoardWentOthersRemain =
    "%1 was unplugged: choose another board in the caption band, or plug it in again.";
// While the window still reconnects by itself a re-plug is not asked for.
inline constexpr const char* kStatusLinkReconnecting = "  ⛔  The board does not answer: reconnecting…";
}  // namespace texts

class CQV512XX : public QDialog, public platform::MessageWindow, public StatusSink {
  Q_OBJECT
 public:
  static constexpr std::uint32_t kStatusTimer = 0;
  static constexpr std::uint32_t kReplyTimer = 1;
  static constexpr std::uint32_t kStatusPeriodMs = 5000;
  static constexpr std::uint32_t kNotConnectedPeriodMs = 3000;

  explicit CQV512XX(QWidget* parent = nullptr);
  ~CQV512XX() override;

  // The window's initialisation, run once before it is shown.
  void InitDialog();
  // Shows the window and runs it until it closes; returns its result.
  int Run();
  // The one way the window ends (close button, window manager, Ctrl+Q):
  // while a recording or a firmware update runs it asks first. Enter and
  // Escape never end it.
  void reject() override;
  void accept() override;
  // What a person would lose by closing now; empty when nothing runs.
  QString WorkUnderWay() const;
  static constexpr const char* kQuitShortcut = "Ctrl+Q";

  // StatusSink: the status band, for the window and its pages.
  void ShowStatus(const QString& text, bool ok) override;
  void ShowNotConnected() override;
  bool LinkComingUp() const override;
  // Asks the board which board it is (its id); also when the LED board page
  // asks for it.
  void SendBoardQuery();

  // MessageWindow
  void OnMessage(const platform::Message& message) override;
  void OnTimer(std::uint32_t id) override;


  // Frame and scaling.
  void LayoutControls();
  void ComputeLayoutRatio();
  void RelayoutControls();
  void ToggleMaximize();
  void OnDisplayChange(const QRect& workArea);

  platform::Handle Handle() const { return m_target->handle(); }
  // The size the window was laid out at; a resize by the window system does
  // not last.
  QSize ProgramSize() const { return m_programSize; }
  platform::WindowTarget& Target() { return *m_target; }
  int DragRequests() const { return m_dragRequests; }
  // Moves handed to the window system (a press in the top band that dragged).
  int SystemMoves() const { return m_systemMoves; }

  // The real device monitor, watched while the window lives.
  void WatchDeviceMonitor(platform::DeviceMonitor* monitor);
  // Extra actions of the caption band's context menu (simulated board).
  void AddCaptionActions(const QList<QAction*>& actions);

  // Replaceable in tests: the desktop work area, the pointer position, and
  // what a work-area change does (close and start a new instance).
  static std::function<QRect()> s_workArea;
  static std::function<QPoint()> s_cursorPos;
  static std::function<void()> s_restart;

  // Controls, for the pages and the tests.
  CMyStaticFont* LinkText() const { return m_linkText; }
  CMyStaticFont* VersionText() const { return m_versionText; }
  CMyStaticFont* StatusLine() const { return m_status; }
  QLabel* RedDot() const { return m_redDot; }
  QLabel* GreenDot() const { return m_greenDot; }
  CMyRectButton* BootButton() const { return m_boot; }
  BoardChooser* Chooser() const { return m_chooser; }
  CBitmapButton* MaximizeButton() const { return m_maximize; }
  BootTransferContext& BootContext() { return *m_bootContext; }
  CToolPages* ToolPages() const { return m_toolPages; }
  FocusRing* Focus() const { return m_focusRing.get(); }
  // Reconnecting did not bring the board back: only a re-plug will.
  bool LinkGivenUp() const { return m_linkGivenUp; }

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;
  void keyPressEvent(QKeyEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  void changeEvent(QEvent*) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  // Tab in reading order (the page buttons, then the page row by row), not
  // in the order the controls were made: the pages' controls come and go.
  bool focusNextPrevChild(bool next) override;

 private:
  void CreateRoundPage();
  void ShowDots(bool green);
  void SetBandText(CMyStaticFont* label, const QString& text);
  void OnBootClicked();
  // What the lamp session tells of the link, shown.
  void ConnectSession();
  void OnLinkShown(bool up, const QString& text);
  void OnLinkFailed(bool givingUp);
  void OnBoardMatched();
  void OnBoardMismatch(int id);
  void OnBoardGone();
  QString EndReplyWaits();
  // For a failure reply (16, 48): the address the program sent its last
  // register command to, and what may be wrong. The bridge answers reads and
  // writes alike with it, so "read failed" alone would mislead after a write.
  static QString NoAnswerAtAddress(const platform::Message& failure);
  QRect AnchoredRect(int id, bool relayout) const;
  void PlaceControls(bool relayout);
  void SizeCaptionButtonsToBitmaps();
  void PlaceMainWindow();
  void KeepProgramSize();

  std::unique_ptr<platform::WindowTarget> m_target;
  std::unique_ptr<BootTransferContext> m_bootContext;  // the one transfer context
  std::unique_ptr<FocusRing> m_focusRing;              // where Tab put the focus, in every window
  CMyStaticFont* m_linkText = nullptr;
  CMyStaticFont* m_versionText = nullptr;
  CMyStaticFont* m_status = nullptr;
  QLabel* m_redDot = nullptr;
  QLabel* m_greenDot = nullptr;
  QLabel* m_logo = nullptr;
  CMyRectButton* m_round = nullptr;
  CMyRectButton* m_boot = nullptr;
  CBitmapButton* m_close = nullptr;
  CBitmapButton* m_minimize = nullptr;
  CBitmapButton* m_maximize = nullptr;
  QWidget* m_pageHost = nullptr;
  QWidget* m_pageHost2 = nullptr;
  std::unique_ptr<CRound> m_roundPage;  // in page host 1000; reached through g_pRoundPage
  CToolPages* m_toolPages = nullptr;  // register and traffic pages
  BoardChooser* m_chooser = nullptr;  // in the caption band, with several boards
  void PlaceChooser();
  // The process's board, driven from this window's event loop (null without
  // a board session, as in a window made on its own).
  QtLampSession* m_session = nullptr;
  // The open device is the board's bootloader.
  bool BoardInBootloader() const;
  std::map<int, QRect> m_anchored;  // remembered rectangles of the anchored controls
  QSocketNotifier* m_monitorNotifier = nullptr;
  platform::DeviceMonitor* m_monitor = nullptr;
  QList<QAction*> m_captionActions;
  QList<QAction*> m_windowActions;  // shortcuts shared with the program's other windows
  void ShareShortcuts(QWidget* window);
  int m_dragRequests = 0;
  bool m_linkGivenUp = false;
  QString m_linkedBoard;  // how the chooser names the board linked last
  QString m_goneBoard;    // that board, while it is unplugged
  std::string m_linkedKey;  // what tells that board from others (serial number or path)
  // With the linked board unplugged and others attached: which one went, and
  // that another can be chosen (null otherwise).
  QString BoardWentText() const;
  void ShowWhichBoardWent();
  int m_systemMoves = 0;
  std::optional<QPoint> m_dragFrom;  // a press in the top band, not yet dragged
  QSize m_programSize;
};

extern CQV512XX* g_pMainDialog;
