#include "link/FrameTrace.h"

#include <algorithm>
#include <array>
#include <vector>

#include "link/FrameFormat.h"

std::optional<std::string> FrameTracer::Feed(std::span<const std::uint8_t> report) {
  if (report.size() < frame::kReportSize) return "short report";
  std::array<std::uint8_t, TrafficReport::kMaxSize> withId{};  // report id 0, then the data
  std::copy_n(report.begin(), frame::kReportSize, withId.begin() + 1);
  std::vector<TrafficRow> rows;
  decoder_.Feed(TrafficReport::From({}, false, false, withId.data(), withId.size()), rows);
  if (rows.empty()) return std::nullopt;
  return TraceText(rows.front());
}

std::string FrameTracer::Describe(std::span<const std::uint8_t> frame) {
  return TraceText(TrafficDecoder::DecodeFrame(frame, false, {}));
}
