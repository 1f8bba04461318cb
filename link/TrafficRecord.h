// What crossed the link, one row per frame or bootloader record: the one
// decoder behind corvelctl's --trace and --log and the window's traffic page,
// so that all three name the same things the same way. Pure C++.
//
// Reports are fed as the transport's tap sees them (report id first). Frames
// are put back together per direction; a frame spread over several reports
// makes one row when its last report arrives. Nothing is read past the bytes
// that arrived, whatever a length field claims.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

using TrafficClock = std::chrono::system_clock;

enum class TrafficKind : std::uint8_t { kData, kAck, kNak, kBootRecord, kError };
// "DATA", "ACK", "NAK", "BOOT", "ERROR".
const char* TrafficKindText(TrafficKind kind);

enum class ChecksumState : std::uint8_t { kNone, kOk, kBad };

struct TrafficRow {
  TrafficClock::time_point time{};
  bool out = false;  // from the host to the board
  TrafficKind kind = TrafficKind::kError;
  std::uint8_t address = 0;  // address byte of a frame
  std::optional<std::uint16_t> sequence;
  std::optional<std::uint8_t> cls;
  std::optional<std::uint8_t> cmd;
  std::optional<std::uint8_t> opcode;  // of a bootloader record
  std::string name;                    // of the command or record, e.g. "write registers"
  std::optional<std::uint16_t> payloadLength;  // as the frame states it
  std::vector<std::uint8_t> payload;           // what of it arrived
  ChecksumState checksum = ChecksumState::kNone;
  std::string meaning;  // one line, e.g. "write 0x20–0x25: 6 bytes"
};

// One report as the transport's tap hands it over, stamped when it was seen.
struct TrafficReport {
  static constexpr std::size_t kMaxSize = 65;  // report id + 64 data bytes
  TrafficClock::time_point time{};
  bool out = false;
  bool bootloader = false;  // the board ran its bootloader: a raw record, not a frame piece
  std::uint32_t length = 0;  // as read; only the first kMaxSize bytes are kept
  std::array<std::uint8_t, kMaxSize> bytes{};

  static TrafficReport From(TrafficClock::time_point time, bool out, bool bootloader, const std::uint8_t* report,
                            std::size_t length);
};

// Fills name and meaning (and opcode) of a bootloader record. The bootloader's
// record format lives with the firmware update, above the link, so the
// decoder is handed its describer.
using BootRecordDescriber = void (*)(std::span<const std::uint8_t> record, bool out, TrafficRow& row);

class TrafficDecoder {
 public:
  explicit TrafficDecoder(BootRecordDescriber describeBootRecord = nullptr)
      : describeBootRecord_(describeBootRecord) {}

  // Appends the rows the report completes (none while a frame is still
  // being put together).
  void Feed(const TrafficReport& report, std::vector<TrafficRow>& rows);

  // Forgets frames in progress (the link was reset, rows were dropped).
  void Reset();

  // One whole frame as it came off the wire.
  static TrafficRow DecodeFrame(std::span<const std::uint8_t> frame, bool out, TrafficClock::time_point time);

 private:
  struct Assembly {
    std::vector<std::uint8_t> bytes;
    std::size_t expected = 0;  // 0: no frame in progress
  };
  // Takes the 64 data bytes of one report; the row of a completed frame or
  // of a report that belongs to no frame.
  std::optional<TrafficRow> FeedFrameReport(Assembly& assembly, std::span<const std::uint8_t> data, bool out,
                                            TrafficClock::time_point time);

  BootRecordDescriber describeBootRecord_;
  Assembly in_, out_;
};

// ---- how rows are written --------------------------------------------------

// "16:04:05.123" (local time), or "2026-03-14 16:04:05.123" with the date.
std::string FormatTrafficTime(TrafficClock::time_point time, bool withDate);
// "(16,3)" for a frame's pair, "E2" for a bootloader record, else empty.
std::string PairText(const TrafficRow& row);
std::string ChecksumText(ChecksumState state);  // "ok", "bad" or ""
// Upper-case hex bytes separated by blanks.
std::string HexBytes(std::span<const std::uint8_t> bytes);

// The line --trace prints under a report that completes something, e.g.
// "DATA seq=3 addr=41 (16,3) payload=12 checksum ok  [write registers] write 0x20–0x25: 6 bytes".
std::string TraceText(const TrafficRow& row);

// CSV after RFC 4180: comma-separated, CRLF line ends, fields with a comma, a
// quote or a line break quoted (quotes doubled). One header row.
std::string CsvHeader();
std::string CsvLine(const TrafficRow& row);
std::string CsvField(std::string_view text);

// Board-given text made safe for a one-line field: printable ASCII kept, the
// rest shown as \xNN, cut to `maxLength` characters.
std::string PrintableText(std::string_view text, std::size_t maxLength = 48);
