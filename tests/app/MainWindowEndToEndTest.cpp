#include <QTest>
#include <atomic>

#include "app/QtLampSession.h"
#include "firmware/BootDialog.h"
#include "link/CommandSet.h"
#include "link/LinkHost.h"
#include "link/LinkState.h"
#include "link/QVCommunication.h"
#include "resources/dialogs/BootDialog.h"
#include "resources/dialogs/RoundPageDialog.h"
#include "pages/LedLayoutPage.h"
#include "tests/app/AppFixture.h"
#include "tests/pages/PageGestures.h"
#include "ui/CMyRoundButton.h"
#include "ui/CMyRectButton.h"
#include "ui/CMyStaticFont.h"

// The whole program on a simulated board that reports id 3 while the page
// starts with QV6033 drawn and nothing selected: the first reply selects the
// QV6032 board, the second matches it.
class MainWindowEndToEndTest : public AppFixture {
 protected:
  std::uint8_t BoardId() const override { return 3; }
};

TEST_F(MainWindowEndToEndTest, IdentifiesTheBoardThenFollowsUnplugAndReplug) {
  // Before the link's first word the band says that the board is being
  // connected, not a red dot alone.
  EXPECT_EQ(window->LinkText()->text(), QString::fromUtf8(texts::kConnectingBoard));
  EXPECT_TRUE(g_pRoundPage->BoardButton(dialogs::IDC_BOARD_QV6033)->Checked());
  EXPECT_EQ(g_selectedBoardId, kNoBoardId);
  window->show();

  ASSERT_TRUE(PumpUntil([&] { return g_bBoardMatched == 1; })) << window->LinkText()->text().toStdString();
  ASSERT_TRUE(PumpUntil([&] { return !window->VersionText()->text().isEmpty(); }));
  EXPECT_EQ(window->LinkText()->text(), QString::fromUtf8(texts::kChipConnected));
  EXPECT_EQ(window->VersionText()->text(), QStringLiteral("Mcu code version:V1.3.0"));
  EXPECT_TRUE(window->RedDot()->isHidden());
  EXPECT_FALSE(window->GreenDot()->isHidden());
  EXPECT_TRUE(g_pRoundPage->BoardButton(dialogs::IDC_BOARD_QV6032)->Checked());
  EXPECT_FALSE(g_pRoundPage->BoardButton(dialogs::IDC_BOARD_QV6033)->Checked());
  {
    std::lock_guard lock(sleepMutex);
    EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), 1200u), 1);  // settle before the handshake
    EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), 500u), 2);   // the two connect pauses
  }
  uitest::GrabAndSave(window, QStringLiteral("main_identified"));

  app->SimulatedBoard()->Unplug();
  ASSERT_TRUE(PumpUntil([&] { return window->LinkText()->text() == QStringLiteral(" USB Hid device not found!"); }));
  EXPECT_FALSE(window->RedDot()->isHidden());
  EXPECT_TRUE(window->GreenDot()->isHidden());
  EXPECT_EQ(g_bDevicePresent, 0);
  EXPECT_EQ(g_bBoardMatched, 0);
  EXPECT_EQ(window->VersionText()->text(), QString());  // no board, no version
  uitest::GrabAndSave(window, QStringLiteral("main_unplugged"));

  app->SimulatedBoard()->Plug();
  ASSERT_TRUE(PumpUntil([&] { return g_bBoardMatched == 1; }));
  EXPECT_EQ(window->LinkText()->text(), QString::fromUtf8(texts::kChipConnected));
  EXPECT_FALSE(window->GreenDot()->isHidden());
  ASSERT_TRUE(PumpUntil([&] { return !window->VersionText()->text().isEmpty(); }));
  EXPECT_EQ(window->VersionText()->text(), QStringLiteral("Mcu code version:V1.3.0"));
  uitest::GrabAndSave(window, QStringLiteral("main_replugged"));
}

// The settle and connect pauses take their real length, on the event loop:
// the window is up and answers while they run.
class MainWindowPauseTest : public AppFixture {
 protected:
  bool RecordPauses() const override { return false; }
  sim::SimBoard& board() { return *app->SimulatedBoard(); }
  // Where each command first reached the board; -1 if it never did.
  int FirstDelivery(std::uint8_t cls, std::uint8_t cmd) {
    const auto delivered = board().Delivered();
    for (std::size_t i = 0; i < delivered.size(); ++i)
      if (delivered[i].cls == cls && delivered[i].cmd == cmd) return static_cast<int>(i);
    return -1;
  }
};

TEST_F(MainWindowPauseTest, TheWindowAnswersWhileTheBoardSettlesAndIsIdentified) {
  // The link is open but the board is still settling: the window is ready
  // and nothing has gone to the board yet.
  EXPECT_TRUE(board().Delivered().empty());
  window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window));

  // The handshake is answered; the board query waits for its pause. A click
  // that would send meanwhile is answered as before identification.
  ASSERT_TRUE(PumpUntil([] { return g_bDevicePresent == 1; }));
  EXPECT_EQ(FirstDelivery(64, 1), -1);
  QTest::mouseClick(window->BootButton(), Qt::LeftButton);
  ASSERT_NE(g_pBootDialog, nullptr);
  QTest::mouseClick(g_pBootDialog->Button(dialogs::IDC_BOOT_CONNECT), Qt::LeftButton);
  EXPECT_EQ(window->StatusLine()->text(), QString::fromUtf8(texts::kNotConnectedPresent));
  EXPECT_EQ(g_pCommunication.load()->FirmwareUpdate(), 0);
  g_pBootDialog->OnBnClickedOk();

  // Then the board is identified in the usual order.
  ASSERT_TRUE(PumpUntil([] { return g_bBoardMatched == 1; }, 8000));
  ASSERT_TRUE(PumpUntil([&] { return !window->VersionText()->text().isEmpty(); }, 3000));
  const int handshake = FirstDelivery(1, 1), address = FirstDelivery(64, 10), query = FirstDelivery(64, 1),
            version = FirstDelivery(1, 32);
  EXPECT_GE(handshake, 0);
  EXPECT_LT(handshake, address);
  EXPECT_LT(address, query);
  EXPECT_LT(query, version);

  // A re-plug does not stop the window either: the arrival is handled and the
  // handshake still waits for the board to settle.
  board().Unplug();
  ASSERT_TRUE(PumpUntil([] { return g_bDevicePresent == 0; }));
  board().ClearDelivered();
  board().Plug();
  ASSERT_TRUE(PumpUntil([] { return g_pCommunication.load()->Hid()->IsConnected(); }));
  EXPECT_EQ(FirstDelivery(1, 1), -1);
  ASSERT_TRUE(PumpUntil([] { return g_bBoardMatched == 1; }, 8000));
}

TEST_F(MainWindowPauseTest, NoNotConnectedNoticeWhileTheBoardIsBeingIdentified) {
  window->show();
  const QString absent = QString::fromUtf8(texts::kNotConnectedAbsent);
  const QString present = QString::fromUtf8(texts::kNotConnectedPresent);
  QStringList seen;
  ASSERT_TRUE(PumpUntil(
      [&] {
        if (window->StatusLine()->isVisible()) seen << window->StatusLine()->text();
        return g_bBoardMatched == 1;
      },
      8000));
  EXPECT_FALSE(seen.contains(absent)) << "the board was there all along";
  EXPECT_FALSE(seen.contains(present));
}

class NoBoardTest : public AppFixture {
 protected:
  bool PluggedAtStart() const override { return false; }
};

TEST_F(NoBoardTest, WithoutABoardTheNoticeRepeats) {
  window->show();
  // A value typed into the dial gives the LED board page brightness to
  // write, and there is no board to take it (the page's start values are not
  // written at all, and a click only selects an LED).
  gestures::TypeIntoDial(QStringLiteral("128"));
  ASSERT_TRUE(PumpUntil([&] {
    return window->StatusLine()->isVisible() &&
           window->StatusLine()->text() == QString::fromUtf8(texts::kNotConnectedAbsent);
  }, 2000)) << window->StatusLine()->text().toStdString();
  // Still the person's value: "not found" again and again is no board going.
  EXPECT_EQ(g_currentBrightness, 128);
}

// A board that stops answering: the window says the link failed, reconnects
// by itself, and gives up (asking for a re-plug) only when that does not help.
class LinkRecoveryTest : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    window->show();
    ASSERT_TRUE(PumpUntil([] { return g_bBoardMatched == 1; }));
    g_pCommunication.load()->Hid()->SetReportTap([this](bool out, const std::uint8_t* r, std::size_t) {
      if (!out) return;
      ++sent;
      const bool handshake = r[1] == 0x5A && r[2] == 0x5A && r[8] == 0 && r[14] == 1 && r[15] == 1;
      if (handshake && healOnHandshake) {
        app->SimulatedBoard()->SetFaults({});
        ++reconnects;
      }
    });
  }
  void TearDown() override {
    g_pCommunication.load()->Hid()->SetReportTap({});
    AppFixture::TearDown();
  }
  // Every frame from the board is lost from now on.
  void BoardStopsAnswering() {
    sim::SimFaults lost;
    lost.dropToHostPpm = 1'000'000;
    app->SimulatedBoard()->SetFaults(lost);
  }
  // What the LED board page's brightness writes do: an untimed register write.
  void WriteRegister(std::uint8_t reg, std::uint8_t value) {
    std::uint8_t record[kI2cRecordSize] = {1, g_i2cAddress.load(), reg, 1, 0, 0};
    ASSERT_EQ(SendI2cTransfer(kCmdWriteRegisters, record, &value), 1);
  }
  bool BandSaysLinkFailed() const { return window->LinkText()->text() == QString::fromUtf8(LinkStateText(kLinkFailed)); }

  std::atomic<bool> healOnHandshake{false};
  std::atomic<int> sent{0};
  std::atomic<int> reconnects{0};
};

TEST_F(LinkRecoveryTest, LostAcknowledgementsEndInAReconnectAndTheNextCommandWorks) {
  healOnHandshake = true;
  BoardStopsAnswering();
  WriteRegister(0x20, 0x33);
  ASSERT_TRUE(PumpUntil([&] { return reconnects == 1 && g_bBoardMatched == 1; }))
      << window->LinkText()->text().toStdString();
  EXPECT_EQ(window->LinkText()->text(), QString::fromUtf8(texts::kChipConnected));
  EXPECT_FALSE(window->StatusLine()->text().contains(QStringLiteral("frozen")));
  WriteRegister(0x20, 0x44);
  EXPECT_TRUE(PumpUntil([&] { return app->SimulatedBoard()->Register(0x20) == 0x44; }));
  EXPECT_TRUE(PumpUntil([] { return g_pCommunication.load()->Engine().GetStats().windowCount == 0; }));
}

TEST_F(LinkRecoveryTest, ABoardThatStaysSilentIsLeftForTheUserToReplug) {
  BoardStopsAnswering();
  WriteRegister(0x20, 0x33);
  // While the window still reconnects by itself nothing asks for a re-plug,
  // not even the pages' "not connected" notice; once it has given up, it does.
  std::vector<std::pair<QString, bool>> shown;  // status text, given up by then
  bool noticeAsked = false;
  auto* session = window->findChild<QtLampSession*>();
  ASSERT_NE(session, nullptr);
  QObject::connect(session, &QtLampSession::linkFailed, window, [&](bool givingUp) {
    if (givingUp || noticeAsked) return;
    window->ShowNotConnected();
    EXPECT_EQ(window->StatusLine()->text(), QString::fromUtf8(texts::kStatusLinkReconnecting));
    noticeAsked = true;
  });
  ASSERT_TRUE(PumpUntil([&] {
    const QString text = window->StatusLine()->isVisible() ? window->StatusLine()->text() : QString();
    if (!text.isEmpty() && (shown.empty() || shown.back().first != text)) shown.emplace_back(text, window->LinkGivenUp());
    return window->StatusLine()->isVisible() &&
           window->StatusLine()->text() == QString::fromUtf8(texts::kStatusLinkFailed);
  }, 10000)) << window->StatusLine()->text().toStdString();
  EXPECT_TRUE(noticeAsked);
  EXPECT_TRUE(window->LinkGivenUp());
  for (const auto& [text, givenUp] : shown) {
    if (!givenUp) EXPECT_FALSE(text.contains(QStringLiteral("plug"))) << text.toStdString();
  }
  EXPECT_TRUE(BandSaysLinkFailed());
  EXPECT_EQ(g_bBoardMatched, 0);
  EXPECT_FALSE(window->RedDot()->isHidden());
  EXPECT_FALSE(window->Target().IsTimerArmed(CQV512XX::kReplyTimer)) << "no 'mcu is frozen' later";
  uitest::GrabAndSave(window, QStringLiteral("main_link_gave_up"));
  // The pages' "not connected" notice says the same, not that no board is there.
  window->ShowNotConnected();
  EXPECT_EQ(window->StatusLine()->text(), QString::fromUtf8(texts::kStatusLinkFailed));
  // No more reconnects: nothing goes out any more.
  const int before = sent;
  Pump(1500);
  EXPECT_EQ(sent, before);

  // A re-plug brings it back.
  app->SimulatedBoard()->SetFaults({});
  app->SimulatedBoard()->Unplug();
  app->SimulatedBoard()->Plug();
  EXPECT_TRUE(PumpUntil([] { return g_bBoardMatched == 1; }));
}

// A lossy link loses answers as well as frames: the command was acknowledged,
// its answer never comes. Each step of the connect sequence is asked again,
// so the board is identified, and the window never claims that no board is
// there or that it is the wrong one while it does.
class LostAnswerTest : public AppFixture {
 protected:
  void Lose(std::uint8_t cls, std::uint8_t cmd, int count) {
    sim::SimFaults faults;
    faults.loseAnswers = {cls, cmd, count};
    app->SimulatedBoard()->SetFaults(faults);
  }
  // Runs until identified, noting every band text and notice shown meanwhile.
  bool IdentifiedWithoutFalseTexts(int timeoutMs) {
    QStringList seen;
    const bool identified = PumpUntil(
        [&] {
          seen << window->LinkText()->text();
          if (window->StatusLine()->isVisible()) seen << window->StatusLine()->text();
          return g_bBoardMatched == 1 && !window->VersionText()->text().isEmpty();
        },
        timeoutMs);
    for (const char* wrong : {" USB Hid device not found!", texts::kNotConnectedAbsent, texts::kTimeoutToConnect,
                              texts::kStatusMcuFrozen})
      EXPECT_FALSE(seen.mid(2).contains(QString::fromUtf8(wrong))) << wrong;
    return identified;
  }
  int Delivered(std::uint8_t cls, std::uint8_t cmd) {
    const auto delivered = app->SimulatedBoard()->Delivered();
    return static_cast<int>(std::count_if(delivered.begin(), delivered.end(),
                                          [&](const auto& d) { return d.cls == cls && d.cmd == cmd; }));
  }
};

TEST_F(LostAnswerTest, EachConnectStepWhoseAnswerIsLostIsAskedAgain) {
  const struct {
    std::uint8_t cls, cmd;  // the answer lost
    std::uint8_t askedCls, askedCmd;
  } steps[] = {{1, 2, 1, 1}, {64, 11, 64, 10}, {64, 2, 64, 1}, {1, 33, 1, 32}};
  for (const auto& s : steps) {
    SCOPED_TRACE(testing::Message() << int(s.cls) << "," << int(s.cmd));
    app->SimulatedBoard()->Unplug();
    ASSERT_TRUE(PumpUntil([] { return g_bDevicePresent == 0; }));
    app->SimulatedBoard()->ClearDelivered();
    Lose(s.cls, s.cmd, 2);
    const int asksBefore = Delivered(s.askedCls, s.askedCmd);
    app->SimulatedBoard()->Plug();
    window->show();
    EXPECT_TRUE(IdentifiedWithoutFalseTexts(15000)) << window->LinkText()->text().toStdString();
    // A lost answer that identification does not wait for is asked again too.
    EXPECT_TRUE(PumpUntil([&] { return Delivered(s.askedCls, s.askedCmd) - asksBefore >= 3; }, 6000));
  }
}
