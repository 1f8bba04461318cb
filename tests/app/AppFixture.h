// The application's long-lived objects on a simulated board, with the main
// window prepared (initialised, not run modally): the test drives it by
// handing it messages and timers, or lets the real link run and pumps events.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <mutex>
#include <vector>

#include "app/ChipRegistry.h"
#include "app/CorvelGUIApp.h"
#include "app/MainWindow.h"
#include "pages/BoardGlobals.h"
#include "pages/RoundPage.h"
#include "link/QVCommunication.h"
#include "platform/MessageBox.h"
#include "platform/Sleep.h"
#include "sim/SimBoard.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/Scaling.h"

class AppFixture : public ::testing::Test {
 protected:
  // Board id of the simulated board; plugged in unless said otherwise.
  virtual std::uint8_t BoardId() const { return 1; }
  // Several ids: a bench of simulated boards (the first is BoardId's place).
  virtual std::vector<std::uint8_t> BenchIds() const { return {}; }
  virtual bool PluggedAtStart() const { return true; }
  virtual QRect WorkArea() const { return QRect(0, 0, 1920, 1040); }
  // Pauses are recorded and skipped unless said otherwise; then they run their
  // real length on the event loop.
  virtual bool RecordPauses() const { return true; }

  void SetUp() override {
    CQV512XX::s_workArea = [this] { return WorkArea(); };
    CQV512XX::s_restart = [this] { ++restarts; };
    CQV512XX::s_cursorPos = [this] { return cursor; };
    if (RecordPauses()) {
      platform::SetSleepHook([this](std::uint32_t ms) {
        std::lock_guard lock(sleepMutex);
        sleeps.push_back(ms);
      });
    }
    AppOptions options;
    options.simulateBoardId = BoardId();
    options.simulateBoardIds = BenchIds();
    options.simFaults = {};  // a board that answers at once: the tests stay fast
    app = std::make_unique<CCorvelGUIApp>(options);
    ASSERT_TRUE(app->CreateObjects());
    platform::SetMessageBoxHook([this](const std::string& text, auto&&...) {
      boxes.push_back(text);
      return platform::MessageResult::Ok;
    });
    if (!PluggedAtStart()) app->SimulatedBoard()->Unplug();
    window = g_pChip->Prepare(QVChip::kMainWindowChip);
    ASSERT_NE(window, nullptr);
  }

  void TearDown() override {
    app->DestroyObjects();
    app.reset();
    platform::SetSleepHook({});
    platform::SetMessageBoxHook({});
  }

  // Runs the event loop until `done` holds or the time is up.
  template <typename Pred>
  bool PumpUntil(Pred done, int timeoutMs = 5000) {
    return uitest::PumpUntil(done, timeoutMs);
  }
  void Pump(int ms) {
    PumpUntil([] { return false; }, ms);
  }

  std::unique_ptr<CCorvelGUIApp> app;
  CQV512XX* window = nullptr;
  std::vector<std::string> boxes;
  std::mutex sleepMutex;
  std::vector<std::uint32_t> sleeps;
  QPoint cursor{-10000, -10000};
  int restarts = 0;
};
