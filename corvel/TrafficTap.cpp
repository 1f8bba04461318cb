#include "corvel/TrafficTap.h"

#include "firmware/BootRecordText.h"

TrafficTap::TrafficTap(Sink trace, Sink log)
    : trace_(std::move(trace)), log_(std::move(log)), decoder_(MakeTrafficDecoder()) {}

void TrafficTap::Feed(TrafficClock::time_point time, bool out, bool bootloader, const std::uint8_t* report,
                      std::size_t length) {
  std::lock_guard lock(mutex_);
  rows_.clear();
  decoder_.Feed(TrafficReport::From(time, out, bootloader, report, length), rows_);
  if (trace_) {
    trace_((out ? "> " : "< ") + HexBytes(std::span<const std::uint8_t>(report, report ? length : 0)) + "\n");
    for (const auto& row : rows_) trace_("  " + TraceText(row) + "\n");
  }
  if (log_)
    for (const auto& row : rows_) log_(CsvLine(row));
}
