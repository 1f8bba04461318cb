// The simulated chip's sixteen pins, in the register window of --simulate:
// one button per pin sets what is outside it (high or low), and under it the
// pin as the chip has it now (LED, input or output, and its level). Driving an
// input whose interrupt is enabled makes the board report an interrupt, so a
// person can try the GPIO input page and the interrupt indicator without a
// board on the desk.
#pragma once

#include <QGroupBox>
#include <array>

class QAbstractButton;
class QLabel;
class QTimer;
namespace sim {
class SimBoard;
}

class SimPinPanel : public QGroupBox {
  Q_OBJECT
 public:
  static constexpr int kRefreshMs = 100;

  SimPinPanel(sim::SimBoard& board, QWidget* parent);

  void Refresh();
  // Pin 8 * port + n is Pport_n.
  QAbstractButton* DriveButton(int pin) const;
  QLabel* StateLabel(int pin) const;

 private:
  sim::SimBoard& m_board;
  std::array<QAbstractButton*, 16> m_drive{};
  std::array<QLabel*, 16> m_state{};
  QTimer* m_timer = nullptr;
};
