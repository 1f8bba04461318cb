#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "support/CliRun.h"


TEST(CliTest, InfoIdentifiesTheSimulatedBoard) {
  auto r = Ctl({"--sim", "info"});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.out.find("USB Hid device found, but chip not connected!"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Board id:      1 (QV6033)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Mcu code version:V1.3.0"), std::string::npos) << r.out;

  r = Ctl({"--sim=3", "--json", "info"});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.out.find("\"board_id\":3,\"chip_board\":\"QV6032\""), std::string::npos) << r.out;
}

TEST(CliTest, RegisterWriteIsReadBackOnOneConnection) {
  auto r = Ctl({"--sim", "batch", "reg write 0x20 0x10 0x20", "reg read 0x20 2"});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.out.find("0x20: 0x10\n0x21: 0x20\n"), std::string::npos) << r.out;

  r = Ctl({"--sim", "--json", "batch", "reg write 0x2E 7", "reg read 0x2E 2"});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.out.find("{\"register\":46,\"values\":[7,0]}"), std::string::npos) << r.out;
}

TEST(CliTest, TraceShowsReportsAndDecodedFrames) {
  auto r = Ctl({"--sim", "--trace", "reg", "read", "0x00"});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.err.find("> 00 5A 5A 41 00 0D 00 00 00 00 00"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("DATA seq=0 addr=41 (1,1) payload=0 checksum ok"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("ACK seq=0 addr=14"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("(16,2) payload=7 checksum ok"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "0x00: 0xFF\n");
}

TEST(CliTest, UnknownBoardIsRefusedRegisterAccess) {
  auto r = Ctl({"--sim=2", "reg", "read", "0x20"});
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.err.find("names no known chip board"), std::string::npos) << r.err;
}

TEST(CliTest, UsageErrorsExitWithTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"frob"},
      {"--bogus", "info"},
      {"--timeout"},
      {"--timeout", "soon", "info"},
      {"--sim", "reg", "read", "0x100"},
      {"--sim", "reg", "read", "0xFF", "2"},
      {"--sim", "reg", "write", "0x20"},
      {"--sim", "reg", "write", "0x20", "256"},
      {"--sim", "reg", "peek", "0x20"},
      {"--sim", "address", "0x57"},
      {"--sim", "info", "extra"},
      {"--sim", "batch"},
  };
  for (const auto& args : cases) {
    auto r = Ctl(args);
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_EQ(r.rc, 2) << joined;
    EXPECT_NE(r.err.find("Try 'corvelctl --help'."), std::string::npos) << joined;
    EXPECT_TRUE(r.out.empty()) << joined;
  }
}

TEST(CliTest, HelpForTheToolAndEachCommand) {
  for (const auto& args : std::vector<std::vector<std::string>>{{"--help"}, {"reg", "--help"}, {"list", "-h"}}) {
    auto r = Ctl(args);
    EXPECT_EQ(r.rc, 0);
    EXPECT_NE(r.out.find("Usage: corvelctl"), std::string::npos);
  }
}

TEST(CliTest, NoBoardIsAFailureWithAHint) {
  auto r = Ctl({"--timeout", "200", "info"});
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.err.find("No lamp board found"), std::string::npos) << r.err;
  r = Ctl({"--timeout", "200", "wait"});
  EXPECT_EQ(r.rc, 1);
}

TEST(CliTest, ListAndAddressOnTheSimulatedBoard) {
  auto r = Ctl({"--sim", "list"});
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(r.out, "sim:lamp-board  release 0x1000  application\n");
  r = Ctl({"--sim", "address", "0x59"});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(r.out, "√ Lamp set IIC address successfully!\n");
}

namespace {
std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
}  // namespace

TEST(CliTest, LogWritesEveryFrameAsCsvWithTheTraceDecoder) {
  const std::string path = ::testing::TempDir() + "corvelctl-log.csv";
  auto r = Ctl({"--sim", "--trace", "--log", path, "batch", "reg write 0x20 1 2", "reg read 0x20 2"});
  ASSERT_EQ(r.rc, 0) << r.err;
  const std::string csv = ReadFile(path);
  ASSERT_EQ(csv.rfind("Time,Direction,Kind,Sequence,Class,Command,Name,Payload length,Payload,Checksum,Meaning\r\n", 0),
            0u)
      << csv;
  // Every record ends in CRLF; no bare line feed anywhere.
  std::size_t lines = 0;
  for (std::size_t i = 0; i < csv.size(); ++i)
    if (csv[i] == '\n') {
      ASSERT_TRUE(i > 0 && csv[i - 1] == '\r') << "bare LF at " << i;
      ++lines;
    }
  EXPECT_GE(lines, 20u);
  const std::string rows[] = {
      ",out,DATA,0,1,1,handshake request,0,,ok,handshake request\r\n",
      ",in,DATA,0,1,2,handshake answer,4,5A 5A 00 01,ok,protocol matches\r\n",
      ",out,DATA,4,16,3,write registers,8,01 5B 20 02 04 00 01 02,ok,write 0x20\u20130x21: 2 bytes\r\n",
      ",in,ACK,4,,,,,,,frame 4 received\r\n",
      ",in,DATA,5,16,2,register data,8,01 5B 20 02 04 00 01 02,ok,data 0x20\u20130x21: 01 02\r\n",
  };
  for (const auto& row : rows) EXPECT_NE(csv.find(row), std::string::npos) << row << "\nin\n" << csv;
  // --trace names them the same way.
  EXPECT_NE(r.err.find("(16,3) payload=8 checksum ok  [write registers] write 0x20\u20130x21: 2 bytes"),
            std::string::npos)
      << r.err;

  r = Ctl({"--sim", "--log", ::testing::TempDir() + "no-such-dir/x.csv", "info"});
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.err.find("cannot write the log"), std::string::npos) << r.err;
  EXPECT_TRUE(r.out.empty());
  EXPECT_EQ(Ctl({"--sim", "info", "--log"}).rc, 2);
  EXPECT_EQ(Ctl({"--sim", "--log"}).rc, 2);
}
