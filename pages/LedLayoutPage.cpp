#include "pages/LedLayoutPage.h"

#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>

#include <algorithm>

#include "pages/BoardGlobals.h"
#include "chip/PinLevels.h"
#include "chip/RegisterJournal.h"
#include "chip/RegisterMap.h"
#include "resources/dialogs/LedLayoutDialog.h"
#include "ui/CMyRoundButton.h"
#include "ui/CMyStaticFont.h"
#include "ui/ControlFactory.h"
#include "ui/PagePainting.h"
#include "ui/Scaling.h"

using namespace dialogs;

namespace {

const QString kTipSelectOnly = QStringLiteral("Select only this LED");
const QString kTipRemove = QStringLiteral("Remove this LED from Selected LED(s)");
// The closing parenthesis is the full-width one.
const QString kTipAdd = QString::fromUtf8("Add this LED to Selected LED(s\xEF\xBC\x89");

const QColor kKeyCapGrey(200, 200, 200);
// A pin's level under it: high in the status line's teal, a little darker to
// read as text; low in the page's grey.
const QColor kLevelHighColour(0, 130, 150);
const QColor kLevelLowColour(110, 110, 110);

// Row heights of the cells, in pixels of the page; not scaled.
constexpr int kFirstRowY = 150;
constexpr int kSecondRowY = 250;
constexpr int kRowOffsetX = 30;

int Trunc(double v) { return static_cast<int>(v); }

bool ShiftOnly(Qt::KeyboardModifiers m) { return (m & Qt::ShiftModifier) && !(m & Qt::ControlModifier); }
bool CtrlOnly(Qt::KeyboardModifiers m) { return (m & Qt::ControlModifier) && !(m & Qt::ShiftModifier); }

}  // namespace

CRound_LED_Layout::CRound_LED_Layout(QWidget* parent) : CPage(parent) {
  BuildStandardDialog(this, kLedLayoutDialog);
  for (int i = 0; i < kLedButtonCount; ++i) {
    m_leds[static_cast<std::size_t>(i)] = platform::Control<CMyRoundButton>(this, LedButtonId(i));
    CMyRoundButton* b = m_leds[static_cast<std::size_t>(i)];
    b->setMouseTracking(true);  // the Shift/Ctrl look follows the pointer
    b->setFocusPolicy(Qt::NoFocus);
    b->installEventFilter(this);
  }
  m_caption = platform::Control<CMyStaticFont>(this, IDC_LAYOUT_CAPTION);
  setMouseTracking(true);
  installEventFilter(this);
}

CRound_LED_Layout::~CRound_LED_Layout() {
  if (g_pLayoutPage == this) {
    g_pLayoutPage = nullptr;
    SetDialValueListener({});
  }
}

void CRound_LED_Layout::QueueTick() {
  if (m_tickQueued) return;
  m_tickQueued = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        m_tickQueued = false;
        OnTimer(kTickTimer);
      },
      Qt::QueuedConnection);
}

CMyRoundButton* CRound_LED_Layout::LedButton(int led) const {
  return led >= 0 && led < kLedButtonCount ? m_leds[static_cast<std::size_t>(led)] : nullptr;
}

void CRound_LED_Layout::InitDialog() {
  m_caption->SetCtrlFont(21, 8, 400, QStringLiteral("Arial"));
  for (int id : {IDC_HINT_HOLD_CTRL, IDC_HINT_HOLD_SHIFT, IDC_HINT_CLONE, IDC_HINT_MULTI})
    platform::Control<CMyStaticFont>(this, id)->SetCtrlFont(19, 7, 400, QStringLiteral("Arial"));
  for (int id : {IDC_KEY_CTRL, IDC_KEY_SHIFT}) {
    auto* cap = platform::Control<CMyStaticFont>(this, id);
    cap->SetCtrlFont(19, 8, 400, QStringLiteral("Arial"));
    cap->SetCtrlBkColor(kKeyCapGrey);
  }

  g_selectionList.fill(0);
  g_selectedLed = 0;
  g_selectionList[0] = 0;
  g_selectionCount = 1;

  for (int i = 0; i < g_ledCount && i < kLedButtonCount; ++i) LedButton(i)->setToolTip(kTipSelectOnly);
  ShowLeds();
  ScaleDialogLayout(this, g_ratioX, g_ratioY, false);
  PlaceLeds();
  SetTimer(kTickTimer, kTickPeriodMs);
  // A new dial value is handed on at once, not at the next tick. Queued:
  // whoever set it may be in the middle of its own work (this tick sets it
  // too, when a click picks another LED).
  SetDialValueListener([page = QPointer<CRound_LED_Layout>(this)] {
    if (page) page->QueueTick();
  });
}

QRect CRound_LED_Layout::LedRect(int led, int count, int width) {
  if (count == 16) {
    const int d = width / 9;
    const int s = Trunc(60 * g_scaleX);
    return led <= 7 ? QRect((led + 1) * d - kRowOffsetX, kFirstRowY, s, s)
                    : QRect((led - 7) * d - kRowOffsetX, kSecondRowY, s, s);
  }
  if (count == 10) {
    const int d = width / 11;
    const int s = Trunc(50 * g_scaleX);
    return QRect((led + 1) * d - kRowOffsetX, kFirstRowY, s, s);
  }
  const int d = width / (std::max(count, 0) + 1);
  const int s = Trunc(60 * g_scaleX);
  return QRect((led + 1) * d - kRowOffsetX, kFirstRowY, s, s);
}

void CRound_LED_Layout::PlaceLeds() {
  const int count = std::clamp(g_ledCount, 0, kLedButtonCount);
  for (int i = 0; i < count; ++i) LedButton(i)->setGeometry(LedRect(i, count, width()));
}

void CRound_LED_Layout::ShowLeds() {
  const int count = std::clamp(g_ledCount, 0, kLedButtonCount);
  for (int i = 0; i < kLedButtonCount; ++i) LedButton(i)->setVisible(i < count);
  PlaceLeds();
  update();
}

void CRound_LED_Layout::RefreshLeds() {
  const int count = std::clamp(g_ledCount, 0, kLedButtonCount);
  for (int i = 0; i < count; ++i) {
    LedButton(i)->SetSelected(false);
    LedButton(i)->SetButtonColor(g_ledColors[static_cast<std::size_t>(i)]);
  }
}

void CRound_LED_Layout::RefreshLedsMarkSelected() {
  RefreshLeds();
  MarkLed(g_selectedLed);
}

void CRound_LED_Layout::MarkLed(int led) {
  if (CMyRoundButton* b = LedButton(led)) {
    b->SetSelected(true);
    b->SetButtonColor(g_ledColors[static_cast<std::size_t>(led)]);
  }
}

void CRound_LED_Layout::RelayoutPage() {
  ScaleDialogLayout(this, g_ratioX, g_ratioY, false);
  PlaceLeds();
}

void CRound_LED_Layout::SetGpioMode(bool gpio) {
  m_gpioMode = gpio;
  m_caption->setText(gpio ? QStringLiteral("Select a Port to configure")
                          : QStringLiteral("Select an LED light to configure"));
  for (int id : {IDC_HINT_HOLD_CTRL, IDC_HINT_HOLD_SHIFT, IDC_HINT_CLONE, IDC_HINT_MULTI, IDC_KEY_CTRL, IDC_KEY_SHIFT})
    platform::FindControl(this, id)->setVisible(!gpio);
}

int CRound_LED_Layout::LedAt(const QPoint& pagePos) const {
  const int count = std::clamp(g_ledCount, 0, kLedButtonCount);
  for (int i = 0; i < count; ++i)
    if (LedButton(i)->isVisible() && LedButton(i)->geometry().contains(pagePos)) return i;
  return -1;
}

bool CRound_LED_Layout::InSelection(int led) const {
  const int n = std::clamp(g_selectionCount, 0, static_cast<int>(g_selectionList.size()));
  return std::find(g_selectionList.begin(), g_selectionList.begin() + n, static_cast<std::uint8_t>(led)) !=
         g_selectionList.begin() + n;
}

QString CRound_LED_Layout::LedToolTip(int led) const {
  const CMyRoundButton* b = LedButton(led);
  return b ? b->toolTip() : QString();
}

void CRound_LED_Layout::SetAllToolTips(const QString& text) {
  const int count = std::clamp(g_ledCount, 0, kLedButtonCount);
  for (int i = 0; i < count; ++i) LedButton(i)->setToolTip(text);
}

void CRound_LED_Layout::SetPageCursor(const QCursor& cursor) {
  // The cell under the pointer shows it; the page keeps it as its own, the
  // way a window class cursor stays until it is replaced.
  setCursor(cursor);
  const int count = std::clamp(g_ledCount, 0, kLedButtonCount);
  for (int i = 0; i < count; ++i) LedButton(i)->setCursor(cursor);
}

void CRound_LED_Layout::OnPointerOverLed(Qt::KeyboardModifiers modifiers) {
  if (ShiftOnly(modifiers)) {
    const int n = std::clamp(g_selectionCount, 0, static_cast<int>(g_selectionList.size()));
    for (int i = 0; i < n; ++i)
      if (CMyRoundButton* b = LedButton(g_selectionList[static_cast<std::size_t>(i)])) b->setToolTip(kTipRemove);
    if (!g_bMultiSelectMode) {
      g_bMultiSelectMode = 1;
      SetAllToolTips(kTipAdd);
    }
  } else if (g_bMultiSelectMode) {
    g_bMultiSelectMode = 0;
    SetAllToolTips(kTipSelectOnly);
  }
  if (CtrlOnly(modifiers)) {
    g_bCloneMode = 1;
    SetPageCursor(CopyCursor());
  } else {
    g_bCloneMode = 0;
    SetPageCursor(QCursor(Qt::PointingHandCursor));
  }
}

void CRound_LED_Layout::OnPointerAway() { SetPageCursor(QCursor(Qt::ArrowCursor)); }

bool CRound_LED_Layout::eventFilter(QObject* watched, QEvent* event) {
  auto* widget = qobject_cast<QWidget*>(watched);
  if (!widget || (widget != this && widget->parentWidget() != this)) return CPage::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::KeyPress: {
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter) return true;
      break;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove: {
      auto* me = static_cast<QMouseEvent*>(event);
      const QPoint pagePos = widget == this ? me->position().toPoint() : widget->mapToParent(me->position().toPoint());
      const int led = LedAt(pagePos);
      if (led < 0) {
        if (event->type() == QEvent::MouseMove) OnPointerAway();
        break;
      }
      // The keys held decide what a click does; read them at the click too,
      // so that pressing Shift or Ctrl without moving the pointer counts.
      OnPointerOverLed(me->modifiers());
      if (event->type() != QEvent::MouseMove && me->button() == Qt::LeftButton) {
        g_selectedLed = led;
        g_bClickPending = 1;
      }
      return true;  // the cell itself never sees the click
    }
    case QEvent::MouseButtonRelease: {
      if (widget != this) return true;
      break;
    }
    default: break;
  }
  return CPage::eventFilter(watched, event);
}

void CRound_LED_Layout::OnTimer(std::uint32_t id) {
  if (id != kTickTimer) return;
  ShowChipModel();
  const int pendingBefore = g_bBrightnessPending;
  const int count = std::clamp(g_ledCount, 0, kLedButtonCount);
  const int listed = std::clamp(g_selectionCount, 0, static_cast<int>(g_selectionList.size()));
  auto forSelection = [&](auto&& apply) {
    if (g_bMultiSelection) {
      for (int i = 0; i < listed; ++i) apply(static_cast<int>(g_selectionList[static_cast<std::size_t>(i)]));
    } else {
      apply(g_selectedLed);
    }
  };

  // 1. A new colour for the selection.
  if (g_currentColor != g_lastColor) {
    if (m_bActive) {
      forSelection([&](int led) {
        if (led < 0 || led >= kMaxLeds) return;
        g_ledColors[static_cast<std::size_t>(led)] = g_currentColor;
        if (g_bMultiSelection) MarkLed(led);
      });
      if (!g_bMultiSelection) RefreshLedsMarkSelected();
    }
    g_lastColor = g_currentColor;
    g_bBrightnessPending = 1;
  }

  // 2. A new dial value for the selection.
  if (g_currentBrightness != g_lastBrightness) {
    forSelection([&](int led) {
      if (led >= 0 && led < kMaxLeds) g_ledBrightness[static_cast<std::size_t>(led)] = g_currentBrightness;
    });
    g_lastBrightness = g_currentBrightness;
    g_bBrightnessPending = 1;
  }

  // 3. A click.
  if (g_bClickPending) {
    // The LEDs' values as the chip holds them when someone else set them:
    // the dial shows and the copy takes the chip's.
    TakeChipBrightness();
    const int clicked = std::clamp(g_selectedLed, 0, kMaxLeds - 1);
    if (g_bCloneMode) {
      const auto anchor = static_cast<std::size_t>(std::clamp(g_anchorLed, 0, kMaxLeds - 1));
      // A pin's colour in GPIO mode is its mark (high, interrupt disabled):
      // the pin's own setting, which a copy does not change.
      if (!m_gpioMode) g_ledColors[static_cast<std::size_t>(clicked)] = g_ledColors[anchor];
      g_ledBrightness[static_cast<std::size_t>(clicked)] = g_ledBrightness[anchor];
      g_selectedLed = static_cast<int>(anchor);
    }
    if (g_bMultiSelectMode) {
      const auto begin = g_selectionList.begin();
      const auto end = begin + listed;
      const auto found = std::find(begin, end, static_cast<std::uint8_t>(g_selectedLed));
      if (found != end) {
        if (CMyRoundButton* b = LedButton(g_selectedLed)) {
          b->SetSelected(false);
          b->update();
        }
        std::copy(found + 1, end, found);
        g_selectionCount = listed - 1;
      } else if (listed < static_cast<int>(g_selectionList.size())) {
        g_selectionList[static_cast<std::size_t>(listed)] = static_cast<std::uint8_t>(g_selectedLed);
        g_selectionCount = listed + 1;
      }
      for (int i = 0; i < g_selectionCount; ++i) MarkLed(g_selectionList[static_cast<std::size_t>(i)]);
      g_bMultiSelection = 1;
    } else {
      const auto sel = static_cast<std::size_t>(std::clamp(g_selectedLed, 0, kMaxLeds - 1));
      g_currentColor = g_ledColors[sel];
      g_currentBrightness = g_ledBrightness[sel];  // the dial follows
      RefreshLedsMarkSelected();
      std::fill_n(g_selectionList.begin(), std::min<std::size_t>(static_cast<std::size_t>(count), g_selectionList.size()), 0);
      g_selectionList[0] = static_cast<std::uint8_t>(sel);
      g_selectionCount = 1;
      g_bMultiSelection = 0;
    }
    g_anchorLed = g_selectedLed;
    g_bBrightnessPending = 1;
    g_bClickPending = 0;
  }
  if (g_bBrightnessPending && !pendingBefore) emit BrightnessPending();
}

void CRound_LED_Layout::resizeEvent(QResizeEvent* event) {
  CPage::resizeEvent(event);
  PlaceLeds();
}

void CRound_LED_Layout::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintPlainBackground(this, painter);
  if (!m_gpioMode) return;
  painter.setRenderHint(QPainter::TextAntialiasing);
  const int count = std::clamp(g_ledCount, 0, chip::kMaxPins);
  for (int i = 0; i < count; ++i) {
    const auto& level = m_levels[static_cast<std::size_t>(i)];
    if (!level || !LedButton(i)->isVisible()) continue;
    const QRect box = LevelRect(i);
    QFont font = ScaledFont(17, 7, *level ? 700 : 400);
    // The rows keep their places whatever the scale; the text fits the gap.
    if (font.pixelSize() > box.height()) font.setPixelSize(std::max(8, box.height()));
    painter.setFont(font);
    painter.setPen(*level ? kLevelHighColour : kLevelLowColour);
    painter.drawText(box, Qt::AlignHCenter | Qt::AlignTop, LevelText(*level));
  }
}

QString CRound_LED_Layout::LevelText(bool high) { return high ? QStringLiteral("high") : QStringLiteral("low"); }

QRect CRound_LED_Layout::LevelRect(int pin) const {
  const QRect cell = LedButton(pin)->geometry();
  // Under the cell, as wide as the step between cells, down to the next row
  // (or as high as one line where nothing follows).
  const int bottom = pin <= 7 && g_ledCount == 16 ? kSecondRowY - 1 : cell.bottom() + 1 + cell.height() / 2;
  return QRect(cell.center().x() - cell.width(), cell.bottom() + 1, 2 * cell.width(), std::max(1, bottom - cell.bottom()));
}

void CRound_LED_Layout::ShowChipModel() {
  const chip::RegisterJournal& journal = chip::Journal();
  const ModelSeen now{journal.Version(), m_gpioMode, g_ledCount, g_selectedBoardId};
  if (now == m_modelSeen) return;
  m_modelSeen = now;
  const int count = std::clamp(g_ledCount, 0, chip::kMaxChipLeds);
  for (int i = 0; i < kLedButtonCount; ++i) {
    int glow = CMyRoundButton::kNoGlow;
    if (!m_gpioMode && i < count) {
      const auto value = journal.Known(static_cast<std::uint8_t>(chip::kRegBrightness + i));
      glow = value ? *value : CMyRoundButton::kGlowUnknown;
    }
    LedButton(i)->SetGlow(glow);
  }
  const chip::PinLevelArray levels =
      // Only levels that are current: a level read before the outputs, the
      // direction or the pins' mode changed (or an interrupt came) is gone.
      m_gpioMode ? chip::InputPinLevels(chip::CurrentPortValue(journal, chip::kRegPort0Input),
                                        chip::CurrentPortValue(journal, chip::kRegPort1Input),
                                        g_ledCount, static_cast<std::uint8_t>(g_selectedBoardId))
                 : chip::PinLevelArray{};
  if (levels != m_levels) {
    m_levels = levels;
    update();
  }
}

QCursor CRound_LED_Layout::CopyCursor() {
  // Cursor 119: the arrow with a small "+" box, 32 x 32, hot spot at the tip.
  static const QCursor cursor = [] {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath arrow;
    arrow.moveTo(1, 1);
    arrow.lineTo(1, 19);
    arrow.lineTo(5.5, 14.5);
    arrow.lineTo(9, 22);
    arrow.lineTo(12, 20.5);
    arrow.lineTo(8.5, 13.5);
    arrow.lineTo(14.5, 13.5);
    arrow.closeSubpath();
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(Qt::white);
    p.drawPath(arrow);
    const QRectF box(15.5, 17.5, 12, 12);
    p.setBrush(Qt::white);
    p.drawRect(box);
    p.setPen(QPen(Qt::black, 2));
    p.drawLine(QPointF(box.center().x(), box.top() + 3), QPointF(box.center().x(), box.bottom() - 3));
    p.drawLine(QPointF(box.left() + 3, box.center().y()), QPointF(box.right() - 3, box.center().y()));
    p.end();
    return QCursor(pm, 1, 1);
  }();
  return cursor;
}

chip::ChipClaims CRound_LED_Layout::Claims() const {
  chip::ChipClaims claims;
  const int count = std::clamp(g_ledCount, 0, chip::kMaxChipLeds);
  for (int i = 0; i < count; ++i) {
    const int glow = LedButton(i)->Glow();
    if (glow == CMyRoundButton::kNoGlow) continue;
    claims.push_back({"glow of LED " + std::to_string(i), static_cast<std::uint8_t>(chip::kRegBrightness + i), 0xFF,
                      glow >= 0 ? std::optional<std::uint8_t>(static_cast<std::uint8_t>(glow)) : std::nullopt});
  }
  // The level under a pin speaks of its bit of an input port.
  for (int pin = 0; pin < count && pin < chip::kMaxPins; ++pin) {
    const auto bit = chip::InterruptDisableBit(pin, g_selectedBoardId);
    const auto& level = m_levels[static_cast<std::size_t>(pin)];
    if (!bit || !level) continue;
    const auto mask = static_cast<std::uint8_t>(1u << bit->bit);
    claims.push_back({"level under pin " + std::to_string(pin),
                      static_cast<std::uint8_t>(bit->byte == 0 ? chip::kRegPort0Input : chip::kRegPort1Input), mask,
                      static_cast<std::uint8_t>(*level ? mask : 0)});
  }
  return claims;
}
