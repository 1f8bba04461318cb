// The transfer worker against the simulated bootloader: the records it sends
// byte for byte, the statuses it posts, and how it ends on every fault.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>

#include "firmware/BootTransfer.h"
#include "firmware/ImageFile.h"
#include "link/LinkHost.h"
#include "platform/Messages.h"
#include "BootloaderDouble.h"

using namespace std::chrono_literals;
using Status = std::pair<std::uintptr_t, std::intptr_t>;
using Records = std::vector<boot::Record>;

namespace {

std::vector<std::uint8_t> Pattern(std::size_t n) {
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(i * 13 + 5);
  return v;
}

// The buffer as the update window holds it after a successful check.
std::unique_ptr<ImageBuffer> Loaded(const std::vector<std::uint8_t>& file) {
  auto buffer = std::make_unique<ImageBuffer>();
  buffer->fill(0xFF);
  std::copy(file.begin(), file.end(), buffer->begin());
  return buffer;
}

std::vector<std::uint8_t> Opcodes(const Records& records) {
  std::vector<std::uint8_t> ops;
  for (const auto& r : records) ops.push_back(r[0]);
  return ops;
}

std::uint32_t U32(const boot::Record& r, std::size_t at) { return boot::GetU32(r.data() + at); }

bool AllBytes(const boot::Record& r, std::size_t from, std::size_t to, std::uint8_t value) {
  return std::all_of(r.begin() + from, r.begin() + to, [&](std::uint8_t b) { return b == value; });
}

bool SameBytes(const boot::Record& a, const boot::Record& b, std::size_t from, std::size_t to) {
  return std::equal(a.begin() + from, a.begin() + to, b.begin() + from);
}

class BootTransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    corvel::SetBootDialogHandle(window.handle());
    MakeContext({2000ms, 2000ms});
  }
  void TearDown() override {
    loader.Attach(nullptr);
    ctx.reset();
    loader.Stop();
    corvel::SetBootDialogHandle(platform::kNoHandle);
  }

  void MakeContext(BootTransferTiming timing) {
    loader.SetHook({});  // the last case's hook is done with what it captured
    loader.Attach(nullptr);
    ctx.reset();
    ctx = std::make_unique<BootTransferContext>([this](const boot::Record& r) { return loader.Write(r); }, timing);
    loader.Attach(ctx.get());
  }

  // Statuses posted to the window up to and including the worker's last.
  std::vector<Status> StatusesUntilFinal(std::chrono::milliseconds timeout = 10s) {
    std::vector<Status> seen;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      auto m = window->WaitFor(platform::kMsgBootStatus, 20ms);
      if (!m) continue;
      seen.emplace_back(m->wParam, m->Value());
      if (IsFinalBootStatus(m->wParam)) break;
    }
    return seen;
  }

  // Runs a whole transfer of `data` (as a file with this check word).
  std::vector<Status> Transfer(const std::vector<std::uint8_t>& data, std::uint32_t checkWord) {
    const auto image = Loaded(BuildImageFile(data, checkWord));
    EXPECT_TRUE(ctx->StartTransfer(*image, static_cast<std::uint32_t>(data.size()), checkWord));
    auto statuses = StatusesUntilFinal();
    ctx->Join();
    return statuses;
  }

  platform::ScopedQueueTarget window;
  BootloaderDouble loader;
  std::unique_ptr<BootTransferContext> ctx;
};

}  // namespace

TEST_F(BootTransferTest, ThirtyThreeBytesGoAsTwoBlocksThenCheckAndEnd) {
  const auto data = Pattern(33);
  const std::uint32_t checkWord = ComputeImageChecksum(data);  // what the bootloader verifies
  const auto file = BuildImageFile(data, checkWord);

  EXPECT_EQ(Transfer(data, checkWord),
            (std::vector<Status>{{2, 0}, {3, 0}, {5, 96}, {5, 193}, {7, 0}}));

  const Records sent = loader.Sent();
  ASSERT_EQ(Opcodes(sent), (std::vector<std::uint8_t>{0xE1, 0xE2, 0xE2, 0xE4, 0xE5}));
  const auto& erase = sent[0];
  EXPECT_TRUE(AllBytes(erase, 1, 4, 0));
  EXPECT_EQ(U32(erase, 4), 33u);
  EXPECT_TRUE(AllBytes(erase, 8, 64, 0)) << "the request buffer starts all zero";

  const auto& first = sent[1];
  EXPECT_TRUE(AllBytes(first, 1, 4, 0));
  EXPECT_EQ(U32(first, 4), 0u);
  EXPECT_TRUE(std::equal(data.begin(), data.begin() + 32, first.begin() + 8));
  EXPECT_TRUE(AllBytes(first, 40, 64, 0xFF));

  // The last block is cut from the file as loaded: data byte 32, the whole
  // trailer, then the blank buffer.
  const auto& second = sent[2];
  EXPECT_EQ(U32(second, 4), 32u);
  EXPECT_EQ(second[8], data[32]);
  EXPECT_TRUE(std::equal(file.begin() + 33, file.end(), second.begin() + 9));
  EXPECT_TRUE(AllBytes(second, 21, 64, 0xFF));

  const auto& check = sent[3];
  EXPECT_TRUE(AllBytes(check, 1, 4, 0));
  EXPECT_EQ(U32(check, 4), 64u) << "bytes written, whole blocks";
  EXPECT_EQ(U32(check, 8), checkWord);
  EXPECT_TRUE(SameBytes(check, second, 12, 64)) << "bytes the check does not set keep the last block's";
  EXPECT_TRUE(SameBytes(sent[4], check, 1, 64)) << "the end record sets only its opcode";

  std::vector<std::uint8_t> flashed = loader.Flash(0, 64);
  EXPECT_TRUE(std::equal(second.begin() + 8, second.begin() + 40, flashed.begin() + 32));
  EXPECT_TRUE(std::equal(data.begin(), data.end(), flashed.begin()));
  EXPECT_FALSE(ctx->IsRunning());
}

TEST_F(BootTransferTest, CheckWordZeroGoesFromTheLastBlockStraightToTheEnd) {
  // A whole number of blocks: the progress ends on exactly 100.
  EXPECT_EQ(Transfer(Pattern(96), 0),
            (std::vector<Status>{{2, 0}, {3, 0}, {5, 33}, {5, 66}, {5, 100}, {7, 0}}));
  EXPECT_EQ(Opcodes(loader.Sent()), (std::vector<std::uint8_t>{0xE1, 0xE2, 0xE2, 0xE2, 0xE5}));
}

TEST_F(BootTransferTest, EraseOnlyCountsWhenTheEraseAnswerSaysDone) {
  const struct {
    const char* name;
    std::uint8_t opcode, result;
    std::uintptr_t status;
  } cases[] = {
      {"erased", 0xE1, 1, kBootStatusErased},
      {"refused", 0xE1, 0, kBootStatusEraseFailed},
      {"some other answer woke the worker", 0xE4, 1, kBootStatusEraseFailed},
  };
  for (const auto& c : cases) {
    MakeContext({2000ms, 2000ms});
    const std::size_t before = loader.Sent().size();
    loader.SetHook([&](const boot::Record& request, std::optional<boot::Record> answer) {
      if (request[0] == 0xE1) {
        boot::Record r{};
        r[0] = c.opcode;
        r[1] = c.result;
        return std::optional<boot::Record>(r);
      }
      return answer;
    });
    const auto statuses = Transfer(Pattern(40), 0);
    ASSERT_GE(statuses.size(), 2u) << c.name;
    EXPECT_EQ(statuses[1].first, c.status) << c.name;
    if (c.status == kBootStatusEraseFailed) {
      EXPECT_EQ(statuses.size(), 2u) << c.name;
      EXPECT_EQ(loader.Sent().size() - before, 1u) << c.name << ": nothing follows a refused erase";
    } else {
      EXPECT_EQ(statuses.back().first, kBootStatusDone) << c.name;
    }
  }
}

TEST_F(BootTransferTest, BadEchoEndsTheUpdateInTheBootloader) {
  const struct {
    const char* name;
    std::function<void(boot::Record&)> spoil;
    bool accepted;
  } cases[] = {
      {"not an echo", [](boot::Record& r) { r[0] = 0xE1; }, false},
      {"byte 1 differs", [](boot::Record& r) { r[1] ^= 1; }, false},
      {"offset differs", [](boot::Record& r) { r[4] ^= 0x20; }, false},
      {"last data byte differs", [](boot::Record& r) { r[39] ^= 0x80; }, false},
      {"a byte past the echoed ones differs", [](boot::Record& r) { r[40] ^= 0xFF; }, true},
  };
  for (const auto& c : cases) {
    MakeContext({2000ms, 2000ms});
    const std::size_t before = loader.Sent().size();
    std::atomic<int> echoes{0};
    loader.SetHook([&](const boot::Record& request, std::optional<boot::Record> answer) {
      if (request[0] == 0xE2 && ++echoes == 2 && answer) c.spoil(*answer);
      return answer;
    });
    const auto statuses = Transfer(Pattern(100), 0);
    const Records all = loader.Sent();
    const Records sent(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
    ASSERT_FALSE(statuses.empty()) << c.name;
    if (c.accepted) {
      EXPECT_EQ(statuses.back().first, kBootStatusDone) << c.name;
      continue;
    }
    EXPECT_EQ(statuses, (std::vector<Status>{{2, 0}, {3, 0}, {5, 32}, {6, 0}})) << c.name;
    // No end record: it would ask the bootloader to run half an image.
    EXPECT_EQ(Opcodes(sent), (std::vector<std::uint8_t>{0xE1, 0xE2, 0xE2})) << c.name;
  }
}

TEST_F(BootTransferTest, CheckIsAskedTwiceBeforeItCountsAsRefused) {
  const struct {
    const char* name;
    std::vector<std::uint8_t> answers;  // byte 1 of each check answer in turn
    int checksSent;
    std::uintptr_t status;
  } cases[] = {
      {"accepted", {1}, 1, kBootStatusDone},
      {"refused, then accepted", {0, 1}, 2, kBootStatusDone},
      {"refused twice", {0, 0}, 2, kBootStatusUpdateError},
  };
  for (const auto& c : cases) {
    MakeContext({2000ms, 2000ms});
    const std::size_t before = loader.Sent().size();
    std::atomic<std::size_t> asked{0};
    loader.SetHook([&](const boot::Record& request, std::optional<boot::Record> answer) {
      if (request[0] == 0xE4) (*answer)[1] = c.answers.at(asked++);
      return answer;
    });
    const auto statuses = Transfer(Pattern(64), 0x12345678);
    const Records all = loader.Sent();
    const Records sent(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
    const auto ops = Opcodes(sent);
    EXPECT_EQ(std::count(ops.begin(), ops.end(), 0xE4), c.checksSent) << c.name;
    if (c.checksSent == 2) {
      EXPECT_EQ(sent[3], sent[4]) << c.name << ": the same record once more";
    }
    ASSERT_FALSE(statuses.empty()) << c.name;
    EXPECT_EQ(statuses.back().first, c.status) << c.name;
    EXPECT_EQ(ops.back() == 0xE5, c.status == kBootStatusDone) << c.name;
  }
}

TEST_F(BootTransferTest, SilentBootloaderTimesOutWithinTheWait) {
  const struct {
    const char* name;
    std::uint8_t silentOn;
    int occurrence;
    std::vector<std::uintptr_t> statuses;
  } cases[] = {
      {"erase", 0xE1, 1, {2, 1}},
      {"second block", 0xE2, 2, {2, 3, 5, 1}},
      {"check", 0xE4, 1, {2, 3, 5, 5, 1}},
      {"end", 0xE5, 1, {2, 3, 5, 5, 1}},
  };
  for (const auto& c : cases) {
    MakeContext({150ms, 150ms});
    std::atomic<int> seen{0};
    loader.SetHook([&](const boot::Record& request, std::optional<boot::Record> answer) {
      if (request[0] == c.silentOn && ++seen == c.occurrence) return std::optional<boot::Record>();
      return answer;
    });
    const auto started = std::chrono::steady_clock::now();
    const auto statuses = Transfer(Pattern(50), ComputeImageChecksum(Pattern(50)));
    const auto took = std::chrono::steady_clock::now() - started;
    std::vector<std::uintptr_t> codes;
    for (const auto& s : statuses) codes.push_back(s.first);
    EXPECT_EQ(codes, c.statuses) << c.name;
    EXPECT_LT(took, 3s) << c.name;
  }
}

TEST_F(BootTransferTest, RecordThatCannotBeSentEndsAtOnceInsteadOfWaitingOutTheErase) {
  MakeContext({60000ms, 60000ms});
  loader.SetWritable(false);
  const auto started = std::chrono::steady_clock::now();
  const auto statuses = Transfer(Pattern(50), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
  EXPECT_EQ(statuses, (std::vector<Status>{{2, 0}, {1, 0}}));
}

TEST_F(BootTransferTest, RemovalEndsAWaitExceptForTheEndRecordsAnswer) {
  // Waits far longer than the test may take: a removal that did not end the
  // wait would show.
  MakeContext({30000ms, 30000ms});
  loader.SetHook([&](const boot::Record& request, std::optional<boot::Record>) {
    ctx->OnDeviceRemoved();  // the board goes without a word
    return std::optional<boot::Record>();
  });
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(Transfer(Pattern(64), 0), (std::vector<Status>{{2, 0}, {1, 0}}));
  EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);

  // The bootloader restarts as it answers the end record: the removal may be
  // reported first, and the answer still counts.
  MakeContext({30000ms, 30000ms});
  loader.SetHook([&](const boot::Record& request, std::optional<boot::Record> answer) {
    if (request[0] == 0xE5) {
      ctx->OnDeviceRemoved();
      std::this_thread::sleep_for(50ms);
    }
    return answer;
  });
  EXPECT_EQ(Transfer(Pattern(64), 0).back(), (Status{7, 0}));
}

TEST_F(BootTransferTest, StopEndsAfterTheCurrentBlockAndLeavesTheBoardInItsBootloader) {
  MakeContext({2000ms, 30000ms});  // any wait for an answer that does not come would show
  loader.SetHook([&](const boot::Record& request, std::optional<boot::Record> answer) {
    if (request[0] == 0xE2 && U32(request, 4) == 64) ctx->RequestStop();  // while block 3 is in flight
    return answer;
  });
  const auto started = std::chrono::steady_clock::now();
  const auto statuses = Transfer(Pattern(200), 0xABCD);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
  EXPECT_EQ(statuses, (std::vector<Status>{{2, 0}, {3, 0}, {5, 16}, {5, 32}, {5, 48}, {10, 0}}));
  EXPECT_EQ(Opcodes(loader.Sent()), (std::vector<std::uint8_t>{0xE1, 0xE2, 0xE2, 0xE2})) << "no end record";
  EXPECT_FALSE(ctx->IsRunning());
}

TEST_F(BootTransferTest, StopDuringTheEraseEndsTheWaitAtOnce) {
  MakeContext({30000ms, 2000ms});
  std::atomic<bool> eraseSent{false};
  loader.SetHook([&](const boot::Record& request, std::optional<boot::Record> answer) {
    if (request[0] != 0xE1) return answer;
    eraseSent = true;
    return std::optional<boot::Record>();  // still erasing
  });
  const auto image = Loaded(BuildImageFile(Pattern(100), 0));
  ASSERT_TRUE(ctx->StartTransfer(*image, 100, 0));
  for (int i = 0; i < 200 && !eraseSent; ++i) std::this_thread::sleep_for(5ms);
  const auto started = std::chrono::steady_clock::now();
  ctx->RequestStop();
  EXPECT_EQ(StatusesUntilFinal(), (std::vector<Status>{{2, 0}, {10, 0}}));
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
  ctx->Join();
  EXPECT_EQ(Opcodes(loader.Sent()), (std::vector<std::uint8_t>{0xE1}));

  // The stop does not carry over into the next transfer: it starts afresh.
  MakeContext({30000ms, 2000ms});
  const std::size_t before = loader.Sent().size();
  loader.SetHook({});
  ctx->RequestStop();
  ASSERT_TRUE(ctx->StartTransfer(*image, 100, 0));
  EXPECT_EQ(StatusesUntilFinal().back().first, kBootStatusDone);
  EXPECT_GT(loader.Sent().size(), before);
}

TEST_F(BootTransferTest, CallerMayFreeItsImageRightAfterStop) {
  // The window may close (and free its buffer) as soon as Stop is pressed;
  // the worker still has a block to finish. Under ASan a read of the freed
  // buffer fails this test.
  std::atomic<bool> stopAsked{false};
  std::atomic<bool> freed{false};
  loader.SetHook([&](const boot::Record& request, std::optional<boot::Record> answer) {
    if (request[0] == 0xE2 && !stopAsked) {
      ctx->RequestStop();
      stopAsked = true;
      for (int i = 0; i < 200 && !freed; ++i) std::this_thread::sleep_for(1ms);
    }
    return answer;
  });
  const auto data = Pattern(1000);
  auto image = Loaded(BuildImageFile(data, 0));
  ASSERT_TRUE(ctx->StartTransfer(*image, 1000, 0));
  for (int i = 0; i < 400 && !stopAsked; ++i) std::this_thread::sleep_for(5ms);
  image->fill(0x00);
  image.reset();
  freed = true;
  const auto statuses = StatusesUntilFinal();
  ASSERT_FALSE(statuses.empty());
  EXPECT_EQ(statuses.back().first, kBootStatusStopped);
  ctx->Join();
  const auto flashed = loader.Flash(0, 32);
  EXPECT_TRUE(std::equal(flashed.begin(), flashed.end(), data.begin())) << "the block sent is the image as started";
}

TEST_F(BootTransferTest, OneWorkerAtATime) {
  std::mutex gateMutex;
  std::condition_variable gate;
  bool open = false;
  loader.SetHook([&](const boot::Record& request, std::optional<boot::Record> answer) {
    if (request[0] == 0xE1) {
      std::unique_lock lock(gateMutex);
      gate.wait(lock, [&] { return open; });
    }
    return answer;
  });
  const auto image = Loaded(BuildImageFile(Pattern(64), 0));
  ctx->RequestStop();  // a stop asked for before the start does not carry over
  ASSERT_TRUE(ctx->StartTransfer(*image, 64, 0));
  EXPECT_TRUE(ctx->IsRunning());
  EXPECT_FALSE(ctx->StartTransfer(*image, 64, 0));
  EXPECT_FALSE(ctx->SendConnectRecord()) << "the worker owns the request buffer";
  EXPECT_FALSE(ctx->SendEndRecord());
  {
    std::lock_guard lock(gateMutex);
    open = true;
  }
  gate.notify_all();
  EXPECT_EQ(StatusesUntilFinal().back().first, kBootStatusDone);
  ctx->Join();
  EXPECT_FALSE(ctx->IsRunning());
  EXPECT_EQ(Opcodes(loader.Sent()), (std::vector<std::uint8_t>{0xE1, 0xE2, 0xE2, 0xE5}));

  EXPECT_TRUE(ctx->StartTransfer(*image, 64, 0));
  EXPECT_EQ(StatusesUntilFinal().back().first, kBootStatusDone);

  // Lengths the worker cannot send.
  EXPECT_FALSE(ctx->StartTransfer(*image, 0, 0));
  EXPECT_FALSE(ctx->StartTransfer(*image, static_cast<std::uint32_t>(kImageMaxDataLength + 1), 0));
  EXPECT_FALSE(ctx->StartTransfer(std::span<const std::uint8_t>(image->data(), 10), 11, 0));
}

TEST_F(BootTransferTest, DestroyingTheContextEndsAWaitingWorkerQuietly) {
  MakeContext({60000ms, 60000ms});
  loader.SetHook([](const boot::Record&, std::optional<boot::Record>) { return std::optional<boot::Record>(); });
  const auto image = Loaded(BuildImageFile(Pattern(64), 0));
  ASSERT_TRUE(ctx->StartTransfer(*image, 64, 0));
  ASSERT_TRUE(window->WaitFor(platform::kMsgBootStatus, 2s));  // started, now waiting for the erase
  const auto started = std::chrono::steady_clock::now();
  loader.Attach(nullptr);
  ctx.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
  EXPECT_FALSE(window->WaitFor(platform::kMsgBootStatus, 50ms)) << "nobody is left to tell";
}

TEST_F(BootTransferTest, ConnectAnswerCarriesTheBootVersionAndOtherRecordsPostNothing) {
  ASSERT_TRUE(ctx->SendConnectRecord());
  auto m = window->WaitFor(platform::kMsgBootStatus, 2s);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->wParam, kBootStatusConnected);
  EXPECT_EQ(BootVersionText(m->Value()), "1.2.0.7");  // the simulated bootloader's
  boot::Record expected{};
  expected[0] = 0xE0;
  EXPECT_EQ(loader.Sent(), Records{expected});
  EXPECT_EQ(ctx->LastReply()[0], 0xE0);

  boot::Record other{};
  for (const std::uint8_t opcode : {0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0x00, 0x5A}) {
    other[0] = opcode;
    ctx->OnBootReply(other.data());
    EXPECT_EQ(ctx->LastReply()[0], opcode);
  }
  EXPECT_FALSE(window->Wait(50ms));
  EXPECT_EQ(BootVersionText(static_cast<std::intptr_t>(0xFF0A0000u)), "255.10.0.0");
}

TEST_F(BootTransferTest, ARunOnTheCallersThreadTakesAnswersGivenInTheWriteAndNeverWaits) {
  // A bootloader scripted inside the writer: each answer is in before the
  // write returns, except on the step left silent. Waits of an hour would
  // stop the test if the run waited for anything.
  const struct {
    const char* name;
    std::uint8_t silentOn;
    std::vector<std::uintptr_t> statuses;
  } cases[] = {
      {"all answered", 0, {2, 3, 5, 5, 7}},
      {"silent check", boot::kOpCheck, {2, 3, 5, 5, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BootTransferContext* self = nullptr;
    Records sent;
    BootTransferContext scripted(
        [&](const boot::Record& r) {
          sent.push_back(r);
          if (r[boot::kOpcodeOffset] == c.silentOn) return true;
          boot::Record answer = r;
          if (r[boot::kOpcodeOffset] == boot::kOpBlock) {
            answer[boot::kOpcodeOffset] = boot::kOpBlockEcho;
          } else {
            answer[boot::kResultOffset] = boot::kResultDone;
          }
          self->OnBootReply(answer.data());
          return true;
        },
        {std::chrono::hours(1), std::chrono::hours(1)});
    self = &scripted;
    const auto data = Pattern(50);
    const auto image = Loaded(BuildImageFile(data, ComputeImageChecksum(data)));
    ASSERT_TRUE(scripted.RunTransfer(*image, 50, ComputeImageChecksum(data)));
    EXPECT_FALSE(scripted.IsRunning());
    std::vector<std::uintptr_t> codes;
    for (const auto& s : StatusesUntilFinal(1s)) codes.push_back(s.first);
    EXPECT_EQ(codes, c.statuses);
    EXPECT_EQ(Opcodes(sent).back(), c.silentOn ? c.silentOn : boot::kOpEnd);
  }
}
