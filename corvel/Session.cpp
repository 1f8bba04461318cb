#include "corvel/Session.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "chip/ChipAccess.h"
#include "corvel/TrafficTap.h"
#include "link/CommandSet.h"
#include "link/HidapiBackend.h"
#include "link/LinkHost.h"
#include "link/MUSBHid.h"
#include "platform/DeviceMonitor.h"
#include "platform/Messages.h"
#include "sim/SimBackend.h"

using platform::Message;

namespace {

// What every session of the process shares: the frame format and the chip
// registry's presence, set while any session lives (the process's board and
// boards of their own may come and go in any order, on any thread).
struct SharedLink {
  std::mutex mutex;
  int users = 0;
  std::unique_ptr<CQVProtocol> protocol;
};
SharedLink& Shared() {
  static SharedLink shared;
  return shared;
}
void AcquireSharedLink() {
  SharedLink& s = Shared();
  std::lock_guard lock(s.mutex);
  if (s.users++ == 0) {
    s.protocol = std::make_unique<CQVProtocol>();
    s.protocol->UseCrc16();
    g_pProtocol = s.protocol.get();
    corvel::SetChipRegistryPresent(true);
    // The link's own trace lines go to standard output by default (the
    // window's console); a program on the library keeps it for its data.
    // The process's board sets a sink of its own.
    corvel::SetTraceSink([](const std::string&) {});
  }
}
void ReleaseSharedLink() {
  SharedLink& s = Shared();
  std::lock_guard lock(s.mutex);
  if (--s.users == 0) {
    g_pProtocol = nullptr;
    s.protocol.reset();
    corvel::SetChipRegistryPresent(false);
    corvel::SetTraceSink({});
  }
}

}  // namespace

Session::Session(SessionOptions options) : options_(std::move(options)), chipAddress_(options_.chipAddress) {
  AcquireSharedLink();
  if (!options_.ownLink) {
    g_i2cAddress = options_.chipAddress;
    if (options_.trace && options_.traceOut) {
      corvel::SetTraceSink(options_.traceOut);
    } else {
      corvel::SetTraceSink([](const std::string&) {});  // keep standard output for data
    }
  }

  session::LampSessionOptions lampOptions;
  lampOptions.ownLink = options_.ownLink;
  lampOptions.timeoutMs = options_.timeoutMs;
  lampOptions.interrupted = options_.interrupted;
  lampOptions.choice.serial = options_.serial;
  std::unique_ptr<HidBackend> backend;
  std::unique_ptr<platform::DeviceMonitor> monitor;
  if (options_.sim) {
    const std::vector<std::uint8_t> ids =
        options_.simBoardIds.empty() ? std::vector<std::uint8_t>{options_.simBoardId} : options_.simBoardIds;
    std::vector<sim::SimBoard*> bench;
    for (std::size_t i = 0; i < ids.size(); ++i) {
      sim::SimConfig config;
      config.boardId = ids[i];
      // Each board loses other frames than its neighbours.
      config.seed = options_.simSeed + static_cast<std::uint32_t>(i);
      config.serialNumber = sim::BenchSerialNumber(i);
      config.chipAddress = options_.simChipAddress;
      boards_.push_back(std::make_unique<sim::SimBoard>(config));
      boards_.back()->SetFaults(options_.simFaults);
      bench.push_back(boards_.back().get());
    }
    backend = std::make_unique<SimBackend>(std::move(bench));
    lampOptions.choice.path = options_.devicePath;  // "sim:lamp-board/2"
  } else {
    // Listening starts before the first enumeration, so no arrival is missed.
    monitor = std::make_unique<platform::DeviceMonitor>();
    backend = options_.devicePath.empty() ? std::make_unique<HidapiBackend>()
                                           : std::make_unique<HidapiBackend>(options_.devicePath);
    lampOptions.devicePath = options_.devicePath;
  }

  lamp_ = std::make_unique<session::LampSession>(std::move(backend), lampOptions, std::move(monitor));
  for (auto& board : boards_) RouteSimEvents(*board, platform::kNoHandle);
  QVCommunication& comm = lamp_->Communication();
  const bool trace = options_.trace && options_.traceOut;
  if (trace || options_.logOut) {
    auto tap = std::make_shared<TrafficTap>(trace ? options_.traceOut : nullptr, options_.logOut);
    comm.Hid()->SetReportTap([tap](bool outgoing, const std::uint8_t* report, std::size_t length) {
      tap->Feed(TrafficClock::now(), outgoing, CMUSBHid::TappedReportIsBootloader(), report, length);
    });
  }
}

Session::~Session() {
  lamp_.reset();  // joins the reader thread
  for (auto& board : boards_) board->SetDeviceEventListener({});
  boards_.clear();
  if (!options_.ownLink) corvel::SetTraceSink({});
  ReleaseSharedLink();
}

std::uint8_t Session::ChipAddress() const { return options_.ownLink ? chipAddress_.load() : g_i2cAddress.load(); }

bool Session::SetChipAddress(std::uint8_t address, std::string& answer, std::string& error) {
  if (!lamp_->SetChipAddress(address, answer, error)) return false;
  chipAddress_ = address;
  return true;
}

bool Session::AccessAllowed() const {
  // The process's board has the window's gate; one of its own is open once
  // it is identified.
  return options_.ownLink ? lamp_->Identified() : chip::AccessAllowed();
}

int Session::SendRegisterWrite(std::uint8_t reg, std::span<const std::uint8_t> values) {
  if (!options_.ownLink) return chip::WriteChipRegisters(reg, values);
  if (!AccessAllowed() || values.empty() || values.size() > kMaxI2cTransferData) return 0;
  std::uint8_t record[kI2cRecordSize] = {1, chipAddress_.load(), reg, static_cast<std::uint8_t>(values.size()), 0, 0};
  return lamp_->Commands().SendI2cTransfer(kCmdWriteRegisters, record, values.data());
}

int Session::SendRegisterRead(std::uint8_t reg, std::uint8_t count) {
  if (!options_.ownLink) return chip::ReadChipRegisters(reg, count);
  if (!AccessAllowed() || count == 0) return 0;
  std::uint8_t record[kI2cRecordSize] = {1, chipAddress_.load(), reg, count, 0, 0};
  return lamp_->Commands().SendI2cRequest(kCmdReadRegisters, record);
}

void Session::RouteSimEvents(sim::SimBoard& board, platform::Handle handle) {
  const platform::Handle target = handle != platform::kNoHandle ? handle : lamp_->Handle();
  board.SetDeviceEventListener(
      [target](std::uint32_t event) { platform::PostMessage(target, platform::WM_DEVICECHANGE, event); });
}

sim::SimBoard* Session::Sim() {
  if (boards_.empty()) return nullptr;
  for (auto& board : boards_)
    if (options_.serial.empty() || board->SerialNumber() == options_.serial) return board.get();
  return boards_.front().get();
}

bool Session::ReadRegisters(std::uint8_t reg, std::uint8_t count, std::vector<std::uint8_t>& values,
                            std::string& error) {
  if (!AccessAllowed()) {
    error = "The board is not identified: register access is refused.";
    return false;
  }
  // Only the answer to this read counts: a late one to an earlier read (of
  // other registers, or of these before a write) must not pass for it.
  const auto isAnswer = [&](const Message& m) {
    const auto* bytes = m.Bytes();
    if (m.id == platform::kMsgRegisterReadFailed)
      return !bytes || bytes->size() <= kI2cFirstRegister || (*bytes)[kI2cFirstRegister] == reg;
    const auto reply = m.id == platform::kMsgRegisterRead && bytes ? chip::ParseRegisterReply(*bytes) : std::nullopt;
    return reply && reply->first == reg && reply->data.size() == count;
  };
  auto m = lamp_->Ask([&] { return SendRegisterRead(reg, count); }, isAnswer, error, "register read");
  if (!m) return false;
  if (m->id == platform::kMsgRegisterReadFailed) {
    error = chip::ChipDidNotAnswerText(chip::SentTransfer{ChipAddress(), reg, false});
    return false;
  }
  const auto reply = chip::ParseRegisterReply(*m->Bytes());
  values.assign(reply->data.begin(), reply->data.end());
  return true;
}

bool Session::WriteRegisters(std::uint8_t reg, std::span<const std::uint8_t> values, std::string& error) {
  if (values.empty() || values.size() > kMaxI2cTransferData) {
    error = "A register write carries 1 to " + std::to_string(kMaxI2cTransferData) + " bytes.";
    return false;
  }
  if (!AccessAllowed()) {
    error = "The board is not identified: register access is refused.";
    return false;
  }
  // The board echoes what it wrote: a late acknowledgement of an earlier
  // write (other registers, other bytes) must not pass for this one. Its
  // failure answer (a chip that did not acknowledge) names the register.
  const auto isAnswer = [&](const Message& m) {
    const auto* bytes = m.Bytes();
    if (m.id == platform::kMsgRegisterReadFailed)
      return !bytes || bytes->size() <= kI2cFirstRegister || (*bytes)[kI2cFirstRegister] == reg;
    const auto reply = m.id == platform::kMsgRegisterWritten && bytes ? chip::ParseRegisterReply(*bytes) : std::nullopt;
    return reply && reply->first == reg && std::equal(values.begin(), values.end(), reply->data.begin(), reply->data.end());
  };
  const auto m = lamp_->Ask([&] { return SendRegisterWrite(reg, values); }, isAnswer, error, "register write");
  if (!m) return false;
  if (m->id == platform::kMsgRegisterReadFailed) {
    error = chip::ChipDidNotAnswerText(chip::SentTransfer{ChipAddress(), reg, true});
    return false;
  }
  return true;
}

