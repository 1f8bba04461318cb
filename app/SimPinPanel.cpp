#include "app/SimPinPanel.h"

#include <QGridLayout>
#include <algorithm>
#include <QLabel>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "pages/BoardGlobals.h"
#include "chip/RegisterMap.h"
#include "sim/SimBoard.h"

namespace {

const QColor kHigh(200, 236, 200);
const QColor kLow(226, 226, 226);

QString PinName(int pin) { return QString::fromStdString(sim::PinName(pin)); }

// What the pin is now: its use over its level for the cell, in full for its
// tooltip.
std::pair<QString, QString> Describe(const sim::PinSnapshot& s, int pin) {
  const auto bit = static_cast<sim::PinMask>(1u << pin);
  const int level = (s.levels & bit) ? 1 : 0;
  const QString name = PinName(pin);
  const auto cell = [level](const QString& use) { return use + QLatin1Char('\n') + QString::number(level); };
  if (!(s.registers.gpio & bit))
    return {cell(QStringLiteral("LED")),
            QStringLiteral("%1: LED mode (not driven by the chip); level %2").arg(name).arg(level)};
  if (s.registers.input & bit) {
    const bool watched = (s.registers.Watched() & bit) != 0;
    return {cell(watched ? QStringLiteral("in, irq") : QStringLiteral("in")),
            QStringLiteral("%1: GPIO input, interrupt %2; level %3")
                .arg(name, watched ? QStringLiteral("enabled") : QStringLiteral("disabled"))
                .arg(level)};
  }
  const bool high = (s.registers.outputHigh & bit) != 0;
  return {cell(s.registers.pushPull ? QStringLiteral("out") : QStringLiteral("out, od")),
          QStringLiteral("%1: GPIO output, %2, set %3; level %4")
              .arg(name, s.registers.pushPull ? QStringLiteral("push-pull") : QStringLiteral("open drain"),
                   high ? QStringLiteral("high") : QStringLiteral("low"))
              .arg(level)};
}

void Tint(QWidget* w, QPalette::ColorRole role, const QColor& colour) {
  QPalette pal = w->palette();
  if (pal.color(role) == colour) return;
  pal.setColor(role, colour);
  w->setPalette(pal);
}

}  // namespace

SimPinPanel::SimPinPanel(sim::SimBoard& board, QWidget* parent)
    : QGroupBox(QStringLiteral("Pins"), parent), m_board(board) {
  auto* outer = new QVBoxLayout(this);
  auto* note = new QLabel(
      QStringLiteral("Click a pin's button to drive it high or low from outside. A GPIO input whose interrupt is "
                     "enabled (irq) makes the board report an interrupt when its level changes."),
      this);
  note->setWordWrap(true);
  outer->addWidget(note);

  auto* grid = new QGridLayout;
  outer->addLayout(grid);
  for (int n = 0; n < 8; ++n) {
    auto* head = new QLabel(QString::number(n), this);
    head->setAlignment(Qt::AlignCenter);
    grid->addWidget(head, 0, n + 1);
  }
  for (int port = 0; port < 2; ++port) {
    grid->addWidget(new QLabel(QStringLiteral("P%1 outside").arg(port), this), 1 + 2 * port, 0);
    grid->addWidget(new QLabel(QStringLiteral("P%1 pin").arg(port), this), 2 + 2 * port, 0);
    for (int n = 0; n < 8; ++n) {
      const int pin = 8 * port + n;
      auto* drive = new QToolButton(this);
      drive->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
      connect(drive, &QToolButton::clicked, this, [this, pin] {
        m_board.DrivePin(pin, !(m_board.Pins().driven & (1u << pin)));
        Refresh();
      });
      auto* state = new QLabel(this);
      state->setAlignment(Qt::AlignCenter);
      state->setAutoFillBackground(true);
      state->setMargin(2);
      grid->addWidget(drive, 1 + 2 * port, n + 1);
      grid->addWidget(state, 2 + 2 * port, n + 1);
      m_drive[static_cast<std::size_t>(pin)] = drive;
      m_state[static_cast<std::size_t>(pin)] = state;
    }
  }
  Refresh();

  m_timer = new QTimer(this);
  connect(m_timer, &QTimer::timeout, this, &SimPinPanel::Refresh);
  m_timer->start(kRefreshMs);
}

QAbstractButton* SimPinPanel::DriveButton(int pin) const {
  return pin >= 0 && pin < 16 ? m_drive[static_cast<std::size_t>(pin)] : nullptr;
}

QLabel* SimPinPanel::StateLabel(int pin) const {
  return pin >= 0 && pin < 16 ? m_state[static_cast<std::size_t>(pin)] : nullptr;
}

namespace {

// The pin of the window's board drawing wired to this port pin (its
// relationship table), for the tooltip: the drawing and the panel name one
// physical pin two ways.
QString DrawingPinNote(int portPin) {
  for (int pin = 0; pin < std::min(g_ledCount, chip::kMaxPins); ++pin)
    if (const auto where = chip::InterruptDisableBit(pin, g_selectedBoardId))
      if (8 * where->byte + where->bit == portPin) return QStringLiteral(" (drawing pin %1)").arg(pin);
  return {};
}

}  // namespace

void SimPinPanel::Refresh() {
  const sim::PinSnapshot s = m_board.Pins();
  for (int pin = 0; pin < 16; ++pin) {
    const auto bit = static_cast<sim::PinMask>(1u << pin);
    QAbstractButton* drive = m_drive[static_cast<std::size_t>(pin)];
    const bool high = (s.driven & bit) != 0;
    Tint(drive, QPalette::Button, high ? kHigh : kLow);
    drive->setText(high ? QStringLiteral("high") : QStringLiteral("low"));
    drive->setToolTip(QStringLiteral("Outside %1: %2. Click to drive it %3.")
                          .arg(PinName(pin), high ? QStringLiteral("high") : QStringLiteral("low"),
                               high ? QStringLiteral("low") : QStringLiteral("high")));

    QLabel* state = m_state[static_cast<std::size_t>(pin)];
    const auto [text, tip] = Describe(s, pin);
    if (state->text() != text) state->setText(text);
    state->setToolTip(PinName(pin) + DrawingPinNote(pin) + tip.mid(PinName(pin).size()));
    Tint(state, QPalette::Window, (s.levels & bit) ? kHigh : kLow);
    QFont font = state->font();
    font.setBold((s.registers.Outputs() & bit) != 0);
    state->setFont(font);
  }
}
