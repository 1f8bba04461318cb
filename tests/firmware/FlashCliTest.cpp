// corvelctl's image and flash commands, run in-process against the simulated
// board, whose flash is read back through the session hooks.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <signal.h>
#include <unistd.h>
#include <filesystem>
#include <iterator>
#include <fstream>
#include <sstream>
#include <thread>

#include "cli/Commands.h"
#include "corvel/Session.h"
#include "firmware/BootRecord.h"
#include "firmware/BootTransfer.h"
#include "firmware/ImageFile.h"
#include "support/CliRun.h"

namespace {

using namespace std::chrono_literals;
using Result = CliResult;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::vector<std::uint8_t> Pattern(std::size_t n) {
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>((i * 2654435761u) >> 13);
  return v;
}

class FlashCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() /
          ("corvel-flash-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(dir);
  }
  void TearDown() override {
    cli::SetSessionHooks({});
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }

  std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const auto path = dir / name;
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path.string();
  }
  std::string Path(const std::string& name) const { return (dir / name).string(); }

  // Runs the commands with hooks that set the board up when the session
  // opens and read its flash back before it closes. Unless `setUp` says
  // otherwise the board answers at once (no USB latency, no erase time).
  Result WithBoard(std::vector<std::string> args, std::function<void(Session&)> setUp = {}) {
    flashed.clear();
    sessions = 0;
    cli::SetSessionHooks({[&, setUp](Session& s) {
                            ++sessions;
                            if (s.Sim()) s.Sim()->SetFaults({});
                            if (setUp) setUp(s);
                          },
                          [&](Session& s) {
                            if (beforeClosing) beforeClosing();
                            if (!s.Sim()) return;
                            flashed = s.Sim()->Flash(0, flashLength);
                            releaseAtEnd = s.Sim()->ReleaseNumber();
                          }});
    return Ctl(std::move(args));
  }

  // Standard error without the progress lines ("NN%").
  static std::string Notes(const std::string& err) {
    std::istringstream lines(err);
    std::string notes;
    for (std::string line; std::getline(lines, line);)
      if (line.empty() || line.back() != '%') notes += line + "\n";
    return notes;
  }

  std::filesystem::path dir;
  std::size_t flashLength = 0;
  std::vector<std::uint8_t> flashed;
  std::uint16_t releaseAtEnd = 0;
  int sessions = 0;
  // Runs while the session, and so its simulated board, is still there.
  std::function<void()> beforeClosing;
};

}  // namespace

TEST_F(FlashCliTest, ImageMadeFromRawDataIsFlashedIntoTheSimulatedBoard) {
  const auto data = Pattern(256 * 1024);
  const std::string raw = Write("raw.bin", data);
  const std::string image = Path("fw.qvbin");

  auto r = Ctl({"image", "make", raw, "-o", image});
  ASSERT_EQ(r.rc, 0) << r.err;
  const std::uint32_t checksum = ComputeImageChecksum(data);
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", checksum);
  EXPECT_EQ(r.out, "Wrote " + image + ": 262144 data bytes, check word " + hex + ", checksum " + hex + ".\n");
  EXPECT_EQ(std::filesystem::file_size(image), data.size() + 12);

  r = Ctl({"image", "check", image});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(r.out, std::string("Data length:  262144 bytes\nCheck word:   ") + hex + "\nChecksum:     " + hex + "\n");
  r = Ctl({"--json", "image", "check", image});
  EXPECT_TRUE(Has(r.out, ",\"length\":262144,\"check_word\":" + std::to_string(checksum) +
                             ",\"checksum\":" + std::to_string(checksum) + "}"))
      << r.out;

  flashLength = data.size() + 64;
  r = WithBoard({"--sim", "flash", image});
  ASSERT_EQ(r.rc, 0) << r.err;
  // Progress is not data: all of it goes to standard error.
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(Notes(r.err),
            "√ Set boot value successfully!\n"
            "Connected! Boot version is 1.2.0.7\n"
            "Begin update firmware...\n"
            "Erasing flash pages... 0 s of about 2 s\n"
            "Flash pages erase succeed! Downloading firmware...\n"
            "Update ended and execute new firmware!\n"
            "The board is back in its application firmware.\n");
  // Not a terminal: one "NN%" line per step, rising to 100.
  std::istringstream lines(r.err);
  int last = -1;
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line.back() != '%') continue;
    const int percent = std::stoi(line);
    EXPECT_GT(percent, last);
    last = percent;
  }
  EXPECT_EQ(last, 100);
  ASSERT_EQ(flashed.size(), flashLength);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), flashed.begin())) << "flash differs from the image";
  EXPECT_TRUE(std::all_of(flashed.begin() + static_cast<std::ptrdiff_t>(data.size()), flashed.end(),
                          [](std::uint8_t b) { return b == 0xFF; }));
}

TEST_F(FlashCliTest, ImageCommandsReportEachRefusalOnOneLine) {
  const std::string raw = Write("raw.bin", Pattern(100));
  const std::string good = Path("good.qvbin");
  ASSERT_EQ(Ctl({"image", "make", raw, "-o", good, "--check-word", "a5"}).rc, 0);
  const std::string noCheck = Path("nocheck.qvbin");
  ASSERT_EQ(Ctl({"image", "make", raw, "--check-word=0", "--output=" + noCheck}).rc, 0);
  auto r = Ctl({"image", "check", good});
  EXPECT_TRUE(Has(r.out, "Check word:   0x000000A5\n")) << r.out;
  r = Ctl({"image", "check", noCheck});
  EXPECT_TRUE(Has(r.out, "Check word:   0x00000000 (no check step)\n")) << r.out;

  const std::string empty = Write("empty.qvbin", {});
  const std::string garbage = Write("garbage.qvbin", {1, 2, 3});
  const std::string noData = Write("nodata.qvbin", BuildImageFile({}, 0));
  const std::string tooLong = Write("long.qvbin", std::vector<std::uint8_t>(kImageCapacity + 1));
  const struct {
    std::vector<std::string> args;
    std::string err;
  } failures[] = {
      {{"image", "check", Path("missing.qvbin")}, "corvelctl: qvbin file open failed!\n"},
      {{"image", "check", tooLong}, "corvelctl: qvbin file length larger than 0x1e000c!\n"},
      {{"image", "check", empty}, "corvelctl: qvbin file length is null!\n"},
      {{"image", "check", garbage},
       "corvelctl: qvbin file data error! The file is 3 bytes long, shorter than the 12-byte trailer every image ends with.\n"},
      {{"image", "check", noData}, "corvelctl: the image holds no data (length 0): it is never flashed.\n"},
      {{"--sim", "flash", garbage},
       "corvelctl: qvbin file data error! The file is 3 bytes long, shorter than the 12-byte trailer every image ends with.\n"},
      {{"image", "make", Write("big.bin", std::vector<std::uint8_t>(kImageMaxDataLength + 1)), "-o", Path("x")},
       "corvelctl: '" + Path("big.bin") + "' holds 1966081 bytes; an image holds at most 1966080 bytes of data "
       "(0x1E000C with its trailer).\n"},
      {{"image", "make", empty, "-o", Path("x")},
       "corvelctl: '" + empty + "' is empty: an image without data is never flashed.\n"},
  };
  for (const auto& c : failures) {
    r = WithBoard(c.args);
    EXPECT_EQ(r.rc, 1) << c.args.back();
    EXPECT_EQ(r.err, c.err);
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_EQ(sessions, 0) << "a refused image never reaches the board";
  }
  EXPECT_FALSE(std::filesystem::exists(Path("x")));

  const std::vector<std::vector<std::string>> usage = {
      {"image"},
      {"image", "frob"},
      {"image", "check"},
      {"image", "check", good, "extra"},
      {"image", "make", raw},
      {"image", "make", "-o", Path("x")},
      {"image", "make", raw, "-o", Path("x"), "--check-word", "xyz"},
      {"image", "make", raw, "-o", Path("x"), "--check-word", "123456789"},
      {"image", "make", raw, "-o", Path("x"), "--check-word"},
      {"image", "make", raw, "-o", Path("x"), "--bogus"},
      {"image", "make", raw, "-o", Path("x"), "-o", Path("y")},
      {"image", "make", raw, "-o", Path("x"), "--check-word", "0", "--check-word=1"},
      // The raw data would be replaced by the image made of it.
      {"image", "make", raw, "-o", raw},
      {"image", "make", raw, "-o", dir.string() + "/./raw.bin"},
      {"flash"},
      {"flash", good, "extra"},
  };
  for (const auto& args : usage) {
    r = Ctl(args);
    EXPECT_EQ(r.rc, 2) << args.back();
    EXPECT_TRUE(Has(r.err, "Try 'corvelctl --help'.")) << r.err;
  }
  std::ifstream kept(raw, std::ios::binary);
  EXPECT_EQ(std::vector<std::uint8_t>(std::istreambuf_iterator<char>(kept), {}), Pattern(100));
}

TEST_F(FlashCliTest, FailedUpdatesSayWhatHappenedAndWhatToDoNext) {
  const auto data = Pattern(4096);
  const std::string raw = Write("raw.bin", data);
  const std::string image = Path("fw.qvbin");
  ASSERT_EQ(Ctl({"image", "make", raw, "-o", image}).rc, 0);
  const std::string wrongWord = Path("wrong.qvbin");
  ASSERT_EQ(Ctl({"image", "make", raw, "-o", wrongWord, "--check-word", "1"}).rc, 0);

  constexpr const char* kReplug = "Re-plug the board, then run 'corvelctl flash' again";
  constexpr const char* kAgain = "The board stays in its bootloader: run 'corvelctl flash' again to finish the update.";
  const struct {
    const char* name;
    std::string image;
    sim::SimFaults faults;
    std::string text;
    const char* whatNext;
    std::uint16_t release;  // where the board is left
  } cases[] = {
      {"boot value refused", image, {.refuseBootValue = true},
       "× Set boot value failed!\nThe board refused to restart into its bootloader", nullptr, sim::kReleaseApplication},
      {"erase refused", image, {.refuseErase = true},
       "corvelctl: Flash pages erase failed! Please plug the USB device to reset!\n", kReplug,
       sim::kReleaseBootloader},
      {"block echoed wrongly", image, {.wrongBlockEcho = true},
       "corvelctl: Update error! The board stays in its bootloader, ready for another try.\n", kAgain,
       sim::kReleaseBootloader},
      {"check refused", wrongWord, {},
       "corvelctl: Update error! The board stays in its bootloader, ready for another try.\n", kAgain,
       sim::kReleaseBootloader},
  };
  for (const auto& c : cases) {
    const auto r = WithBoard({"--sim", "flash", c.image}, [&](Session& s) { s.Sim()->SetFaults(c.faults); });
    EXPECT_EQ(r.rc, 1) << c.name;
    EXPECT_TRUE(Has(r.err, c.text)) << c.name << "\n" << r.err;
    for (const char* next : {kReplug, kAgain})
      EXPECT_EQ(Has(r.err, next), next == c.whatNext) << c.name << "\n" << r.err;
    EXPECT_FALSE(Has(r.err, "Update ended")) << c.name;
    EXPECT_EQ(releaseAtEnd, c.release) << c.name;
  }
}

TEST_F(FlashCliTest, BoardLeftInItsBootloaderIsFlashedDirectly) {
  const auto data = Pattern(3000);
  const std::string image = Path("fw.qvbin");
  ASSERT_EQ(Ctl({"image", "make", Write("raw.bin", data), "-o", image}).rc, 0);
  flashLength = data.size();
  const auto r = WithBoard({"--sim", "flash", image}, [](Session& s) { s.Sim()->RestartIntoBootloader(); });
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_TRUE(Has(r.err, "The board is running its bootloader already.\nConnected! Boot version is 1.2.0.7\n"))
      << r.err;
  EXPECT_FALSE(Has(r.err, "Set boot value"));
  EXPECT_EQ(flashed, data);
}

namespace {
std::atomic<int> g_outerInterrupts{0};
void OuterHandler(int) { ++g_outerInterrupts; }
}  // namespace

// Ctrl-C, SIGTERM (a service manager stopping it) and SIGHUP (its terminal
// closed) all stop an update after the current block and say how to finish;
// the handlers in place before are back afterwards.
TEST_F(FlashCliTest, CtrlCStopsAfterTheCurrentBlockAndGivesTheSignalBack) {
  const std::string image = Path("fw.qvbin");
  ASSERT_EQ(Ctl({"image", "make", Write("raw.bin", Pattern(64 * 1024)), "-o", image}).rc, 0);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    g_outerInterrupts = 0;
    const auto previous = std::signal(signal, OuterHandler);
    std::atomic<int> blocks{0};
    const auto r = WithBoard({"--sim", "flash", image}, [&](Session& s) {
      // Ctrl-C while the tenth block goes out.
      s.Communication().Hid()->SetReportTap([&](bool out, const std::uint8_t* report, std::size_t) {
        // Sent to the process, as a terminal's Ctrl-C is: the worker and reader
        // threads block it, so it reaches the thread that waits for the user.
        if (out && report[1] == boot::kOpBlock && ++blocks == 10) kill(getpid(), signal);
      });
    });
    EXPECT_EQ(r.rc, 1);
    EXPECT_TRUE(Has(r.err, "Stopping after the current block (Ctrl-C again quits at once)...\n")) << r.err;
    EXPECT_TRUE(Has(r.err, "corvelctl: Update stop! The board stays in its bootloader, ready for another try.\n"))
        << r.err;
    EXPECT_TRUE(Has(r.err, "run 'corvelctl flash' again to finish the update")) << r.err;
    EXPECT_FALSE(Has(r.err, "Update ended")) << r.err;
    EXPECT_EQ(releaseAtEnd, sim::kReleaseBootloader) << "it was not asked to run half an image";
    EXPECT_EQ(g_outerInterrupts, 0) << "the update's own handler took the signal";
    EXPECT_LT(blocks, 2048) << "the whole image went out";

    // The handler in place before the update is back.
    EXPECT_EQ(std::signal(signal, previous), &OuterHandler);
  }
}

// From the first moment: a signal while the board is still being identified
// (its settle pause, its handshake) ends the wait, and nothing is sent.
TEST_F(FlashCliTest, ASignalBeforeTheUpdateBeganEndsItWithNothingSent) {
  const std::string image = Path("fw.qvbin");
  ASSERT_EQ(Ctl({"image", "make", Write("raw.bin", Pattern(4096)), "-o", image}).rc, 0);
  for (const int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal);
    g_outerInterrupts = 0;
    const auto previous = std::signal(signal, OuterHandler);
    const auto r = WithBoard({"--sim", "flash", image}, [&](Session& s) {
      s.Communication().Hid()->SetReportTap([signal](bool out, const std::uint8_t* report, std::size_t) {
        if (out && report[1] == 0x5A && report[14] == 1 && report[15] == 1) kill(getpid(), signal);  // the handshake
      });
    });
    EXPECT_EQ(r.rc, 1);
    EXPECT_TRUE(Has(r.err, "corvelctl: Interrupted before the update began: nothing was sent to the board")) << r.err;
    EXPECT_FALSE(Has(r.err, "Set boot value")) << r.err;
    EXPECT_EQ(releaseAtEnd, sim::kReleaseApplication);
    EXPECT_EQ(g_outerInterrupts, 0);
    EXPECT_EQ(std::signal(signal, previous), &OuterHandler);
  }
}

using namespace std::chrono_literals;

namespace {
// Ctrl-C as a terminal sends it: to the process. The worker and reader
// threads block it, so it reaches a thread that waits for the user.
void CtrlC() { kill(getpid(), SIGINT); }
}  // namespace

TEST_F(FlashCliTest, CtrlCDuringTheEraseEndsItAtOnce) {
  const auto data = Pattern(4096);
  const std::string image = Path("fw.qvbin");
  ASSERT_EQ(Ctl({"image", "make", Write("raw.bin", data), "-o", image}).rc, 0);
  const auto previous = std::signal(SIGINT, OuterHandler);
  flashLength = data.size();
  const auto started = std::chrono::steady_clock::now();
  const auto r = WithBoard({"--sim", "flash", image}, [&](Session& s) {
    s.Sim()->SetFaults({.eraseTime = std::chrono::seconds(60)});  // a minute for the whole flash
    s.Communication().Hid()->SetReportTap([](bool out, const std::uint8_t* report, std::size_t) {
      if (out && report[1] == boot::kOpErase) CtrlC();
    });
  });
  EXPECT_LT(std::chrono::steady_clock::now() - started, 4s) << "the erase takes 4 s here";
  EXPECT_EQ(r.rc, 1);
  EXPECT_TRUE(Has(r.err, "corvelctl: Update stop! The board stays in its bootloader")) << r.err;
  EXPECT_EQ(flashed, std::vector<std::uint8_t>(data.size(), 0xFF)) << "nothing written";
  EXPECT_EQ(g_outerInterrupts, 0);
  EXPECT_EQ(std::signal(SIGINT, previous), &OuterHandler);
}

TEST_F(FlashCliTest, ASecondCtrlCEndsTheProgramAtOnce) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string image = Path("fw.qvbin");
  ASSERT_EQ(Ctl({"image", "make", Write("raw.bin", Pattern(4096)), "-o", image}).rc, 0);
  EXPECT_EXIT(
      {
        WithBoard({"--sim", "flash", image}, [&](Session& s) {
          s.Sim()->SetFaults({.eraseTime = std::chrono::seconds(60)});
          s.Communication().Hid()->SetReportTap([](bool out, const std::uint8_t* report, std::size_t) {
            if (!out || report[1] != boot::kOpErase) return;
            CtrlC();
            std::this_thread::sleep_for(300ms);  // the first is taken before the second comes
            CtrlC();
          });
        });
        std::exit(0);  // not reached
      },
      ::testing::KilledBySignal(SIGINT), "");
}

TEST_F(FlashCliTest, AnInheritedIgnoreOfCtrlCIsRespected) {
  const auto data = Pattern(8192);
  const std::string image = Path("fw.qvbin");
  ASSERT_EQ(Ctl({"image", "make", Write("raw.bin", data), "-o", image}).rc, 0);
  const auto previous = std::signal(SIGINT, SIG_IGN);  // as under nohup, or in the background
  flashLength = data.size();
  std::atomic<int> blocks{0};
  const auto r = WithBoard({"--sim", "flash", image}, [&](Session& s) {
    s.Communication().Hid()->SetReportTap([&](bool out, const std::uint8_t* report, std::size_t) {
      if (out && report[1] == boot::kOpBlock && ++blocks == 10) CtrlC();
    });
  });
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(flashed, data);
  EXPECT_EQ(std::signal(SIGINT, previous), SIG_IGN) << "still ignored afterwards";
}

TEST_F(FlashCliTest, ABoardThatLeavesItsBootloaderForItsFirmwareIsAskedAgain) {
  const auto data = Pattern(3000);
  const std::string image = Path("fw.qvbin");
  ASSERT_EQ(Ctl({"image", "make", Write("raw.bin", data), "-o", image}).rc, 0);
  flashLength = data.size();
  // Seen in its bootloader, it starts its firmware as the connect record
  // comes (as a bootloader that gives up waiting does).
  std::atomic<bool> left{false};
  const auto started = std::chrono::steady_clock::now();
  const auto r = WithBoard({"--sim", "flash", image}, [&](Session& s) {
    s.Sim()->RestartIntoBootloader();
    sim::SimBoard* board = s.Sim();
    s.Communication().Hid()->SetReportTap([&left, board](bool out, const std::uint8_t* report, std::size_t) {
      if (out && report[1] == boot::kOpConnect && !left.exchange(true)) board->RestartIntoApplication();
    });
  });
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_LT(std::chrono::steady_clock::now() - started, 8s);
  EXPECT_TRUE(Has(r.err, "The board is running its bootloader already.\n")) << r.err;
  EXPECT_TRUE(Has(r.err, "The board left its bootloader and runs its application firmware: asking it to restart.\n"
                         "√ Set boot value successfully!\n"))
      << r.err;
  EXPECT_EQ(flashed, data);
}

TEST_F(FlashCliTest, ConnectingToTheBootloaderEndsAtOnceWhenItIsUnpluggedAndAfterThreeTriesWhenSilent) {
  const std::string image = Path("fw.qvbin");
  ASSERT_EQ(Ctl({"image", "make", Write("raw.bin", Pattern(100)), "-o", image}).rc, 0);
  for (const bool unplug : {true, false}) {
    SCOPED_TRACE(unplug ? "unplugged" : "silent");
    std::atomic<int> connectRecords{0};
    const auto started = std::chrono::steady_clock::now();
    const auto r = WithBoard({"--sim", "flash", image}, [&](Session& s) {
      s.Sim()->RestartIntoBootloader();
      s.Sim()->SetFaults({.silent = true});
      sim::SimBoard* board = s.Sim();
      s.Communication().Hid()->SetReportTap([&, board](bool out, const std::uint8_t* report, std::size_t) {
        if (!out || report[1] != boot::kOpConnect) return;
        if (++connectRecords == 1 && unplug) board->Unplug();
      });
    });
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(r.rc, 1);
    if (unplug) {
      EXPECT_TRUE(Has(r.err, "The board was unplugged while connecting to its bootloader.")) << r.err;
      EXPECT_LT(took, 3s);
    } else {
      EXPECT_TRUE(Has(r.err, std::string("corvelctl: ") + kTextBootloaderSilent)) << r.err;
      EXPECT_EQ(connectRecords, kBootConnectAttempts);
      EXPECT_LT(took, 8s);
    }
  }
}

TEST_F(FlashCliTest, ABoardThatNamesNoChipBoardIsNotUpdated) {
  const std::string image = Path("fw.qvbin");
  ASSERT_EQ(Ctl({"image", "make", Write("raw.bin", Pattern(100)), "-o", image}).rc, 0);
  const auto r = WithBoard({"--sim=2", "flash", image});
  EXPECT_EQ(r.rc, 1);
  EXPECT_TRUE(Has(r.err, "The board reports id 2, which names no known chip board: it is not updated")) << r.err;
  EXPECT_FALSE(Has(r.err, "register access")) << r.err;
}

TEST_F(FlashCliTest, LogNamesTheBootloaderRecordsOfAnUpdate) {
  const std::string raw = Write("raw.bin", Pattern(64));
  const std::string image = Path("small.qvbin");
  ASSERT_EQ(Ctl({"image", "make", raw, "-o", image}).rc, 0);
  const std::string log = Path("update.csv");
  auto r = Ctl({"--sim", "--log", log, "flash", image});
  ASSERT_EQ(r.rc, 0) << r.err;
  std::ifstream in(log, std::ios::binary);
  const std::string csv((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The boot value goes as a frame; once the board runs its bootloader every
  // report is a raw record, named by the same decoder.
  const std::string rows[] = {
      ",out,DATA,", ",48,1,set boot value,1,00,ok,boot value 0x00: restart into the bootloader\r\n",
      ",out,BOOT,,,,0xE0 connect,64,E0 ", ",in,BOOT,,,,0xE0 connect,64,E0 01 02 00 07",
      ",bootloader version 1.2.0.7\r\n", ",out,BOOT,,,,0xE1 erase,64,", ",erase 64 bytes\r\n",
      ",in,BOOT,,,,0xE1 erase,64,", ",erase done\r\n", ",out,BOOT,,,,0xE2 write block,64,",
      ",block at 0x000000: 32 bytes\r\n", ",block at 0x000020: 32 bytes\r\n",
      ",in,BOOT,,,,0xE3 block echo,64,", ",check passed\r\n", ",out,BOOT,,,,0xE5 end,64,",
      ",the firmware starts\r\n",
  };
  for (const auto& row : rows) EXPECT_TRUE(Has(csv, row)) << row << "\nin\n" << csv;
  EXPECT_FALSE(Has(csv, ",ERROR,")) << csv;
}

// The erase is silent on the board's side: corvelctl counts its seconds
// against what the image's size makes it take. Unplugged after the erase, the
// board has no firmware to start and comes back in its bootloader, and the
// message says the update can be finished from there.
TEST_F(FlashCliTest, TheEraseIsTimedAndAnUnpluggedBoardIsToldToBeFinishedFromItsBootloader) {
  const auto data = Pattern(4096);
  const std::string image = Path("fw.qvbin");
  ASSERT_EQ(Ctl({"image", "make", Write("raw.bin", data), "-o", image}).rc, 0);
  // The board belongs to the session: the thread that pulls it is done
  // before the session closes, as the command may end (its reads fail) while
  // the unplug is still telling its listeners.
  std::thread unplugger;
  std::atomic<bool> giveUp{false};
  beforeClosing = [&] {
    giveUp = true;
    if (unplugger.joinable()) unplugger.join();
  };
  const auto r = WithBoard({"--sim", "flash", image}, [&](Session& s) {
    s.Sim()->SetFaults({.eraseTime = std::chrono::milliseconds(15 * 2500)});  // 2.5 s a sector
    unplugger = std::thread([board = s.Sim(), &giveUp] {
      while (board->ErasedLength() == 0 && !giveUp) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      if (giveUp) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(1200));
      board->Unplug();
    });
  });
  beforeClosing = nullptr;
  ASSERT_FALSE(unplugger.joinable());
  EXPECT_EQ(r.rc, 1);
  EXPECT_TRUE(Has(r.err, "Erasing flash pages... 0 s of about 1 s\nErasing flash pages... 1 s of about 1 s\n")) << r.err;
  EXPECT_TRUE(Has(r.err, "The board was unplugged during the update.\nIts flash was erased, so the board comes back "
                         "in its bootloader when plugged in again: run 'corvelctl flash' again"))
      << r.err;
  EXPECT_EQ(releaseAtEnd, sim::kReleaseBootloader);
}
