#include "board/EffectTimingPlot.h"

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

  double top = margin;
  if (!m_running.isEmpty()) {
    painter.setFont(runningFont);
    painter.setPen(QColor(kRunningColour));
    const QRectF line(margin, top, width() - 2 * margin, QFontMetricsF(runningFont).height());
    painter.drawText(line, Qt::AlignLeft | Qt::AlignVCenter,
                     QFontMetricsF(runningFont).elidedText(m_running, Qt::ElideRight, line.width()));
    top = line.bottom() + margin;
  }
  // Two label rows under the curve; the curve gets the rest.
  const double labelsTop = height() - margin - 2 * lineHeight;
  const QRectF plot(margin, top + 1, width() - 2 * margin, std::max(4.0, labelsTop - top - margin - 2));
  if (plot.height() < 4 || plot.width() < 8) return;

  const auto spans = chip::SegmentSpans(m_period, plot.width());
  auto yOf = [&](double level) { return plot.bottom() - level * plot.height(); };

  // The dark line the curve rests on.
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

  // Labels under the curve, each under its stretch, in two rows where crowded.
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
  const auto places = chip::PlaceLabels(centres, widths, plot.width(), labelMetrics.horizontalAdvance(QLatin1Char(' ')));
  painter.setFont(labelFont);
  painter.setPen(QColor(ui::kDefaultCtrlTextColour));
  for (std::size_t i = 0; i < places.size(); ++i) {
    const QRectF box(plot.left() + places[i].x, labelsTop + places[i].row * lineHeight, widths[i] + 1, lineHeight);
    painter.drawText(box, Qt::AlignLeft | Qt::AlignVCenter, texts[i]);
  }
}
