// One period of the chip's blink and fade effects as a picture: which stretch
// of the brightness curve lasts how long, where each stretch sits on a plot of
// a given width, and where its time label goes so that no two labels overlap.
// Also whether the chip runs an effect now, from what the program knows of its
// registers. Pure C++: the pages draw it, the tests check the numbers.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace chip {

enum class TimingPhase {
  kRampOn,   // dark to bright
  kKeepOn,   // bright
  kRampOff,  // bright to dark
  kKeepOff,  // dark
  kHold,     // fade: bright for as long as the chip is left alone (no set time)
};

struct TimingSegment {
  TimingPhase phase;
  // Milliseconds of the stretch; nothing for a hold, or for a code that has
  // no time (6 and 7, which only the register page can write).
  std::optional<int> ms;
};

// Ramp on, keep on, ramp off, keep off: one period of blink.
std::vector<TimingSegment> BlinkPeriod(std::uint8_t rampOn, std::uint8_t keepOn, std::uint8_t rampOff,
                                       std::uint8_t keepOff);
// Ramp on, the hold between "Fade On" and "Fade Off", ramp off.
std::vector<TimingSegment> FadePeriod(std::uint8_t rampOn, std::uint8_t rampOff);

// Brightness at the start and at the end of a stretch, 0 dark and 1 bright.
double StartLevel(TimingPhase phase);
double EndLevel(TimingPhase phase);

struct SegmentSpan {
  double x0;
  double x1;
};
// Where each stretch lies on a plot `width` units wide. Timed stretches are
// to scale with each other; a stretch without a time (a hold) gets a fixed
// share of the width, drawn as a break. When no timed stretch lasts at all
// (all "0ms") the timed ones share the rest equally: there is no scale to
// keep, and each still needs room for its label.
std::vector<SegmentSpan> SegmentSpans(std::span<const TimingSegment> segments, double width);
inline constexpr double kHoldShare = 0.25;

// Whether the stretches are drawn to scale (at least one lasts).
bool DrawnToScale(std::span<const TimingSegment> segments);

struct LabelPlace {
  double x;  // left edge
  int row;   // 0: the first label row, 1: the second
};
// Labels of `widths` wide, each wanted centred on `centres`, on a line
// `width` units wide: in order, each goes into the first row where it fits
// after the labels already there (`gap` apart); when neither row has room it
// goes into the row that ends first, just after its last label. Every label
// stays inside the line as far as its width allows.
std::vector<LabelPlace> PlaceLabels(std::span<const double> centres, std::span<const double> widths, double width,
                                    double gap);

// "0ms", "315ms", ... for a stretch; "?" for a code without a time; empty for
// a hold.
const char* SegmentText(const TimingSegment& segment);

enum class RunningEffect { kNone, kBlink, kFadeOn, kFadeOff };
// The registers an effect chain leaves behind, as far as the program knows
// them (nothing: not known).
struct EffectRegisters {
  std::optional<std::uint8_t> effectControl;             // 0x14
  std::optional<std::uint8_t> globalControl;             // 0x11
  std::optional<std::uint8_t> direction0, direction1;    // 0x04, 0x05
  std::optional<std::uint8_t> levels0, levels1;          // 0x02, 0x03
};
// What the chip runs: the effect control at its start value, and the rest as
// the last chain left it. Blink and fade set overlapping bits of 0x11 (after
// both, it reads 0xFF), so the direction bytes, which the two chains write
// differently, tell which ran last; fade's levels tell on from off. Anything
// not known means nothing runs as far as anyone can tell.
RunningEffect EffectRunning(const EffectRegisters& r);

}  // namespace chip
