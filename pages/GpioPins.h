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
#include "pages/PageHost.h"

class CRound_LED_Layout;

// Per pin, 1 = "Disable" chosen on the input page, 0 = "Enable". Zeroed when
// an input page initialises.
extern std::array<std::uint8_t, chip::kMaxPins> g_interruptDisabled;
// Per pin, 1 = "high-level" chosen on the output page, 0 = "low-level".
// Zeroed when an output page initialises.
extern std::array<std::uint8_t, chip::kMaxPins> g_outputHigh;

namespace gpio {

inline constexpr QRgb kMarkedPin = qRgb(255, 120, 120);

inline constexpr std::array<std::uint8_t, chip::kMaxPins> kNoMarks{};

// g_ledColors of pins 0..15 from `marks` (1: marked, anything else: no mark),
// then `drawing` (when there is one) redrawn. What the LED board page does
// when a GPIO page asks it to mark pins.
void ColourPins(CRound_LED_Layout* drawing, std::span<const std::uint8_t, chip::kMaxPins> marks, Redraw redraw);

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
