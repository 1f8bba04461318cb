// The window (corvelgui --device PATH) on the hidraw stand-in: identified
// through the hidapi backend, and a dial change reaching the chip.
#include <QLineEdit>
#include <QTest>

#include "app/ChipRegistry.h"
#include "app/CorvelGUIApp.h"
#include "app/MainWindow.h"
#include "pages/BoardGlobals.h"
#include "pages/BrightnessDial.h"
#include "pages/LedLayoutPage.h"
#include "pages/RoundPage.h"
#include "platform/MessageBox.h"
#include "platform/Sleep.h"
#include "standin/StandInProcess.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/CMyEdit.h"
#include "ui/CMyRoundButton.h"
#include "ui/CMyStaticFont.h"

#include <gtest/gtest.h>

namespace {

class HidrawWindow : public ::testing::Test {
 protected:
  void Open(const std::string& path) {
    platform::SetSleepHook([](std::uint32_t) {});  // the settle and connect pauses are not what is tested
    platform::SetMessageBoxHook([](const std::string&, auto&&...) { return platform::MessageResult::Ok; });
    AppOptions options;
    options.devicePath = path;
    app = std::make_unique<CCorvelGUIApp>(options);
    ASSERT_TRUE(app->CreateObjects());
    window = g_pChip->Prepare(QVChip::kMainWindowChip);
    ASSERT_NE(window, nullptr);
    window->show();
  }
  void TearDown() override {
    if (app) app->DestroyObjects();
    app.reset();
    platform::SetSleepHook({});
    platform::SetMessageBoxHook({});
  }
  std::unique_ptr<CCorvelGUIApp> app;
  CQV512XX* window = nullptr;
};

TEST_F(HidrawWindow, IdentifiesTheBoardAndTheDialReachesTheChip) {
  if (const std::string why = StandInProcess::Unavailable(); !why.empty())
    GTEST_SKIP() << "The hidraw stand-in needs FUSE: " << why;
  StandInProcess standIn;
  ASSERT_FALSE(standIn.Path().empty()) << "the hidraw stand-in did not come up";
  Open(standIn.Path());
  ASSERT_TRUE(app->DeviceProblem().empty()) << app->DeviceProblem();
  ASSERT_TRUE(uitest::PumpUntil([] { return g_bBoardMatched == 1; }, 10000))
      << window->LinkText()->text().toStdString();
  ASSERT_TRUE(uitest::PumpUntil([&] { return !window->VersionText()->text().isEmpty(); }, 5000));
  EXPECT_EQ(window->VersionText()->text(), QStringLiteral("Mcu code version:V1.3.0"));

  QTest::mouseClick(g_pLayoutPage->LedButton(2), Qt::LeftButton, {}, QPoint(10, 10));
  ASSERT_TRUE(uitest::PumpUntil([] { return g_bClickPending == 0; }, 2000));
  auto* edit = g_pRoundPage->BrightnessPage()->ValueEdit();
  edit->setFocus();
  edit->selectAll();
  QTest::keyClicks(edit, QStringLiteral("128"));
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_TRUE(uitest::PumpUntil([&] { return standIn.Register(0x22) == 128; }, 5000));
  uitest::GrabAndSave(window, QStringLiteral("hidraw_window_dial_128"));

  // Unplugged, the band says so.
  standIn.Command("unplug");
  EXPECT_TRUE(uitest::PumpUntil(
      [&] { return window->LinkText()->text().startsWith(QStringLiteral(" USB Hid device not found!")); }, 5000))
      << window->LinkText()->text().toStdString();
}

TEST_F(HidrawWindow, AWrongDevicePathIsShownInTheBand) {
  Open("/nonexistent/hidraw9");
  EXPECT_EQ(app->DeviceProblem(), "No lamp board at /nonexistent/hidraw9: No such file or directory.");
  ASSERT_TRUE(uitest::PumpUntil(
      [&] { return window->LinkText()->text().contains(QStringLiteral("No lamp board at /nonexistent/hidraw9")); },
      5000))
      << window->LinkText()->text().toStdString();
  uitest::GrabAndSave(window, QStringLiteral("hidraw_window_wrong_path"));
}

}  // namespace
