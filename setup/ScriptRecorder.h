// Turns the register traffic a person causes in the window into corvelctl
// command lines ("mode led", "led 128 0 1", "current 25", "gpio irq
// 3=disable", "blink --ramp-on 315ms ..."), one per line, so that running the
// script with 'corvelctl batch --file' leaves the chip exactly as the window
// left it. A write is put into the readable command only where that command,
// run on a chip in the same state, writes the very same bytes; anything else
// becomes 'reg write' with a comment saying what it sets. Writes that belong
// together (0x00 to 0x14 and the brightness block; an effect chain) are held
// until it is clear whether they complete. Pure C++.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace setup {

// What the window knew when a write went out.
struct RecordContext {
  std::uint8_t boardId = 1;
  int ledCount = 6;
  bool blinkActive = false;  // the blink page owns the chain under way
  bool fadeActive = false;
  std::optional<int> typedCurrent;  // "Global Max Current" as typed
  // What the chip held before this write, as far as the program knows.
  std::function<std::optional<std::uint8_t>(std::uint8_t reg)> known;
};

class ScriptRecorder {
 public:
  using Sink = std::function<void(const std::string& line)>;
  explicit ScriptRecorder(Sink sink) : m_sink(std::move(sink)) {}

  void Write(std::uint8_t reg, std::span<const std::uint8_t> data, const RecordContext& context);
  void Read(std::uint8_t reg, std::uint8_t count);
  // The chip's I2C address told to the board.
  void Address(std::uint8_t address);
  // A line starting with '#'.
  void Comment(const std::string& text);
  // Writes out whatever is still held.
  void Finish();

 private:
  struct Held {
    std::uint8_t reg = 0;
    std::vector<std::uint8_t> data;
    std::uint8_t boardId = 1;
    int ledCount = 0;
    bool blinkActive = false;
    bool fadeActive = false;
    bool afterRead = false;  // the last request before it read this register
    std::optional<int> typedCurrent;
    std::vector<std::optional<std::uint8_t>> prior;  // the registers written, before
  };
  enum class Match { kNone, kPrefix, kComplete };

  // Whether the held writes from the front make up (or may still make up) a
  // command of several writes; on a match, `lines` gets the command and
  // `used` the held writes it stands for. `final`: nothing more will come.
  Match MatchHead(std::vector<std::string>* lines, std::vector<std::size_t>* used, bool final) const;
  std::vector<std::string> LedLines(const Held& block, bool withStop) const;
  void Drain(bool all);
  std::vector<std::string> Single(const Held& w) const;
  void Emit(const std::vector<std::string>& lines);

  Sink m_sink;
  std::vector<Held> m_held;
  std::optional<std::uint8_t> m_lastRead;
};

}  // namespace setup
