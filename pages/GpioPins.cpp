#include "pages/GpioPins.h"

#include <QEvent>
#include <QMouseEvent>
#include <QWidget>

#include <algorithm>

#include "pages/BoardGlobals.h"
#include "pages/LedLayoutPage.h"
#include "ui/CMyRoundButton.h"

std::array<std::uint8_t, chip::kMaxPins> g_interruptDisabled{};
std::array<std::uint8_t, chip::kMaxPins> g_outputHigh{};

namespace gpio {

void ColourPins(std::span<const std::uint8_t, chip::kMaxPins> marks, Redraw redraw) {
  for (std::size_t i = 0; i < marks.size(); ++i)
    g_ledColors[i] = marks[i] == 1 ? QColor::fromRgb(kMarkedPin) : QColor(0, 0, 0);
  if (!g_pLayoutPage) return;
  if (redraw == Redraw::kMarkSelected) {
    g_pLayoutPage->RefreshLedsMarkSelected();
    return;
  }
  const int count = std::clamp(g_ledCount, 0, chip::kMaxPins);
  for (int i = 0; i < count; ++i)
    if (CMyRoundButton* pin = g_pLayoutPage->LedButton(i)) pin->SetButtonColor(g_ledColors[static_cast<std::size_t>(i)]);
}

void ClearPinColours() {
  constexpr std::array<std::uint8_t, chip::kMaxPins> none{};
  ColourPins(none, Redraw::kPlain);
}

int SelectedPin() { return g_selectedLed >= 0 && g_selectedLed < chip::kMaxPins ? g_selectedLed : -1; }

LeftPressWatcher::LeftPressWatcher(QWidget* watched, std::function<void()> pressed)
    : QObject(watched), m_pressed(std::move(pressed)) {
  watched->installEventFilter(this);
}

bool LeftPressWatcher::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonPress && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
      m_pressed)
    m_pressed();
  return QObject::eventFilter(watched, event);
}

}  // namespace gpio
