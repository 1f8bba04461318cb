#include "cli/Session.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "chip/ChipAccess.h"
#include "cli/TrafficTap.h"
#include "link/BoardIds.h"
#include "link/CommandSet.h"
#include "link/HidapiBackend.h"
#include "link/LinkHost.h"
#include "link/MUSBHid.h"
#include "link/SimBackend.h"
#include "platform/Messages.h"

using namespace std::chrono_literals;
using platform::Message;

namespace {

std::string Hex2(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02X", v);
  return buf;
}

}  // namespace

Session::Session(SessionOptions options) : options_(std::move(options)) {
  corvel::SetMainDialogHandle(main_.handle());
  corvel::SetChipRegistryPresent(true);
  g_i2cAddress = options_.chipAddress;
  if (options_.trace && options_.traceOut) {
    corvel::SetTraceSink(options_.traceOut);
  } else {
    corvel::SetTraceSink([](const std::string&) {});  // keep standard output for data
  }

  std::unique_ptr<HidBackend> backend;
  if (options_.sim) {
    sim::SimConfig config;
    config.boardId = options_.simBoardId;
    board_ = std::make_unique<sim::SimBoard>(config);
    const platform::Handle main = main_.handle();
    board_->SetDeviceEventListener(
        [main](std::uint32_t event) { platform::PostMessage(main, platform::WM_DEVICECHANGE, event); });
    backend = std::make_unique<SimBackend>(*board_);
  } else {
    // Listening starts before the first enumeration, so no arrival is missed.
    monitor_ = std::make_unique<platform::DeviceMonitor>();
    backend = std::make_unique<HidapiBackend>();
  }

  protocol_ = std::make_unique<CQVProtocol>();
  protocol_->UseCrc16();
  g_pProtocol = protocol_.get();
  backend_ = backend.get();  // owned by the transport manager from here on
  comm_ = std::make_unique<QVCommunication>(std::move(backend));
  g_pCommunication = comm_.get();
  comm_->Init();
  comm_->RegisterForDeviceNotifications(main_.handle());
  const bool trace = options_.trace && options_.traceOut;
  if (trace || options_.logOut) {
    auto tap = std::make_shared<TrafficTap>(trace ? options_.traceOut : nullptr, options_.logOut);
    comm_->Hid()->SetReportTap([tap, comm = comm_.get()](bool outgoing, const std::uint8_t* report, std::size_t length) {
      tap->Feed(TrafficClock::now(), outgoing, comm->BootMode() == 1, report, length);
    });
  }
}

Session::~Session() {
  g_bBoardMatched = 0;
  g_bDevicePresent = 0;
  g_pCommunication = nullptr;
  comm_.reset();  // joins the reader thread
  g_pProtocol = nullptr;
  protocol_.reset();
  if (board_) board_->SetDeviceEventListener({});
  board_.reset();
  corvel::SetChipRegistryPresent(false);
  corvel::SetMainDialogHandle(platform::kNoHandle);
  corvel::SetTraceSink({});
}

std::vector<HidDeviceInfo> Session::List() {
  // The same enumeration the transport runs, without opening anything.
  std::vector<HidDeviceInfo> out;
  if (board_) {
    if (board_->IsPlugged())
      out.push_back({SimBackend::kPath, sim::kVendorId, sim::kProductId, board_->ReleaseNumber()});
    return out;
  }
  return backend_->Enumerate(kBoardVendorId, kBoardProductId);
}

std::optional<Message> Session::Pump(const std::function<bool(const Message&)>& want,
                                     std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (monitor_) {
      while (auto e = monitor_->ReadEvent()) comm_->OnDeviceChange(e->event, 0);
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return std::nullopt;
    const auto slice = std::min<std::chrono::milliseconds>(
        50ms, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) + 1ms);
    auto m = main_->Wait(slice);
    if (!m) continue;
    if (m->id == platform::WM_DEVICECHANGE) comm_->OnDeviceChange(static_cast<std::uint32_t>(m->wParam), 0);
    if (want(*m)) return m;
  }
}

std::optional<Message> Session::AwaitReply(std::initializer_list<std::uint32_t> ids, std::string& error,
                                           const char* what) {
  std::vector<std::uint32_t> wanted(ids);
  auto m = Pump(
      [&](const Message& msg) {
        if (msg.id == platform::kMsgLinkState && msg.wParam != kLinkDeviceFound) return true;
        return std::find(wanted.begin(), wanted.end(), msg.id) != wanted.end();
      },
      std::chrono::milliseconds(options_.timeoutMs));
  if (!m) {
    error = std::string("No answer to the ") + what + " within " + std::to_string(options_.timeoutMs) +
            " ms. The board may be frozen: re-plug it and try again.";
    return std::nullopt;
  }
  if (m->id == platform::kMsgLinkState) {
    const char* text = LinkStateText(static_cast<int>(m->wParam));
    error = std::string("Link lost during the ") + what + ":" + (text ? text : " unknown link state");
    connected_ = identified_ = false;
    g_bBoardMatched = 0;
    return std::nullopt;
  }
  return m;
}

bool Session::Connect(std::string& error) {
  if (connected_) return true;
  if (!comm_->Connect()) {
    const std::string reason = comm_->Hid()->LastError();
    error = reason.empty() ? std::string("No lamp board found (USB 0483:5750). Check the cable; "
                                         "'corvelctl list' shows what is attached.")
                           : reason;
    main_->Drain();
    return false;
  }
  auto m = Pump([](const Message& msg) { return msg.id == platform::kMsgLinkState; },
                std::chrono::milliseconds(options_.timeoutMs));
  if (!m) {
    error = "The board did not answer the handshake within " + std::to_string(options_.timeoutMs) +
            " ms. Re-plug it and try again.";
    return false;
  }
  if (m->wParam != static_cast<std::uintptr_t>(kLinkDeviceFound)) {
    const char* text = LinkStateText(static_cast<int>(m->wParam));
    error = std::string("Handshake failed:") + (text ? text : " unknown link state");
    return false;
  }
  connected_ = true;
  return true;
}

bool Session::SetChipAddress(std::uint8_t address, std::string& answer, std::string& error) {
  if (!Connect(error)) return false;
  // Register commands use the new address only once the board has taken it.
  const std::uint8_t previous = g_i2cAddress.load();
  g_i2cAddress = address;
  SendChipCommand(kCmdSetChipAddress, &address, 1);
  auto m = AwaitReply({platform::kMsgTextOk, platform::kMsgTextFailed}, error, "chip address command");
  if (m && m->id == platform::kMsgTextOk) {
    answer = reinterpret_cast<const char*>(m->wParam);
    return true;
  }
  g_i2cAddress = previous;
  if (!m) return false;
  answer = reinterpret_cast<const char*>(m->wParam);
  error = "The board refused chip address " + Hex2(address) + ": " + answer;
  return false;
}

bool Session::Identify(BoardInfo& info, std::string& error) {
  if (!Connect(error)) return false;
  info.linkState = comm_->LinkState();
  const char* text = comm_->GetLinkStateText();
  info.linkText = text ? text : "";

  std::string addressError;
  if (!SetChipAddress(g_i2cAddress.load(), info.addressText, addressError)) {
    if (!connected_) {
      error = addressError;
      return false;
    }
    // The window goes on after a refused address too; the answer is shown.
  }

  const std::uint8_t header[kChipBlockHeaderSize] = {kBoardKindRoundPage, 0, 0, 0};
  SendChipCommandBlock(kCmdBoardData, header, nullptr);
  auto m = AwaitReply({platform::kMsgBoardQueryOk, platform::kMsgBoardQueryFailed}, error, "board query");
  if (!m) return false;
  if (const auto* bytes = m->Bytes()) info.boardId = BoardIdFromReply(*bytes);
  if (info.boardId) {
    if (const auto* entry = FindChipBoard(*info.boardId)) info.chipBoard = entry->name;
  }

  const std::uint8_t any = 0;
  SendSystemCommand(kCmdVersionQuery, &any);
  m = AwaitReply({platform::kMsgFirmwareVersion}, error, "firmware version query");
  if (!m) return false;
  if (const auto* record = m->PayloadAs<VersionRecord>()) info.versions = record->strings;

  identified_ = !info.chipBoard.empty();
  // Register commands go out only for a board whose chip board is known,
  // as in the window.
  g_bDevicePresent = 1;
  g_bBoardMatched = identified_ ? 1 : 0;
  return true;
}

bool Session::ReadRegisters(std::uint8_t reg, std::uint8_t count, std::vector<std::uint8_t>& values,
                            std::string& error) {
  if (!chip::ReadChipRegisters(reg, count)) {
    error = chip::AccessAllowed() ? "The link refused the read request (too many commands unanswered)."
                                  : "The board is not identified: register access is refused.";
    return false;
  }
  // A late answer to an earlier read must not pass for this one.
  for (;;) {
    auto m = AwaitReply({platform::kMsgRegisterRead, platform::kMsgRegisterReadFailed}, error, "register read");
    if (!m) return false;
    if (m->id == platform::kMsgRegisterReadFailed) {
      error = "The board could not read the chip at address " + Hex2(g_i2cAddress.load()) + " (register " +
              Hex2(reg) + "). Check the chip address.";
      return false;
    }
    const auto* bytes = m->Bytes();
    const auto reply = bytes ? chip::ParseRegisterReply(*bytes) : std::nullopt;
    if (reply && reply->first == reg && reply->data.size() == count) {
      values.assign(reply->data.begin(), reply->data.end());
      return true;
    }
  }
}

bool Session::WriteRegisters(std::uint8_t reg, std::span<const std::uint8_t> values, std::string& error) {
  if (values.empty() || values.size() > kMaxI2cTransferData) {
    error = "A register write carries 1 to " + std::to_string(kMaxI2cTransferData) + " bytes.";
    return false;
  }
  if (!chip::WriteChipRegisters(reg, values)) {
    error = chip::AccessAllowed() ? "The link refused the write request (too many commands unanswered)."
                                  : "The board is not identified: register access is refused.";
    return false;
  }
  // A late acknowledgement of an earlier write must not pass for this one.
  for (;;) {
    auto m = AwaitReply({platform::kMsgRegisterWritten}, error, "register write");
    if (!m) return false;
    const auto* bytes = m->Bytes();
    const auto reply = bytes ? chip::ParseRegisterReply(*bytes) : std::nullopt;
    if (reply && reply->first == reg && reply->data.size() == values.size()) return true;
  }
}

bool Session::WaitForBoard(int timeoutMs) {
  const auto accepted = [&] {
    for (const auto& d : List())
      if (d.releaseNumber == kReleaseApplication || d.releaseNumber == kReleaseBootloader) return true;
    return false;
  };
  if (accepted()) return true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (monitor_ && monitor_->IsValid()) {
      monitor_->WaitEvent(static_cast<int>(std::min<long long>(left.count(), 500)));
    } else {
      main_->Wait(std::min<std::chrono::milliseconds>(left, 200ms));  // simulated board events, or polling
    }
    if (accepted()) return true;
  }
  return false;
}
