// A small picture of one period of the chip's blink or fade effect, drawn to
// scale beside the time lists: the brightness curve with each stretch's time
// under it, and, while the chip runs the effect, a line saying so.
#pragma once

#include <QString>
#include <QWidget>
#include <vector>

#include "chip/EffectTiming.h"

class EffectTimingPlot : public QWidget {
  Q_OBJECT
 public:
  explicit EffectTimingPlot(QWidget* parent = nullptr);

  // Each setter repaints only when something changed: the pages call them
  // from their model timer.
  void SetPeriod(std::vector<chip::TimingSegment> period);
  void SetRunningText(const QString& text);

  const std::vector<chip::TimingSegment>& Period() const { return m_period; }
  QString RunningText() const { return m_running; }

  // The curve's colour (the teal of the status line) and the running line's.
  static constexpr QRgb kCurveColour = qRgb(0, 180, 200);
  static constexpr QRgb kRunningColour = qRgb(210, 0, 0);

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  std::vector<chip::TimingSegment> m_period;
  QString m_running;
};
