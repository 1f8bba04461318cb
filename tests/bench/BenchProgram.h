// The whole program on the simulated board for the benchmarks that measure
// the window and the link together: made once, shown, waited for until the
// board is identified.
#pragma once

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>

#include <memory>

#include "app/ChipRegistry.h"
#include "app/CorvelGUIApp.h"
#include "app/MainWindow.h"
#include "pages/BoardGlobals.h"
#include "sim/SimBoard.h"

namespace bench {

struct Program {
  std::unique_ptr<CCorvelGUIApp> app;
  CQV512XX* window = nullptr;
  sim::SimBoard* board = nullptr;
};

inline Program& Running() {
  static Program p = [] {
    Program p;
    AppOptions options;
    options.simulateBoardId = 1;
    p.app = std::make_unique<CCorvelGUIApp>(options);
    p.app->CreateObjects();
    p.window = g_pChip->Prepare(QVChip::kMainWindowChip);
    p.window->show();
    p.board = p.app->SimulatedBoard();
    QElapsedTimer t;
    t.start();
    while (g_bBoardMatched != 1 && t.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return p;
  }();
  return p;
}

// The main() of such a benchmark: Qt without a display unless one is asked
// for, the benchmarks, then the program torn down in order.
inline int RunWithProgram(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication qt(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (Running().app) Running().app->DestroyObjects();
  return 0;
}

}  // namespace bench
