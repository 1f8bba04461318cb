#include "sim/SimKnobs.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <vector>

namespace sim {
namespace {

constexpr double kPpmPerPercent = 10000.0;
constexpr double kMaxLatencyMs = 1000.0;
// The addresses the chip's address pins can give it.
constexpr unsigned kChipAddressLowest = 0x58;
constexpr unsigned kChipAddressHighest = 0x5B;

std::optional<double> ParseDecimal(std::string_view text) {
  // from_chars takes no sign and no blanks: "-1", "+1" and " 1" are refused.
  if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text.front())) || text.front() == '.'))
    return std::nullopt;
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

}  // namespace

SimFaults RealisticTiming() {
  SimFaults faults;
  faults.reportLatency = kRealisticReportLatency;
  faults.eraseTime = kRealisticEraseTime;
  return faults;
}

bool ParseFaultSpec(std::string_view spec, SimFaults& faults, std::string& error) {
  SimFaults result = faults;
  const auto fail = [&](const std::string& what) {
    error = "--sim-faults takes drop=P,corrupt=P,nak=P (P: percent of frames, 0 to 100): " + what;
    return false;
  };
  if (spec.empty()) return fail("nothing given");
  std::vector<std::string_view> seen;  // a fault named twice: which rate was meant is not for us to guess
  while (!spec.empty()) {
    const std::size_t comma = spec.find(',');
    const std::string_view item = spec.substr(0, comma);
    spec = comma == std::string_view::npos ? std::string_view() : spec.substr(comma + 1);
    if (comma != std::string_view::npos && spec.empty()) return fail("a comma with nothing after it");
    const std::size_t equals = item.find('=');
    if (equals == std::string_view::npos) return fail("'" + std::string(item) + "' has no '='");
    const std::string_view name = item.substr(0, equals);
    if (std::find(seen.begin(), seen.end(), name) != seen.end())
      return fail("'" + std::string(name) + "' is given twice");
    seen.push_back(name);
    const auto percent = ParseDecimal(item.substr(equals + 1));
    if (!percent || *percent > 100.0) return fail("'" + std::string(item) + "' is not a percentage");
    const auto ppm = static_cast<std::uint32_t>(std::lround(*percent * kPpmPerPercent));
    if (name == "drop") {
      result.dropToHostPpm = result.dropFromHostPpm = ppm;
    } else if (name == "corrupt") {
      result.corruptToHostPpm = result.corruptFromHostPpm = ppm;
    } else if (name == "nak") {
      result.nakFromHostPpm = ppm;
    } else {
      return fail("unknown fault '" + std::string(name) + "'");
    }
  }
  faults = result;
  return true;
}

bool ParseLatency(std::string_view text, SimFaults& faults, std::string& error) {
  const auto ms = ParseDecimal(text);
  if (!ms || *ms > kMaxLatencyMs) {
    error = "--sim-latency takes milliseconds from 0 to 1000, not '" + std::string(text) + "'";
    return false;
  }
  faults.reportLatency = std::chrono::microseconds(std::llround(*ms * 1000.0));
  return true;
}

bool ParseChipAddress(std::string_view text, SimConfig& config, std::string& error) {
  std::string_view digits = text;
  int base = 10;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits.remove_prefix(2);
    base = 16;
  }
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() || value < kChipAddressLowest ||
      value > kChipAddressHighest) {
    error = "--sim-chip-address takes an I2C address from 0x58 to 0x5B, not '" + std::string(text) + "'";
    return false;
  }
  config.chipAddress = static_cast<std::uint8_t>(value);
  return true;
}

}  // namespace sim
