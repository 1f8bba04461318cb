// corvelctl through the hidapi backend against the hidraw stand-in: the code
// that meets a real board (open, ioctls, blocking reads, writes, the read
// that fails when the board goes) runs here exactly as it would on one.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>
#include <string>
#include <vector>

#include "standin/StandInProcess.h"
#include "support/CliRun.h"

namespace {

using namespace std::chrono_literals;

class HidrawEndToEnd : public ::testing::Test {
 protected:
  void Start(std::vector<std::string> args = {}) {
    if (const std::string why = StandInProcess::Unavailable(); !why.empty())
      GTEST_SKIP() << "The hidraw stand-in needs FUSE: " << why;
    standIn = std::make_unique<StandInProcess>(std::move(args));
    ASSERT_FALSE(standIn->Path().empty()) << "the hidraw stand-in did not come up";
  }
  CliResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), {"--device", standIn->Path()});
    return Ctl(args);
  }
  std::unique_ptr<StandInProcess> standIn;
};

#define START_STAND_IN(...)          \
  Start(__VA_ARGS__);                \
  if (IsSkipped() || HasFatalFailure()) return

TEST_F(HidrawEndToEnd, InfoRegistersAndLedsThroughTheRealBackend) {
  START_STAND_IN();
  auto r = Run({"info"});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.out.find("Board id:      1 (QV6033)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("V1.3.0"), std::string::npos) << r.out;

  // The board outlives each connection, as a real one does: written by one
  // run, read back by the next.
  r = Run({"reg", "write", "0x20", "0x10", "0x20", "0x30"});
  ASSERT_EQ(r.rc, 0) << r.err;
  r = Run({"reg", "read", "0x20", "3"});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(r.out, "0x20: 0x10\n0x21: 0x20\n0x22: 0x30\n");

  r = Run({"batch", "mode led", "led 77 1 3"});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(standIn->Register(0x21), 77);
  EXPECT_EQ(standIn->Register(0x23), 77);
  EXPECT_EQ(standIn->Register(0x20), 0x10);  // not among the LEDs named

  r = Run({"list"});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.out.find(standIn->Path()), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("application"), std::string::npos) << r.out;
}

TEST_F(HidrawEndToEnd, LossyLinkReadsBackEveryValueAsWritten) {
  START_STAND_IN({"--faults", "drop=2,corrupt=2"});
  std::vector<std::string> args = {"batch"};
  std::string expected;
  for (int round = 0; round < 12; ++round) {
    std::string write = "reg write 0x20";
    for (int i = 0; i < 8; ++i) {
      const int value = (round * 29 + i * 7 + 1) & 0xFF;
      char text[16];
      std::snprintf(text, sizeof text, " 0x%02X", value);
      write += text;
      std::snprintf(text, sizeof text, "0x%02X: 0x%02X\n", 0x20 + i, value);
      expected += text;
    }
    args.push_back(write);
    args.push_back("reg read 0x20 8");
  }
  const auto r = Run(args);
  ASSERT_EQ(r.rc, 0) << r.err;
  std::string reads;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("0x2", 0) == 0) reads += line + "\n";
  EXPECT_EQ(reads, expected);
}

TEST_F(HidrawEndToEnd, UnplugInTheMiddleOfABatchEndsItWithAMessage) {
  START_STAND_IN();
  standIn->Command("unplug-after 30");
  std::vector<std::string> args = {"--timeout", "20000", "batch"};
  for (int i = 0; i < 200; ++i) args.push_back("reg write 0x20 " + std::to_string(i % 256));
  const auto start = std::chrono::steady_clock::now();
  const auto r = Run(args);
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.err.find("Link lost during the register write: USB Hid device not found!"), std::string::npos) << r.err;
  // No wait ran out: the read that failed told the link at once (connecting
  // takes 1.2 s of settling before the first command; --timeout is 20 s).
  EXPECT_LT(took, 10s) << r.err;
  std::printf("unplug mid-batch ended after %lld ms\n", static_cast<long long>(took.count()));
  ASSERT_TRUE(standIn->WaitNode(false));

  // Plugged in again, it is a fresh node and everything works.
  standIn->Command("plug");
  ASSERT_TRUE(standIn->WaitNode(true));
  const auto again = Run({"info"});
  EXPECT_EQ(again.rc, 0) << again.err;
}

TEST_F(HidrawEndToEnd, FlashRestartsIntoTheBootloaderAndBack) {
  START_STAND_IN({"--latency", "1"});  // USB's 1 ms poll: the bootloader's pace as on a board
  std::vector<std::uint8_t> raw(64 * 1024);
  std::uint32_t x = 12345;
  for (auto& b : raw) b = static_cast<std::uint8_t>((x = x * 1103515245u + 12345u) >> 16);
  const std::filesystem::path dir = standIn->Dir() + "-image";
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "raw.bin", std::ios::binary).write(reinterpret_cast<const char*>(raw.data()), raw.size());
  ASSERT_EQ(Ctl({"image", "make", (dir / "raw.bin").string(), "-o", (dir / "fw.qvbin").string()}).rc, 0);

  const auto r = Run({"flash", (dir / "fw.qvbin").string()});
  std::filesystem::remove_all(dir);
  ASSERT_EQ(r.rc, 0) << r.err;
  const std::string all = r.out + r.err;
  EXPECT_NE(all.find("Connected! Boot version is 1.2.0.7"), std::string::npos) << all;
  EXPECT_NE(all.find("Update ended and execute new firmware!"), std::string::npos) << all;
  EXPECT_NE(all.find("The board is back in its application firmware."), std::string::npos) << all;
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (const std::uint8_t b : raw) hash = (hash ^ b) * 0x100000001b3ull;
  EXPECT_EQ(standIn->FlashSum(raw.size()), hash);
  EXPECT_EQ(Run({"info"}).rc, 0);  // the node is the application's again
}

TEST(HidrawDevicePath, PathsThatAreNoBoardGetAClearMessageAndExitCode1) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("corvel-device-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "plain") << "not a device\n";
  struct Case {
    std::string path;
    std::string message;
  } cases[] = {
      {(dir / "missing").string(), "No lamp board at " + (dir / "missing").string() + ": No such file or directory."},
      {(dir / "plain").string(), "it is not a HID device"},
      {"/dev/null", "it is not a HID device"},
      {dir.string(), "it is a directory, not a HID device"},
  };
  for (const auto& c : cases) {
    const auto r = Ctl({"--device", c.path, "info"});
    EXPECT_EQ(r.rc, 1) << c.path;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.path << ": " << r.err;
  }
  EXPECT_EQ(Ctl({"--device", "/dev/null", "--sim", "info"}).rc, 2);
  std::filesystem::remove_all(dir);
}

// The stand-in itself answers as a hidraw node does, so that what passes
// here passes on a board.
TEST_F(HidrawEndToEnd, TheStandInAnswersAsAHidrawNode) {
  START_STAND_IN();
  const int fd = open(standIn->Path().c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  int size = 0;
  ASSERT_EQ(ioctl(fd, HIDIOCGRDESCSIZE, &size), 0);
  EXPECT_GT(size, 0);
  hidraw_report_descriptor descriptor{};
  descriptor.size = static_cast<__u32>(size);
  ASSERT_EQ(ioctl(fd, HIDIOCGRDESC, &descriptor), 0);
  EXPECT_EQ(descriptor.value[0], 0x06);  // usage page first
  hidraw_devinfo info{};
  ASSERT_EQ(ioctl(fd, HIDIOCGRAWINFO, &info), 0);
  EXPECT_EQ(info.bustype, 3u);  // USB
  EXPECT_EQ(static_cast<std::uint16_t>(info.vendor), 0x0483);
  EXPECT_EQ(static_cast<std::uint16_t>(info.product), 0x5750);
  int unused = 0;
  errno = 0;
  EXPECT_EQ(ioctl(fd, 0x5401 /* TCGETS */, &unused), -1);
  EXPECT_EQ(errno, ENOTTY);

  std::uint8_t report[65] = {};
  errno = 0;
  EXPECT_EQ(read(fd, report, sizeof report), -1);  // nothing waiting
  EXPECT_EQ(errno, EAGAIN);
  report[0] = 1;
  EXPECT_EQ(write(fd, report, sizeof report), -1);  // the board numbers no reports
  report[0] = 0;
  EXPECT_EQ(write(fd, report, 66), -1);

  standIn->Command("unplug");
  pollfd p{fd, POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 2000), 1);
  EXPECT_TRUE(p.revents & POLLHUP);
  errno = 0;
  EXPECT_EQ(read(fd, report, sizeof report), -1);
  EXPECT_EQ(errno, EIO);
  errno = 0;
  EXPECT_EQ(write(fd, report, sizeof report), -1);
  EXPECT_EQ(errno, ENODEV);
  EXPECT_TRUE(standIn->WaitNode(false));

  standIn->Command("plug");
  ASSERT_TRUE(standIn->WaitNode(true));
  errno = 0;
  EXPECT_EQ(write(fd, report, sizeof report), -1);  // the old handle stays dead
  const int fresh = open(standIn->Path().c_str(), O_RDWR);
  ASSERT_GE(fresh, 0);
  EXPECT_EQ(write(fresh, report, sizeof report), 65);
  close(fresh);
  close(fd);
}

TEST_F(HidrawEndToEnd, TheStandInLeavesNoMountBehind) {
  START_STAND_IN();
  const std::string dir = standIn->Dir();
  ASSERT_TRUE(standIn->IsMounted());
  // Killed outright, it cannot unmount itself: auto_unmount does.
  standIn->Kill();
  const auto deadline = std::chrono::steady_clock::now() + 20s;  // ends as soon as it is gone; fusermount may be slow on a busy machine
  while (standIn->IsMounted() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
  EXPECT_FALSE(standIn->IsMounted());
  standIn.reset();
  EXPECT_FALSE(std::filesystem::exists(dir));
}

}  // namespace
