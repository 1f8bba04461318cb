// A window beside the main one, with --simulate only: the simulated chip's
// registers as the chip holds them now, so that a person can see what the
// pages wrote. It reads the simulated board directly (not over the link) and
// refreshes itself ten times a second; a value that just changed is marked.
// Under the registers, the chip's pins, which a person can drive.
#pragma once

#include <QWidget>
#include <array>
#include <chrono>
#include <cstdint>

class QTableWidget;
class SimPinPanel;
class QTimer;
namespace sim {
class SimBoard;
}

class SimRegisterPanel : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kRefreshMs = 100;
  static constexpr int kHighlightMs = 1500;

  SimRegisterPanel(sim::SimBoard& board, QWidget* parent);

  // Reads every register again and updates the rows.
  void Refresh();
  QTableWidget* Table() const { return m_table; }
  SimPinPanel* Pins() const { return m_pins; }
  sim::SimBoard& Board() const { return m_board; }
  // The row of a register, or -1.
  int RowOf(std::uint8_t reg) const;

 protected:
  void showEvent(QShowEvent* event) override;
  void moveEvent(QMoveEvent* event) override;

 private:
  // The whole window, frame and title included, inside the work area of its
  // screen: a panel that runs off the screen's foot hides its pin panel.
  void FitWithinWorkArea();

  sim::SimBoard& m_board;
  QTableWidget* m_table = nullptr;
  SimPinPanel* m_pins = nullptr;
  QTimer* m_timer = nullptr;
  bool m_refitWithFrame = false;
  std::array<int, 256> m_last{};  // -1: not read yet
  std::array<std::chrono::steady_clock::time_point, 256> m_changed{};
};
