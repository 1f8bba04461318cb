// The whole program on the simulated board for the benchmarks that measure
// the window and the link together: made once, shown, waited for until the
// board is identified.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>

#include <memory>

#include "app/ChipRegistry.h"
#include "app/CorvelGUIApp.h"
#include "app/MainWindow.h"
#include "board/BoardGlobals.h"
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

}  // namespace bench
