#include "link/TrafficRecord.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <iterator>

#include "link/BoardIds.h"
#include "link/CommandSet.h"
#include "link/Crc16.h"
#include "link/FrameFormat.h"

namespace {

// HID report id of every report the board and the host exchange.
constexpr std::uint8_t kReportId = 0;
// A register range longer than this shows its first bytes and an ellipsis.
constexpr std::size_t kMaxDataShown = 16;

struct PairName {
  std::uint8_t cls;
  std::uint8_t cmd;
  const char* name;
};

// Every pair the engine accepts, named for a person reading the traffic.
constexpr PairName kPairNames[] = {
    {kClassSystem, 1, "handshake request"},
    {kClassSystem, 2, "handshake answer"},
    {kClassSystem, 8, "protocol error"},
    {kClassSystem, 32, "version query"},
    {kClassSystem, 33, "version"},
    {kClassI2c, 1, "read registers"},
    {kClassI2c, 2, "register data"},
    {kClassI2c, 3, "write registers"},
    {kClassI2c, 4, "registers written"},
    {kClassI2c, 17, "read registers"},
    {kClassI2c, 18, "register data"},
    {kClassI2c, 24, "write registers"},
    {kClassI2c, 25, "registers written"},
    {kClassI2c, 48, "read failed"},
    {kClassBoardEvent, 1, "board event 1"},
    {kClassBoardEvent, 2, "board event 2"},
    {kClassBoardEvent, 3, "board event 3"},
    {kClassBoardEvent, 17, "GPIO control status"},
    {kClassBoardEvent, 18, "board event 18"},
    {kClassBoardEvent, 19, "board event 19"},
    {kClassBoardEvent, 36, "board event 36"},
    {kClassBoardEvent, 37, "interrupt"},
    {kClassBoardEvent, 65, "board event 65"},
    {kClassBoardEvent, 81, "board event 81"},
    {kClassBoot, 1, "set boot value"},
    {kClassBoot, 2, "boot value set"},
    {kClassBoot, 3, "boot value refused"},
    {kClassLamp, 1, "lamp board data"},
    {kClassLamp, 2, "board answer"},
    {kClassLamp, 3, "board answer (failure)"},
    {kClassLamp, 10, "set chip address"},
    {kClassLamp, 11, "chip address set"},
    {kClassLamp, 12, "chip address refused"},
    {kClassLamp, 43, "open/short set"},
    {kClassLamp, 44, "open/short failed"},
};

// Class 64 answers a request r with r + 1 (accepted) or r + 2 (refused);
// (64, 25) is reported like an acceptance.
constexpr std::uint8_t kLampAccepted[] = {5, 17, 24, 25, 33, 40, 56, 65, 68, 71};
constexpr std::uint8_t kLampRefused[] = {6, 18, 34, 41, 57, 66, 69, 72};
constexpr std::uint8_t kLampRequests[] = {4, 16, 23, 32, 39, 42, 55, 64, 67, 70};

template <std::size_t N>
bool Contains(const std::uint8_t (&list)[N], std::uint8_t value) {
  return std::find(std::begin(list), std::end(list), value) != std::end(list);
}

std::string Format(const char* fmt, unsigned a, unsigned b = 0, unsigned c = 0) {
  char buf[128];
  std::snprintf(buf, sizeof buf, fmt, a, b, c);
  return buf;
}

std::string PairNameOf(std::uint8_t cls, std::uint8_t cmd) {
  for (const auto& p : kPairNames)
    if (p.cls == cls && p.cmd == cmd) return p.name;
  if (cls == kClassLamp) {
    if (Contains(kLampAccepted, cmd)) return "setting accepted";
    if (Contains(kLampRefused, cmd)) return "setting refused";
    if (Contains(kLampRequests, cmd)) return "lamp command";
  }
  return "";
}

// "0x20–0x25" for several registers, "0x14" for one.
std::string RegisterRange(unsigned first, unsigned count) {
  if (count <= 1) return Format("0x%02X", first);
  return Format("0x%02X\u20130x%02X", first, first + count - 1);
}

std::string ByteCount(unsigned n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }

// The I2C record of a register command or reply, then what follows it.
std::string DescribeRegisterAccess(std::uint8_t cmd, std::span<const std::uint8_t> p, std::uint16_t lengthField) {
  if (p.size() < kI2cRecordSize) return "too short for an I2C record";
  const unsigned first = p[kI2cFirstRegister];
  const unsigned count = p[kI2cCount];
  const auto data = p.subspan(kI2cRecordSize);
  switch (cmd) {
    case 1:
    case 17: return "read " + RegisterRange(first, count) + ": " + ByteCount(count);
    case 3:
    case 24: return "write " + RegisterRange(first, count) + ": " + ByteCount(count);
    case 4:
    case 25: return "written " + RegisterRange(first, count) + ": " + ByteCount(count);
    case 2:
    case 18: {
      std::string s = "data " + RegisterRange(first, count) + ": ";
      const auto shown = data.first(std::min<std::size_t>({data.size(), count, kMaxDataShown}));
      s += HexBytes(shown);
      if (shown.size() < count) s += " \u2026";
      // The window takes a reply only when its length agrees with its count.
      if ((lengthField & 0xFF) != ((count + kI2cRecordSize) & 0xFF)) s += " (length and count disagree: dropped)";
      return s;
    }
    case 48: return "read of " + RegisterRange(first, count) + " failed";
    default: return "";
  }
}

std::string DescribeFrame(std::uint8_t cls, std::uint8_t cmd, std::span<const std::uint8_t> p, bool out,
                          std::uint16_t lengthField) {
  switch (cls) {
    case kClassSystem:
      switch (cmd) {
        case 1: return out ? "handshake request" : "the board asks for the handshake";
        case 2: {
          static constexpr std::uint8_t kMatch[] = {0x5A, 0x5A, 0x00, 0x01};
          if (p.size() != 4) return "handshake answer of " + ByteCount(static_cast<unsigned>(p.size())) + ": ignored";
          return std::equal(p.begin(), p.end(), std::begin(kMatch)) ? "protocol matches" : "protocol does not match";
        }
        case 8: return "the board reports a protocol error";
        case 32: return "firmware version query";
        case 33: {
          const VersionRecord v = ParseVersionRecord(p);
          return "firmware " + PrintableText(v.strings[2]) + " (" + PrintableText(v.strings[0]) + ", " +
                 PrintableText(v.strings[1]) + ")";
        }
        default: return "";
      }
    case kClassI2c: return DescribeRegisterAccess(cmd, p, lengthField);
    case kClassBoardEvent:
      if (p.empty()) return "";
      if (cmd == 37) return Format("interrupt line %u", p[0]);
      if (cmd == 17) return Format("status %u", p[0]);
      return "";
    case kClassBoot:
      if (cmd == 1) return p.empty() ? "set boot value" : Format("boot value 0x%02X: restart into the bootloader", p[0]);
      if (cmd == 2) return "the board restarts into its bootloader";
      if (cmd == 3) return "the board keeps its firmware";
      return "";
    case kClassLamp:
      switch (cmd) {
        case 1: {
          if (p.size() < kChipBlockHeaderSize) return "too short for a chip block header";
          const unsigned n = frame::ReadU16(p.data() + 2);
          if (n == 0 && p[1] == 0) return Format("board query (board kind %u)", p[0]);
          return Format("board kind %u, mode %u, ", p[0], p[1]) + ByteCount(n);
        }
        case 2:
        case 3: {
          const auto id = BoardIdFromReply(p);
          if (!id) return "too short to carry a board id";
          const ChipBoardEntry* board = FindChipBoard(*id);
          return Format("board id %u (", *id) + (board ? board->name : "unknown board") + ")";
        }
        case 10: return p.empty() ? "" : Format("chip address 0x%02X", p[0]);
        case 11: return p.empty() ? "" : Format("chip address 0x%02X taken", p[0]);
        case 12: return p.empty() ? "" : Format("chip address 0x%02X refused", p[0]);
        default:
          if (Contains(kLampRequests, cmd)) return ByteCount(static_cast<unsigned>(p.size()));
          return "";
      }
    default: return "";
  }
}

TrafficRow ErrorRow(bool out, TrafficClock::time_point time, std::string meaning,
                    std::span<const std::uint8_t> bytes = {}) {
  TrafficRow row;
  row.time = time;
  row.out = out;
  row.kind = TrafficKind::kError;
  row.meaning = std::move(meaning);
  row.payload.assign(bytes.begin(), bytes.end());
  if (!bytes.empty()) row.payloadLength = static_cast<std::uint16_t>(bytes.size());
  return row;
}

}  // namespace

const char* TrafficKindText(TrafficKind kind) {
  switch (kind) {
    case TrafficKind::kData: return "DATA";
    case TrafficKind::kAck: return "ACK";
    case TrafficKind::kNak: return "NAK";
    case TrafficKind::kBootRecord: return "BOOT";
    case TrafficKind::kError: return "ERROR";
  }
  return "";
}

TrafficReport TrafficReport::From(TrafficClock::time_point time, bool out, bool bootloader,
                                  const std::uint8_t* report, std::size_t length) {
  TrafficReport r;
  r.time = time;
  r.out = out;
  r.bootloader = bootloader;
  if (!report) length = 0;
  r.length = static_cast<std::uint32_t>(std::min<std::size_t>(length, UINT32_MAX));
  std::copy_n(report, std::min(length, kMaxSize), r.bytes.begin());
  return r;
}

void TrafficDecoder::Reset() {
  in_ = {};
  out_ = {};
}

void TrafficDecoder::Feed(const TrafficReport& report, std::vector<TrafficRow>& rows) {
  if (report.length != TrafficReport::kMaxSize || report.bytes[0] != kReportId) {
    // The reader hands such reads to nobody; say so rather than guess.
    rows.push_back(ErrorRow(report.out, report.time,
                            "report of " + ByteCount(report.length) + " or without report id 0: ignored",
                            std::span(report.bytes.data(), std::min<std::size_t>(report.length, TrafficReport::kMaxSize))));
    return;
  }
  const std::span<const std::uint8_t> data(report.bytes.data() + 1, frame::kReportSize);
  if (report.bootloader) {
    TrafficRow row;
    row.time = report.time;
    row.out = report.out;
    row.kind = TrafficKind::kBootRecord;
    row.opcode = data[0];
    row.payload.assign(data.begin(), data.end());
    row.payloadLength = static_cast<std::uint16_t>(data.size());
    if (describeBootRecord_) describeBootRecord_(data, report.out, row);
    // A frame half put together before the restart never completes.
    Reset();
    rows.push_back(std::move(row));
    return;
  }
  if (auto row = FeedFrameReport(report.out ? out_ : in_, data, report.out, report.time)) rows.push_back(std::move(*row));
}

std::optional<TrafficRow> TrafficDecoder::FeedFrameReport(Assembly& a, std::span<const std::uint8_t> data, bool out,
                                                          TrafficClock::time_point time) {
  if (a.expected == 0) {
    if (data[0] != frame::kMagicByte || data[1] != frame::kMagicByte)
      return ErrorRow(out, time, "report outside any frame", data);
    const std::uint32_t lengthField = frame::ReadU16(data.data() + frame::kLengthOffset);
    // A length the receiver would refuse starts no frame: the row names it
    // at once instead of waiting for reports that will never come.
    if (lengthField < frame::kMinLengthField || lengthField > frame::kMaxLengthField)
      return DecodeFrame(data.first(frame::kAckFrameSize), out, time);
    a.expected = lengthField + frame::kHeaderSize;
    a.bytes.clear();
    a.bytes.reserve(a.expected);
  }
  const std::size_t take = std::min(a.expected - a.bytes.size(), data.size());
  a.bytes.insert(a.bytes.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(take));
  if (a.bytes.size() < a.expected) return std::nullopt;
  a.expected = 0;
  return DecodeFrame(a.bytes, out, time);
}

TrafficRow TrafficDecoder::DecodeFrame(std::span<const std::uint8_t> f, bool out, TrafficClock::time_point time) {
  if (f.size() < frame::kAckFrameSize) return ErrorRow(out, time, "runt frame of " + ByteCount(static_cast<unsigned>(f.size())), f);
  const unsigned lengthField = frame::ReadU16(f.data() + frame::kLengthOffset);
  if (lengthField < frame::kMinLengthField || lengthField > frame::kMaxLengthField)
    return ErrorRow(out, time, Format("bad frame: length field %u out of range", lengthField), f);
  if (f.size() < lengthField + frame::kHeaderSize)
    return ErrorRow(out, time, Format("truncated frame: %u of %u bytes", static_cast<unsigned>(f.size()),
                                      lengthField + static_cast<unsigned>(frame::kHeaderSize)),
                    f);
  f = f.first(lengthField + frame::kHeaderSize);

  TrafficRow row;
  row.time = time;
  row.out = out;
  row.address = f[frame::kAddressOffset];
  row.sequence = frame::ReadU16(f.data() + frame::kSequenceOffset);
  const std::uint8_t type = f[frame::kTypeOffset];
  if (type == frame::kTypeAck || type == frame::kTypeNak) {
    row.kind = type == frame::kTypeAck ? TrafficKind::kAck : TrafficKind::kNak;
    row.meaning = type == frame::kTypeAck ? Format("frame %u received", *row.sequence)
                                          : Format("frame %u arrived damaged: send it again", *row.sequence);
    return row;
  }
  if (type != frame::kTypeData) {
    row.kind = TrafficKind::kError;
    row.meaning = Format("frame type 0x%02X: ignored", type);
    return row;
  }

  row.kind = TrafficKind::kData;
  const std::size_t covered = lengthField - frame::kHeaderSize;  // from the marker to the end
  const bool ok = CCRC16::Update(0, f.data() + frame::kMarkerOffset, static_cast<std::uint32_t>(covered)) ==
                  frame::ReadU16(f.data() + frame::kChecksumOffset);
  row.checksum = ok ? ChecksumState::kOk : ChecksumState::kBad;
  if (covered < frame::kBodyHeaderSize) {
    row.meaning = "body of " + ByteCount(static_cast<unsigned>(covered)) + ": too short for a command";
    return row;
  }
  row.cls = f[frame::kClassOffset];
  row.cmd = f[frame::kCommandOffset];
  const std::uint16_t payloadField = frame::ReadU16(f.data() + frame::kPayloadLengthOffset);
  row.payloadLength = payloadField;
  const std::size_t available = f.size() - frame::kPayloadOffset;
  const auto payload = f.subspan(frame::kPayloadOffset, std::min<std::size_t>(payloadField, available));
  row.payload.assign(payload.begin(), payload.end());
  row.name = PairNameOf(*row.cls, *row.cmd);
  row.meaning = row.name.empty() ? std::string("not a command the tool knows")
                                 : DescribeFrame(*row.cls, *row.cmd, payload, out, payloadField);
  if (payloadField > available) row.meaning += (row.meaning.empty() ? "" : "; ") + std::string("payload cut short");
  if (!ok) row.meaning = "checksum bad: " + row.meaning;
  return row;
}

// ---- writing rows -------------------------------------------------------------

std::string FormatTrafficTime(TrafficClock::time_point time, bool withDate) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000 - (ms % 1000 < 0 ? 1 : 0));
  const int milli = static_cast<int>(((ms % 1000) + 1000) % 1000);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &seconds);
#else
  localtime_r(&seconds, &local);
#endif
  char buf[40];
  if (withDate) {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, milli);
  } else {
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec, milli);
  }
  return buf;
}

std::string PairText(const TrafficRow& row) {
  if (row.cls && row.cmd) return Format("(%u,%u)", *row.cls, *row.cmd);
  if (row.opcode) return Format("%02X", *row.opcode);
  return "";
}

std::string ChecksumText(ChecksumState state) {
  switch (state) {
    case ChecksumState::kOk: return "ok";
    case ChecksumState::kBad: return "bad";
    case ChecksumState::kNone: return "";
  }
  return "";
}

std::string HexBytes(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i) out += ' ';
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0x0F];
  }
  return out;
}

std::string TraceText(const TrafficRow& row) {
  std::string line;
  switch (row.kind) {
    case TrafficKind::kAck:
    case TrafficKind::kNak:
      return std::string(TrafficKindText(row.kind)) + Format(" seq=%u addr=%02X", row.sequence.value_or(0), row.address);
    case TrafficKind::kData:
      line = Format("DATA seq=%u addr=%02X", row.sequence.value_or(0), row.address);
      if (row.cls && row.cmd) line += Format(" (%u,%u) payload=%u", *row.cls, *row.cmd, row.payloadLength.value_or(0));
      line += row.checksum == ChecksumState::kOk ? " checksum ok" : " checksum BAD";
      break;
    case TrafficKind::kBootRecord: line = Format("bootloader record %02X", row.opcode.value_or(0)); break;
    case TrafficKind::kError: return row.meaning;
  }
  if (!row.name.empty()) line += "  [" + row.name + "]";
  if (!row.meaning.empty() && row.meaning != row.name) line += (row.name.empty() ? "  " : " ") + row.meaning;
  return line;
}

std::string CsvField(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string CsvHeader() {
  return "Time,Direction,Kind,Sequence,Class,Command,Name,Payload length,Payload,Checksum,Meaning\r\n";
}

std::string CsvLine(const TrafficRow& row) {
  auto number = [](const auto& v) { return v ? std::to_string(*v) : std::string(); };
  std::string line;
  line.reserve(96 + row.payload.size() * 3 + row.meaning.size());
  line += FormatTrafficTime(row.time, true);
  line += ',';
  line += row.out ? "out" : "in";
  line += ',';
  line += TrafficKindText(row.kind);
  line += ',' + number(row.sequence);
  line += ',' + number(row.cls);
  line += ',' + number(row.cmd);
  line += ',' + CsvField(row.opcode ? Format("0x%02X ", *row.opcode) + row.name : row.name);
  line += ',' + number(row.payloadLength);
  line += ',' + HexBytes(row.payload);
  line += ',' + ChecksumText(row.checksum);
  line += ',' + CsvField(row.meaning);
  line += "\r\n";
  return line;
}

std::string PrintableText(std::string_view text, std::size_t maxLength) {
  std::string out;
  for (unsigned char c : text) {
    if (out.size() >= maxLength) {
      out += "\u2026";
      break;
    }
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      out += Format("\\x%02X", c);
    }
  }
  return out;
}
