#include "setup/ScriptRecorder.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "chip/EffectChain.h"
#include "chip/RegisterMap.h"
#include "setup/SetupWrites.h"

namespace setup {
namespace {

bool Is(const std::vector<std::uint8_t>& data, std::initializer_list<std::uint8_t> bytes) {
  return std::equal(data.begin(), data.end(), bytes.begin(), bytes.end());
}

std::optional<std::array<std::uint8_t, 2>> PriorPair(const std::vector<std::optional<std::uint8_t>>& prior) {
  if (prior.size() < 2 || !prior[0] || !prior[1]) return std::nullopt;
  return std::array{*prior[0], *prior[1]};
}

// "--ramp-on 315ms --ramp-off 1260ms" for a time byte, or nothing when one of
// its codes is no time an effect starts with, or the byte holds more than the
// two codes (bits the options would not write again).
std::optional<std::string> TimeOptions(std::optional<std::uint8_t> byte, const char* on, const char* off) {
  if (!byte) return std::nullopt;
  const auto [a, b] = chip::DecodeTimeByte(*byte);
  if (a == 0 || b == 0 || !chip::TimeCodeMilliseconds(a) || !chip::TimeCodeMilliseconds(b)) return std::nullopt;
  if (chip::TimeByte(a, b) != *byte) return std::nullopt;
  return std::string(on) + " " + chip::kTimeTexts[a] + " " + off + " " + chip::kTimeTexts[b];
}

bool IsBlock(const std::vector<std::uint8_t>& data, std::uint8_t reg, int ledCount) {
  return reg == chip::kRegBrightness && !data.empty() && static_cast<int>(data.size()) == ledCount;
}

}  // namespace

void ScriptRecorder::Write(std::uint8_t reg, std::span<const std::uint8_t> data, const RecordContext& c) {
  Held h;
  h.reg = reg;
  h.data.assign(data.begin(), data.end());
  h.boardId = c.boardId;
  h.ledCount = c.ledCount;
  h.blinkActive = c.blinkActive;
  h.fadeActive = c.fadeActive;
  h.afterRead = m_lastRead == reg;
  h.typedCurrent = c.typedCurrent;
  const auto known = [&](int r) -> std::optional<std::uint8_t> {
    if (!c.known || r > 0xFF) return std::nullopt;
    return c.known(static_cast<std::uint8_t>(r));
  };
  for (std::size_t i = 0; i < data.size(); ++i) h.prior.push_back(known(reg + static_cast<int>(i)));
  m_lastRead.reset();
  m_held.push_back(std::move(h));
  Drain(false);
}

void ScriptRecorder::Read(std::uint8_t reg, std::uint8_t count) {
  m_lastRead = count == 1 ? std::optional(reg) : std::nullopt;
  // "read input state": port 0, then (from its answer) port 1. Changes
  // nothing, but is something the person did and wants to see again.
  if (reg == chip::kRegPort0Input && count == 1) {
    Drain(true);
    Emit({"gpio read"});
  }
}

void ScriptRecorder::Address(std::uint8_t address) {
  Drain(true);
  Emit({"address " + Hex2(address)});
}

void ScriptRecorder::Comment(const std::string& text) {
  Drain(true);
  std::string line = "#";
  if (!text.empty()) line += ' ';
  for (char ch : text) line += ch == '\n' || ch == '\r' ? ' ' : ch;
  m_sink(line);
}

void ScriptRecorder::Finish() { Drain(true); }

// One command for the block, so that the replay writes what the window
// wrote, write for write: 'led V' when every LED gets V; 'led V LEDS...' when
// only those LEDs change, all to V, and the chip is known to hold the others
// (the command reads them and writes them back as they are); otherwise the
// block itself, byte for byte (with the stop before it when `withStop`).
std::vector<std::string> ScriptRecorder::LedLines(const Held& b, bool withStop) const {
  // 'led' writes 0x00 to 0x14 first: it stands only for a block that came
  // with that write.
  const auto raw = [&] {
    std::vector<std::string> lines{"# the LEDs' brightness, one value per LED"};
    if (withStop) lines.push_back("reg write " + Hex2(chip::kRegEffectControl) + " " + Hex2(chip::kEffectStop));
    std::string line = "reg write " + Hex2(b.reg);
    for (std::uint8_t v : b.data) line += " " + Hex2(v);
    lines.push_back(line);
    return lines;
  };
  if (!withStop) return raw();
  const bool same = std::all_of(b.data.begin(), b.data.end(), [&](std::uint8_t v) { return v == b.data.front(); });
  if (same) return {"led " + std::to_string(b.data.front())};
  if (b.prior.size() == b.data.size()) {
    std::vector<int> changed;
    for (std::size_t i = 0; i < b.data.size(); ++i)
      if (!b.prior[i] || *b.prior[i] != b.data[i]) changed.push_back(static_cast<int>(i));
    const bool oneValue = !changed.empty() && std::all_of(changed.begin(), changed.end(), [&](int i) {
      return b.data[static_cast<std::size_t>(i)] == b.data[static_cast<std::size_t>(changed.front())];
    });
    if (oneValue) {
      std::string line = "led " + std::to_string(b.data[static_cast<std::size_t>(changed.front())]);
      for (int led : changed) line += " " + std::to_string(led);
      return {line};
    }
  }
  return raw();
}

ScriptRecorder::Match ScriptRecorder::MatchHead(std::vector<std::string>* lines, std::vector<std::size_t>* used,
                                                bool final) const {
  const std::size_t n = m_held.size();
  if (n == 0) return Match::kNone;
  const Held& a = m_held[0];
  const auto at = [&](std::size_t i) -> const Held* { return i < n ? &m_held[i] : nullptr; };
  const auto stop = [](const Held& h) { return h.reg == chip::kRegEffectControl && Is(h.data, {chip::kEffectStop}); };

  // 'mode led': the mode, then 0x00 to the effect control once the page
  // hears the mode was written. With another write between them (a value
  // typed meanwhile) the command would change their order: the writes go
  // out one by one.
  if (a.reg == chip::kRegMode && Is(a.data, {0x00, 0x00})) {
    const std::size_t j = 1;
    if (n == 1) return final ? Match::kNone : Match::kPrefix;
    if (!stop(m_held[j])) return Match::kNone;
    // A brightness block right after it: its bytes (the LEDs' command would
    // write 0x14 once more).
    const Held* next = at(j + 1);
    if (!next && !final) return Match::kPrefix;
    lines->push_back("mode led");
    *used = {0, j};
    if (next && IsBlock(next->data, next->reg, next->ledCount)) {
      const auto led = LedLines(*next, false);
      lines->insert(lines->end(), led.begin(), led.end());
      used->push_back(j + 1);
    }
    return Match::kComplete;
  }

  // 'led': 0x00 to the effect control, then the whole brightness block.
  if (stop(a)) {
    if (n == 1) return final ? Match::kNone : Match::kPrefix;
    const Held& b = *at(1);
    if (!IsBlock(b.data, b.reg, b.ledCount)) return Match::kNone;
    *lines = LedLines(b, true);
    *used = {0, 1};
    return Match::kComplete;
  }

  // An effect chain, step by step as the pages send it, right after the
  // times it starts with: the command writes those times first, so it
  // stands for the chain only when the window wrote them just before. A
  // chain started on the times the chip already holds writes none, and no
  // command does that: its writes go out one by one.
  if (a.reg == chip::kRegRampTimes && a.data.size() == 1) {
    const Match wait = final ? Match::kNone : Match::kPrefix;
    const auto isKeep = [](const Held* h) { return h && h->reg == chip::kRegKeepTimes && h->data.size() == 1; };
    const std::size_t s = isKeep(at(1)) ? 2 : 1;
    if (s == 2 && !at(2)) return wait;
    const Held* start = at(s);
    if (!start) return wait;
    if (start->reg != chip::kRegEffectControl || !Is(start->data, {chip::kEffectStart}) ||
        !(start->blinkActive || start->fadeActive))
      return Match::kNone;
    const bool fade = start->fadeActive;
    if (fade != (s == 1)) return Match::kNone;
    const Held* direction = at(s + 1);
    if (!direction) return wait;
    if (direction->reg != chip::kRegDirection ||
        !Is(direction->data, fade ? std::initializer_list<std::uint8_t>{0x00, 0x00} : std::initializer_list<std::uint8_t>{0x03, 0x0F}))
      return Match::kNone;
    const Held* control = at(s + 2);
    if (!control) return wait;
    if (control->reg != chip::kRegGlobalControl || control->data.size() != 1) return Match::kNone;
    const std::uint8_t v = control->data[0];
    const auto ramp = TimeOptions(a.data[0], "--ramp-on", "--ramp-off");
    if (!fade) {
      const auto keep = TimeOptions(at(1)->data[0], "--keep-on", "--keep-off");
      if ((v & chip::kBlinkEnableBits) != chip::kBlinkEnableBits || !ramp || !keep) return Match::kNone;
      lines->push_back("blink " + *ramp + " " + *keep);
      *used = {0, 1, 2, 3, 4};
      return Match::kComplete;
    }
    if ((v & chip::kFadeEnableBits) != chip::kFadeEnableBits || !ramp) return Match::kNone;
    const Held* levels = at(4);
    if (!levels) return wait;
    if (levels->reg != chip::kRegOutputLevels) return Match::kNone;
    if (Is(levels->data, {chip::kFadeOnLevels[0], chip::kFadeOnLevels[1]})) lines->push_back("fade on " + *ramp);
    else if (Is(levels->data, {chip::kFadeOffLevels[0], chip::kFadeOffLevels[1]})) lines->push_back("fade off " + *ramp);
    else return Match::kNone;
    *used = {0, 1, 2, 3, 4};
    return Match::kComplete;
  }
  return Match::kNone;
}

void ScriptRecorder::Drain(bool all) {
  while (!m_held.empty()) {
    std::vector<std::string> lines;
    std::vector<std::size_t> used;
    const Match match = MatchHead(&lines, &used, all);
    if (match == Match::kComplete) {
      std::sort(used.rbegin(), used.rend());
      for (std::size_t i : used) m_held.erase(m_held.begin() + static_cast<std::ptrdiff_t>(i));
      Emit(lines);
      continue;
    }
    if (match == Match::kPrefix) return;
    Emit(Single(m_held.front()));
    m_held.erase(m_held.begin());
  }
}

std::vector<std::string> ScriptRecorder::Single(const Held& w) const {
  const std::vector<std::uint8_t>& d = w.data;
  const int count = w.ledCount;
  if (w.reg == chip::kRegMode && Is(d, {0xFF, 0xFF})) return {"mode gpio"};
  if (w.reg == chip::kRegDirection && Is(d, {0xFF, 0xFF})) return {"gpio dir input"};
  if (w.reg == chip::kRegDirection && Is(d, {0x00, 0x00})) return {"gpio dir output"};
  if (w.reg == chip::kRegSoftwareReset && Is(d, {chip::kSoftwareResetValue})) return {"reset"};

  if (w.reg == chip::kRegGlobalControl && d.size() == 1) {
    const std::uint8_t v = d[0];
    const auto prior = w.prior[0];
    // The output page changes bit 4 of what it has just read.
    const bool driverChange = prior && v == chip::WithDriverType(*prior, (v & chip::kDriverPushPull) != 0);
    const std::string drive = std::string("gpio drive ") + ((v & chip::kDriverPushPull) ? "push-pull" : "open-drain");
    if (driverChange && w.afterRead) return {drive};
    if ((v & ~chip::kCurrentRangeMask) == 0) {
      const auto typed = w.typedCurrent;
      const int mA = typed && *typed >= 1 && *typed <= 40 && chip::CurrentRangeCode(*typed) == v
                         ? *typed
                         : chip::CurrentRangeMilliamps(v);
      return {"current " + std::to_string(mA)};
    }
    if (driverChange) return {drive};
  }

  // Pins: the command names the pins it changes and keeps the others as the
  // chip holds them; without knowing what it holds, it names every pin.
  const bool interrupts = w.reg == chip::kRegInterruptDisable && d.size() == 2;
  const bool outputs = w.reg == chip::kRegOutputLevels && d.size() == 2 && chip::HasOutputLevelMapping(w.boardId);
  if ((interrupts || outputs) && count > 0) {
    const std::array<std::uint8_t, 2> bytes{d[0], d[1]};
    const auto decode = [&](std::array<std::uint8_t, 2> b) {
      return interrupts ? chip::InterruptDisabledPins(b, count, w.boardId) : chip::OutputLevelPins(b, count, w.boardId);
    };
    const auto target = decode(bytes);
    const auto encoded = interrupts ? chip::InterruptDisableBytes(target, count, w.boardId)
                                    : chip::OutputLevelBytes(target, count, w.boardId);
    if (encoded == bytes) {
      const auto prior = PriorPair(w.prior);
      const auto before = prior ? decode(*prior) : std::array<std::uint8_t, chip::kMaxPins>{};
      std::string line = interrupts ? "gpio irq" : "gpio out";
      bool any = false;
      for (int pass = 0; pass < 2 && !any; ++pass)
        for (int i = 0; i < count && i < chip::kMaxPins; ++i) {
          const auto k = static_cast<std::size_t>(i);
          // First pass: only the pins that change (when the chip's pins are known).
          if (pass == 0 && (!prior || target[k] == before[k])) continue;
          line += " " + std::to_string(i) + "=" +
                  (interrupts ? (target[k] ? "disable" : "enable") : (target[k] ? "high" : "low"));
          any = true;
        }
      return {line};
    }
  }

  // Anything else, byte for byte, with what it sets.
  std::vector<std::string> lines;
  std::string meaning;
  if (d.size() <= 2)
    for (std::size_t i = 0; i < d.size(); ++i) {
      const auto reg = static_cast<std::uint8_t>(w.reg + i);
      const std::string decoded = chip::DescribeValue(reg, d[i]);
      if (decoded.empty()) continue;
      meaning += (meaning.empty() ? "" : "; ") + Hex2(reg) + " " + decoded;
    }
  if (!meaning.empty()) lines.push_back("# " + meaning);
  std::string line = "reg write " + Hex2(w.reg);
  for (std::uint8_t b : d) line += " " + Hex2(b);
  lines.push_back(line);
  return lines;
}

void ScriptRecorder::Emit(const std::vector<std::string>& lines) {
  // Every write the window made gets its line, a repeated one too (the
  // window writes the GPIO mode twice on one click): the replay is to write
  // what the window wrote, write for write.
  for (const std::string& line : lines) m_sink(line);
}

}  // namespace setup
