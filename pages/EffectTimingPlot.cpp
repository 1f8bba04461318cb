#include "pages/EffectTimingPlot.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

#include "ui/Scaling.h"
#include "ui/TextControlColours.h"

namespace {

bool SamePeriod(const std::vector<chip::TimingSegment>& a, const std::vector<chip::TimingSegment>& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](const auto& x, const auto& y) {
           return x.phase == y.phase && x.ms == y.ms;
         });
}

}  // namespace

EffectTimingPlot::EffectTimingPlot(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
}

void EffectTimingPlot::SetPeriod(std::vector<chip::TimingSegment> period) {
  if (SamePeriod(period, m_period)) return;
  m_period = std::move(period);
  update();
}

void EffectTimingPlot::SetRunningText(const QString& text) {
  if (text == m_running) return;
  m_running = text;
  update();
}

void EffectTimingPlot::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
  painter.fillRect(rect(), Qt::white);
  if (m_period.empty()) return;

  // Sizes follow the screen like every font of the pages; the picture's own
  // box comes from the page layout, which is scaled already.
  const QFont labelFont = ScaledFont(15, 6, 400);
  const QFont runningFont = ScaledFont(16, 6, 700);
  const QFontMetricsF labelMetrics(labelFont);
  const double lineHeight = labelMetrics.height();
  const double margin = std::max(2.0, lineHeight * 0.25);

  // The running line keeps its room while nothing runs, so that the curve
  // keeps its size when an effect starts.
  const QFontMetricsF runningMetrics(runningFont);
  const QRectF runningLine(margin, margin, width() - 2 * margin, runningMetrics.height());
  if (!m_running.isEmpty()) {
    painter.setFont(runningFont);
    painter.setPen(QColor(kRunningColour));
    painter.drawText(runningLine, Qt::AlignLeft | Qt::AlignVCenter,
                     runningMetrics.elidedText(m_running, Qt::ElideRight, runningLine.width()));
  }
  const double top = runningLine.bottom() + margin;
  const double plotWidth = width() - 2 * margin;
  if (plotWidth < 8) return;
  const auto spans = chip::SegmentSpans(m_period, plotWidth);

  // Labels under the curve, each under its stretch, in a second row only
  // where they would overlap.
  std::vector<double> centres;
  std::vector<double> widths;
  std::vector<QString> texts;
  for (std::size_t i = 0; i < m_period.size(); ++i) {
    const QString text = QString::fromUtf8(chip::SegmentText(m_period[i]));
    if (text.isEmpty()) continue;
    texts.push_back(text);
    centres.push_back((spans[i].x0 + spans[i].x1) / 2);
    widths.push_back(labelMetrics.horizontalAdvance(text));
  }
  const auto places = chip::PlaceLabels(centres, widths, plotWidth, labelMetrics.horizontalAdvance(QLatin1Char(' ')));
  const int rows = std::any_of(places.begin(), places.end(), [](const chip::LabelPlace& p) { return p.row > 0; }) ? 2 : 1;
  const double labelsTop = height() - margin - rows * lineHeight;
  const QRectF plot(margin, top + 1, plotWidth, labelsTop - top - 3);
  if (plot.height() < 4) return;

  auto yOf = [&](double level) { return plot.bottom() - level * plot.height(); };

  // The base line: dark, where the curve rests.
  painter.setPen(QPen(QColor(200, 200, 200), 1));
  painter.drawLine(QPointF(plot.left(), plot.bottom()), QPointF(plot.right(), plot.bottom()));

  // The curve, filled lightly beneath, a hold drawn as a dashed break. With
  // every time at "0ms" there is no period to draw to scale (and no effect
  // would start): the shape is shown in grey, dashed, for the labels' sake.
  const bool toScale = chip::DrawnToScale(m_period);
  const QColor curve = toScale ? QColor(kCurveColour) : QColor(170, 170, 170);
  QColor fill = curve;
  fill.setAlpha(toScale ? 40 : 20);
  for (std::size_t i = 0; i < m_period.size(); ++i) {
    const auto& s = m_period[i];
    const QPointF a(plot.left() + spans[i].x0, yOf(chip::StartLevel(s.phase)));
    const QPointF b(plot.left() + spans[i].x1, yOf(chip::EndLevel(s.phase)));
    QPainterPath under;
    under.moveTo(a.x(), plot.bottom());
    under.lineTo(a);
    under.lineTo(b);
    under.lineTo(b.x(), plot.bottom());
    under.closeSubpath();
    painter.fillPath(under, fill);
    QPen pen(curve, std::max(2.0, lineHeight / 7));
    if (s.phase == chip::TimingPhase::kHold || !toScale) pen.setStyle(Qt::DashLine);
    painter.setPen(pen);
    painter.drawLine(a, b);
    // Where one stretch meets the next at another level (a "0ms" ramp), the
    // curve jumps: the jump is part of the picture.
    if (i + 1 < m_period.size()) {
      const double next = chip::StartLevel(m_period[i + 1].phase);
      if (next != chip::EndLevel(s.phase)) painter.drawLine(b, QPointF(b.x(), yOf(next)));
    }
    // Boundaries between stretches as faint ticks, so that a short stretch
    // shows where it is.
    painter.setPen(QPen(QColor(200, 200, 200), 1, Qt::DotLine));
    if (i > 0) painter.drawLine(QPointF(a.x(), plot.top()), QPointF(a.x(), plot.bottom()));
  }

  painter.setFont(labelFont);
  painter.setPen(QColor(ui::kDefaultCtrlTextColour));
  for (std::size_t i = 0; i < places.size(); ++i) {
    const QRectF box(plot.left() + places[i].x, labelsTop + places[i].row * lineHeight, widths[i] + 1, lineHeight);
    painter.drawText(box, Qt::AlignLeft | Qt::AlignVCenter, texts[i]);
  }
}
