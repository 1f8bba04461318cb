// The lamp session driven from an event loop, as the window drives it, but
// with a loop of the test's own: the board's notices come from a queue, the
// session's timers and pauses are fired by the test, so that an answer that
// never comes is a timer fired now rather than seconds waited out.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "link/BoardIds.h"
#include "link/CommandSet.h"
#include "link/LinkHost.h"
#include "link/LinkState.h"
#include "link/QVProtocol.h"
#include "platform/Messages.h"
#include "session/LampSession.h"
#include "session/LinkFlags.h"
#include "sim/SimBackend.h"
#include "sim/SimBoard.h"

using namespace std::chrono_literals;
using session::LampSession;

namespace {

class TestLoop final : public session::SessionHost, public session::SessionObserver {
 public:
  // SessionHost
  void SetTimer(std::uint32_t id, std::uint32_t) override { armed.insert(id); }
  void KillTimer(std::uint32_t id) override { armed.erase(id); }
  bool IsTimerArmed(std::uint32_t id) const override { return armed.count(id) != 0; }
  void RunAfterPause(std::uint32_t ms, std::function<void()> then) override {
    pauses.push_back(ms);
    later.push_back(std::move(then));
  }
  bool SendChipAddress() override {
    const std::uint8_t address = 0x5B;
    return session->Commands().SendChipCommand(kCmdSetChipAddress, &address, 1) != 0;
  }
  bool IsChosenBoard(std::uint8_t id) const override { return id == chosen; }
  std::uint8_t BoardKind() const override { return kBoardKindRoundPage; }

  // SessionObserver
  void OnConnecting() override { events.push_back("connecting"); }
  void OnBoardGone() override { events.push_back("gone"); }
  void OnLinkFailed(bool givingUp) override { events.push_back(givingUp ? "failed, giving up" : "failed"); }
  void OnBoardMatched() override { events.push_back("matched"); }
  void OnBoardMismatch(std::optional<std::uint8_t> id) override {
    events.push_back("mismatch " + (id ? std::to_string(*id) : std::string("none")));
  }
  void OnVersion(const std::string&) override { events.push_back("version"); }
  void OnInBootloader() override { events.push_back("bootloader"); }

  LampSession* session = nullptr;
  std::uint8_t chosen = 1;
  std::set<std::uint32_t> armed;
  std::vector<std::uint32_t> pauses;
  std::vector<std::function<void()>> later;
  std::vector<std::string> events;
};

class EventLoopSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // What the program sets up before any board: the protocol's checksum,
    // and a chip registry, without which no chip command goes out.
    protocol.UseCrc16();
    g_pProtocol = &protocol;
    corvel::SetChipRegistryPresent(true);
    sim::SimConfig config;
    config.boardId = 1;
    board = std::make_unique<sim::SimBoard>(config);
    session::LampSessionOptions options;
    options.stepPauseMs = LampSession::kConnectPauseMs;  // as the window paces it
    session = std::make_unique<LampSession>(std::make_unique<SimBackend>(std::vector<sim::SimBoard*>{board.get()}),
                                            options);
    loop.session = session.get();
    session->SetObserver(&loop);
    session->DriveFrom(&loop);
    // The board's notices come to the test's queue, as they come to a window.
    corvel::SetMainDialogHandle(notices.handle());
    session->Communication().RegisterForDeviceNotifications(notices.handle());
    session->Communication().SetPauseScheduler([](std::uint32_t, std::function<void()> then) { then(); });
    const platform::Handle target = notices.handle();
    board->SetDeviceEventListener(
        [target](std::uint32_t event) { platform::PostMessage(target, platform::WM_DEVICECHANGE, event); });
  }
  void TearDown() override {
    board->SetDeviceEventListener({});
    session.reset();
    corvel::SetMainDialogHandle(platform::kNoHandle);
    corvel::SetChipRegistryPresent(false);
    g_pProtocol = nullptr;
  }

  // Hands the session every notice and runs every pause that is due, until
  // `done` holds or nothing has come for a while.
  bool Run(const std::function<bool()>& done, std::chrono::milliseconds quiet = 300ms) {
    auto last = std::chrono::steady_clock::now();
    while (!done()) {
      if (!loop.later.empty()) {
        auto step = std::move(loop.later.front());
        loop.later.erase(loop.later.begin());
        step();
        last = std::chrono::steady_clock::now();
        continue;
      }
      if (auto m = notices->Wait(20ms)) {
        session->OnMessage(*m);
        last = std::chrono::steady_clock::now();
      } else if (std::chrono::steady_clock::now() - last > quiet) {
        return false;
      }
    }
    return true;
  }
  // Fires the session's connect-step timers that are armed now, as if their
  // time had passed without an answer.
  void FireStepTimers() {
    const std::set<std::uint32_t> due = loop.armed;
    for (std::uint32_t id : due) {
      loop.armed.erase(id);
      session->OnTimer(id);
    }
  }
  int Sent(std::uint8_t cls, std::uint8_t cmd) {
    int n = 0;
    for (const auto& d : board->Delivered()) n += d.cls == cls && d.cmd == cmd;
    return n;
  }

  CQVProtocol protocol;
  std::unique_ptr<sim::SimBoard> board;
  std::unique_ptr<LampSession> session;
  platform::ScopedQueueTarget notices;
  TestLoop loop;
};

}  // namespace

TEST_F(EventLoopSessionTest, BringsTheBoardUpAndAloneSetsTheLinkFlags) {
  session->Start();
  ASSERT_TRUE(Run([&] { return g_bBoardMatched == 1 && !loop.events.empty() && loop.events.back() == "version"; }));
  EXPECT_EQ(g_bDevicePresent, 1);
  EXPECT_EQ(loop.events, (std::vector<std::string>{"connecting", "matched", "version"}));
  EXPECT_EQ(loop.pauses, (std::vector<std::uint32_t>{LampSession::kConnectPauseMs, LampSession::kConnectPauseMs}));
  EXPECT_FALSE(session->LinkComingUp()) << "it came up";
  EXPECT_TRUE(loop.armed.empty()) << "every step was answered";

  // Another chip board chosen: the id is reported, and the flags say no match.
  loop.chosen = 3;
  loop.events.clear();
  session->QueryBoard();
  ASSERT_TRUE(Run([&] { return !loop.events.empty(); }));
  EXPECT_EQ(loop.events, (std::vector<std::string>{"mismatch 1"}));
  EXPECT_EQ(g_bBoardMatched, 0);

  // Pulled out: gone, and nothing is present any more.
  loop.events.clear();
  board->Unplug();
  ASSERT_TRUE(Run([&] { return g_bDevicePresent == 0 && !loop.events.empty(); }));
  EXPECT_EQ(loop.events.front(), "gone");
  EXPECT_EQ(g_bBoardMatched, 0);
}

TEST_F(EventLoopSessionTest, AStepWhoseAnswerNeverComesIsAskedAgainThenTheLinkIsRecoveredThenGivenUp) {
  session->Start();
  ASSERT_TRUE(Run([&] { return g_bBoardMatched == 1; }));
  Run([] { return false; }, 100ms);  // the version's answer too
  loop.events.clear();
  board->ClearDelivered();

  // From now on every answer to the board query is lost after the board
  // took it: each ask runs out, then the link counts as failed and is opened
  // again, whose query is lost in turn; after the last recovery the session
  // gives up (and does not reconnect on its own any more).
  sim::SimFaults lossy;
  lossy.loseAnswers = {64, 2, 1000};  // the answer (64, 2) to the query (64, 1)
  board->SetFaults(lossy);
  const auto gaveUp = [&] {
    for (const auto& e : loop.events)
      if (e == "failed, giving up") return true;
    return false;
  };
  session->QueryBoard();
  for (int round = 0; round < 30 && !gaveUp(); ++round) {
    Run([] { return false; }, 50ms);
    FireStepTimers();
  }
  Run([] { return false; }, 50ms);
  std::vector<std::string> link;
  for (const auto& e : loop.events)
    if (e.rfind("failed", 0) == 0 || e == "connecting" || e == "matched") link.push_back(e);
  EXPECT_EQ(link, (std::vector<std::string>{"failed", "connecting", "failed", "connecting", "failed, giving up"}));
  EXPECT_EQ(Sent(64, 1), (LampSession::kMaxLinkRecoveries + 1) * LampSession::kConnectAsks)
      << "on each link the query, asked again until its asks ran out";
  EXPECT_TRUE(session->LinkFailed());
  EXPECT_FALSE(session->LinkComingUp());
  EXPECT_EQ(g_bBoardMatched, 0);

  // A re-plug brings it back, and the recoveries count from the start again.
  board->SetFaults({});
  loop.events.clear();
  board->Unplug();
  board->Plug();
  ASSERT_TRUE(Run([&] { return g_bBoardMatched == 1; }));
  EXPECT_FALSE(session->LinkFailed());
}

// The window's side of a board that answers some steps of the connect
// sequence and never one of them: the link is recovered a bounded number of
// times, then given up for a re-plug, whichever step it is (a board-id
// answer on each link does not start the count again). The steps after the
// one left unanswered are never sent.
TEST_F(EventLoopSessionTest, AConnectStepWhoseAnswerIsAlwaysLostIsGivenUpAfterTheRecoveries) {
  const struct {
    std::uint8_t cls, cmd, answer;
  } steps[] = {{1, 1, 2}, {64, 10, 11}, {64, 1, 2}, {1, 32, 33}};
  for (std::size_t k = 0; k < std::size(steps); ++k) {
    const auto& step = steps[k];
    SCOPED_TRACE(std::to_string(step.cls) + "," + std::to_string(step.cmd));
    if (k > 0) {
      TearDown();
      loop = TestLoop{};
      SetUp();
    }
    sim::SimFaults lossy;
    lossy.loseAnswers = {step.cls, step.answer, 1'000'000};
    board->SetFaults(lossy);
    const auto gaveUp = [&] {
      return std::find(loop.events.begin(), loop.events.end(), "failed, giving up") != loop.events.end();
    };
    session->Start();
    for (int round = 0; round < 40 && !gaveUp(); ++round) {
      Run([] { return false; }, 50ms);
      FireStepTimers();
    }
    Run([] { return false; }, 50ms);
    std::vector<std::string> link;
    for (const auto& e : loop.events)
      if (e.rfind("failed", 0) == 0 || e == "connecting") link.push_back(e);
    EXPECT_EQ(link, (std::vector<std::string>{"connecting", "failed", "connecting", "failed", "connecting",
                                              "failed, giving up"}));
    EXPECT_EQ(Sent(step.cls, step.cmd), (LampSession::kMaxLinkRecoveries + 1) * LampSession::kConnectAsks);
    for (std::size_t later = k + 1; later < std::size(steps); ++later)
      EXPECT_EQ(Sent(steps[later].cls, steps[later].cmd), 0) << "sent before the step before it was answered";
    EXPECT_TRUE(session->LinkFailed());
    EXPECT_EQ(g_bBoardMatched, 0);
  }
}
