// The pages on a simulated board with the real link and its reader thread,
// without the main window: a lamp session brings the board up, and a small
// host of the test's own carries the pages, hears what they tell the user
// and hands them the board's replies.
#pragma once

#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "link/QVCommunication.h"
#include "pages/BoardGlobals.h"
#include "pages/RoundPage.h"
#include "platform/MessageBox.h"
#include "platform/MessageTarget.h"
#include "platform/qt/WindowTarget.h"
#include "sim/SimBoard.h"
#include "ui/StatusSink.h"

class CQVProtocol;
class CRegisterPage;
class CTrafficPage;
class TrafficCapture;
namespace session {
class LampSession;
}

// The board's end of the tests: one simulated board behind the simulated HID
// backend, the process's lamp session on it and the traffic tap. Everything
// that brings the link up is here and nowhere else in the tests.
class PageBoardLink {
 public:
  explicit PageBoardLink(std::uint8_t boardId);
  ~PageBoardLink();
  PageBoardLink(const PageBoardLink&) = delete;
  PageBoardLink& operator=(const PageBoardLink&) = delete;

  // Opens the board and identifies it (blocking); from then on the board's
  // replies and notices go to `replies`. The board id it answered, or false
  // with `error`.
  bool Identify(platform::Handle replies, std::uint8_t& boardId, std::string& error);
  // The attached board as the LED board page's summary names it.
  CRound::BoardLink Attached();

  sim::SimBoard& Board() { return *board_; }
  QVCommunication& Communication();
  // Every report in and out since the session was made.
  TrafficCapture& Traffic() { return *traffic_; }

 private:
  std::unique_ptr<sim::SimBoard> board_;
  std::unique_ptr<CQVProtocol> protocol_;
  std::unique_ptr<TrafficCapture> traffic_;  // outlives the tap that feeds it
  std::unique_ptr<session::LampSession> session_;
  std::string firmware_;  // the version the board answered
};

// A plain widget that hosts the LED board page, the register page and the
// traffic page as the window does (one shown at a time), records what they
// tell the user, and relays the board's replies to them.
class TestPageHost final : public QWidget, public StatusSink, public platform::MessageWindow {
 public:
  enum class Page { kRound, kRegisters, kTraffic };

  TestPageHost();
  ~TestPageHost() override;

  platform::Handle Handle() const { return target_->handle(); }
  CRound* RoundPage() const { return round_.get(); }
  CRegisterPage* RegisterPage() const { return registers_; }
  CTrafficPage* TrafficPage() const { return traffic_; }
  // Makes the register and traffic pages on the tap's capture.
  void MakeToolPages(TrafficCapture& capture);
  void ShowPage(Page page);

  void ShowStatus(const QString& text, bool ok) override { statusTexts.emplace_back(text, ok); }
  void ShowNotConnected() override { ++notConnected; }
  void OnMessage(const platform::Message& message) override;
  void OnTimer(std::uint32_t id) override;

  std::vector<std::pair<QString, bool>> statusTexts;
  int notConnected = 0;
  int boardQueries = 0;          // board queries the LED board page asked for
  std::vector<int> keysReached;  // keys no page took, which reached the host

 protected:
  void keyPressEvent(QKeyEvent* e) override { keysReached.push_back(e->key()); }

 private:
  std::unique_ptr<platform::WindowTarget> target_;
  std::unique_ptr<CRound> round_;
  CRegisterPage* registers_ = nullptr;
  CTrafficPage* traffic_ = nullptr;
};

// The pages on an identified simulated board: the LED board page may write to
// the chip, and the test looks at what the board carried out.
class PageBoardFixture : public ::testing::Test {
 protected:
  // Board id of the simulated board.
  virtual std::uint8_t BoardId() const { return 1; }

  void SetUp() override;
  void TearDown() override;

  sim::SimBoard& board() { return link->Board(); }
  CRound* round() { return host->RoundPage(); }

  // Runs the event loop until `done` holds or the time is up.
  template <typename Pred>
  bool PumpUntil(Pred done, int timeoutMs = 5000);
  void Pump(int ms);

  // What the board carried out of one kind since the last look.
  std::vector<sim::DeliveredCommand> Carried(std::uint8_t cls, std::uint8_t cmd);
  // The register writes carried out since the last look: (first register, data).
  using RegisterWrite = std::pair<std::uint8_t, std::vector<std::uint8_t>>;
  std::vector<RegisterWrite> RegisterWrites();
  // Waits until register `reg` of the simulated chip holds `value`.
  bool RegisterBecomes(std::uint8_t reg, std::uint8_t value, int timeoutMs = 2000);
  // Waits until the board has carried out a write of `data` from `reg`.
  bool Wrote(std::uint8_t reg, const std::vector<std::uint8_t>& data, int timeoutMs = 2000);

  std::unique_ptr<PageBoardLink> link;
  std::unique_ptr<TestPageHost> host;
  std::vector<std::string> boxes;
  std::mutex sleepMutex;
  std::vector<std::uint32_t> sleeps;
};

#include "tests/ui/UiTestSupport.h"

template <typename Pred>
bool PageBoardFixture::PumpUntil(Pred done, int timeoutMs) {
  return uitest::PumpUntil(done, timeoutMs);
}
