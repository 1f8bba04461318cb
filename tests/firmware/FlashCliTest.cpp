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

#include "cli/Commands.h"
#include "cli/Session.h"
#include "firmware/BootRecord.h"
#include "firmware/ImageFile.h"
#include "support/CliRun.h"

namespace {

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
  // opens and read its flash back before it closes.
  Result WithBoard(std::vector<std::string> args, std::function<void(Session&)> setUp = {}) {
    flashed.clear();
    sessions = 0;
    cli::SetSessionHooks({[&, setUp](Session& s) {
                            ++sessions;
                            if (setUp) setUp(s);
                          },
                          [&](Session& s) {
                            if (s.Sim()) flashed = s.Sim()->Flash(0, flashLength);
                          }});
    return Ctl(std::move(args));
  }

  std::filesystem::path dir;
  std::size_t flashLength = 0;
  std::vector<std::uint8_t> flashed;
  int sessions = 0;
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
  EXPECT_EQ(r.out,
            "√ Set boot value successfully!\n"
            "Connected! Boot version is 1.2.0.7\n"
            "Begin update firmware...\n"
            "Flash pages erase succeed! Downloading firmware...\n"
            "Update ended and execute new firmware!\n"
            "The board is back in its application firmware.\n");
  // Not a terminal: one "NN%" line per step, rising to 100, and nothing else.
  std::istringstream lines(r.err);
  int last = -1;
  for (std::string line; std::getline(lines, line);) {
    ASSERT_TRUE(line.size() >= 2 && line.back() == '%') << line;
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
      {{"image", "check", garbage}, "corvelctl: qvbin file data error!\n"},
      {{"image", "check", noData}, "corvelctl: the image holds no data (length 0): it is never flashed.\n"},
      {{"--sim", "flash", garbage}, "corvelctl: qvbin file data error!\n"},
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
      {"flash"},
      {"flash", good, "extra"},
  };
  for (const auto& args : usage) {
    r = Ctl(args);
    EXPECT_EQ(r.rc, 2) << args.back();
    EXPECT_TRUE(Has(r.err, "Try 'corvelctl --help'.")) << r.err;
  }
}

TEST_F(FlashCliTest, FailedUpdatesSayWhatHappenedAndWhatToDoNext) {
  const auto data = Pattern(4096);
  const std::string raw = Write("raw.bin", data);
  const std::string image = Path("fw.qvbin");
  ASSERT_EQ(Ctl({"image", "make", raw, "-o", image}).rc, 0);
  const std::string wrongWord = Path("wrong.qvbin");
  ASSERT_EQ(Ctl({"image", "make", raw, "-o", wrongWord, "--check-word", "1"}).rc, 0);

  const struct {
    const char* name;
    std::string image;
    sim::SimFaults faults;
    std::string text;
    bool whatNext;
  } cases[] = {
      {"boot value refused", image, {.refuseBootValue = true},
       "× Set boot value failed!\nThe board refused to restart into its bootloader", false},
      {"erase refused", image, {.refuseErase = true},
       "corvelctl: Flash pages erase failed! Please plug the USB device to reset!\n", true},
      {"block echoed wrongly", image, {.wrongBlockEcho = true},
       "corvelctl: Update error! Please plug the USB device to reset!\n", true},
      {"check refused", wrongWord, {}, "corvelctl: Update error! Please plug the USB device to reset!\n", true},
  };
  for (const auto& c : cases) {
    const auto r = WithBoard({"--sim", "flash", c.image}, [&](Session& s) { s.Sim()->SetFaults(c.faults); });
    EXPECT_EQ(r.rc, 1) << c.name;
    EXPECT_TRUE(Has(r.err, c.text)) << c.name << "\n" << r.err;
    EXPECT_EQ(Has(r.err, "re-plug it, then run 'corvelctl flash' again"), c.whatNext) << c.name << "\n" << r.err;
    EXPECT_FALSE(Has(r.out, "Update ended")) << c.name;
  }
}

TEST_F(FlashCliTest, BoardLeftInItsBootloaderIsFlashedDirectly) {
  const auto data = Pattern(3000);
  const std::string image = Path("fw.qvbin");
  ASSERT_EQ(Ctl({"image", "make", Write("raw.bin", data), "-o", image}).rc, 0);
  flashLength = data.size();
  const auto r = WithBoard({"--sim", "flash", image}, [](Session& s) { s.Sim()->RestartIntoBootloader(); });
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "The board is running its bootloader already.\nConnected! Boot version is 1.2.0.7\n"))
      << r.out;
  EXPECT_FALSE(Has(r.out, "Set boot value"));
  EXPECT_EQ(flashed, data);
}

namespace {
std::atomic<int> g_outerInterrupts{0};
void OuterHandler(int) { ++g_outerInterrupts; }
}  // namespace

TEST_F(FlashCliTest, CtrlCStopsAfterTheCurrentBlockAndGivesTheSignalBack) {
  const std::string image = Path("fw.qvbin");
  ASSERT_EQ(Ctl({"image", "make", Write("raw.bin", Pattern(64 * 1024)), "-o", image}).rc, 0);
  const auto previous = std::signal(SIGINT, OuterHandler);

  std::atomic<int> blocks{0};
  const auto r = WithBoard({"--sim", "flash", image}, [&](Session& s) {
    // Ctrl-C while the tenth block goes out.
    s.Communication().Hid()->SetReportTap([&](bool out, const std::uint8_t* report, std::size_t) {
      // Sent to the process, as a terminal's Ctrl-C is: the worker and reader
      // threads block it, so it reaches the thread that waits for the user.
      if (out && report[1] == boot::kOpBlock && ++blocks == 10) kill(getpid(), SIGINT);
    });
  });
  EXPECT_EQ(r.rc, 1);
  EXPECT_TRUE(Has(r.out, "Stopping after the current block...\n")) << r.out;
  EXPECT_TRUE(Has(r.err, "corvelctl: Update stop! Please plug the USB device to reset!\n")) << r.err;
  EXPECT_FALSE(Has(r.out, "Update ended")) << r.out;
  EXPECT_EQ(g_outerInterrupts, 0) << "the update's own handler took the signal";
  EXPECT_LT(blocks, 2048) << "the whole image went out";

  // The handler in place before the update is back.
  EXPECT_EQ(std::signal(SIGINT, previous), &OuterHandler);
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
