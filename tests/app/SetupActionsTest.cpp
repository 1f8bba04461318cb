// "Save setup…" and "Load setup…" on the simulated board: what is saved comes
// back on the chip and on the pages after a reset, a bad file writes nothing,
// and loading stops at the first write the board does not confirm.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QTemporaryDir>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "app/SetupActions.h"
#include "chip/RegisterJournal.h"
#include "chip/RegisterMap.h"
#include "pages/BoardGlobals.h"
#include "pages/RoundPage.h"
#include "pages/BlinkMode.h"
#include "platform/FileDialog.h"
#include "resources/dialogs/EffectModeDialogs.h"
#include "resources/dialogs/RoundPageDialog.h"
#include "setup/Setup.h"
#include "tests/app/IdentifiedBoardFixture.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/BitmapButton.h"
#include "ui/CMyComboBox.h"
#include "ui/CMyEdit.h"
#include "ui/CMyRectButton.h"
#include "ui/CMyStaticFont.h"

namespace {

class SetupActionsTest : public IdentifiedBoardFixture {
 protected:
  void SetUp() override {
    IdentifiedBoardFixture::SetUp();
    actions = window->findChild<CSetupActions*>();
    ASSERT_NE(actions, nullptr);
  }
  void TearDown() override {
    platform::SetSaveFileDialogHook({});
    platform::SetOpenFileDialogHook({});
    IdentifiedBoardFixture::TearDown();
  }
  std::string File(const std::string& name, const std::string& text) {
    const std::string path = dir.filePath(QString::fromStdString(name)).toStdString();
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  bool Loaded() {
    return PumpUntil([this] { return !actions->Loading(); });
  }

  QTemporaryDir dir;
  CSetupActions* actions = nullptr;
};

TEST_F(SetupActionsTest, WhatIsSavedComesBackAfterAResetOnTheChipAndThePages) {
  CRound* page = g_pRoundPage;
  page->ModeBox(dialogs::IDC_MODE_LED)->click();
  page->CurrentEdit()->setText(QStringLiteral("25"));
  auto* blink = qobject_cast<BlinkMode*>(g_pBlinkMode);
  blink->TimeCombo(dialogs::IDC_BLINK_RAMP_ON)->setCurrentIndex(1);
  blink->TimeCombo(dialogs::IDC_BLINK_RAMP_OFF)->setCurrentIndex(3);
  g_currentBrightness = 77;  // the dial, for LED 0
  ASSERT_TRUE(RegisterBecomes(0x20, 77));
  ASSERT_TRUE(RegisterBecomes(0x15, 0x19));
  ASSERT_TRUE(RegisterBecomes(0x11, 0x01));

  std::string suggested;
  const std::string path = dir.filePath(QStringLiteral("bench.json")).toStdString();
  platform::SetSaveFileDialogHook([&](const std::string&, const std::string& title, const std::string& name) {
    EXPECT_EQ(title, "Save setup");
    suggested = name;
    return std::optional<std::string>(path);
  });
  ASSERT_TRUE(actions->SaveSetup());
  EXPECT_EQ(suggested, QDir::home().filePath(QStringLiteral("setup-qv6033.json")).toStdString());
  std::string error;
  const auto saved = setup::LoadSetupFile(path, error);
  ASSERT_TRUE(saved) << error;
  EXPECT_EQ(saved->mode, setup::PinMode::kLed);
  EXPECT_EQ(saved->maxCurrentMa, 25);
  EXPECT_EQ(saved->rampTimes, (setup::TimePair{1, 3}));
  EXPECT_EQ(saved->brightness, (std::vector<std::uint8_t>{77, 255, 255, 255, 255, 255}));
  std::array<std::uint8_t, 0x30> before{};
  for (int r = 0; r < 0x30; ++r) before[static_cast<std::size_t>(r)] = board().Register(static_cast<std::uint8_t>(r));

  // The chip and the pages start over.
  page->ResetButton()->click();
  ASSERT_TRUE(RegisterBecomes(0x20, 0));
  ASSERT_FALSE(page->ModeBox(dialogs::IDC_MODE_LED)->isChecked());

  std::string folder;
  platform::SetOpenFileDialogHook([&](const std::string&, const std::string& title) {
    EXPECT_EQ(title, "Load setup");
    folder = platform::OpenFileDialogFolder();
    return std::optional<std::string>(path);
  });
  board().ClearDelivered();
  ASSERT_TRUE(actions->LoadSetup());
  EXPECT_EQ(folder, dir.path().toStdString());  // where the last setup went
  ASSERT_TRUE(Loaded());
  EXPECT_TRUE(boxes.empty()) << boxes.front();
  ASSERT_TRUE(RegisterBecomes(0x20, 77));
  for (int r = 0; r < 0x30; ++r)
    EXPECT_EQ(board().Register(static_cast<std::uint8_t>(r)), before[static_cast<std::size_t>(r)]) << "register " << r;
  // The mode first, the brightness block last, each after the one before.
  // (The page adds a 0x00 to 0x14 of its own once it hears the mode was
  // written, and its LED box repeats the mode afterwards.)
  const std::vector<RegisterWrite> expected{{0x12, {0x00, 0x00}}, {0x14, {0x00}}, {0x11, {0x01}},
                                            {0x15, {0x19}},       {0x14, {0x00}}, {0x20, {77, 255, 255, 255, 255, 255}}};
  const auto writes = RegisterWrites();
  std::size_t matched = 0;
  for (const auto& w : writes)
    if (matched < expected.size() && w == expected[matched]) ++matched;
  EXPECT_EQ(matched, expected.size());
  EXPECT_EQ(writes.front(), expected.front());

  EXPECT_TRUE(page->ModeBox(dialogs::IDC_MODE_LED)->isChecked());
  EXPECT_EQ(page->CurrentEdit()->text(), QStringLiteral("25"));
  EXPECT_EQ(g_ledBrightness[0], 77);
  ASSERT_TRUE(PumpUntil([] {
    auto* b = qobject_cast<BlinkMode*>(g_pBlinkMode);
    return b && b->TimeCombo(dialogs::IDC_BLINK_RAMP_OFF)->currentText() == QStringLiteral("1260ms");
  }));
  Pump(300);
  uitest::GrabAndSave(window, QStringLiteral("window_setup_loaded"));
}

TEST_F(SetupActionsTest, ABadFileIsRefusedWithItsFieldNamedAndNothingWritten) {
  struct Case {
    std::string text;
    const char* says;
  };
  const Case cases[] = {
      {R"({"format": "corvel-setup", "version": 2, "board_id": 1})", "version: the file is of format version 2"},
      {R"({"format": "corvel-setup", "version": 1, "board_id": 1, "brightness": [1, 2, 3, 4, 5, 256]})",
       "brightness[5]: 256 is out of range 0..255"},
      {R"({"format": "corvel-setup", "version": 1, "board_id": 0, "max_current_ma": 20})",
       "is for the QV6031 (board 0); the board attached is the QV6033 (board 1). Nothing was written."},
      {R"({"format": "corvel-setup", "version": 1, "board_id": 1, "max_cur)", "damaged: not valid JSON"},
  };
  for (const Case& c : cases) {
    boxes.clear();
    board().ClearDelivered();
    EXPECT_FALSE(actions->LoadSetupFrom(File("bad.json", c.text)));
    ASSERT_EQ(boxes.size(), 1u) << c.says;
    EXPECT_NE(boxes[0].find(c.says), std::string::npos) << boxes[0];
    Pump(150);
    EXPECT_TRUE(RegisterWrites().empty()) << c.says;
  }
}

TEST_F(SetupActionsTest, LoadingStopsAtTheFirstWriteTheBoardRefuses) {
  // The board will not move the chip to the file's address: every write to
  // that address is refused, the first one stops the load.
  sim::SimFaults faults;
  faults.refuseAddress = true;
  board().SetFaults(faults);
  const auto path = File("elsewhere.json", R"({"format": "corvel-setup", "version": 1, "board_id": 1,
      "i2c": {"address": "0x5A"}, "pins": {"mode": "led"}, "max_current_ma": 30})");
  ASSERT_TRUE(actions->LoadSetupFrom(path));
  ASSERT_TRUE(Loaded());
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0],
            "Loading the setup stopped at step 1 of 3 (0x12 <- 0x00 0x00, pins drive LEDs): the board did not "
            "confirm it. Nothing was written.");
  EXPECT_NE(board().Register(0x11), 0x01);
}

}  // namespace

// A setup in LED mode with GPIO fields: they do nothing while the pins
// drive LEDs, so they are not written, and the person is told which and why
// rather than finding them gone from the next save.
TEST_F(SetupActionsTest, FieldsALedModeSetupDoesNotWriteAreNamed) {
  const std::string path = File("led-with-gpio.json", R"({
    "format": "corvel-setup", "version": 1, "board": "QV6033", "board_id": 1,
    "pins": { "mode": "led", "direction": "output" },
    "max_current_ma": 25,
    "gpio": { "interrupt_disabled": [0, 5], "output_high": [3] }
  })");
  board().ClearDelivered();
  ASSERT_TRUE(actions->LoadSetupFrom(path));
  ASSERT_TRUE(Loaded());
  for (const auto& w : RegisterWrites())
    EXPECT_TRUE(w.first != 0x04 && w.first != 0x06 && w.first != 0x02) << "wrote register " << int(w.first);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], "led-with-gpio.json: pins.direction, gpio.interrupt_disabled and gpio.output_high were not "
                      "written: the setup puts the pins in LED mode, where GPIO settings do nothing.");

  // The next save holds what the chip got, and nothing it did not.
  const std::string saved = dir.filePath(QStringLiteral("saved.json")).toStdString();
  platform::SetSaveFileDialogHook([&](auto&&...) { return std::optional<std::string>(saved); });
  ASSERT_TRUE(actions->SaveSetup());
  std::string error;
  const auto back = setup::LoadSetupFile(saved, error);
  ASSERT_TRUE(back) << error;
  EXPECT_EQ(back->mode, setup::PinMode::kLed);
  EXPECT_EQ(back->maxCurrentMa, 25);
  EXPECT_FALSE(back->direction);
  EXPECT_FALSE(back->interruptDisabled);
  EXPECT_FALSE(back->outputHigh);
}

namespace {

// A recording to a .py file is a Python script on the corvel module: its
// head opens the board named on its command line, and each action is the
// module's call for it (the replay itself is compared with corvelctl's in
// the module's tests).
TEST_F(SetupActionsTest, ARecordingToAPyFileIsAPythonScript) {
  const std::string path = dir.filePath(QStringLiteral("replay.py")).toStdString();
  ASSERT_TRUE(actions->StartRecording(path));
  g_pRoundPage->ModeBox(dialogs::IDC_MODE_GPIO)->click();
  ASSERT_TRUE(PumpUntil([] { return chip::Journal().Known(chip::kRegMode) == std::uint8_t{0xFF}; }));
  actions->StopRecording();
  std::ifstream in(path);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text.rfind("#!/usr/bin/env python3\n", 0), 0u) << text;
  EXPECT_NE(text.find("with corvel.open(sim=args.sim, serial=args.serial, device=args.device) as board:\n"),
            std::string::npos) << text;
  EXPECT_NE(text.find("\n    board.chip_address = 0x5B\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\n    board.mode = \"gpio\"\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("corvelctl batch"), std::string::npos) << text;
  EXPECT_EQ(std::system(("/usr/bin/python3 -m py_compile '" + path + "'").c_str()), 0) << text;
}

}  // namespace
