#include "link/QVCommunication.h"
#include "resources/dialogs/RoundPageDialog.h"
#include "tests/app/AppFixture.h"
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
  uitest::GrabAndSave(window, QStringLiteral("main_unplugged"));

  app->SimulatedBoard()->Plug();
  ASSERT_TRUE(PumpUntil([&] { return g_bBoardMatched == 1; }));
  EXPECT_EQ(window->LinkText()->text(), QString::fromUtf8(texts::kChipConnected));
  EXPECT_FALSE(window->GreenDot()->isHidden());
  uitest::GrabAndSave(window, QStringLiteral("main_replugged"));
}
