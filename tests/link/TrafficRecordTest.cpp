// The traffic decoder behind --trace, --log and the traffic page: what each
// frame becomes as a row, how frames are put back together from reports, and
// how rows are written as CSV.
#include <gtest/gtest.h>

#include <algorithm>

#include "link/TrafficCapture.h"
#include "link/TrafficRecord.h"
#include "support/TestFrames.h"

using testframes::BoardAck;
using testframes::BoardFrame;
using testframes::Bytes;

namespace {

const TrafficClock::time_point kTime = TrafficClock::time_point(std::chrono::milliseconds(1'700'000'000'123));

// One HID report as the tap sees it: report id 0, then 64 data bytes.
TrafficReport ReportOf(const testframes::Report& data, bool out = false, bool bootloader = false) {
  std::array<std::uint8_t, 65> withId{};
  std::copy(data.begin(), data.end(), withId.begin() + 1);
  return TrafficReport::From(kTime, out, bootloader, withId.data(), withId.size());
}

std::vector<TrafficRow> Decode(const Bytes& frame, bool out = false) {
  TrafficDecoder decoder;
  std::vector<TrafficRow> rows;
  for (const auto& r : testframes::Cut(frame)) decoder.Feed(ReportOf(r, out), rows);
  return rows;
}

// RFC 4180 read back: the fields of one record (which must end in CRLF).
std::vector<std::string> ParseCsvRecord(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        fields.back() += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        fields.back() += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields.emplace_back();
    } else if (c == '\r' && i + 2 == line.size() && line[i + 1] == '\n') {
      return fields;
    } else {
      fields.back() += c;
    }
  }
  ADD_FAILURE() << "record does not end in CRLF: " << line;
  return fields;
}

}  // namespace

TEST(TrafficRecordTest, EachFrameBecomesOneRowNamedForAPerson) {
  const Bytes i2cWrite{1, 0x5B, 0x20, 6, 4, 0, 1, 2, 3, 4, 5, 6};
  const struct Case {
    const char* what;
    Bytes frame;
    bool out;
    TrafficKind kind;
    std::string pair;
    std::string name;
    std::string meaning;
  } cases[] = {
      {"register write", BoardFrame(16, 3, i2cWrite, 7), true, TrafficKind::kData, "(16,3)", "write registers",
       "write 0x20\u20130x25: 6 bytes"},
      {"its acknowledgement", BoardFrame(16, 4, i2cWrite, 9), false, TrafficKind::kData, "(16,4)",
       "registers written", "written 0x20\u20130x25: 6 bytes"},
      {"one-register read", BoardFrame(16, 1, {1, 0x5B, 0x11, 1, 4, 0}), true, TrafficKind::kData, "(16,1)",
       "read registers", "read 0x11: 1 byte"},
      {"register data", BoardFrame(16, 2, {1, 0x5B, 0x00, 2, 4, 0, 0xFF, 0x0A}), false, TrafficKind::kData, "(16,2)",
       "register data", "data 0x00\u20130x01: FF 0A"},
      {"data whose count disagrees with its length",
       BoardFrame(16, 2, {1, 0x5B, 0x00, 2, 4, 0, 0xFF}), false, TrafficKind::kData, "(16,2)", "register data",
       "data 0x00\u20130x01: FF \u2026 (length and count disagree: dropped)"},
      {"register record cut short", BoardFrame(16, 3, {1, 0x5B}), true, TrafficKind::kData, "(16,3)",
       "write registers", "too short for an I2C record"},
      {"board id", BoardFrame(64, 2, {4, 0, 1, 0}), false, TrafficKind::kData, "(64,2)", "board answer",
       "board id 1 (QV6033)"},
      {"unknown board id", BoardFrame(64, 2, {4, 0, 2, 0}), false, TrafficKind::kData, "(64,2)", "board answer",
       "board id 2 (unknown board)"},
      {"board query", BoardFrame(64, 1, {4, 0, 0, 0}), true, TrafficKind::kData, "(64,1)", "lamp board data",
       "board query (board kind 4)"},
      {"handshake answer", BoardFrame(1, 2, {0x5A, 0x5A, 0, 1}), false, TrafficKind::kData, "(1,2)",
       "handshake answer", "protocol matches"},
      {"wrong handshake answer", BoardFrame(1, 2, {0x5A, 0x5A, 0, 2}), false, TrafficKind::kData, "(1,2)",
       "handshake answer", "protocol does not match"},
      {"interrupt", BoardFrame(32, 37, {1}), false, TrafficKind::kData, "(32,37)", "interrupt", "interrupt line 1"},
      {"chip address", BoardFrame(64, 10, {0x59}), true, TrafficKind::kData, "(64,10)", "set chip address",
       "chip address 0x59"},
      {"a pair nobody knows", BoardFrame(99, 1, {}), false, TrafficKind::kData, "(99,1)", "",
       "not a command the tool knows"},
      {"payload longer than the frame", BoardFrame(64, 10, {0x59}, 0, 4, 40), true, TrafficKind::kData, "(64,10)",
       "set chip address", "chip address 0x59; payload cut short"},
      {"ACK", BoardAck(12), false, TrafficKind::kAck, "", "", "frame 12 received"},
      {"NAK", BoardAck(12, 0x11), false, TrafficKind::kNak, "", "", "frame 12 arrived damaged: send it again"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto rows = Decode(c.frame, c.out);
    ASSERT_EQ(rows.size(), 1u);
    const TrafficRow& row = rows[0];
    EXPECT_EQ(row.kind, c.kind);
    EXPECT_EQ(row.out, c.out);
    EXPECT_EQ(PairText(row), c.pair);
    EXPECT_EQ(row.name, c.name);
    EXPECT_EQ(row.meaning, c.meaning);
    EXPECT_EQ(row.time, kTime);
    EXPECT_EQ(row.sequence, static_cast<std::uint16_t>(c.frame[8] | (c.frame[9] << 8)));
    if (c.kind == TrafficKind::kData) EXPECT_EQ(row.checksum, ChecksumState::kOk);
  }
  // The payload is what arrived, never what a length field claims.
  EXPECT_EQ(Decode(BoardFrame(64, 10, {0x59}, 0, 4, 40))[0].payload, Bytes{0x59});
  EXPECT_EQ(Decode(BoardFrame(64, 10, {0x59}, 0, 4, 40))[0].payloadLength, 40);
}

TEST(TrafficRecordTest, DamagedAndStrayReportsAreNamedNotGuessed) {
  Bytes bad = BoardFrame(16, 3, {1, 0x5B, 0x14, 1, 4, 0, 0xFF});
  bad.back() ^= 0x01;
  auto rows = Decode(bad, true);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].checksum, ChecksumState::kBad);
  EXPECT_EQ(rows[0].meaning, "checksum bad: write 0x14: 1 byte");
  EXPECT_EQ(TraceText(rows[0]),
            "DATA seq=0 addr=14 (16,3) payload=7 checksum BAD  [write registers] checksum bad: write 0x14: 1 byte");

  TrafficDecoder decoder;
  rows.clear();
  testframes::Report stray;
  stray.fill(0x00);
  decoder.Feed(ReportOf(stray), rows);
  // A length field the engine refuses starts nothing: the next frame decodes.
  Bytes tooLong = BoardAck(1);
  tooLong[4] = 0xA3;  // 5795
  tooLong[5] = 0x16;
  decoder.Feed(ReportOf(testframes::Cut(tooLong)[0]), rows);
  decoder.Feed(ReportOf(testframes::Cut(BoardAck(2))[0]), rows);
  // A read of the wrong size is not a report the link takes.
  const std::uint8_t shortRead[10] = {};
  decoder.Feed(TrafficReport::From(kTime, false, false, shortRead, sizeof shortRead), rows);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].kind, TrafficKind::kError);
  EXPECT_EQ(rows[0].meaning, "report outside any frame");
  EXPECT_EQ(rows[1].kind, TrafficKind::kError);
  EXPECT_EQ(rows[1].meaning, "bad frame: length field 5795 out of range");
  EXPECT_EQ(rows[2].kind, TrafficKind::kAck);
  EXPECT_EQ(rows[2].sequence, 2);
  EXPECT_EQ(rows[3].kind, TrafficKind::kError);
  EXPECT_EQ(rows[3].meaning, "report of 10 bytes or without report id 0: ignored");
}

TEST(TrafficRecordTest, AFrameOverSeveralReportsIsOneRowWhenItsLastReportArrives) {
  Bytes payload(140);
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i);
  const Bytes frame = BoardFrame(64, 4, payload, 3);  // 158 bytes: three reports
  const auto reports = testframes::Cut(frame);
  ASSERT_EQ(reports.size(), 3u);

  TrafficDecoder decoder;
  std::vector<TrafficRow> rows;
  decoder.Feed(ReportOf(reports[0], true), rows);
  // An answer in the other direction does not disturb the frame in progress.
  decoder.Feed(ReportOf(testframes::Cut(BoardAck(3))[0], false), rows);
  decoder.Feed(ReportOf(reports[1], true), rows);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].kind, TrafficKind::kAck);
  decoder.Feed(ReportOf(reports[2], true), rows);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].checksum, ChecksumState::kOk);
  EXPECT_EQ(rows[1].payload, payload);
  EXPECT_EQ(rows[1].meaning, "140 bytes");

  // A bootloader record ends any frame in progress: the board restarted.
  decoder.Feed(ReportOf(reports[0], true), rows);
  testframes::Report record{};
  record[0] = 0xE0;
  decoder.Feed(ReportOf(record, true, true), rows);
  decoder.Feed(ReportOf(testframes::Cut(BoardAck(4))[0], true), rows);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[2].kind, TrafficKind::kBootRecord);
  EXPECT_EQ(PairText(rows[2]), "E0");
  EXPECT_EQ(rows[3].kind, TrafficKind::kAck);
}

TEST(TrafficRecordTest, CsvIsRfc4180AndBoardTextStaysOnItsLine) {
  const struct {
    std::string text, csv;
  } fields[] = {
      {"plain text", "plain text"},
      {"a,b", "\"a,b\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"two\r\nlines", "\"two\r\nlines\""},
      {"", ""},
  };
  for (const auto& f : fields) EXPECT_EQ(CsvField(f.text), f.csv) << f.text;

  EXPECT_EQ(CsvHeader(), "Time,Direction,Kind,Sequence,Class,Command,Name,Payload length,Payload,Checksum,Meaning\r\n");

  // A board that puts commas, quotes and control characters into its
  // version strings gets one field, with the control characters spelled out.
  Bytes version;
  for (const char* s : {"QV,\"BRIDGE\"", "2026\r\n11", "V1.3\x01"}) {
    version.insert(version.end(), s, s + std::char_traits<char>::length(s));
    version.push_back(0);
  }
  auto rows = Decode(BoardFrame(1, 33, version, 5));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].meaning, "firmware V1.3\\x01 (QV,\"BRIDGE\", 2026\\x0D\\x0A11)");
  const std::string line = CsvLine(rows[0]);
  const auto parsed = ParseCsvRecord(line);
  ASSERT_EQ(parsed.size(), 11u) << line;
  const std::vector<std::string> expected = {FormatTrafficTime(kTime, true),
                                             "in",
                                             "DATA",
                                             "5",
                                             "1",
                                             "33",
                                             "version",
                                             std::to_string(version.size()),
                                             HexBytes(version),
                                             "ok",
                                             rows[0].meaning};
  EXPECT_EQ(parsed, expected);
  // One record on one line: only the final CRLF ends it.
  EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1);

  // Times carry milliseconds.
  EXPECT_EQ(FormatTrafficTime(kTime, false).substr(8), ".123");
  EXPECT_EQ(FormatTrafficTime(kTime, true).size(), std::string("2023-11-14 22:13:20.123").size());
}

TEST(TrafficRecordTest, CaptureKeepsItsBoundAndCountsWhatItDropped) {
  TrafficCapture capture(3);
  const std::uint8_t report[65] = {};
  for (int i = 0; i < 5; ++i) capture.Push(i % 2 == 0, false, report, sizeof report, kTime);
  std::vector<TrafficReport> taken;
  EXPECT_EQ(capture.TakeAll(taken), 2u);
  ASSERT_EQ(taken.size(), 3u);
  EXPECT_TRUE(taken[0].out);
  EXPECT_FALSE(taken[1].out);
  EXPECT_EQ(capture.Dropped(), 2u);
  capture.Push(true, false, report, sizeof report, kTime);
  EXPECT_EQ(capture.TakeAll(taken), 0u);
  EXPECT_EQ(taken.size(), 1u);
}
