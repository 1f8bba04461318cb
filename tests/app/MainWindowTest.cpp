#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <functional>
#include <thread>

#include "chip/ChipAccess.h"
#include "link/CommandSet.h"
#include "link/LinkState.h"
#include "platform/Messages.h"
#include "resources/dialogs/RoundPageDialog.h"
#include "app/SetupActions.h"
#include "app/ToolPages.h"
#include "tests/app/AppFixture.h"
#include "ui/CMyRectButton.h"
#include "ui/BitmapButton.h"
#include "ui/Bitmaps.h"
#include "ui/CMyStaticFont.h"

using namespace platform;

namespace {

class RecordingPage : public CPage {
 public:
  void OnMessage(const Message& m) override { got.push_back(m.id); }
  std::vector<std::uint32_t> got;
};

const QColor kTeal(0, 180, 200);
const QColor kRed(210, 0, 0);

std::shared_ptr<const MessagePayload> Bytes(std::vector<std::uint8_t> b) {
  return std::make_shared<const BytesPayload>(std::move(b));
}

}  // namespace

// No board: the window is driven by hand.
class MainWindowTest : public AppFixture {
 protected:
  bool PluggedAtStart() const override { return false; }
  void SetUp() override {
    AppFixture::SetUp();
    Pump(50);  // the "not found" from the first connect
  }
  void Deliver(std::uint32_t id, std::uintptr_t wParam = 0, std::shared_ptr<const MessagePayload> p = {}) {
    window->OnMessage(Message{id, wParam, std::move(p)});
    QCoreApplication::processEvents();  // relays posted to pages
  }
};

TEST_F(MainWindowTest, TitleAndStartLook) {
  EXPECT_EQ(window->windowTitle(), QStringLiteral("QV6032_QV6033_QV6031_QV6035 _V1.4.0"));
  EXPECT_EQ(window->LinkText()->text(), QStringLiteral(" USB Hid device not found!"));
  EXPECT_FALSE(window->RedDot()->isHidden());
  EXPECT_TRUE(window->GreenDot()->isHidden());
  ASSERT_NE(g_pRoundPage, nullptr);
  EXPECT_TRUE(g_pRoundPage->BoardButton(dialogs::IDC_BOARD_QV6033)->Checked());
  EXPECT_EQ(g_selectedBoardId, kNoBoardId);
  EXPECT_EQ(g_boardKind, kBoardKindPage);
}

TEST_F(MainWindowTest, EveryNotificationShowsItsTextAndStopsTheReplyTimer) {
  struct Row {
    std::uint32_t message;
    std::uintptr_t wParam;
    const char* text;  // null: the status line is not touched
    bool ok;
    bool killsReplyTimer;
  };
  // The failure answer's bytes are not read for an address: nothing was sent
  // here, so no address is named (the window names the one it sent, see the
  // pages test with a chip at another address).
  const std::string readFailed = texts::kStatusReadFailed;
  const Row rows[] = {
      {kMsgRegisterRead, 0, texts::kStatusReadOk, true, true},
      {kMsgRegisterReadFailed, 0, readFailed.c_str(), false, true},
      {kMsgSetDataOk, 0, texts::kStatusSetDataOk, true, true},
      {kMsgSetDataFailed, 0, texts::kStatusSetDataFailed, false, true},
      {kMsgTextOk, reinterpret_cast<std::uintptr_t>(kTextAddressOk), kTextAddressOk, true, true},
      {kMsgTextFailed, reinterpret_cast<std::uintptr_t>(kTextBootValueFailed), kTextBootValueFailed, false, true},
      {kMsgOpenShortOk, 0, texts::kStatusOpenShortOk, true, true},
      {kMsgOpenShortFailed, 0, texts::kStatusOpenShortFailed, false, true},
      {kMsgRegisterWritten, 0, texts::kStatusWriteOk, true, true},
      {kMsgInterrupt, 0, texts::kStatusInterrupt, true, true},
      {kMsgGpioControlStatus, 0, nullptr, true, false},
      {kMsgBoardEvent18, 0, nullptr, true, false},
      {kMsgBoardEvent19, 0, nullptr, true, false},
      {kMsgBoardEvent81, 0, nullptr, true, false},
  };
  for (const Row& r : rows) {
    window->StatusLine()->hide();
    window->StatusLine()->setText(QString());
    window->Target().KillTimer(CQV512XX::kStatusTimer);
    window->Target().SetTimer(CQV512XX::kReplyTimer, 5000);
    Deliver(r.message, r.wParam, Bytes({1, 0x5B, 0x20, 1, 4, 0, 1}));
    const auto armed = window->Target().ArmedTimers();
    EXPECT_EQ(armed.count(CQV512XX::kReplyTimer) == 0, r.killsReplyTimer) << r.message;
    if (!r.text) {
      EXPECT_TRUE(window->StatusLine()->isHidden()) << r.message;
      continue;
    }
    EXPECT_EQ(window->StatusLine()->text(), QString::fromUtf8(r.text)) << r.message;
    EXPECT_FALSE(window->StatusLine()->isHidden()) << r.message;
    EXPECT_EQ(window->StatusLine()->CtrlBkColor(), r.ok ? kTeal : kRed) << r.message;
    EXPECT_EQ(window->StatusLine()->CtrlTextColor(), QColor(Qt::white)) << r.message;
    ASSERT_TRUE(armed.count(CQV512XX::kStatusTimer)) << r.message;
    EXPECT_EQ(armed.at(CQV512XX::kStatusTimer), 5000u) << r.message;
  }
}

TEST_F(MainWindowTest, RepliesAreRelayedOnlyToPagesThatWaitForThem) {
  RecordingPage input, output, blink, fade, brightness;
  struct Case {
    std::uint32_t message;
    bool inputPage, outputPage, blinkPage, fadePage, brightnessPage;
    int blinkActive, fadeActive;
    std::vector<std::uint32_t> toInput, toOutput, toBlink, toFade;
    bool toRoundPage;
  };
  const Case cases[] = {
      // Register data goes to every GPIO page and to blink / fade while active.
      {kMsgRegisterRead, true, true, true, true, false, 1, 1, {kMsgGpioInputRead}, {kMsgGpioOutputRead},
       {kMsgBlinkRead}, {kMsgFadeRead}, false},
      {kMsgRegisterRead, false, false, true, true, false, 0, 0, {}, {}, {}, {}, false},
      // A write acknowledgement goes to exactly one page, fade first; an
      // active mode whose page is missing stops the search.
      {kMsgRegisterWritten, false, false, true, true, true, 1, 1, {}, {}, {}, {kMsgFadeWriteAck}, false},
      {kMsgRegisterWritten, false, false, true, false, true, 1, 1, {}, {}, {}, {}, false},
      {kMsgRegisterWritten, false, false, true, false, true, 1, 0, {}, {}, {kMsgBlinkWriteAck}, {}, false},
      {kMsgRegisterWritten, false, false, false, false, true, 0, 0, {}, {}, {}, {}, true},
      {kMsgRegisterWritten, false, false, false, false, false, 0, 0, {}, {}, {}, {}, false},
  };
  for (const Case& c : cases) {
    for (RecordingPage* p : {&input, &output, &blink, &fade, &brightness}) p->got.clear();
    g_pGpioInputPage = c.inputPage ? &input : nullptr;
    g_pGpioOutputPage = c.outputPage ? &output : nullptr;
    g_pBlinkMode = c.blinkPage ? &blink : nullptr;
    g_pFadeMode = c.fadePage ? &fade : nullptr;
    g_pBrightnessPage = c.brightnessPage ? &brightness : nullptr;
    g_bBlinkActive = c.blinkActive;
    g_bFadeActive = c.fadeActive;
    Deliver(c.message, 0, Bytes({1, 0x5B, 0x20, 1, 4, 0, 9}));
    EXPECT_EQ(input.got, c.toInput);
    EXPECT_EQ(output.got, c.toOutput);
    EXPECT_EQ(blink.got, c.toBlink);
    EXPECT_EQ(fade.got, c.toFade);
    EXPECT_FALSE(window->StatusLine()->isHidden());  // shown whatever was relayed
  }
  g_pGpioInputPage = g_pGpioOutputPage = g_pBlinkMode = g_pFadeMode = g_pBrightnessPage = nullptr;
  g_bBlinkActive = g_bFadeActive = 0;
}

// Every page's reply wait ends when its answer can no longer come or be told
// apart: on a failure reply, the reply timeout, a link failure, a lost board
// and a reset. The status line names the step that stopped.
TEST_F(MainWindowTest, EveryReplyWaitEndsOnFailureTimeoutLinkLossAndReset) {
  struct Case {
    const char* cause;
    std::function<void()> happen;
    bool named;  // the status line names the step
  };
  const Case cases[] = {
      {"failure reply", [&] { Deliver(kMsgRegisterReadFailed, 0, Bytes({1, 0x5B, 0x11, 1, 4, 0})); }, true},
      {"reply timeout", [&] { window->OnTimer(CQV512XX::kReplyTimer); }, true},
      // An identified board goes (this window starts with none attached, and
      // a "not found" again of no board is no board going).
      {"board gone", [&] { g_bBoardMatched = 1; Deliver(kMsgLinkState, kLinkDeviceNotFound); }, false},
      {"link failure", [&] { Deliver(kMsgLinkState, kLinkFailed); }, false},
      {"software reset", [&] { g_pRoundPage->OnSoftwareReset(); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cause);
    chip::ReplyWait wait("test page: the value of register 0x11");
    wait.Expect(0x11);
    c.happen();
    EXPECT_FALSE(wait.Waiting());
    // The answer that comes now is someone else's.
    const std::vector<std::uint8_t> late{1, 0x5B, 0x11, 1, 4, 0, 0x1F};
    EXPECT_FALSE(wait.Take(*chip::ParseRegisterReply(late)));
    if (c.named)
      EXPECT_TRUE(window->StatusLine()->text().contains(QStringLiteral("test page: the value of register 0x11")))
          << window->StatusLine()->text().toStdString();
  }
}

TEST_F(MainWindowTest, GpioControlErrorSetsLinkStateWithoutShowingIt) {
  Deliver(kMsgGpioControlStatus, 0, Bytes({0}));
  EXPECT_EQ(g_pCommunication.load()->LinkState(), kLinkGpioError);
  EXPECT_EQ(window->LinkText()->text(), QStringLiteral(" USB Hid device not found!"));
  Deliver(kMsgGpioControlStatus, 0, Bytes({}));  // an empty report is not a zero
  EXPECT_EQ(g_pCommunication.load()->LinkState(), kLinkGpioError);
}

TEST_F(MainWindowTest, BoardIdIsMatchedOrTheRightBoardSelected) {
  struct Case {
    std::uint8_t selectedBefore;
    std::vector<std::uint8_t> reply;
    int matched;
    int checkedButton;  // 0: none of the chip-board buttons
    std::uint8_t selectedAfter;
  };
  using namespace dialogs;
  const Case cases[] = {
      {kNoBoardId, {0, 0, 3, 0}, 0, IDC_BOARD_QV6032, 3},   // first reply never matches
      {3, {0, 0, 3, 0}, 1, 0, 3},                           // the second does, and selects nothing
      {kNoBoardId, {0, 0, 0}, 0, IDC_BOARD_QV6031, 0},
      {kNoBoardId, {0, 0, 1}, 0, IDC_BOARD_QV6033, 1},
      {kNoBoardId, {0, 0, 5}, 0, IDC_BOARD_QV6035, 5},
      {kNoBoardId, {0, 0, 128}, 0, IDC_BOARD_QV6034, 128},
      {kNoBoardId, {0, 0, 2}, 0, 0, kNoBoardId},            // unknown id: nothing selected
      {kNoBoardId, {0, 0}, 0, 0, kNoBoardId},               // too short to hold an id
  };
  for (const Case& c : cases) {
    g_bBoardMatched = 0;
    g_selectedBoardId = c.selectedBefore;
    for (int id : {IDC_BOARD_QV6031, IDC_BOARD_QV6032, IDC_BOARD_QV6033, IDC_BOARD_QV6034, IDC_BOARD_QV6035})
      g_pRoundPage->BoardButton(id)->SetChecked(false);
    window->Target().SetTimer(CQV512XX::kReplyTimer, 5000);
    window->SendBoardQuery();  // a reply identifies the board only when it was asked
    Deliver(kMsgBoardQueryOk, 0, Bytes(c.reply));
    EXPECT_EQ(g_bBoardMatched, c.matched);
    EXPECT_EQ(g_selectedBoardId, c.selectedAfter);
    EXPECT_FALSE(window->Target().IsTimerArmed(CQV512XX::kReplyTimer));
    for (int id : {IDC_BOARD_QV6031, IDC_BOARD_QV6032, IDC_BOARD_QV6033, IDC_BOARD_QV6034, IDC_BOARD_QV6035})
      EXPECT_EQ(g_pRoundPage->BoardButton(id)->Checked(), id == c.checkedButton) << id;
    if (c.matched) {
      EXPECT_EQ(window->LinkText()->text(), QString::fromUtf8(texts::kChipConnected));
      EXPECT_EQ(window->StatusLine()->text(), QString::fromUtf8(texts::kStatusDataReceived));
      EXPECT_TRUE(window->RedDot()->isHidden());
    } else {
      EXPECT_EQ(window->LinkText()->text(), QString::fromUtf8(texts::kBoardMismatch));
      EXPECT_EQ(window->StatusLine()->text(), QString::fromUtf8(texts::kStatusBoardMismatch));
      EXPECT_FALSE(window->RedDot()->isHidden());
    }
  }
  // The same reply answers the effect upload: unasked, it identifies nothing
  // (it neither unmatches the board nor has the page write anything).
  g_selectedBoardId = 3;
  g_bBoardMatched = 1;
  Deliver(kMsgBoardQueryOk, 0, Bytes({0, 0, 3, 0}));
  Deliver(kMsgBoardQueryOk, 0, Bytes({0, 0, 1, 0}));
  EXPECT_EQ(g_bBoardMatched, 1);
  EXPECT_EQ(g_selectedBoardId, 3);
  // Once matched, a board selection is refused.
  g_pRoundPage->SelectChipBoard(dialogs::IDC_BOARD_QV6031);
  EXPECT_EQ(g_selectedBoardId, 3);
}

TEST_F(MainWindowTest, ReplyTimeoutAndStatusTimers) {
  window->ShowStatus(QStringLiteral("first"), true);
  window->ShowStatus(QStringLiteral("second"), false);  // replaces it, 5 s from now
  EXPECT_EQ(window->StatusLine()->text(), QStringLiteral("second"));
  EXPECT_EQ(window->Target().ArmedTimers().at(CQV512XX::kStatusTimer), 5000u);
  window->OnTimer(CQV512XX::kStatusTimer);
  EXPECT_TRUE(window->StatusLine()->isHidden());
  EXPECT_FALSE(window->Target().IsTimerArmed(CQV512XX::kStatusTimer));

  g_bDevicePresent = 0;
  window->ShowNotConnected();
  EXPECT_EQ(window->StatusLine()->text(), QString::fromUtf8(texts::kNotConnectedAbsent));
  EXPECT_EQ(window->Target().ArmedTimers().at(CQV512XX::kStatusTimer), 3000u);
  g_bDevicePresent = 1;
  window->ShowNotConnected();
  EXPECT_EQ(window->StatusLine()->text(), QString::fromUtf8(texts::kNotConnectedPresent));
  EXPECT_EQ(window->StatusLine()->CtrlBkColor(), kRed);

  window->StatusLine()->hide();
  window->Target().KillTimer(CQV512XX::kStatusTimer);
  g_bBoardMatched = 1;
  window->Target().SetTimer(CQV512XX::kReplyTimer, 5000);
  window->OnTimer(CQV512XX::kReplyTimer);
  EXPECT_EQ(window->LinkText()->text(), QString::fromUtf8(texts::kTimeoutToConnect));
  EXPECT_EQ(window->StatusLine()->text(), QString::fromUtf8(texts::kStatusMcuFrozen));
  EXPECT_FALSE(window->StatusLine()->isHidden());
  EXPECT_FALSE(window->RedDot()->isHidden());
  EXPECT_FALSE(window->Target().IsTimerArmed(CQV512XX::kReplyTimer));
  EXPECT_FALSE(window->Target().IsTimerArmed(CQV512XX::kStatusTimer));  // not restarted
  EXPECT_EQ(g_bBoardMatched, 1);  // left as it was
  uitest::GrabAndSave(window, QStringLiteral("main_reply_timeout"));
}

TEST_F(MainWindowTest, DragStartsOnlyFromTheTopBand) {
  for (int y : {0, 1, 49, 50}) {
    const int before = window->DragRequests();
    QTest::mousePress(window, Qt::LeftButton, {}, QPoint(400, y));
    QTest::mouseRelease(window, Qt::LeftButton, {}, QPoint(400, y));
    EXPECT_EQ(window->DragRequests() - before, (y >= 1 && y <= 49) ? 1 : 0) << "y = " << y;
  }
  // A click is not a move: the window system is asked to move the window
  // only once the pointer drags, and once per press.
  EXPECT_EQ(window->SystemMoves(), 0);
  QTest::mousePress(window, Qt::LeftButton, {}, QPoint(400, 20));
  for (int dx : {1, 20, 40}) {
    QMouseEvent move(QEvent::MouseMove, QPointF(400 + dx, 20), window->mapToGlobal(QPointF(400 + dx, 20)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &move);
  }
  QTest::mouseRelease(window, Qt::LeftButton, {}, QPoint(440, 20));
  EXPECT_EQ(window->SystemMoves(), 1);
}

TEST_F(MainWindowTest, EnterAndEscapeNeverEndTheProgramWhereverThePointerIs) {
  window->show();
  for (const QPoint at : {window->frameGeometry().center(), QPoint(-500, -500)}) {
    cursor = at;
    for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
      QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
      QCoreApplication::sendEvent(window, &press);
      EXPECT_TRUE(window->isVisible()) << key << " at " << at.x();
      EXPECT_EQ(window->result(), 0) << key;
    }
  }
}

// The close button, the window manager's close and Ctrl+Q end the window;
// while a recording runs each asks first, and "Cancel" keeps everything.
TEST_F(MainWindowTest, ClosingAsksFirstWhileARecordingRuns) {
  auto answer = platform::MessageResult::Ok;
  std::vector<std::string> asked;
  platform::SetMessageBoxHook([&](const std::string& text, auto&&...) {
    asked.push_back(text);
    return answer;
  });
  CSetupActions* setup = window->ToolPages()->SetupActions();
  QTemporaryDir dir;
  const std::pair<const char*, std::function<void()>> ways[] = {
      {"close button", [&] { QTest::mouseClick(platform::FindControl(window, 1005), Qt::LeftButton); }},
      {"window manager", [&] { window->close(); }},
      {"Ctrl+Q", [&] { QTest::keyClick(window, Qt::Key_Q, Qt::ControlModifier); }},
  };
  auto showActive = [&] {
    window->show();
    window->activateWindow();
    return QTest::qWaitForWindowActive(window);
  };
  for (const auto& [name, close] : ways) {
    ASSERT_TRUE(showActive()) << name;
    asked.clear();
    ASSERT_TRUE(setup->StartRecording(dir.filePath(QStringLiteral("script.txt")).toStdString()));
    answer = platform::MessageResult::Cancel;
    close();
    EXPECT_TRUE(window->isVisible()) << name;
    EXPECT_TRUE(setup->Recording()) << name;
    ASSERT_EQ(asked.size(), 1u) << name;
    EXPECT_NE(asked[0].find("a recording runs (into script.txt)"), std::string::npos) << asked[0];
    answer = platform::MessageResult::Ok;
    close();
    EXPECT_FALSE(window->isVisible()) << name;
    EXPECT_EQ(asked.size(), 2u) << name;
    setup->StopRecording();

    // Nothing under way: it closes without a question.
    ASSERT_TRUE(showActive()) << name;
    asked.clear();
    close();
    EXPECT_FALSE(window->isVisible()) << name;
    EXPECT_TRUE(asked.empty()) << name;
  }
}

TEST_F(MainWindowTest, AnchoredControlsKeepToTheEdges) {
  // 1558 x 928 at the reference work area, scale 1.
  struct Anchor {
    QWidget* control;
    QRect expected;
  };
  auto* close = platform::FindControl(window, 1005);
  auto* maximise = platform::FindControl(window, 1009);
  auto* minimise = platform::FindControl(window, 1008);
  auto* logo = platform::FindControl(window, 1006);
  // The caption buttons sit in the middle of the 30-pixel band.
  for (const Anchor& a : {Anchor{close, QRect(1558 - 40, 9, 12, 12)}, Anchor{maximise, QRect(1558 - 80, 9, 12, 12)},
                          Anchor{minimise, QRect(1558 - 120, 9, 12, 12)},
                          Anchor{window->LinkText(), QRect(100, 928 - 32, window->LinkText()->width(), 32)},
                          Anchor{logo, QRect(1558 - 150, 928 - 32, logo->width(), logo->height())},
                          Anchor{window->RedDot(), QRect(80, 928 - 16 - 6, 12, 12)}})
    EXPECT_EQ(a.control->geometry(), a.expected) << platform::ControlId(a.control);
}

TEST_F(MainWindowTest, MaximiseThenRestoreReturnsExactlyToTheBaseLayout) {
  const QSize normal = window->size();
  const double baseX = g_baseRatioX, baseY = g_baseRatioY;
  window->ToggleMaximize();
  EXPECT_EQ(window->size(), QSize(1920, 1040));
  EXPECT_EQ(g_bMaximized, 1);
  EXPECT_EQ(window->MaximizeButton()->Normal().cacheKey(), bitmaps::Bitmap(bitmaps::IDB_RESTORE).cacheKey());
  EXPECT_EQ(platform::FindControl(window, 1005)->geometry().topLeft(), QPoint(1920 - 40, 9));
  uitest::GrabAndSave(window, QStringLiteral("main_maximised"));
  window->ToggleMaximize();
  EXPECT_EQ(g_ratioX, baseX);
  EXPECT_EQ(g_ratioY, baseY);
  EXPECT_EQ(window->size(), normal);
  EXPECT_EQ(window->MaximizeButton()->Normal().cacheKey(),
            bitmaps::Bitmap(bitmaps::IDB_MAXIMIZE).cacheKey());
}

TEST_F(MainWindowTest, ASizeFromTheWindowManagerDoesNotLast) {
  window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
  const QSize laidOut = window->size();
  ASSERT_EQ(window->ProgramSize(), laidOut);
  QWindow* handle = window->windowHandle();
  ASSERT_NE(handle, nullptr);
  // Edge snapping (half the screen) and keyboard maximise come from the
  // window manager, not from the window's own buttons.
  const std::function<void()> changes[] = {
      [&] { handle->setGeometry(QRect(0, 0, 960, 1040)); },
      [&] { handle->setWindowStates(Qt::WindowMaximized); },
  };
  for (const auto& change : changes) {
    change();
    Pump(20);
    EXPECT_TRUE(PumpUntil([&] { return window->size() == laidOut && window->windowState() == Qt::WindowNoState; }));
    EXPECT_EQ(window->size(), laidOut);
    EXPECT_FALSE(window->windowState() & Qt::WindowMaximized);
    EXPECT_EQ(platform::FindControl(window, 1005)->geometry().topLeft(), QPoint(laidOut.width() - 40, 9));
    EXPECT_EQ(window->LinkText()->geometry().top(), laidOut.height() - 32);
  }
  // The window's own maximise still sizes it.
  window->ToggleMaximize();
  Pump(100);
  EXPECT_EQ(window->size(), QSize(1920, 1040));
  window->ToggleMaximize();
  Pump(100);
  EXPECT_EQ(window->size(), laidOut);
}

TEST_F(MainWindowTest, MaximiseAndRestoreCentreOnTheScreenTheWindowIsOn) {
  const QList<QScreen*> screens = QGuiApplication::screens();
  ASSERT_GE(screens.size(), 2);
  QScreen* second = screens[1];
  window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
  window->windowHandle()->setScreen(second);
  window->move(second->availableGeometry().topLeft() + QPoint(100, 100));
  Pump(20);
  ASSERT_EQ(window->screen(), second);
  for (int toggle = 0; toggle < 2; ++toggle) {
    window->ToggleMaximize();
    Pump(20);
    EXPECT_EQ(window->geometry().center(), second->availableGeometry().center()) << "toggle " << toggle;
  }
}

TEST_F(MainWindowTest, StatusSymbolsAreDrawnInTheTextColour) {
  // In blue on the red line, a glyph drawn in the text colour leaves only
  // blends of the two, none with any green in it; a colour emoji brings its own
  // colours (the no-entry sign's white bar) whatever the text colour.
  for (const char* symbol : {"✔", "⛔", "√", "×"}) {
    window->ShowStatus(QString::fromUtf8(symbol), false);
    window->StatusLine()->SetCtrlTextColor(QColor(0, 0, 255));
    const QImage image = uitest::Grab(window->StatusLine());
    const int inked = uitest::CountPixels(image, [](QRgb p) { return qBlue(p) > 128 && qRed(p) < 100; });
    EXPECT_GT(inked, 10) << symbol << " is not drawn";
    const QRect coloured = uitest::BoundingBox(image, [](QRgb p) { return qGreen(p) > 24; });
    EXPECT_TRUE(coloured.isEmpty()) << symbol << " has colours of its own at " << coloured.x() << "," << coloured.y();
  }
  window->ShowStatus(QString::fromUtf8(texts::kStatusReadFailed), false);
  uitest::GrabAndSave(window->StatusLine(), QStringLiteral("main_status_failed"));
}

TEST_F(MainWindowTest, DisplayChangeRestartsOnlyWhenTheWorkAreaChanged) {
  window->OnDisplayChange(g_workArea);
  EXPECT_EQ(restarts, 0);
  window->OnDisplayChange(QRect(0, 0, 2560, 1400));
  EXPECT_EQ(restarts, 1);
}

TEST_F(MainWindowTest, PostsToAPageThatIsGoneAreDroppedAndTimersMayBeSetFromAnyThread) {
  platform::Handle gone;
  {
    RecordingPage page;
    gone = page.Handle();
    EXPECT_TRUE(platform::PostMessage(gone, kMsgPageWriteAck));
  }  // destroyed with a message still queued for it
  EXPECT_FALSE(platform::PostMessage(gone, kMsgPageWriteAck));
  QCoreApplication::processEvents();  // the queued one is not delivered to freed memory

  std::thread([&] { platform::SetTimer(window->Handle(), 7, 250); }).join();
  Pump(20);
  EXPECT_EQ(window->Target().ArmedTimers().at(7), 250u);
  window->Target().KillTimer(7);
}

TEST(PlaceMainWindowTest, CentredAcrossTwoFifthsDown) {
  EXPECT_EQ(CCorvelGUIApp::PlaceMainWindow(QSize(1920, 1080), QSize(1558, 928)), QPoint(181, 61));
  EXPECT_EQ(CCorvelGUIApp::PlaceMainWindow(QSize(1558, 928), QSize(1558, 928)), QPoint(0, 0));
}

struct ScaleCase {
  QRect workArea;
  QSize window;
};
class MainWindowScaleTest : public AppFixture, public ::testing::WithParamInterface<ScaleCase> {
 protected:
  bool PluggedAtStart() const override { return false; }
  QRect WorkArea() const override { return GetParam().workArea; }
};

TEST_P(MainWindowScaleTest, WindowSizeFollowsTheWorkArea) {
  EXPECT_EQ(window->size(), GetParam().window);
  uitest::GrabAndSave(window, QStringLiteral("main_%1x%2").arg(GetParam().workArea.width()).arg(GetParam().workArea.height()));
}

// Laid out, maximised and restored, the caption buttons stay inside the red
// band, in its middle, and grow and shrink with it.
TEST_P(MainWindowScaleTest, CaptionButtonsStayInTheBandThroughMaximiseAndRestore) {
  const int band = static_cast<int>(30 * g_scaleY);
  for (const char* state : {"laid out", "maximised", "restored"}) {
    for (int id : {1005, 1008, 1009}) {
      auto* button = static_cast<CBitmapButton*>(platform::FindControl(window, id));
      const QRect r = button->geometry();
      EXPECT_GE(r.top(), 1) << state << " " << id;
      EXPECT_LE(r.bottom(), band - 2) << state << " " << id << ": over the band's lower edge " << band;
      EXPECT_LE(std::abs((r.top() - 0) - (band - 1 - r.bottom())), 1) << state << " " << id << ": not in the middle";
      EXPECT_NEAR(r.height(), button->Normal().height() * g_scaleY, 1.0) << state << " " << id;
    }
    window->ToggleMaximize();
  }
}

INSTANTIATE_TEST_SUITE_P(WorkAreas, MainWindowScaleTest,
                         ::testing::Values(ScaleCase{QRect(0, 0, 1280, 720), QSize(1038, 642)},
                                           ScaleCase{QRect(0, 0, 1920, 1040), QSize(1558, 928)},
                                           ScaleCase{QRect(0, 0, 2560, 1400), QSize(2077, 1249)}));
