// What the two GPIO pages share: their per-pin choices, and the way they show
// them by colouring the pins on the board drawing.
#pragma once

#include <QColor>
#include <QObject>
#include <array>
#include <cstdint>
#include <functional>
#include <span>

#include "chip/RegisterMap.h"

// Per pin, 1 = "Disable" chosen on the input page, 0 = "Enable". Zeroed when
// an input page initialises.
extern std::array<std::uint8_t, chip::kMaxPins> g_interruptDisabled;
// Per pin, 1 = "high-level" chosen on the output page, 0 = "low-level".
// Zeroed when an output page initialises.
extern std::array<std::uint8_t, chip::kMaxPins> g_outputHigh;

namespace gpio {

inline constexpr QRgb kMarkedPin = qRgb(255, 120, 120);

enum class Redraw {
  kPlain,         // every pin in its colour, the selection marks as they are
  kMarkSelected,  // every pin unselected, then the selected pin marked
};
// g_ledColors of pins 0..15 from `marks` (1: marked, anything else: no mark),
// then the drawing redrawn.
void ColourPins(std::span<const std::uint8_t, chip::kMaxPins> marks, Redraw redraw);
void ClearPinColours();

// The pin the pages act on (the one selected on the drawing), or -1 when the
// selection names none of the sixteen.
int SelectedPin();

// Calls `pressed` when the left mouse button goes down on the watched widget,
// before the widget itself handles the press (a combo box opens its list
// after it).
class LeftPressWatcher : public QObject {
 public:
  LeftPressWatcher(QWidget* watched, std::function<void()> pressed);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::function<void()> m_pressed;
};

}  // namespace gpio
