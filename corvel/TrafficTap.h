// What a program on the library makes of every report in and out: for a trace the report in
// hex with a line for each frame or record it completes, for a log a CSV row
// for each. One decoder for both, the one the window's traffic page uses.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "link/TrafficRecord.h"

class TrafficTap {
 public:
  using Sink = std::function<void(const std::string&)>;
  // Either sink may be empty.
  TrafficTap(Sink trace, Sink log);

  // Any thread; reports are taken one at a time in the order they come.
  // `bootloader`: the board runs its bootloader, the report is a raw record.
  void Feed(TrafficClock::time_point time, bool out, bool bootloader, const std::uint8_t* report, std::size_t length);

 private:
  Sink trace_;
  Sink log_;
  std::mutex mutex_;
  TrafficDecoder decoder_;
  std::vector<TrafficRow> rows_;
};
