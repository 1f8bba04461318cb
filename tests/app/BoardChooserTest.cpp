// The window on a bench of two simulated boards: the caption band offers
// both, shows which one is linked, and links the other when it is picked,
// without a restart.
#include <QAction>
#include <QTest>

#include "app/BoardChooser.h"
#include "firmware/BootDialog.h"
#include "ui/CMyRectButton.h"
#include "link/MUSBHid.h"
#include "link/QVCommunication.h"
#include "tests/app/AppFixture.h"
#include "ui/CMyStaticFont.h"

class BoardChooserTest : public AppFixture {
 protected:
  std::vector<std::uint8_t> BenchIds() const override { return {1, 3}; }
};

TEST_F(BoardChooserTest, PicksOneOfSeveralBoardsAndSwitchesWithoutARestart) {
  window->show();
  BoardChooser* chooser = window->Chooser();
  ASSERT_NE(chooser, nullptr);
  ASSERT_TRUE(PumpUntil([&] { return g_bBoardMatched == 1; })) << window->LinkText()->text().toStdString();
  EXPECT_TRUE(chooser->isVisible());
  ASSERT_EQ(chooser->count(), 2);
  // Each with its chip once the window has identified it; a board never
  // linked has not said which chip it carries.
  EXPECT_EQ(chooser->itemText(0), QStringLiteral("QV6033 \u00B7 QVSIM0001"));
  EXPECT_EQ(chooser->itemText(1), QStringLiteral("QVSIM0002 (chip not known yet)"));
  // The first one found is linked, and the chooser says so.
  EXPECT_EQ(chooser->currentIndex(), 0);
  EXPECT_EQ(g_selectedBoardId, 1);

  // The update dialog names the board it is for.
  QTest::mouseClick(window->BootButton(), Qt::LeftButton);
  ASSERT_NE(g_pBootDialog, nullptr);
  EXPECT_EQ(g_pBootDialog->BoardLine()->text(), QStringLiteral("Board: QV6033 \u00B7 QVSIM0001"));
  g_pBootDialog->OnBnClickedOk();

  chooser->Choose(1);
  // The other board (id 3) is identified on the same window.
  ASSERT_TRUE(PumpUntil([&] { return g_bBoardMatched == 1 && g_selectedBoardId == 3; }))
      << window->LinkText()->text().toStdString();
  EXPECT_EQ(window->LinkText()->text(), QString::fromUtf8(texts::kChipConnected));
  EXPECT_EQ(chooser->currentIndex(), 1);
  EXPECT_EQ(g_pCommunication.load()->Hid()->DevicePath(), "sim:lamp-board/2");
  uitest::GrabAndSave(window, QStringLiteral("board_chooser"));

  // The simulated cable is the linked board's: pulled, that board goes (and
  // the other stays); plugged in again, it comes back.
  app->AddSimulationActions();
  const auto action = [&](const char* text) {
    for (QAction* a : window->actions())
      if (a->text() == QLatin1String(text)) return a;
    return static_cast<QAction*>(nullptr);
  };
  ASSERT_NE(action("Unplug simulated board"), nullptr);
  action("Unplug simulated board")->trigger();
  ASSERT_TRUE(PumpUntil([&] { return g_bDevicePresent == 0; })) << window->LinkText()->text().toStdString();
  EXPECT_EQ(chooser->count(), 1);
  EXPECT_EQ(chooser->itemText(0), QStringLiteral("QV6033 \u00B7 QVSIM0001")) << "the other board is still there";
  EXPECT_TRUE(chooser->isVisible()) << "and can be picked while the chosen one is away";
  EXPECT_EQ(chooser->currentIndex(), -1);
  // Not "not found": which board went, and that another can be chosen; the
  // chooser is not left blank.
  const QString went =
      QStringLiteral("QV6032 \u00B7 QVSIM0002 was unplugged: choose another board in the caption band, or plug it in again.");
  EXPECT_TRUE(PumpUntil([&] { return window->LinkText()->text() == QStringLiteral(" ") + went; }))
      << window->LinkText()->text().toStdString();
  EXPECT_EQ(chooser->placeholderText(), QString::fromUtf8(BoardChooser::kPlaceholder));
  uitest::GrabAndSave(window, QStringLiteral("board_chooser_linked_board_went"));
  // The update dialog's Connect says the same.
  QTest::mouseClick(window->BootButton(), Qt::LeftButton);
  ASSERT_NE(g_pBootDialog, nullptr);
  g_pBootDialog->OnBnClickedConnect();
  EXPECT_EQ(window->StatusLine()->text(), QStringLiteral("  \u26D4  ") + went);
  g_pBootDialog->OnBnClickedOk();
  action("Plug simulated board in")->trigger();
  ASSERT_TRUE(PumpUntil([&] { return g_bBoardMatched == 1 && g_selectedBoardId == 3; }))
      << window->LinkText()->text().toStdString();
  EXPECT_EQ(g_pCommunication.load()->Hid()->DevicePath(), "sim:lamp-board/2");

  // And back.
  chooser->Choose(0);
  ASSERT_TRUE(PumpUntil([&] { return g_bBoardMatched == 1 && g_selectedBoardId == 1; }));
  EXPECT_EQ(chooser->currentIndex(), 0);
}

// One board: nothing to choose, nothing shown.
class OneBoardChooserTest : public AppFixture {};

TEST_F(OneBoardChooserTest, IsHiddenWithOneBoard) {
  window->show();
  ASSERT_TRUE(PumpUntil([&] { return g_bBoardMatched == 1; }));
  EXPECT_FALSE(window->Chooser()->isVisible());
}

// The board linked at start, never picked, is the chosen one all the same:
// pulled, the window waits for it and offers the other instead of linking
// whichever board is left without being asked.
TEST_F(BoardChooserTest, TheBoardLinkedAtStartIsNotSwappedForTheOtherWhenItGoes) {
  window->show();
  ASSERT_TRUE(PumpUntil([&] { return g_bBoardMatched == 1; })) << window->LinkText()->text().toStdString();
  ASSERT_EQ(g_selectedBoardId, 1);
  app->AddSimulationActions();
  const auto trigger = [&](const char* text) {
    for (QAction* a : window->actions())
      if (a->text() == QLatin1String(text)) a->trigger();
  };
  trigger("Unplug simulated board");
  ASSERT_TRUE(PumpUntil([&] { return g_bDevicePresent == 0; })) << window->LinkText()->text().toStdString();
  // Given the time a link takes to come up, nothing else is linked.
  Pump(3000);
  EXPECT_EQ(g_bDevicePresent, 0) << window->LinkText()->text().toStdString();
  EXPECT_EQ(window->Chooser()->currentIndex(), -1);
  trigger("Plug simulated board in");
  ASSERT_TRUE(PumpUntil([&] { return g_bBoardMatched == 1; })) << window->LinkText()->text().toStdString();
  EXPECT_EQ(g_pCommunication.load()->Hid()->DevicePath(), "sim:lamp-board/1");
}
