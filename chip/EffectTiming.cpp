#include "chip/EffectTiming.h"

#include <algorithm>
#include <array>

#include "chip/EffectChain.h"
#include "chip/RegisterMap.h"

namespace chip {

std::vector<TimingSegment> BlinkPeriod(std::uint8_t rampOn, std::uint8_t keepOn, std::uint8_t rampOff,
                                       std::uint8_t keepOff) {
  return {{TimingPhase::kRampOn, TimeCodeMilliseconds(rampOn)},
          {TimingPhase::kKeepOn, TimeCodeMilliseconds(keepOn)},
          {TimingPhase::kRampOff, TimeCodeMilliseconds(rampOff)},
          {TimingPhase::kKeepOff, TimeCodeMilliseconds(keepOff)}};
}

std::vector<TimingSegment> FadePeriod(std::uint8_t rampOn, std::uint8_t rampOff) {
  return {{TimingPhase::kRampOn, TimeCodeMilliseconds(rampOn)},
          {TimingPhase::kHold, std::nullopt},
          {TimingPhase::kRampOff, TimeCodeMilliseconds(rampOff)}};
}

double StartLevel(TimingPhase phase) {
  return phase == TimingPhase::kRampOn || phase == TimingPhase::kKeepOff ? 0.0 : 1.0;
}

double EndLevel(TimingPhase phase) {
  return phase == TimingPhase::kRampOff || phase == TimingPhase::kKeepOff ? 0.0 : 1.0;
}

namespace {
bool Timed(const TimingSegment& s) { return s.phase != TimingPhase::kHold; }
}  // namespace

bool DrawnToScale(std::span<const TimingSegment> segments) {
  return std::any_of(segments.begin(), segments.end(), [](const TimingSegment& s) { return Timed(s) && s.ms.value_or(0) > 0; });
}

std::vector<SegmentSpan> SegmentSpans(std::span<const TimingSegment> segments, double width) {
  std::vector<SegmentSpan> spans;
  spans.reserve(segments.size());
  const auto holds = std::count_if(segments.begin(), segments.end(), [](const TimingSegment& s) { return !Timed(s); });
  const auto timed = static_cast<std::ptrdiff_t>(segments.size()) - holds;
  const double holdWidth = holds > 0 && timed > 0 ? width * kHoldShare / static_cast<double>(holds)
                           : holds > 0            ? width / static_cast<double>(holds)
                                                  : 0.0;
  const double timedWidth = std::max(0.0, width - holdWidth * static_cast<double>(holds));
  double total = 0;
  for (const auto& s : segments)
    if (Timed(s)) total += std::max(0, s.ms.value_or(0));
  double x = 0;
  for (const auto& s : segments) {
    double w = 0;
    if (!Timed(s)) w = holdWidth;
    else if (total > 0) w = timedWidth * std::max(0, s.ms.value_or(0)) / total;
    else w = timedWidth / static_cast<double>(timed);
    spans.push_back({x, x + w});
    x += w;
  }
  return spans;
}

std::vector<LabelPlace> PlaceLabels(std::span<const double> centres, std::span<const double> widths, double width,
                                    double gap) {
  const std::size_t n = std::min(centres.size(), widths.size());
  std::vector<LabelPlace> places;
  places.reserve(n);
  // Right edge of the last label in each row; nothing yet.
  std::array<double, 2> end = {-1e300, -1e300};
  for (std::size_t i = 0; i < n; ++i) {
    const double w = widths[i];
    const double wanted = std::clamp(centres[i] - w / 2, 0.0, std::max(0.0, width - w));
    int row = -1;
    for (int r = 0; r < 2 && row < 0; ++r)
      if (wanted >= end[static_cast<std::size_t>(r)] + gap) row = r;
    double x = wanted;
    if (row < 0) {
      row = end[0] <= end[1] ? 0 : 1;
      x = end[static_cast<std::size_t>(row)] + gap;
    }
    places.push_back({x, row});
    end[static_cast<std::size_t>(row)] = x + w;
  }
  return places;
}

const char* SegmentText(const TimingSegment& segment) {
  if (segment.phase == TimingPhase::kHold) return "";
  if (!segment.ms) return "?";
  for (std::size_t i = 0; i < kTimeMilliseconds.size(); ++i)
    if (kTimeMilliseconds[i] == *segment.ms) return kTimeTexts[i];
  return "?";
}

RunningEffect EffectRunning(const EffectRegisters& r) {
  if (r.effectControl != kEffectStart || !r.globalControl || !r.direction0 || !r.direction1) return RunningEffect::kNone;
  const auto is = [](std::optional<std::uint8_t> a, std::optional<std::uint8_t> b, const std::array<std::uint8_t, 2>& v) {
    return a == v[0] && b == v[1];
  };
  if (is(r.direction0, r.direction1, kBlinkDirection))
    return (*r.globalControl & kBlinkEnableBits) ? RunningEffect::kBlink : RunningEffect::kNone;
  if (!is(r.direction0, r.direction1, kFadeDirection) || (*r.globalControl & kFadeEnableBits) != kFadeEnableBits)
    return RunningEffect::kNone;
  if (is(r.levels0, r.levels1, kFadeOnLevels)) return RunningEffect::kFadeOn;
  if (is(r.levels0, r.levels1, kFadeOffLevels)) return RunningEffect::kFadeOff;
  return RunningEffect::kNone;
}

}  // namespace chip
