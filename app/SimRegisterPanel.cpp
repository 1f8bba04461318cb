#include "app/SimRegisterPanel.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QScreen>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

#include "app/SimPinPanel.h"
#include "chip/RegisterMap.h"
#include "sim/SimBoard.h"
#include "ui/Scaling.h"

namespace {
enum Column { kAddress, kName, kAccess, kValue, kMeaning, kColumns };
const QColor kChanged(255, 236, 170);
}  // namespace

SimRegisterPanel::SimRegisterPanel(sim::SimBoard& board, QWidget* parent)
    : QWidget(parent, Qt::Window), m_board(board) {
  setWindowTitle(QStringLiteral("Simulated chip registers"));
  setAttribute(Qt::WA_DeleteOnClose, false);
  m_last.fill(-1);

  auto* layout = new QVBoxLayout(this);
  auto* note = new QLabel(
      QStringLiteral("The registers of the simulated chip as it holds them now. Values that just changed are "
                     "marked."),
      this);
  note->setWordWrap(true);
  layout->addWidget(note);

  const auto registers = chip::RegisterTable();
  m_table = new QTableWidget(static_cast<int>(registers.size()), kColumns, this);
  m_table->setHorizontalHeaderLabels({QStringLiteral("Register"), QStringLiteral("Name"), QStringLiteral("Access"),
                                      QStringLiteral("Value"), QStringLiteral("Meaning")});
  m_table->verticalHeader()->hide();
  m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
  m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_table->setSelectionMode(QAbstractItemView::NoSelection);
  m_table->setFocusPolicy(Qt::NoFocus);
  for (int row = 0; row < static_cast<int>(registers.size()); ++row) {
    const chip::RegisterInfo& r = registers[static_cast<std::size_t>(row)];
    auto cell = [&](int column, const QString& text) {
      auto* item = new QTableWidgetItem(text);
      if (column == kAddress || column == kValue) item->setTextAlignment(Qt::AlignCenter);
      m_table->setItem(row, column, item);
    };
    cell(kAddress, QStringLiteral("0x") + QStringLiteral("%1").arg(r.address, 2, 16, QLatin1Char('0')).toUpper());
    cell(kName, QString::fromUtf8(r.name));
    cell(kAccess, QString::fromUtf8(chip::AccessText(r.access)));
    cell(kValue, QString());
    cell(kMeaning, QString());
  }
  QFont mono(QStringLiteral("monospace"));
  mono.setStyleHint(QFont::Monospace);
  for (int row = 0; row < m_table->rowCount(); ++row) m_table->item(row, kValue)->setFont(mono);
  m_table->horizontalHeader()->setSectionResizeMode(kMeaning, QHeaderView::Stretch);
  layout->addWidget(m_table);
  m_pins = new SimPinPanel(board, this);
  layout->addWidget(m_pins);
  Refresh();
  m_table->resizeColumnsToContents();
  m_table->horizontalHeader()->setSectionResizeMode(kMeaning, QHeaderView::Stretch);
  // The table scrolls: it need not hold every row to be of use.
  m_table->setMinimumHeight(120);
  // Room for every register and the pins, but never taller than the screen.
  const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
  const int room = screen ? screen->availableGeometry().height() - 60 : 900;
  resize(static_cast<int>(640 * g_scaleX), std::min(static_cast<int>(900 * g_scaleY), room));

  m_timer = new QTimer(this);
  connect(m_timer, &QTimer::timeout, this, &SimRegisterPanel::Refresh);
  m_timer->start(kRefreshMs);
}

void SimRegisterPanel::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  FitWithinWorkArea();
  m_refitWithFrame = true;
}

// Once the window manager has framed the window (it moves it there), its
// real frame is known: fitted again with that, a frame thicker than the
// guess cannot push the window's foot off the screen.
void SimRegisterPanel::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  if (!m_refitWithFrame || frameGeometry() == geometry()) return;
  m_refitWithFrame = false;
  FitWithinWorkArea();
}

void SimRegisterPanel::FitWithinWorkArea() {
  const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect area = screen->availableGeometry();
  // Before the window manager framed the window its frame is not known yet:
  // leave room for a usual title bar and border.
  const QRect inner = geometry(), outer = frameGeometry();
  QMargins frame(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                 outer.bottom() - inner.bottom());
  if (frame.isNull()) frame = QMargins(4, 32, 4, 4);
  const int width = std::min(this->width(), area.width() - frame.left() - frame.right());
  const int height = std::min(this->height(), area.height() - frame.top() - frame.bottom());
  setMinimumSize(std::min(minimumWidth(), width), std::min(minimumHeight(), height));
  resize(width, height);
  const int outerW = width + frame.left() + frame.right();
  const int outerH = height + frame.top() + frame.bottom();
  const QPoint at = frameGeometry().topLeft();
  move(std::clamp(at.x(), area.left(), area.right() + 1 - outerW), std::clamp(at.y(), area.top(), area.bottom() + 1 - outerH));
}

int SimRegisterPanel::RowOf(std::uint8_t reg) const {
  const auto registers = chip::RegisterTable();
  for (std::size_t i = 0; i < registers.size(); ++i)
    if (registers[i].address == reg) return static_cast<int>(i);
  return -1;
}

void SimRegisterPanel::Refresh() {
  const auto now = std::chrono::steady_clock::now();
  const auto registers = chip::RegisterTable();
  for (int row = 0; row < static_cast<int>(registers.size()); ++row) {
    const std::uint8_t reg = registers[static_cast<std::size_t>(row)].address;
    const std::uint8_t value = m_board.Register(reg);
    if (m_last[reg] != value) {
      if (m_last[reg] >= 0) m_changed[reg] = now;
      m_last[reg] = value;
      m_table->item(row, kValue)->setText(QStringLiteral("0x%1  %2")
                                              .arg(value, 2, 16, QLatin1Char('0'))
                                              .arg(value, 3, 10, QLatin1Char(' ')));
      m_table->item(row, kMeaning)->setText(QString::fromStdString(chip::DescribeValue(reg, value)));
    }
    const bool fresh = now - m_changed[reg] < std::chrono::milliseconds(kHighlightMs);
    const QBrush brush = fresh ? QBrush(kChanged) : QBrush();
    for (int column = 0; column < kColumns; ++column)
      if (m_table->item(row, column)->background() != brush) m_table->item(row, column)->setBackground(brush);
  }
}
