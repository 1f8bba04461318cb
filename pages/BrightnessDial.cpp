#include "pages/BrightnessDial.h"

#include <QConicalGradient>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QRegion>
#include <QRegularExpressionValidator>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "pages/BoardGlobals.h"
#include "chip/RegisterJournal.h"
#include "chip/RegisterMap.h"
#include "resources/dialogs/BrightnessDialog.h"
#include "ui/CMyEdit.h"
#include "ui/CMyStaticFont.h"
#include "ui/ControlFactory.h"
#include "ui/PagePainting.h"
#include "ui/Scaling.h"

using namespace dialogs;

std::uint8_t g_dialDisplayed = 255;
int g_bDialDragging = 0;

namespace {

constexpr int kFaceSize = 170;  // bitmap 156
constexpr int kKnobSize = 14;   // bitmap 155

int Trunc(double v) { return static_cast<int>(v); }

// Screen angle (degrees, counter-clockwise from 3 o'clock, y up) of a point
// relative to a centre, for QPainter's arcs.
double QtAngle(double dx, double dy) { return std::atan2(-dy, dx) * 180.0 / std::numbers::pi; }

}  // namespace

CSetBrightnessLevel::CSetBrightnessLevel(QWidget* parent) : CPage(parent) {
  BuildStandardDialog(this, kBrightnessDialog);
  m_face = platform::Control<QLabel>(this, IDC_DIAL_FACE);
  m_knob = platform::Control<QLabel>(this, IDC_DIAL_KNOB);
  m_edit = platform::Control<CMyEdit>(this, IDC_DIAL_VALUE);
  m_percentText = platform::Control<CMyStaticFont>(this, IDC_DIAL_PERCENT);
  m_face->setScaledContents(false);
  m_knob->setScaledContents(false);
  m_edit->setFrame(false);
  m_edit->setAlignment(Qt::AlignCenter);
  m_edit->setMaxLength(3);
  m_edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), m_edit));
  m_knob->setCursor(Qt::PointingHandCursor);
  m_edit->installEventFilter(this);
  for (QWidget* w : {static_cast<QWidget*>(this), static_cast<QWidget*>(m_face), static_cast<QWidget*>(m_knob),
                     platform::FindControl(this, IDC_DIAL_TITLE), platform::FindControl(this, IDC_DIAL_PERCENT_LABEL),
                     static_cast<QWidget*>(m_percentText)})
    w->installEventFilter(this);
}

CSetBrightnessLevel::~CSetBrightnessLevel() {
  if (g_pBrightnessPage == this) g_pBrightnessPage = nullptr;
  g_bDialDragging = 0;
}

void CSetBrightnessLevel::InitDialog() {
  for (int id : {IDC_DIAL_TITLE, IDC_DIAL_PERCENT_LABEL})
    platform::Control<CMyStaticFont>(this, id)->SetCtrlFont(20, 7, 400, QStringLiteral("Arial"));
  m_edit->SetCtrlFont(25, 15, 700, QStringLiteral("Arial"));
  m_percentText->SetCtrlFont(25, 15, 700, QStringLiteral("Arial"));
  m_face->setToolTip(QStringLiteral("Adjust brightness value of selected LED(s)"));
  m_percentText->setToolTip(
      QStringLiteral("Brightness percentage corresponding to brightness scale of the selected LED(s)"));

  g_currentBrightness = 255;
  g_dialDisplayed = 255;
  g_bDialDragging = 0;
  m_edit->setText(QStringLiteral("255"));
  LayOut();
  m_edit->setPlaceholderText(QStringLiteral("?"));
  // The style's faint placeholder colour vanishes on the white hub.
  QPalette palette = m_edit->palette();
  palette.setColor(QPalette::PlaceholderText, QColor(90, 90, 90));
  m_edit->setPalette(palette);
  ShowChipModel();
  SetTimer(kGlideTimer, kGlidePeriodMs);
}

void CSetBrightnessLevel::LayOut() {
  const QSize template_ = size();
  resize(Trunc(template_.width() * g_baseRatioX), Trunc(template_.height() * g_baseRatioX));
  move(0, 0);
  // The page was scaled by g_baseRatioX in both directions: the path, the
  // face and the knob scale with it, or on a work area of another shape
  // (wider or taller than the reference) the gap line misses the circle and
  // the knob leaves its track.
  const double k = g_baseRatioX;
  for (QObject* o : children()) {
    auto* w = qobject_cast<QWidget*>(o);
    if (!w || w->isWindow() || w == m_face || w == m_knob) continue;
    w->setGeometry(ScaleRectEdges(w->geometry(), g_baseRatioX, g_baseRatioX));
  }
  m_geometry = dial::Compute(0, 0, width(), height(), k);

  // The face is drawn for the knob's path and centred on the circle the
  // knob's centre runs on, so the knob always rides its track.
  const int knob = std::max(1, Trunc(kKnobSize * k));
  const int face = std::max(1, Trunc(kFaceSize * k));
  m_knob->resize(knob, knob);
  m_knob->setPixmap(DrawKnob(knob));
  m_face->setPixmap(DrawFace(m_geometry, face, knob));
  m_face->setGeometry(m_geometry.cx + knob / 2 - face / 2, m_geometry.cy + knob / 2 - face / 2, face, face);
  m_edit->move(m_face->geometry().center() - m_edit->rect().center());

  setMask(QRegion(rect(), QRegion::Ellipse));
  PlaceKnob(m_geometry.endX, m_geometry.gapY);
}

void CSetBrightnessLevel::PlaceKnob(int x, int y) {
  m_knob->move(x, y);
  ShowValue();
}

void CSetBrightnessLevel::ShowValue() {
  // A value the chip may not hold (after a reset or a re-plug, before anyone
  // set it) is shown as not known, and the knob claims no place on the track.
  m_knob->setVisible(!m_unknown);
  const QString notKnown = QStringLiteral("Not known: the chip was reset or this LED was not set yet");
  m_edit->setToolTip(m_unknown ? notKnown : QString());
  m_percentText->setToolTip(m_unknown ? notKnown
                                      : QStringLiteral("Brightness percentage corresponding to brightness scale of the "
                                                       "selected LED(s)"));
  if (m_unknown) {
    m_edit->clear();
    m_percentText->setText(QStringLiteral("?"));
    return;
  }
  m_edit->setText(QString::number(static_cast<int>(g_currentBrightness)));
  m_percentText->setText(QString::number(m_percent) + QLatin1Char('%'));
}

void CSetBrightnessLevel::ShowChipModel() {
  const chip::RegisterJournal& journal = chip::Journal();
  if (journal.Version() == m_modelVersion && g_selectedLed == m_modelLed) return;
  m_modelVersion = journal.Version();
  m_modelLed = g_selectedLed;
  const auto known = g_selectedLed < 0 || g_selectedLed >= chip::kMaxChipLeds
                         ? std::nullopt
                         : journal.Known(static_cast<std::uint8_t>(chip::kRegBrightness + g_selectedLed));
  const bool unknown = !known;
  // The LED's brightness changed on the chip by another way (the register
  // page, a setup): the dial follows it, unless the person's own value is
  // still on its way to the chip.
  if (known && !g_bMultiSelection && *known != g_currentBrightness && g_currentBrightness == g_lastBrightness &&
      !g_bBrightnessPending && !g_bDialDragging) {
    g_currentBrightness = g_lastBrightness = *known;
    g_ledBrightness[static_cast<std::size_t>(g_selectedLed)] = *known;
    m_percent = chip::BrightnessPercent(*known);
  }
  if (unknown == m_unknown) return;
  // A value the person just gave is on its way to the chip: it is shown
  // until the chip model has it.
  if (unknown && (g_bBrightnessPending || g_currentBrightness != g_lastBrightness)) {
    m_modelVersion = ~std::uint64_t{0};  // looked at again on the next tick
    return;
  }
  m_unknown = unknown;
  ShowValue();
}

void CSetBrightnessLevel::CommitEditValue() {
  bool ok = false;
  const int typed = m_edit->text().trimmed().toInt(&ok, 10);
  if (!ok || typed < 0) {
    ShowValue();  // nothing to take: show the value again
    return;
  }
  g_currentBrightness = static_cast<std::uint8_t>(std::min(typed, 255));
  m_percent = chip::BrightnessPercent(g_currentBrightness);
  TakeValueOverUnknown();
  if (g_currentBrightness == g_dialDisplayed) ShowValue();  // no glide will redraw it
}

// A value the person gives while the chip's is not known goes to the
// selected LEDs even when it equals the one the dial handed on last (the
// layout page hands on only a change): shown, it must also be what the chip
// holds.
void CSetBrightnessLevel::TakeValueOverUnknown() {
  if (m_unknown && g_currentBrightness == g_lastBrightness)
    g_lastBrightness = static_cast<std::uint8_t>(g_currentBrightness ^ 1);
  m_unknown = false;
}

void CSetBrightnessLevel::OnTimer(std::uint32_t id) {
  if (id != kGlideTimer) return;
  ShowChipModel();
  if (g_dialDisplayed == g_currentBrightness) return;
  const dial::Point p = dial::KnobForGlide(m_geometry, g_dialDisplayed);
  m_percent = chip::BrightnessPercent(g_currentBrightness);
  PlaceKnob(p.x, p.y);
  g_dialDisplayed = static_cast<std::uint8_t>(dial::GlideStep(g_dialDisplayed, g_currentBrightness));
}

void CSetBrightnessLevel::wheelEvent(QWheelEvent* event) {
  event->accept();
  // A notch turns from the value shown; with none known ("?") there is
  // nothing to turn from, and showing one would claim what the chip holds.
  if (event->modifiers() != Qt::NoModifier || g_bDialDragging || m_unknown) return;
  // A mouse turns whole notches of 120; a touchpad sends small steps that
  // add up to them.
  m_wheelRest += event->angleDelta().y();
  while (std::abs(m_wheelRest) >= 120) {
    const int notch = m_wheelRest > 0 ? 120 : -120;
    m_wheelRest -= notch;
    g_currentBrightness = static_cast<std::uint8_t>(dial::WheelStep(g_dialDisplayed, g_currentBrightness, notch));
    g_dialDisplayed = g_currentBrightness;
    m_percent = chip::BrightnessPercent(g_currentBrightness);
    const dial::Point p = dial::KnobForWheel(m_geometry, g_currentBrightness);
    PlaceKnob(p.x, p.y);
  }
}

void CSetBrightnessLevel::DragTo(const QPoint& pagePos) {
  const dial::Drag d = dial::FromPointer(m_geometry, pagePos.x(), pagePos.y());
  g_currentBrightness = static_cast<std::uint8_t>(d.value);
  TakeValueOverUnknown();
  m_percent = chip::BrightnessPercent(g_currentBrightness);
  if (d.moveKnob) {
    PlaceKnob(d.knob.x, d.knob.y);
  } else {
    ShowValue();  // below the gap the knob stays, but the value shown is the new one
  }
}

bool CSetBrightnessLevel::eventFilter(QObject* watched, QEvent* event) {
  auto* widget = qobject_cast<QWidget*>(watched);
  if (!widget) return CPage::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::KeyPress: {
      // Enter typed into the value is taken here and goes no further: it
      // must not reach the main window, which would close on it.
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (widget == m_edit && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
        CommitEditValue();
        return true;
      }
      // Escape abandons the typed value; passed on, it would reach the main
      // window, which closes on it when the pointer is elsewhere.
      if (widget == m_edit && key == Qt::Key_Escape) {
        ShowValue();
        return true;
      }
      break;
    }
    case QEvent::MouseButtonPress: {
      auto* me = static_cast<QMouseEvent*>(event);
      if (me->button() != Qt::LeftButton) break;
      if (widget == m_knob) {
        if (!g_bDialDragging) {
          m_edit->clearFocus();
          g_bDialDragging = 1;
          update();
          KillTimer(kGlideTimer);
        }
        return true;
      }
      // A press in the value places the caret there (the edit does that
      // itself) and keeps a half-typed value as it is: "12" on the way to
      // "125" is not a value to write.
      if (widget == m_edit) break;
      CommitEditValue();
      m_edit->clearFocus();
      break;
    }
    case QEvent::MouseButtonRelease:
      if (g_bDialDragging && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        g_bDialDragging = 0;
        g_dialDisplayed = g_currentBrightness;
        SetTimer(kGlideTimer, kGlidePeriodMs);
        return true;
      }
      break;
    case QEvent::MouseMove:
      if (g_bDialDragging) {
        auto* me = static_cast<QMouseEvent*>(event);
        const QPoint pagePos = widget == this ? me->position().toPoint() : widget->mapTo(this, me->position().toPoint());
        DragTo(pagePos);
        return true;
      }
      break;
    default: break;
  }
  return CPage::eventFilter(watched, event);
}

void CSetBrightnessLevel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintPlainBackground(this, painter);
  // The page is an ellipse: its frame follows the edge the clip leaves,
  // where a rectangle would show only as four stray strokes.
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(QColor(200, 200, 200), 1.5));
  painter.setBrush(Qt::NoBrush);
  painter.drawEllipse(QRectF(rect()).adjusted(1, 1, -1, -1));
}

QPixmap CSetBrightnessLevel::DrawFace(const dial::Geometry& g, int size, int knobSize) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const QPointF c(size / 2.0, size / 2.0);
  const double R = g.radius;
  const double unit = std::max(0.5, g.k);

  // Bezel: a soft grey disc a little wider than the knob's track.
  const double bezel = R + knobSize / 2.0 + 14 * unit;
  QRadialGradient shade(c, bezel);
  shade.setColorAt(0.0, QColor(250, 250, 250));
  shade.setColorAt(0.8, QColor(236, 236, 236));
  shade.setColorAt(1.0, QColor(214, 214, 214));
  p.setPen(QPen(QColor(196, 196, 196), 1));
  p.setBrush(shade);
  p.drawEllipse(c, bezel, bezel);

  // The track from the value-0 end over the top to the 255 end, dark to
  // warm white: the brightness the knob sets.
  const double startDeg = QtAngle(g.startX - g.cx, g.gapY - g.cy);
  const double sweepDeg = g.sweep * 180.0 / std::numbers::pi;
  // A conical gradient runs counter-clockwise from its start, the dial
  // clockwise: the value-0 end sits at both 0 and 1, the 255 end at
  // 1 - sweep / 360, and the gap (never drawn) between 0 and that.
  QConicalGradient ramp(c, startDeg);
  ramp.setColorAt(0.0, QColor(70, 70, 70));
  ramp.setColorAt(std::clamp(1.0 - sweepDeg / 360.0, 0.0, 1.0), QColor(255, 214, 90));
  ramp.setColorAt(1.0, QColor(70, 70, 70));
  const QRectF track(c.x() - R, c.y() - R, 2 * R, 2 * R);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(180, 180, 180), knobSize + 4 * unit, Qt::SolidLine, Qt::RoundCap));
  p.drawArc(track, Trunc(startDeg * 16), Trunc(-sweepDeg * 16));
  p.setPen(QPen(QBrush(ramp), knobSize, Qt::SolidLine, Qt::RoundCap));
  p.drawArc(track, Trunc(startDeg * 16), Trunc(-sweepDeg * 16));

  // Ticks every 32 steps and at 255, outside the track.
  p.setPen(QPen(QColor(120, 120, 120), std::max(1.0, 1.2 * unit), Qt::SolidLine, Qt::RoundCap));
  const double inner = R + knobSize / 2.0 + 4 * unit, outer = inner + 6 * unit;
  for (int v = 0; v <= 256; v += 32) {
    const int value = std::min(v, 255);
    const double a = (startDeg - value * sweepDeg / 255) * std::numbers::pi / 180.0;
    const QPointF dir(std::cos(a), -std::sin(a));
    p.drawLine(c + dir * inner, c + dir * outer);
  }

  // A white hub for the value.
  const double hub = std::max(1.0, R - knobSize / 2.0 - 5 * unit);
  p.setPen(QPen(QColor(210, 210, 210), 1));
  p.setBrush(Qt::white);
  p.drawEllipse(c, hub, hub);
  return pm;
}

QPixmap CSetBrightnessLevel::DrawKnob(int size) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF r(0.75, 0.75, size - 1.5, size - 1.5);
  QRadialGradient g(r.center() - QPointF(size * 0.15, size * 0.15), size * 0.7);
  g.setColorAt(0.0, Qt::white);
  g.setColorAt(1.0, QColor(200, 200, 200));
  p.setPen(QPen(QColor(90, 90, 90), 1.2));
  p.setBrush(g);
  p.drawEllipse(r);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(204, 0, 0));
  const double dot = std::max(1.5, size * 0.16);
  p.drawEllipse(r.center(), dot, dot);
  return pm;
}

chip::ChipClaims CSetBrightnessLevel::Claims() const {
  // The value shown is the brightness of the LED the dial acts on; with a
  // Shift-built selection it is the value last given to all of them.
  chip::ChipClaims claims;
  if (g_selectedLed < 0 || g_selectedLed >= chip::kMaxChipLeds || g_selectedLed >= g_ledCount) return claims;
  bool ok = false;
  const int shown = m_edit->text().toInt(&ok, 10);
  if (g_bMultiSelection) return claims;
  claims.push_back({"dial", static_cast<std::uint8_t>(chip::kRegBrightness + g_selectedLed), 0xFF,
                    !m_unknown && ok && shown >= 0 && shown <= 255
                        ? std::optional<std::uint8_t>(static_cast<std::uint8_t>(shown))
                        : std::nullopt});
  return claims;
}
