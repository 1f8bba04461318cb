// The board as a USB device: plugging, restarts between application firmware
// and bootloader with their device events, and the bootloader's records.
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "sim/SimBootloader.h"
#include "sim/SimHostSide.h"

namespace simtest {
namespace {

constexpr std::uint32_t kArrival = 0x8000;
constexpr std::uint32_t kRemoval = 0x8004;

// Device events come from whichever thread restarts the board.
class EventLog {
 public:
  void operator()(std::uint32_t event) {
    std::lock_guard lock(mu_);
    events_.push_back(event);
    cv_.notify_all();
  }
  std::vector<std::uint32_t> WaitFor(std::size_t count) {
    std::unique_lock lock(mu_);
    cv_.wait_for(lock, 3s, [&] { return events_.size() >= count; });
    return events_;
  }
  void Clear() {
    std::lock_guard lock(mu_);
    events_.clear();
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<std::uint32_t> events_;
};

sim::Report Record(std::uint8_t opcode, std::uint32_t number = 0) {
  sim::Report r{};
  r[0] = opcode;
  for (int i = 0; i < 4; ++i) r[4 + i] = static_cast<std::uint8_t>(number >> (8 * i));
  return r;
}

class SimBootloaderTest : public BoardFixture {
 protected:
  SimBootloaderTest() : BoardFixture(sim::SimConfig{.bootVersion = {9, 8, 7, 6}}) {
    board_.SetDeviceEventListener([this](std::uint32_t e) { events_(e); });
  }
  ~SimBootloaderTest() override { board_.SetDeviceEventListener({}); }

  void EnterBootloader() {
    board_.RestartIntoBootloader();
    ASSERT_EQ(events_.WaitFor(2), (std::vector<std::uint32_t>{kRemoval, kArrival}));
    events_.Clear();
  }

  std::optional<sim::Report> Ask(const sim::Report& request) {
    EXPECT_TRUE(board_.HostWrite(request));
    sim::Report reply;
    if (board_.HostRead(reply, 1000ms) != 1) return std::nullopt;
    return reply;
  }

  EventLog events_;
};

TEST_F(SimBootloaderTest, BootValueRestartsIntoTheBootloaderAfterItsReplyIsRead) {
  const std::uint16_t seq = Send(48, 1, {0});
  EXPECT_EQ(board_.ReleaseNumber(), sim::kReleaseApplication);
  ExpectLinkFrame(seq, kAck);
  EXPECT_EQ(ReadReply().cmd, 2);
  EXPECT_EQ(events_.WaitFor(2), (std::vector<std::uint32_t>{kRemoval, kArrival}));
  EXPECT_TRUE(board_.IsPlugged());
  EXPECT_EQ(board_.ReleaseNumber(), sim::kReleaseBootloader);

  const auto version = Ask(Record(0xE0));
  ASSERT_TRUE(version);
  EXPECT_EQ((*version)[0], 0xE0);
  EXPECT_EQ(Bytes(version->begin() + 1, version->begin() + 5), (Bytes{9, 8, 7, 6}));
}

TEST_F(SimBootloaderTest, RefusedBootValueKeepsTheApplicationRunning) {
  board_.SetFaults({.refuseBootValue = true});
  EXPECT_EQ(Exchange(48, 1, {0}).cmd, 3);
  EXPECT_EQ(Exchange(1, 1, {}).cmd, 2);  // still listening to frames
  EXPECT_EQ(board_.ReleaseNumber(), sim::kReleaseApplication);
}

TEST_F(SimBootloaderTest, UpdateRoundTripBackIntoTheApplication) {
  EnterBootloader();
  const auto erased = Ask(Record(0xE1, 3));
  ASSERT_TRUE(erased);
  EXPECT_EQ((*erased)[0], 0xE1);
  EXPECT_EQ((*erased)[1], 1);
  EXPECT_EQ(board_.ErasedLength(), 3u);

  // Data 01 02 03, then the trailer and 0xFF, as the host's only block.
  sim::Report block = Record(0xE2, 0);
  std::fill(block.begin() + 8, block.end(), 0xFF);
  const Bytes image{1, 2, 3, 3, 0, 0, 0, 0x11, 0x22, 0x33, 0x44, 0xF1, 0xFF, 0xFF, 0xFF};
  std::copy(image.begin(), image.end(), block.begin() + 8);
  const auto echo = Ask(block);
  ASSERT_TRUE(echo);
  EXPECT_EQ((*echo)[0], 0xE3);
  EXPECT_TRUE(std::equal(block.begin() + 1, block.begin() + 40, echo->begin() + 1));
  EXPECT_TRUE(std::all_of(echo->begin() + 40, echo->end(), [](std::uint8_t b) { return b == 0xFF; }));
  EXPECT_EQ(board_.Flash(0, 32), Bytes(block.begin() + 8, block.begin() + 40));

  // The check covers the erased length only, not the trailer written after it:
  // 01 02 03 sum to 14, so the checksum is ~14.
  struct Check {
    std::uint32_t word;
    std::uint8_t result;
  };
  for (const Check c : {Check{0xFFFFFFF0, 0}, Check{0xFFFFFFF1, 1}}) {
    sim::Report check = Record(0xE4, 32);
    for (int i = 0; i < 4; ++i) check[8 + i] = static_cast<std::uint8_t>(c.word >> (8 * i));
    const auto answer = Ask(check);
    ASSERT_TRUE(answer);
    EXPECT_EQ((*answer)[0], 0xE4);
    EXPECT_EQ((*answer)[1], c.result) << std::hex << c.word;
  }

  const auto end = Ask(Record(0xE5));
  ASSERT_TRUE(end);
  EXPECT_EQ((*end)[0], 0xE5);
  EXPECT_EQ(events_.WaitFor(2), (std::vector<std::uint32_t>{kRemoval, kArrival}));
  EXPECT_EQ(board_.ReleaseNumber(), sim::kReleaseApplication);
  EXPECT_EQ(Exchange(1, 1, {}).cmd, 2);
  EXPECT_EQ(board_.Flash(0, 3), (Bytes{1, 2, 3}));
}

TEST_F(SimBootloaderTest, FlashTakesABlockOnlyWhereTheEraseClearedIt) {
  EnterBootloader();
  struct Case {
    std::uint32_t length;
    bool refuse;
    std::uint8_t result;
    std::uint32_t erasedAfter;
  };
  const std::uint32_t flash = static_cast<std::uint32_t>(sim::kFlashSize);
  for (const Case c : {Case{flash, false, 1, flash}, Case{flash + 1, false, 0, flash},
                       Case{64, false, 1, 64}, Case{32, true, 0, 64}}) {
    SCOPED_TRACE(c.length);
    board_.SetFaults({.refuseErase = c.refuse});
    const auto answer = Ask(Record(0xE1, c.length));
    ASSERT_TRUE(answer);
    EXPECT_EQ((*answer)[1], c.result);
    EXPECT_EQ(board_.ErasedLength(), c.erasedAfter);
  }
  board_.SetFaults({});

  // The erase of 64 bytes cleared the first sector, and only that.
  const auto written = [&](std::uint32_t offset) {
    sim::Report block = Record(0xE2, offset);
    std::fill(block.begin() + 8, block.end(), 0x00);
    const auto echo = Ask(block);
    EXPECT_TRUE(echo);
    if (!echo) return false;
    EXPECT_EQ((*echo)[0], 0xE3);
    if (std::equal(block.begin() + 1, block.begin() + 40, echo->begin() + 1)) return true;
    // A refusal changes every echoed byte, so it cannot pass for an echo.
    for (std::size_t i = 1; i < 40; ++i) EXPECT_NE((*echo)[i], block[i]) << i;
    return false;
  };
  constexpr std::uint32_t kSector = sim::SimBootloader::kSectorSize;
  EXPECT_TRUE(written(0));
  EXPECT_FALSE(written(0)) << "written since the erase";
  EXPECT_TRUE(written(kSector - 32));
  EXPECT_FALSE(written(kSector)) << "not erased";
  EXPECT_FALSE(written(33)) << "not a block's place";
  EXPECT_FALSE(written(flash - 31));
  EXPECT_EQ(board_.Flash(kSector, 32), Bytes(32, 0xFF));

  ASSERT_EQ((*Ask(Record(0xE1, kSector + 1)))[1], 1);  // two sectors
  EXPECT_EQ(board_.Flash(0, 32), Bytes(32, 0xFF)) << "the erase cleared what was written before";
  EXPECT_TRUE(written(0));
  EXPECT_TRUE(written(kSector));
}

TEST_F(SimBootloaderTest, EraseTakesItsTimeAndWhatComesMeanwhileWaits) {
  EnterBootloader();
  // 100 ms a sector; three sectors.
  board_.SetFaults({.eraseTime = std::chrono::milliseconds(100 * sim::SimBootloader::kSectors)});
  const auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(board_.HostWrite(Record(0xE1, 2 * sim::SimBootloader::kSectorSize + 1)));
  ASSERT_TRUE(board_.HostWrite(Record(0xE0)));  // held until the erase is done
  sim::Report reply;
  EXPECT_EQ(board_.HostRead(reply, 150ms), 0);
  ASSERT_EQ(board_.HostRead(reply, 2000ms), 1);
  EXPECT_GE(std::chrono::steady_clock::now() - started, 290ms);
  EXPECT_EQ(reply[0], 0xE1);
  EXPECT_EQ(reply[1], 1);
  ASSERT_EQ(board_.HostRead(reply, 100ms), 1);
  EXPECT_EQ(reply[0], 0xE0) << "then the record that waited";
  EXPECT_TRUE(NothingQueued());
}

TEST_F(SimBootloaderTest, OnlyAWholeUncontestedImageIsStarted) {
  // 40 bytes of data: two blocks, 64 bytes written; checksum over the 40.
  const Bytes data(40, 0x3C);
  const std::uint32_t good = sim::ImageChecksum(data);
  struct Check {
    std::uint32_t written;
    std::uint32_t word;
  };
  const struct {
    const char* name;
    bool erase;
    int blocks;
    std::optional<Check> check;
    std::uint8_t checkResult;
    bool starts;
  } cases[] = {
      {"checked image", true, 2, Check{64, good}, 1, true},
      {"image without a check step", true, 2, std::nullopt, 0, true},
      {"nothing erased: the old firmware runs", false, 0, std::nullopt, 0, true},
      {"last block missing", true, 1, Check{64, good}, 0, false},
      {"last block missing, no check", true, 1, std::nullopt, 0, false},
      {"check over less than was written", true, 2, Check{32, good}, 0, false},
      {"check word wrong", true, 2, Check{64, good ^ 1}, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EnterBootloader();
    if (c.erase) ASSERT_EQ((*Ask(Record(0xE1, 40)))[1], 1);
    for (int b = 0; b < c.blocks; ++b) {
      sim::Report block = Record(0xE2, 32u * b);
      std::fill(block.begin() + 8, block.end(), 0xFF);
      std::copy_n(data.begin() + 32 * b, std::min<std::size_t>(32, data.size() - 32 * b), block.begin() + 8);
      ASSERT_EQ((*Ask(block))[0], 0xE3);
    }
    if (c.check) {
      sim::Report check = Record(0xE4, c.check->written);
      for (int i = 0; i < 4; ++i) check[8 + i] = static_cast<std::uint8_t>(c.check->word >> (8 * i));
      EXPECT_EQ((*Ask(check))[1], c.checkResult);
    }
    const auto end = Ask(Record(0xE5));
    ASSERT_TRUE(end);
    EXPECT_EQ((*end)[0], 0xE5);
    EXPECT_EQ((*end)[1], c.starts ? 1 : 0);
    if (c.starts) {
      EXPECT_EQ(events_.WaitFor(2), (std::vector<std::uint32_t>{kRemoval, kArrival}));
      EXPECT_EQ(board_.ReleaseNumber(), sim::kReleaseApplication);
    } else {
      std::this_thread::sleep_for(600ms);  // longer than a restart's grace
      EXPECT_EQ(board_.ReleaseNumber(), sim::kReleaseBootloader);
      board_.RestartIntoApplication();
      events_.WaitFor(2);
    }
    events_.Clear();
  }
}

TEST_F(SimBootloaderTest, WrongBlockEchoSpoilsOneDataByte) {
  EnterBootloader();
  ASSERT_EQ((*Ask(Record(0xE1, 96)))[1], 1);
  board_.SetFaults({.wrongBlockEcho = true});
  sim::Report block = Record(0xE2, 64);
  for (std::size_t i = 8; i < 40; ++i) block[i] = static_cast<std::uint8_t>(i);
  const auto echo = Ask(block);
  ASSERT_TRUE(echo);
  EXPECT_TRUE(std::equal(block.begin() + 1, block.begin() + 8, echo->begin() + 1));
  int differing = 0;
  for (std::size_t i = 8; i < 40; ++i) differing += (*echo)[i] != block[i];
  EXPECT_EQ(differing, 1);
  EXPECT_EQ(board_.Flash(64, 32), Bytes(block.begin() + 8, block.begin() + 40));
}

TEST_F(SimBootloaderTest, BootloaderIgnoresWhatItDoesNotKnow) {
  EnterBootloader();
  for (const std::uint8_t opcode : {0x00, 0xE3, 0xE6, 0x5A}) ASSERT_TRUE(board_.HostWrite(Record(opcode)));
  WriteFrame(HostFrame(0, 1, 1, {}));
  EXPECT_TRUE(NothingQueued());
}

TEST_F(SimBootloaderTest, UnplugWakesABlockedReadAndDropsPendingOutput) {
  int result = 0;
  std::thread reader([&] {
    sim::Report r;
    result = board_.HostRead(r, 5000ms);
  });
  std::this_thread::sleep_for(20ms);
  board_.Unplug();
  reader.join();
  EXPECT_EQ(result, -1);
  EXPECT_EQ(events_.WaitFor(1), std::vector<std::uint32_t>{kRemoval});
  EXPECT_FALSE(board_.IsPlugged());
  sim::Report r{};
  EXPECT_FALSE(board_.HostWrite(r));
  EXPECT_EQ(board_.HostRead(r, 0ms), -1);

  board_.Plug();
  EXPECT_EQ(events_.WaitFor(2), (std::vector<std::uint32_t>{kRemoval, kArrival}));
  EXPECT_EQ(Exchange(1, 1, {}).cmd, 2);
  board_.RaiseInterrupt();  // left unread
  board_.Unplug();
  board_.Plug();
  EXPECT_TRUE(NothingQueued());
}

TEST_F(SimBootloaderTest, RestartDropsQueuedOutputAndHalfFrames) {
  const auto reports = ToReports(HostFrame(0, 1, 32, Bytes(60, 0)));
  ASSERT_EQ(reports.size(), 2u);
  board_.RaiseInterrupt();
  ASSERT_TRUE(board_.HostWrite(reports[0]));
  board_.RestartIntoApplication();
  EXPECT_TRUE(NothingQueued());
  ASSERT_TRUE(board_.HostWrite(reports[1]));
  EXPECT_TRUE(NothingQueued());
  EXPECT_TRUE(board_.Delivered().empty());
}


// Flash keeps what an update did to it through a power cycle: a board whose
// application area was erased, or written only in part, has nothing to start
// and comes up in its bootloader, where the update can be finished; one that
// was not erased, or got a whole new image, starts its application.
TEST_F(SimBootloaderTest, APowerCycleAfterAnUnfinishedUpdateComesBackInTheBootloader) {
  const auto powerCycle = [&] {
    board_.Unplug();
    board_.Plug();
    events_.WaitFor(2);
    events_.Clear();
    return board_.ReleaseNumber();
  };
  const auto writeBlock = [&](std::uint32_t offset) {
    sim::Report block = Record(0xE2, offset);
    std::fill(block.begin() + 8, block.end(), 0x5A);
    ASSERT_TRUE(Ask(block));
  };

  EnterBootloader();  // connected, nothing erased: the old firmware is still there
  ASSERT_TRUE(Ask(Record(0xE0)));
  EXPECT_EQ(powerCycle(), sim::kReleaseApplication);

  EnterBootloader();
  ASSERT_EQ((*Ask(Record(0xE1, 64)))[1], 1);  // erased, nothing written
  EXPECT_EQ(powerCycle(), sim::kReleaseBootloader);

  ASSERT_EQ((*Ask(Record(0xE1, 64)))[1], 1);  // finished from the bootloader, in part
  writeBlock(0);
  EXPECT_EQ(powerCycle(), sim::kReleaseBootloader);

  ASSERT_EQ((*Ask(Record(0xE1, 64)))[1], 1);  // and whole, then ended: it runs
  writeBlock(0);
  writeBlock(32);
  ASSERT_EQ((*Ask(Record(0xE5)))[1], 1);
  EXPECT_EQ(events_.WaitFor(2), (std::vector<std::uint32_t>{kRemoval, kArrival}));
  events_.Clear();
  EXPECT_EQ(board_.ReleaseNumber(), sim::kReleaseApplication);
  EXPECT_EQ(powerCycle(), sim::kReleaseApplication);
}

}  // namespace
}  // namespace simtest
