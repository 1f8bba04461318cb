#include "tests/pages/PageBoardFixture.h"

#include "support/BoardRecord.h"

#include "link/LinkHost.h"
#include "link/MUSBHid.h"
#include "link/QVCommunication.h"
#include "link/QVProtocol.h"
#include "link/TrafficCapture.h"
#include "pages/BoardGlobals.h"
#include "pages/PageReplies.h"
#include "pages/RegisterPage.h"
#include "pages/RoundPage.h"
#include "pages/TrafficPage.h"
#include "platform/MessageBox.h"
#include "platform/Messages.h"
#include "platform/Sleep.h"
#include "session/LampSession.h"
#include "sim/SimBackend.h"

// ---- the board's end --------------------------------------------------------

PageBoardLink::PageBoardLink(std::uint8_t boardId) {
  corvel::SetChipRegistryPresent(true);
  protocol_ = std::make_unique<CQVProtocol>();
  protocol_->UseCrc16();
  g_pProtocol = protocol_.get();

  sim::SimConfig config;
  config.boardId = boardId;
  config.serialNumber = sim::BenchSerialNumber(0);
  board_ = std::make_unique<sim::SimBoard>(config);
  board_->SetFaults({});  // a board that answers at once: the tests stay fast
  // Arrival and removal go where the board's notices go, as the system's would.
  board_->SetDeviceEventListener([](std::uint32_t event) {
    platform::PostMessage(corvel::GetMainDialogHandle(), platform::WM_DEVICECHANGE, event);
  });

  session::LampSessionOptions options;
  options.ownLink = false;  // the process's board: the pages' writes go through the process's engine
  session_ = std::make_unique<session::LampSession>(std::make_unique<SimBackend>(*board_), options);
  // The traffic page shows everything from the first report on.
  traffic_ = std::make_unique<TrafficCapture>();
  session_->Communication().Hid()->SetReportTap(
      [capture = traffic_.get()](bool out, const std::uint8_t* report, std::size_t length) {
        capture->Push(out, CMUSBHid::TappedReportIsBootloader(), report, length);
      });
}

PageBoardLink::~PageBoardLink() {
  board_->SetDeviceEventListener({});
  session_.reset();  // joins the reader thread before the tap's capture goes
  traffic_.reset();
  g_pProtocol = nullptr;
  protocol_.reset();
  board_.reset();
  corvel::SetChipRegistryPresent(false);
}

bool PageBoardLink::Identify(platform::Handle replies, std::uint8_t& boardId, std::string& error) {
  BoardInfo info;
  if (!session_->Identify(info, kDefaultChipAddress, error)) return false;
  if (!info.boardId) {
    error = "the board named no id";
    return false;
  }
  boardId = *info.boardId;
  firmware_ = info.versions[2];
  corvel::SetMainDialogHandle(replies);
  return true;
}

CRound::BoardLink PageBoardLink::Attached() {
  CMUSBHid* hid = session_->Communication().Hid();
  return {QString::fromStdString(firmware_), QString::fromStdString(hid->OpenDevicePath()),
          QString::fromStdString(hid->OpenDeviceSerial())};
}

QVCommunication& PageBoardLink::Communication() { return session_->Communication(); }

// ---- the pages' host ----------------------------------------------------------

TestPageHost::TestPageHost() : target_(std::make_unique<platform::WindowTarget>(nullptr, this)) {
  round_ = std::make_unique<CRound>(this, this);
  g_pRoundPage = round_.get();
  QObject::connect(round_.get(), &CRound::BoardQueryRequested, [this] { ++boardQueries; });
  round_->InitDialog();
  round_->move(0, 0);
  round_->show();
  resize(round_->size());
}

TestPageHost::~TestPageHost() {
  if (corvel::GetMainDialogHandle() == target_->handle()) corvel::SetMainDialogHandle(platform::kNoHandle);
  target_.reset();  // nothing is delivered to a host on its way out
  round_.reset();
  g_pRoundPage = nullptr;
}

void TestPageHost::MakeToolPages(TrafficCapture& capture) {
  registers_ = new CRegisterPage(this, this);
  registers_->InitDialog();
  traffic_ = new CTrafficPage(&capture, this);
  traffic_->InitDialog();
  // A reset written on the register page is the LED board page's own reset.
  QObject::connect(registers_, &CRegisterPage::SoftwareResetRequested, round_.get(), &CRound::OnSoftwareReset);
  for (QWidget* page : {static_cast<QWidget*>(registers_), static_cast<QWidget*>(traffic_)}) {
    page->move(0, 0);
    page->hide();
  }
  resize(size().expandedTo(registers_->size()).expandedTo(traffic_->size()));
}

void TestPageHost::ShowPage(Page page) {
  round_->setVisible(page == Page::kRound);
  if (registers_) registers_->setVisible(page == Page::kRegisters);
  if (traffic_) traffic_->setVisible(page == Page::kTraffic);
}

void TestPageHost::OnMessage(const platform::Message& m) {
  using namespace platform;
  switch (m.id) {
    case kMsgRegisterRead:
    case kMsgRegisterWritten:
      DeliverPageReply(m);
      if (registers_) registers_->RelayRegisterReply(m);
      return;
    case kMsgRegisterReadFailed:
      if (registers_) registers_->RelayRegisterReply(m);
      return;
    case kMsgInterrupt: DeliverPageReply(m); return;
    case WM_DEVICECHANGE:
      if (QVCommunication* comm = g_pCommunication.load()) comm->OnDeviceChange(static_cast<std::uint32_t>(m.wParam), 0);
      return;
    default: return;  // what the window makes of the rest is the window's
  }
}

void TestPageHost::OnTimer(std::uint32_t id) {
  // The reply timer the senders arm is the window's watch over a frozen
  // board; this host keeps none.
  target_->KillTimer(id);
}

// ---- the fixture ------------------------------------------------------------------

void PageBoardFixture::SetUp() {
  // Pauses are recorded and skipped.
  platform::SetSleepHook([this](std::uint32_t ms) {
    std::lock_guard lock(sleepMutex);
    sleeps.push_back(ms);
  });
  platform::SetMessageBoxHook([this](const std::string& text, auto&&...) {
    boxes.push_back(text);
    return platform::MessageResult::Ok;
  });
  link = std::make_unique<PageBoardLink>(BoardId());
  host = std::make_unique<TestPageHost>();
  host->MakeToolPages(link->Traffic());
  host->show();
  // The board is chosen on the page before it is identified (as a person
  // would, or as the window does on the board's answer); once it is, the
  // page writes its pin setup.
  const CRound::ChipBoard* chosen = CRound::FindBoardById(BoardId());
  ASSERT_NE(chosen, nullptr);
  if (chosen->boardId != g_selectedBoardId) round()->SelectChipBoard(chosen->button);
  std::uint8_t answered = 0;
  std::string error;
  ASSERT_TRUE(link->Identify(host->Handle(), answered, error)) << error;
  ASSERT_EQ(answered, BoardId());
  ASSERT_EQ(g_bBoardMatched, 1);
  round()->SetBoardLinkSource([this] { return link->Attached(); });
  round()->OnBoardMatched();
  // The first brightness write after the match comes with a tick of the
  // page's timer: wait until the board has carried it out (not for a fixed
  // time, which a busy machine outlasts), so it cannot land in a test's own
  // record.
  PumpUntil([this] { return boardrecord::WroteTo(board(), 0x20); }, 3000);
  board().ClearDelivered();
  host->statusTexts.clear();
  host->notConnected = 0;
  host->boardQueries = 0;
}

void PageBoardFixture::TearDown() {
  host.reset();
  link.reset();
  platform::SetSleepHook({});
  platform::SetMessageBoxHook({});
}

void PageBoardFixture::Pump(int ms) {
  PumpUntil([] { return false; }, ms);
}

std::vector<sim::DeliveredCommand> PageBoardFixture::Carried(std::uint8_t cls, std::uint8_t cmd) {
  return boardrecord::Carried(board(), cls, cmd);
}

std::vector<PageBoardFixture::RegisterWrite> PageBoardFixture::RegisterWrites() {
  return boardrecord::RegisterWrites(board());
}

bool PageBoardFixture::RegisterBecomes(std::uint8_t reg, std::uint8_t value, int timeoutMs) {
  return PumpUntil([&] { return board().Register(reg) == value; }, timeoutMs);
}

bool PageBoardFixture::Wrote(std::uint8_t reg, const std::vector<std::uint8_t>& data, int timeoutMs) {
  return PumpUntil([&] { return boardrecord::WroteTo(board(), reg, &data); }, timeoutMs);
}
