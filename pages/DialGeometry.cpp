#include "pages/DialGeometry.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace dial {
namespace {
constexpr double kPi = std::numbers::pi;
int Trunc(double v) { return static_cast<int>(v); }
double Degrees(double radians) { return radians * 180.0 / kPi; }
}  // namespace

Geometry Compute(int left, int top, int width, int height, double k) {
  Geometry g;
  g.k = k;
  g.radius = Trunc(45 * k);
  g.cx = Trunc(width / 2.0 + left - 5 * k);
  g.cy = Trunc(height / 2.0 + top - 10 * k);
  g.gapY = Trunc(top + height - 65 * k);
  const double R = g.radius;
  const double d = g.gapY - g.cy;
  const double b = std::sqrt(std::max(0.0, R * R - d * d));
  g.startX = Trunc(g.cx - b);
  g.endX = Trunc(g.cx + b);
  const double cosGap = R > 0 ? std::clamp(1 - 4 * b * b / (2 * R * R), -1.0, 1.0) : 1.0;
  g.sweep = 2 * kPi - std::acos(cosGap);
  g.arcLength = R * g.sweep;
  g.startAngleDeg = R > 0 ? Degrees(std::asin(std::clamp(d / R, -1.0, 1.0))) : 0;
  g.degPerStep = Degrees(g.sweep) / 255;
  return g;
}

Point KnobForGlide(const Geometry& g, int value) {
  const double a = value * g.sweep / 255;
  const double x0 = g.startX - g.cx, y0 = g.gapY - g.cy;
  return {Trunc(x0 * std::cos(a) - y0 * std::sin(a) + g.cx), Trunc(x0 * std::sin(a) + y0 * std::cos(a) + g.cy)};
}

Point KnobForWheel(const Geometry& g, int value) {
  const double theta = ((255 - value) * g.degPerStep - g.startAngleDeg) * kPi / 180;
  return {Trunc(g.cx + g.radius * std::cos(theta)), Trunc(g.cy - g.radius * std::sin(theta))};
}

Drag FromPointer(const Geometry& g, int px, int py) {
  Drag out;
  const double R = g.radius;
  const double dx = px - g.cx, dy = py - g.cy;
  const double len = std::hypot(dx, dy);
  // A pointer on the centre itself points nowhere: take the top.
  const double ux = len > 0 ? dx / len : 0, uy = len > 0 ? dy / len : -1;
  out.knob = {Trunc(g.cx + R * ux), Trunc(g.cy + R * uy)};
  const double qx = out.knob.x, qy = out.knob.y;
  const double chord2 = (qx - g.startX) * (qx - g.startX) + (qy - g.gapY) * (qy - g.gapY);
  const double c = R > 0 ? std::clamp(1 - chord2 / (2 * R * R), -1.0, 1.0) : 1.0;
  const double D = std::acos(c);
  const double angle = qx < g.endX ? D : 2 * kPi - D;
  // Rounding near the 255 end can put the angle a hair past the path; the
  // value stops at 255 instead of wrapping to a small one.
  const double raw = g.arcLength > 0 ? R * angle * 255 / g.arcLength : 0;
  out.value = std::clamp(Trunc(raw), 0, 255);
  if (qy >= g.gapY) out.value = qx < g.cx ? 0 : 255;
  out.moveKnob = qy <= g.gapY;
  return out;
}

int GlideStep(int displayed, int target) {
  const int diff = std::abs(target - displayed);
  if (diff == 0) return displayed;
  const int step = diff >= 31 ? 15 : diff >= 6 ? 5 : 1;
  return displayed < target ? displayed + step : displayed - step;
}

int WheelStep(int displayed, int current, int delta) {
  if (delta == -120) return displayed == 0 ? current : std::max(0, current - 5);
  if (delta == 120) return displayed == 255 ? current : std::min(255, current + 5);
  return current;
}

}  // namespace dial
