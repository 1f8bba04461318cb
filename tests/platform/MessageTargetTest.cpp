#include <gtest/gtest.h>

#include <thread>

#include "platform/MessageTarget.h"
#include "platform/Sleep.h"

using namespace platform;
using namespace std::chrono_literals;

TEST(MessageTarget, PostReachesLiveTargetAndNotAGoneOne) {
  Handle gone;
  {
    ScopedQueueTarget target;
    gone = target.handle();
    auto payload = std::make_shared<const BytesPayload>(std::vector<std::uint8_t>{1, 2, 3});
    EXPECT_TRUE(PostMessage(target.handle(), 1234, 7, payload));
    auto m = target->Wait(100ms);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->id, 1234u);
    EXPECT_EQ(m->wParam, 7u);
    ASSERT_NE(m->Bytes(), nullptr);
    EXPECT_EQ(*m->Bytes(), (std::vector<std::uint8_t>{1, 2, 3}));
  }
  EXPECT_FALSE(IsLiveHandle(gone));
  EXPECT_FALSE(PostMessage(gone, 1));
  EXPECT_FALSE(SetTimer(gone, 1, 10));
  EXPECT_FALSE(PostMessage(kNoHandle, 1));
}

TEST(MessageTarget, PayloadOutlivesTheSenderAndIsSharedNotCopied) {
  ScopedQueueTarget target;
  {
    std::vector<std::uint8_t> local{9, 8, 7};
    PostMessage(target.handle(), 1, 0, std::make_shared<const BytesPayload>(local));
    local.assign(3, 0);  // the sender reuses its buffer at once
  }
  auto m = target->Wait(100ms);
  ASSERT_TRUE(m && m->Bytes());
  EXPECT_EQ(*m->Bytes(), (std::vector<std::uint8_t>{9, 8, 7}));
}

TEST(MessageTarget, PostsFromManyThreadsAllArrive) {
  ScopedQueueTarget target;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 500; ++i) PostMessage(target.handle(), 1, static_cast<std::uintptr_t>(t));
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(target->Drain().size(), 2000u);
}

TEST(MessageTarget, TimersAreRecordedByIdWithKillAndSetOrder) {
  ScopedQueueTarget target;
  KillTimer(target.handle(), 1);
  SetTimer(target.handle(), 1, 5000);
  SetTimer(target.handle(), 0, 3000);
  KillTimer(target.handle(), 0);
  EXPECT_EQ(target->ArmedTimers(), (std::map<std::uint32_t, std::uint32_t>{{1, 5000}}));
  auto log = target->TimerLog();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_FALSE(log[0].set);
  EXPECT_TRUE(log[1].set);
  EXPECT_EQ(log[1].periodMs, 5000u);
}

TEST(Sleep, HookReplacesRealSleepUntilRemoved) {
  std::vector<std::uint32_t> slept;
  SetSleepHook([&](std::uint32_t ms) { slept.push_back(ms); });
  const auto start = std::chrono::steady_clock::now();
  SleepMs(1200);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
  EXPECT_EQ(slept, (std::vector<std::uint32_t>{1200}));
  SetSleepHook({});
  SleepMs(1);
  EXPECT_EQ(slept.size(), 1u);
}
