// What a page on the LED board page may ask of the page that hosts it. The
// host hands itself to the pages it makes and connects their requests, so a
// page reaches no other page and no window; a test hosts a page with a small
// stand-in of its own.
#pragma once

#include <cstdint>
#include <span>

#include "chip/RegisterMap.h"

namespace gpio {
enum class Redraw {
  kPlain,         // every pin in its colour, the selection marks as they are
  kMarkSelected,  // every pin unselected, then the selected pin marked
};
}  // namespace gpio

class PageHost {
 public:
  virtual ~PageHost() = default;
  // Colours pins 0..15 on the board drawing (1: marked, anything else: no
  // mark) and redraws it.
  virtual void MarkPins(std::span<const std::uint8_t, chip::kMaxPins> marks, gpio::Redraw redraw) = 0;
  // Every page as after a reset of the chip, without resetting the chip. The
  // page that asked is retired with the others and made again.
  virtual void ResetPages() = 0;
  // After a reset that keeps the effect's times, the fresh blink and fade
  // pages show the times the chip was given again.
  virtual void ShowEffectTimes(std::uint8_t ramp, std::uint8_t keep) = 0;
};
