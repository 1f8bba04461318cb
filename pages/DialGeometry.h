// The brightness dial's arithmetic, apart from its widgets so that it can be
// checked by itself: where the knob's path lies on the page, where a value
// puts the knob, which value a dragged pointer means, and how the knob glides
// toward a new value.
//
// The knob's top-left corner runs on a circle of radius R round (cx, cy),
// clockwise on the screen from the left end of a gap at the bottom (value 0)
// up over the top to the right end (value 255). Both ends lie on the line
// y = gapY.
#pragma once

#include <cstdint>

namespace dial {

struct Geometry {
  double k = 1.0;           // min(scale x, scale y)
  int radius = 45;          // R
  int cx = 0, cy = 0;       // centre of the knob's path
  int gapY = 0;             // y of both ends
  int startX = 0, endX = 0; // x of the value-0 and value-255 ends
  double sweep = 0;         // E: the path's angle in radians
  double arcLength = 0;     // R * E
  double startAngleDeg = 0; // arcsin((gapY - cy) / R)
  double degPerStep = 0;    // E in degrees / 255
};

struct Point {
  int x = 0, y = 0;
  bool operator==(const Point&) const = default;
};

// The path for a page rectangle (left, top, width, height) at scale k. A page
// too tall for its gap line to cut the circle gets no gap (a full circle)
// rather than a square root of a negative number.
Geometry Compute(int left, int top, int width, int height, double k);

// Where the timer puts the knob for the value shown: the value-0 end turned
// clockwise by value * E / 255.
Point KnobForGlide(const Geometry& g, int value);
// Where the wheel puts the knob for a value.
Point KnobForWheel(const Geometry& g, int value);

// A dragged pointer at (px, py): the point of the path nearest to it and the
// value it means. Below the gap line the value is 0 on the left and 255 on
// the right and the knob does not move (`moveKnob` false).
struct Drag {
  Point knob;
  int value = 0;
  bool moveKnob = true;
};
Drag FromPointer(const Geometry& g, int px, int py);

// One glide tick: from the value shown toward the target by 15, 5 or 1.
int GlideStep(int displayed, int target);

// A wheel notch (+120 up, -120 down) from the value shown; nothing happens
// at either end or for any other delta.
int WheelStep(int displayed, int current, int delta);

}  // namespace dial
