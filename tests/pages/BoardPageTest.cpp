#include <QComboBox>

#include "chip/ChipAccess.h"
#include "link/CommandSet.h"
#include "link/LinkHost.h"
#include "platform/Messages.h"
#include "resources/dialogs/RoundPageDialog.h"
#include "tests/pages/PageBoardFixture.h"
#include "ui/CMyComboBox.h"
#include "ui/CMyRectButton.h"
#include "ui/CMyStaticFont.h"

using namespace dialogs;

// The LED board page on an identified simulated board.
class BoardPageTest : public PageBoardFixture {
 protected:
  // Waits until the board has carried out `count` register writes.
  std::vector<sim::DeliveredCommand> Writes(std::size_t count) {
    PumpUntil([&] { return Carried(16, 3).size() >= count; }, 3000);
    Pump(50);
    return Carried(16, 3);
  }
};

TEST_F(BoardPageTest, PendingBrightnessIsWrittenOnceAfterTheEffectControl) {
  for (int i = 0; i < 6; ++i) g_ledBrightness[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(10 + i);
  g_bBrightnessPending = 1;
  g_pRoundPage->OnTimer(CRound::kBrightnessTimer);
  const auto writes = Writes(2);
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0].payload, (std::vector<std::uint8_t>{1, 0x5B, 0x14, 1, 4, 0, 0x00}));
  EXPECT_EQ(writes[1].payload, (std::vector<std::uint8_t>{1, 0x5B, 0x20, 6, 4, 0, 10, 11, 12, 13, 14, 15}));
  EXPECT_EQ(board().Register(0x25), 15);
  EXPECT_EQ(g_bBrightnessPending, 0);

  board().ClearDelivered();
  g_pRoundPage->OnTimer(CRound::kBrightnessTimer);  // nothing changed: nothing written
  Pump(200);
  EXPECT_TRUE(Carried(16, 3).empty());
}

TEST_F(BoardPageTest, WritesNeedAnIdentifiedBoard) {
  g_bBoardMatched = 0;
  const std::uint8_t zero = 0;
  chip::WriteChipRegisters(0x14, std::span(&zero, 1));
  g_bBrightnessPending = 1;
  g_pRoundPage->OnTimer(CRound::kBrightnessTimer);
  Pump(200);
  EXPECT_TRUE(Carried(16, 3).empty());
  EXPECT_EQ(g_bBrightnessPending, 1);  // kept, so the notice repeats
  EXPECT_GE(host->notConnected, 1);
}

TEST_F(BoardPageTest, AcknowledgedModeWriteIsFollowedByTheEffectControl) {
  CPage brightness;  // the dial exists: the relay goes to the LED board page
  g_pBrightnessPage = &brightness;
  host->OnMessage(platform::Message{
      platform::kMsgRegisterWritten, 0,
      std::make_shared<const platform::BytesPayload>(std::vector<std::uint8_t>{1, 0x5B, 0x12, 2, 4, 0, 0, 0})});
  const auto writes = Writes(1);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].payload, (std::vector<std::uint8_t>{1, 0x5B, 0x14, 1, 4, 0, 0x00}));

  board().ClearDelivered();  // a write of another register asks for nothing
  host->OnMessage(platform::Message{
      platform::kMsgRegisterWritten, 0,
      std::make_shared<const platform::BytesPayload>(std::vector<std::uint8_t>{1, 0x5B, 0x20, 1, 4, 0, 9})});
  Pump(200);
  EXPECT_TRUE(Carried(16, 3).empty());
  g_pBrightnessPage = nullptr;
}

TEST_F(BoardPageTest, AddressAndSpeedCombos) {
  struct Case {
    int index;
    std::uint8_t address;
  };
  for (const Case& c : {Case{0, 0x58}, Case{1, 0x59}, Case{2, 0x5A}, Case{3, 0x5B}}) {
    board().ClearDelivered();
    g_pRoundPage->AddressCombo()->setCurrentIndex(c.index);
    ASSERT_TRUE(PumpUntil([&] { return !Carried(64, 10).empty(); }, 2000)) << c.index;
    EXPECT_EQ(Carried(64, 10)[0].payload, std::vector<std::uint8_t>{c.address});
    EXPECT_EQ(g_i2cAddress.load(), c.address);
    EXPECT_EQ(board().ChipAddress(), c.address);
  }
  board().ClearDelivered();
  g_pRoundPage->AddressCombo()->setCurrentIndex(3);  // not a new selection
  Pump(200);
  EXPECT_TRUE(Carried(64, 10).empty());

  g_pRoundPage->SpeedCombo()->setCurrentIndex(1);
  EXPECT_EQ(g_i2cSpeed.load(), kI2cSpeed1M);
  g_pRoundPage->SpeedCombo()->setCurrentIndex(0);
  EXPECT_EQ(g_i2cSpeed.load(), kI2cSpeed400K);
}

TEST_F(BoardPageTest, SwitchingToALargerBoardResetsOnlyTheLedsOfTheOldOne) {
  g_bBoardMatched = 0;
  g_ledBrightness.fill(0x10);
  ASSERT_EQ(g_ledCount, 6);
  g_pRoundPage->SelectChipBoard(IDC_BOARD_QV6031);
  EXPECT_EQ(g_ledCount, 16);
  EXPECT_EQ(g_selectedBoardId, 0);
  EXPECT_EQ(g_boardKind, kBoardKindSelected);
  for (int i = 0; i < 16; ++i)
    EXPECT_EQ(g_ledBrightness[static_cast<std::size_t>(i)], i < 6 ? 0xFF : 0x10) << "LED " << i;
  EXPECT_TRUE(g_pRoundPage->SpeedCombo()->isHidden());
  g_pRoundPage->SelectChipBoard(IDC_BOARD_QV6035);
  EXPECT_FALSE(g_pRoundPage->SpeedCombo()->isHidden());  // only this board chooses the bus speed
}

class BoardPage128Test : public BoardPageTest {
 protected:
  std::uint8_t BoardId() const override { return 128; }
};

TEST_F(BoardPage128Test, SixteenLedBoardFoundThroughItsHiddenButtonWritesSixteenRegisters) {
  EXPECT_EQ(g_selectedBoardId, 128);
  EXPECT_EQ(g_ledCount, 16);
  // The board's chip is named where the other boards' buttons name theirs.
  auto* named = g_pRoundPage->BoardButton(dialogs::IDC_BOARD_QV6034);
  EXPECT_TRUE(named->isVisible());
  EXPECT_EQ(named->text(), QStringLiteral("QV6034"));
  EXPECT_TRUE(named->Checked());
  uitest::GrabAndSave(host.get(), QStringLiteral("board_128_identified"));
  g_bBrightnessPending = 1;
  g_pRoundPage->OnTimer(CRound::kBrightnessTimer);
  const auto writes = Writes(2);
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[1].payload[kI2cFirstRegister], 0x20);
  EXPECT_EQ(writes[1].payload[kI2cCount], 16);
  EXPECT_EQ(writes[1].payload.size(), 6u + 16u);
}

// A dial value after a quiet spell goes to the chip at once, without waiting
// for a tick; values within the next tick are gathered and the tick writes
// the last of them: never more than one write per tick, none lost.
TEST_F(BoardPageTest, AFirstDialChangeIsWrittenAtOnceAndLaterOnesByTheTick) {
  Pump(150);  // the start's own writes are out, a tick ago
  board().ClearDelivered();
  const auto reg = static_cast<std::uint8_t>(0x20 + g_selectedLed);

  g_currentBrightness = 77;
  QCoreApplication::sendPostedEvents();  // posted work only: no timer runs
  EXPECT_EQ(g_ledBrightnessSent[static_cast<std::size_t>(g_selectedLed)], 77) << "written without a tick";
  EXPECT_EQ(g_bBrightnessPending, 0);
  EXPECT_TRUE(g_pRoundPage->Timers().IsTimerArmed(CRound::kBrightnessTimer));

  g_currentBrightness = 78;
  g_currentBrightness = 79;
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(g_bBrightnessPending, 1) << "gathered for the tick";
  g_pRoundPage->OnTimer(CRound::kBrightnessTimer);
  EXPECT_EQ(g_bBrightnessPending, 0);

  ASSERT_TRUE(PumpUntil([&] { return board().Register(reg) == 79; }, 3000));
  std::vector<std::uint8_t> written;
  for (const auto& w : Carried(16, 3))
    if (w.payload.size() > 6 + g_selectedLed && w.payload[2] == 0x20)
      written.push_back(w.payload[6 + static_cast<std::size_t>(g_selectedLed)]);
  EXPECT_EQ(written, (std::vector<std::uint8_t>{77, 79}));
}
