// Several boards on one bench: listed, chosen, and updated all at once, on the
// simulated bench (--sim=ID,ID,...) with the real transport and reader threads.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/Commands.h"
#include "corvel/Session.h"
#include "firmware/ImageFile.h"
#include "support/CliRun.h"

namespace {

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(BenchTest, ListsEveryBoardWithItsOwnSerialNumber) {
  auto r = Ctl({"--sim=1,3,5", "list"});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(r.out,
            "sim:lamp-board/1  serial QVSIM0001  release 0x1000  application\n"
            "sim:lamp-board/2  serial QVSIM0002  release 0x1000  application\n"
            "sim:lamp-board/3  serial QVSIM0003  release 0x1000  application\n");
  r = Ctl({"--sim=1,3", "--json", "list"});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(r.out,
            "[{\"path\":\"sim:lamp-board/1\",\"serial\":\"QVSIM0001\",\"release\":4096,\"mode\":\"application\"},"
            "{\"path\":\"sim:lamp-board/2\",\"serial\":\"QVSIM0002\",\"release\":4096,\"mode\":\"application\"}]\n");
}

TEST(BenchTest, ACommandForOneBoardNeedsAChoiceAmongSeveral) {
  // Not whichever is found first: the user is told which there are.
  for (const auto& command : std::vector<std::vector<std::string>>{{"info"}, {"reg", "read", "0x00"}}) {
    std::vector<std::string> args{"--sim=1,3"};
    args.insert(args.end(), command.begin(), command.end());
    const auto r = Ctl(args);
    SCOPED_TRACE(command[0]);
    EXPECT_EQ(r.rc, 2);
    EXPECT_TRUE(Has(r.err, "2 lamp boards are attached; choose one with --device PATH or --serial SN")) << r.err;
    EXPECT_TRUE(Has(r.err, "sim:lamp-board/2  serial QVSIM0002")) << r.err;
  }
  // Chosen by serial number or by path, the board answers with its own id.
  struct Choice {
    std::vector<std::string> args;
    int boardId;
  };
  for (const Choice& c : std::vector<Choice>{{{"--serial", "QVSIM0002"}, 3},
                                             {{"--serial=QVSIM0001"}, 1},
                                             {{"--device", "sim:lamp-board/3"}, 5}}) {
    std::vector<std::string> args{"--sim=1,3,5", "--json"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back("info");
    const auto r = Ctl(args);
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "\"board_id\":" + std::to_string(c.boardId) + ",")) << r.out;
  }
  auto r = Ctl({"--sim=1,3", "--serial", "NOPE", "info"});
  EXPECT_EQ(r.rc, 1);
  EXPECT_TRUE(Has(r.err, "No lamp board with serial number NOPE is attached.")) << r.err;
  // Waiting for a board is waiting for the one named.
  r = Ctl({"--sim=1,3", "--serial", "QVSIM0002", "wait"});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(r.out, "Lamp board attached: sim:lamp-board/2\n");
  r = Ctl({"--sim=1,3", "--serial", "NOPE", "--timeout", "300", "wait"});
  EXPECT_EQ(r.rc, 1);
  EXPECT_EQ(r.out, "");
}

TEST(BenchTest, FlashAllUpdatesEveryBoardAndOneFailureStopsNoOther) {
  std::vector<std::uint8_t> data(64 * 1024);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 3);
  const auto dir = std::filesystem::temp_directory_path() / ("corvel-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string raw = (dir / "raw.bin").string(), image = (dir / "fw.qvbin").string();
  {
    std::ofstream f(raw, std::ios::binary);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  }
  ASSERT_EQ(Ctl({"image", "make", raw, "-o", image}).rc, 0);

  // Without --all, one board of several is not picked at random.
  const auto one = Ctl({"--sim=1,3", "flash", image});
  EXPECT_EQ(one.rc, 2);
  EXPECT_TRUE(Has(one.err, "2 lamp boards are attached")) << one.err;

  std::vector<std::vector<std::uint8_t>> flashed;
  std::vector<std::uint16_t> releases;
  cli::SetSessionHooks({[](Session& s) {
                          // Quick boards; the second refuses to erase its flash.
                          for (const auto& b : s.SimBoards()) b->SetFaults({});
                          s.SimBoards()[1]->SetFaults({.refuseErase = true});
                        },
                        [&](Session& s) {
                          for (const auto& b : s.SimBoards()) {
                            flashed.push_back(b->Flash(0, data.size()));
                            releases.push_back(b->ReleaseNumber());
                          }
                        }});
  const auto r = Ctl({"--sim=1,3,5", "flash", "--all", image});
  cli::SetSessionHooks({});
  std::filesystem::remove_all(dir);

  EXPECT_EQ(r.rc, 1) << r.err;
  // A line per board as it goes, and the summary.
  EXPECT_TRUE(Has(r.err, "[QVSIM0001] 100%")) << r.err;
  EXPECT_TRUE(Has(r.err, "[QVSIM0003] done")) << r.err;
  // The failed board's text is the one a single-board update prints, what
  // to do next included, on its line and in the summary.
  const std::string failure = "Flash pages erase failed! Please plug the USB device to reset! Re-plug the board, then "
                              "run 'corvelctl flash' again";
  EXPECT_TRUE(Has(r.err, "[QVSIM0002] failed: " + failure)) << r.err;
  EXPECT_TRUE(Has(r.err, "Updated 2 of 3 boards:\n"
                         "  QVSIM0001 (sim:lamp-board/1): done\n"
                         "  QVSIM0002 (sim:lamp-board/2): FAILED: " + failure))
      << r.err;
  EXPECT_TRUE(Has(r.err, "  QVSIM0003 (sim:lamp-board/3): done\n")) << r.err;
  ASSERT_EQ(flashed.size(), 3u);
  EXPECT_EQ(flashed[0], data);
  EXPECT_EQ(flashed[2], data);
  EXPECT_NE(flashed[1], data);
  EXPECT_EQ(releases[0], 0x1000);
  EXPECT_EQ(releases[2], 0x1000);
  EXPECT_EQ(releases[1], 0x0100) << "the refused board stays in its bootloader";
}

TEST(BenchTest, FlashAllTracesEachBoardByNameAndRefusesALogThatWouldMixThem) {
  std::vector<std::uint8_t> data(4 * 1024, 0x5A);
  const auto dir = std::filesystem::temp_directory_path() / ("corvel-bench-trace-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string raw = (dir / "raw.bin").string(), image = (dir / "fw.qvbin").string();
  const std::string log = (dir / "bench.csv").string();
  {
    std::ofstream f(raw, std::ios::binary);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  }
  ASSERT_EQ(Ctl({"image", "make", raw, "-o", image}).rc, 0);

  // Refused before anything is opened or sent: no file appears.
  const auto refused = Ctl({"--sim=1,3", "--log", log, "flash", "--all", image});
  EXPECT_EQ(refused.rc, 2);
  EXPECT_TRUE(Has(refused.err, "flash --all takes no --log")) << refused.err;
  EXPECT_FALSE(std::filesystem::exists(log));

  cli::SetSessionHooks({[](Session& s) {
                          for (const auto& b : s.SimBoards()) b->SetFaults({});
                        },
                        {}});
  const auto r = Ctl({"--sim=1,3", "--trace", "flash", "--all", image});
  cli::SetSessionHooks({});
  std::filesystem::remove_all(dir);
  ASSERT_EQ(r.rc, 0) << r.err;
  for (const char* board : {"[QVSIM0001] ", "[QVSIM0002] "}) {
    EXPECT_TRUE(Has(r.err, std::string(board) + "> ")) << board;  // a report to the board
    EXPECT_TRUE(Has(r.err, std::string(board) + "< ")) << board;  // and one from it
  }
  // Every traced frame names its board: no bare report line.
  std::istringstream lines(r.err);
  for (std::string line; std::getline(lines, line);)
    EXPECT_FALSE(line.rfind("> ", 0) == 0 || line.rfind("< ", 0) == 0) << line;
}
