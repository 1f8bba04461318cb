#include "sim/SimBoard.h"

#include <cstdio>

#include <algorithm>
#include <optional>
#include <thread>

#include "sim/SimBootloader.h"
#include "sim/SimFrameCodec.h"

namespace sim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kEventArrival = 0x8000;
constexpr std::uint32_t kEventRemoval = 0x8004;

// Command classes and numbers the bridge firmware answers.
constexpr std::uint8_t kClassSystem = 1;
constexpr std::uint8_t kClassI2c = 16;
constexpr std::uint8_t kClassEvent = 32;
constexpr std::uint8_t kClassBoot = 48;
constexpr std::uint8_t kClassLamp = 64;

constexpr std::uint8_t kCmdHandshake = 1;
constexpr std::uint8_t kCmdHandshakeAnswer = 2;
constexpr std::uint8_t kCmdVersionQuery = 32;
constexpr std::uint8_t kCmdVersionReply = 33;
constexpr std::uint8_t kCmdRegisterRead = 1;
constexpr std::uint8_t kCmdRegisterData = 2;
constexpr std::uint8_t kCmdRegisterWrite = 3;
constexpr std::uint8_t kCmdRegisterWritten = 4;
constexpr std::uint8_t kCmdRegisterFailed = 48;
constexpr std::uint8_t kCmdInterrupt = 37;
constexpr std::uint8_t kCmdSetBootValue = 1;
constexpr std::uint8_t kCmdBootValueSet = 2;
constexpr std::uint8_t kCmdBootValueRefused = 3;
constexpr std::uint8_t kCmdBoardData = 1;
constexpr std::uint8_t kCmdSetChipAddress = 10;
// Other lamp-board requests; each is answered r + 1 (success).
constexpr std::array<std::uint8_t, 10> kPlainLampRequests{4, 16, 23, 32, 39, 42, 55, 64, 67, 70};

constexpr std::array<std::uint8_t, 4> kHandshakeGood{0x5A, 0x5A, 0x00, 0x01};
constexpr std::array<std::uint8_t, 4> kHandshakeWrong{0x5A, 0x5A, 0x00, 0x02};

// I2C record at the start of every class-16 payload.
constexpr std::size_t kI2cRecordSize = 6;
constexpr std::size_t kI2cAddressOffset = 1;
constexpr std::size_t kI2cFirstRegisterOffset = 2;
constexpr std::size_t kI2cCountOffset = 3;

// Chip block header at the start of (64, 1).
constexpr std::size_t kBlockHeaderSize = 4;
constexpr std::size_t kBlockKindOffset = 0;
constexpr std::size_t kBlockModeOffset = 1;
constexpr std::size_t kBlockLengthOffset = 2;

constexpr std::uint8_t kChipAddressAtStart = 0x5B;
constexpr std::uint8_t kChipAddressLowest = 0x58;
constexpr std::uint8_t kChipAddressHighest = 0x5B;

constexpr std::size_t kRegisterCount = 256;
constexpr std::uint8_t kRegInputPort0 = 0x00;
constexpr std::uint8_t kRegInputPort1 = 0x01;
constexpr std::uint8_t kRegSoftwareReset = 0x7F;
constexpr std::uint8_t kSoftwareResetValue = 0x00;
constexpr std::uint8_t kUnmappedRegisterRead = 0xFF;  // an I2C read past the last register

constexpr std::size_t kResendHistory = 16;
constexpr std::size_t kWaitingRecordsMax = 16;
// After replying to a restart request, the firmware waits for the host to
// collect the reply before it resets, but not for ever.
constexpr auto kRestartGrace = std::chrono::milliseconds(500);

constexpr std::uint32_t kPpmScale = 1'000'000;

// Set while this thread runs a device-event listener, so that a listener may
// replace itself without waiting for its own call to end.
thread_local bool t_inDeviceListener = false;

enum class Mode { kApplication, kBootloader };

// The LED driver's registers as the bridge reaches them over I2C, and its
// pins (sim/SimPins.h): the input ports read the pins' levels.
class ChipRegisters {
 public:
  ChipRegisters() { PowerOn(); }

  // Everything the chip drives goes back to 0. What is outside its pins is
  // not the chip's: it stays through a reset and a re-plug.
  void PowerOn() { SoftwareReset(); }
  void SoftwareReset() { values_.fill(0); }
  // A write over I2C: the input ports are read-only, and the reset register
  // resets the chip when it is given its reset value.
  void WriteFromBus(std::uint8_t reg, std::uint8_t value) {
    if (reg == kRegInputPort0 || reg == kRegInputPort1) return;
    if (reg == kRegSoftwareReset && value == kSoftwareResetValue) {
      SoftwareReset();
      return;
    }
    values_[reg] = value;
  }
  std::uint8_t Get(std::uint8_t reg) const {
    if (reg == kRegInputPort0 || reg == kRegInputPort1) return pins_.PortLevels(reg - kRegInputPort0, PinConfig());
    return values_[reg];
  }
  // For tests: an input port set this way is what is outside that port.
  void Set(std::uint8_t reg, std::uint8_t value) {
    if (reg == kRegInputPort0 || reg == kRegInputPort1) return pins_.SetPort(reg - kRegInputPort0, value);
    values_[reg] = value;
  }
  // True when the change makes the chip raise its interrupt line.
  bool DrivePins(PinMask levels) { return pins_.Drive(levels, PinConfig()); }
  PinSnapshot Pins() const { return {pins_.Driven(), pins_.Levels(PinConfig()), PinConfig()}; }

 private:
  PinRegisters PinConfig() const { return PinRegisters::FromRegisters(values_); }

  std::array<std::uint8_t, kRegisterCount> values_{};
  SimPins pins_;
};

}  // namespace

struct SimBoard::Impl {
  explicit Impl(SimConfig c) : config(std::move(c)) {}

  // One lock for the whole board: every entry point holds it for a short,
  // bounded piece of work, and none calls out while holding it.
  mutable std::mutex mu;
  std::condition_variable readable;  // HostRead waiters
  bool wakeRead = false;              // WakeHostRead: the next wait ends at once (under mu)
  std::condition_variable control;   // restart worker, listener teardown

  const SimConfig config;  // never changes: read without the lock

  // ---- everything below is guarded by `mu` ---------------------------------
  SimFaults faults;
  // Made at the first draw (a fault-free board draws nothing): seeding it
  // and its 5 KB are a good part of making a board, which a fuzzer does for
  // every input. The draws are the same either way.
  std::unique_ptr<std::mt19937> generator;
  std::mt19937& rng() {
    if (!generator) generator = std::make_unique<std::mt19937>(config.seed);
    return *generator;
  }

  bool plugged = true;
  Mode mode = Mode::kApplication;
  // Bumped whenever the device goes away; a read that began before that
  // belongs to the old device and gets -1.
  std::uint64_t generation = 0;
  bool restartInProgress = false;  // between the removal and arrival of a restart

  std::deque<Report> toHost;
  std::uint64_t reportsRead = 0;

  struct PendingRestart {
    Mode target;
    std::uint64_t drainedAt;  // reportsRead once the reply is collected
    Clock::time_point deadline;
  };
  std::optional<PendingRestart> pendingRestart;
  bool inputHalted = false;  // the firmware stops listening once it will restart

  // Application firmware: framed link.
  wire::FrameAssembler assembler;
  struct FrameFault {
    bool drop = false;
    std::optional<std::size_t> flipAt;
    std::uint8_t flipMask = 0;
  } frameFault;
  // The host's numbering as the firmware follows it: the number and the
  // checksummed bytes of the last frame it carried out.
  std::optional<std::uint16_t> lastNumber;
  std::vector<std::uint8_t> lastProtected;
  std::deque<std::pair<std::uint16_t, std::vector<std::uint8_t>>> sentFrames;
  std::uint16_t nextSequence = 0;
  std::uint8_t chipAddress = kChipAddressAtStart;
  ChipRegisters chip;

  SimBootloader bootloader;
  // While the bootloader erases, records wait (as at a USB endpoint the
  // firmware does not serve) and its answer goes out when it is done.
  Clock::time_point bootloaderBusyUntil{};
  std::optional<Report> answerWhenIdle;
  std::deque<Report> waitingRecords;

  std::vector<DeliveredCommand> delivered;
  Counters counters;

  DeviceEventListener listener;
  int listenerCalls = 0;

  bool stopping = false;
  // Not guarded: set once in the SimBoard constructor (unless the config
  // leaves it out), joined in its destructor.
  std::thread restartWorker;

  // ---- helpers; the Locked ones expect `mu` held ------------------------------
  Clock::time_point Now() const { return config.clock ? config.clock() : Clock::now(); }

  bool Chance(std::uint32_t ppm) {
    if (ppm == 0) return false;  // no draw, so fault-free runs do not move the generator
    return rng()() % kPpmScale < ppm;
  }
  std::uint8_t FlipMask() { return static_cast<std::uint8_t>(1 + rng()() % 255); }

  void QueueReportLocked(const Report& report) {
    toHost.push_back(report);
    readable.notify_all();
  }

  void QueueFrameLocked(std::vector<std::uint8_t> frame) {
    ++counters.framesToHost;
    if (Chance(faults.dropToHostPpm)) return;
    if (Chance(faults.corruptToHostPpm)) frame[rng()() % frame.size()] ^= FlipMask();
    for (const Report& report : wire::CutIntoReports(frame)) QueueReportLocked(report);
  }

  void SendDataFrameLocked(std::uint8_t endpoint, std::uint8_t cls, std::uint8_t cmd,
                           std::span<const std::uint8_t> payload, std::uint16_t sequence) {
    auto frame = wire::EncodeDataFrame(wire::BoardAddress(endpoint), sequence, cls, cmd, payload);
    // Kept clean: a NAK must bring back the frame as it was meant to be.
    sentFrames.emplace_back(sequence, frame);
    if (sentFrames.size() > kResendHistory) sentFrames.pop_front();
    QueueFrameLocked(std::move(frame));
  }

  void ReplyLocked(std::uint8_t cls, std::uint8_t cmd, std::span<const std::uint8_t> payload = {}) {
    SimFaults::LostAnswers& lose = faults.loseAnswers;
    if (lose.count > 0 && lose.cls == cls && lose.cmd == cmd) {
      --lose.count;
      ++nextSequence;  // sent, and lost on the way
      return;
    }
    SendDataFrameLocked(wire::kHostReplyEndpoint, cls, cmd, payload, nextSequence++);
  }

  // What a reset of the bridge microcontroller forgets. The chip keeps its
  // registers (it is powered by the board, not reset with the bridge).
  void ResetFirmwareLocked(Mode newMode) {
    mode = newMode;
    ++generation;
    toHost.clear();
    answerWhenIdle.reset();
    waitingRecords.clear();
    bootloaderBusyUntil = {};
    if (newMode == Mode::kBootloader) bootloader.Restart();
    pendingRestart.reset();
    inputHalted = false;
    assembler.Reset();
    frameFault = {};
    lastNumber.reset();
    lastProtected.clear();
    sentFrames.clear();
    nextSequence = 0;
    chipAddress = kChipAddressAtStart;
    readable.notify_all();
    control.notify_all();
  }

  void ScheduleRestartLocked(Mode target) {
    pendingRestart = PendingRestart{target, reportsRead + toHost.size(), Now() + kRestartGrace};
    inputHalted = true;
    control.notify_all();
  }

  void RaiseInterruptLocked(std::uint8_t value) {
    // The interrupt line is watched by the application firmware only.
    if (!plugged || mode != Mode::kApplication) return;
    const std::array<std::uint8_t, 1> payload{value};
    ReplyLocked(kClassEvent, kCmdInterrupt, payload);
  }

  // ---- application firmware --------------------------------------------------
  void TakeAppReportLocked(Report report) {
    const auto now = Now();
    const bool starts = assembler.WouldStartFrame(report, now);
    if (starts) {
      // Faults are drawn per frame, on the wire: a flipped length field
      // misleads the reassembly just as a real one would.
      frameFault = {};
      frameFault.drop = Chance(faults.dropFromHostPpm);
      if (Chance(faults.corruptFromHostPpm)) {
        frameFault.flipAt = rng()() % *wire::FrameSizeAtStart(report);
        frameFault.flipMask = FlipMask();
      }
    }
    const std::size_t position = starts ? 0 : assembler.Taken();
    if (frameFault.flipAt && *frameFault.flipAt >= position &&
        *frameFault.flipAt - position < kReportSize) {
      report[*frameFault.flipAt - position] ^= frameFault.flipMask;
    }
    const auto fed = assembler.Feed(report, now);
    if (starts && fed != wire::FrameAssembler::Fed::kStarted) frameFault = {};
    if (!assembler.Complete()) return;
    const std::vector<std::uint8_t> frame = assembler.TakeFrame();
    const bool lost = frameFault.drop;
    frameFault = {};
    if (!lost) HandleHostFrameLocked(frame);
  }

  void HandleHostFrameLocked(std::span<const std::uint8_t> frame) {
    ++counters.framesFromHost;
    const wire::DecodedFrame decoded = wire::DecodeFrame(frame);
    if (decoded.receiverEndpoint != wire::kBoardEndpoint) return;  // not addressed to us
    using Kind = wire::DecodedFrame::Kind;
    switch (decoded.kind) {
      case Kind::kAck: ++counters.acksFromHost; return;
      case Kind::kNak: ResendLocked(decoded.sequence); return;
      case Kind::kOther: return;
      case Kind::kData: break;
    }
    const std::uint8_t ackAddress = static_cast<std::uint8_t>(
        (wire::kBoardEndpoint << 4) | decoded.senderEndpoint);
    if (!decoded.checksumOk) {
      ++counters.badChecksums;
      QueueFrameLocked(wire::EncodeLinkFrame(ackAddress, wire::kTypeNak, decoded.sequence));
      return;
    }
    if (Chance(faults.nakFromHostPpm)) {
      QueueFrameLocked(wire::EncodeLinkFrame(ackAddress, wire::kTypeNak, decoded.sequence));
      return;
    }
    // The host numbers its frames one after another and sends one again
    // (same number, same bytes) when our ACK did not reach it. The number is
    // not covered by the checksum, so it is held against what it must be:
    // the last frame's again (a repeat: acknowledged again, not carried out
    // twice) or the next. Any other number was spoiled on the way; carrying
    // the frame out would do it a second time when the host repeats it under
    // its real number, so it is refused. A handshake is always carried out:
    // the host resets its numbering before each one.
    const bool handshake =
        decoded.command && decoded.command->cls == kClassSystem && decoded.command->cmd == kCmdHandshake;
    if (lastNumber && !handshake) {
      if (decoded.sequence == *lastNumber && std::ranges::equal(decoded.protectedBytes, lastProtected)) {
        ++counters.duplicates;
        QueueFrameLocked(wire::EncodeLinkFrame(ackAddress, wire::kTypeAck, decoded.sequence));
        return;
      }
      if (decoded.sequence != static_cast<std::uint16_t>(*lastNumber + 1)) {
        ++counters.spoiledNumbers;
        QueueFrameLocked(wire::EncodeLinkFrame(ackAddress, wire::kTypeNak, decoded.sequence));
        return;
      }
    }
    QueueFrameLocked(wire::EncodeLinkFrame(ackAddress, wire::kTypeAck, decoded.sequence));
    lastNumber = decoded.sequence;
    lastProtected.assign(decoded.protectedBytes.begin(), decoded.protectedBytes.end());
    if (!decoded.command) return;  // checksum fine, body malformed: acknowledged, nothing to do
    const wire::HostCommand& command = *decoded.command;
    delivered.push_back(DeliveredCommand{command.cls, command.cmd, decoded.sequence,
                                         {command.payload.begin(), command.payload.end()}});
    ExecuteLocked(command);
  }

  void ResendLocked(std::uint16_t sequence) {
    ++counters.naksFromHost;
    // Newest first: after 65536 frames a number comes round again.
    for (auto it = sentFrames.rbegin(); it != sentFrames.rend(); ++it) {
      if (it->first == sequence) {
        QueueFrameLocked(it->second);
        return;
      }
    }
  }

  void ExecuteLocked(const wire::HostCommand& c) {
    switch (c.cls) {
      case kClassSystem: return ExecuteSystemLocked(c);
      case kClassI2c: return ExecuteI2cLocked(c);
      case kClassBoot: return ExecuteBootLocked(c);
      case kClassLamp: return ExecuteLampLocked(c);
      default: return;  // acknowledged; nothing the firmware acts on
    }
  }

  void ExecuteSystemLocked(const wire::HostCommand& c) {
    if (c.cmd == kCmdHandshake) {
      ReplyLocked(kClassSystem, kCmdHandshakeAnswer,
                  faults.wrongHandshake ? kHandshakeWrong : kHandshakeGood);
    } else if (c.cmd == kCmdVersionQuery) {
      std::vector<std::uint8_t> payload;
      for (const std::string& s : config.versionStrings) {
        payload.insert(payload.end(), s.begin(), s.end());
        payload.push_back(0);
      }
      ReplyLocked(kClassSystem, kCmdVersionReply, payload);
    }
  }

  void ExecuteI2cLocked(const wire::HostCommand& c) {
    if (c.cmd != kCmdRegisterRead && c.cmd != kCmdRegisterWrite) return;
    const auto p = c.payload;
    // Class 16 has one failure answer; it carries whatever record came in.
    const auto fail = [&] {
      ReplyLocked(kClassI2c, kCmdRegisterFailed, p.first(std::min(p.size(), kI2cRecordSize)));
    };
    // Nothing acknowledges an address other than the chip's: the bridge's
    // transfer ends at the address byte, and the failure answer is all the
    // host learns.
    if (p.size() < kI2cRecordSize || p[kI2cAddressOffset] != chipAddress ||
        p[kI2cAddressOffset] != config.chipAddress)
      return fail();
    const auto record = p.first(kI2cRecordSize);
    const std::uint8_t first = p[kI2cFirstRegisterOffset];
    const std::size_t count = p[kI2cCountOffset];
    std::vector<std::uint8_t> reply(record.begin(), record.end());

    if (c.cmd == kCmdRegisterRead) {
      if (faults.failRegisterRead) return fail();
      for (std::size_t i = 0; i < count; ++i) {
        const std::size_t reg = first + i;
        reply.push_back(reg < kRegisterCount ? chip.Get(static_cast<std::uint8_t>(reg))
                                             : kUnmappedRegisterRead);
      }
      return ReplyLocked(kClassI2c, kCmdRegisterData, reply);
    }

    if (p.size() - kI2cRecordSize < count) return fail();  // fewer data bytes than announced
    const auto data = p.subspan(kI2cRecordSize, count);
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t reg = first + i;
      if (reg >= kRegisterCount) break;  // the chip does not wrap round to register 0
      chip.WriteFromBus(static_cast<std::uint8_t>(reg), data[i]);
    }
    reply.insert(reply.end(), data.begin(), data.end());
    ReplyLocked(kClassI2c, kCmdRegisterWritten, reply);
  }

  void ExecuteBootLocked(const wire::HostCommand& c) {
    if (c.cmd != kCmdSetBootValue) return;
    if (faults.refuseBootValue || c.payload.empty()) {
      return ReplyLocked(kClassBoot, kCmdBootValueRefused);
    }
    ReplyLocked(kClassBoot, kCmdBootValueSet);
    ScheduleRestartLocked(Mode::kBootloader);
  }

  void ExecuteLampLocked(const wire::HostCommand& c) {
    const auto p = c.payload;
    if (c.cmd == kCmdBoardData) {
      // Board query and effect data alike: the answer names this board, so
      // the host can check it against the board it expects. A header whose
      // length disagrees with the data that came is refused.
      const auto at = [&](std::size_t i) { return i < p.size() ? p[i] : std::uint8_t{0}; };
      const std::size_t announced = at(kBlockLengthOffset) | at(kBlockLengthOffset + 1) << 8;
      const bool whole = p.size() >= kBlockHeaderSize && p.size() - kBlockHeaderSize == announced;
      const std::array<std::uint8_t, 4> reply{at(kBlockKindOffset), at(kBlockModeOffset),
                                              config.boardId, 0};
      return ReplyLocked(kClassLamp, static_cast<std::uint8_t>(c.cmd + (whole ? 1 : 2)), reply);
    }
    if (c.cmd == kCmdSetChipAddress) {
      const bool ok = p.size() == 1 && p[0] >= kChipAddressLowest &&
                      p[0] <= kChipAddressHighest && !faults.refuseAddress;
      if (ok) chipAddress = p[0];
      return ReplyLocked(kClassLamp, static_cast<std::uint8_t>(c.cmd + (ok ? 1 : 2)),
                         p.first(std::min<std::size_t>(p.size(), 1)));
    }
    if (std::ranges::find(kPlainLampRequests, c.cmd) != kPlainLampRequests.end()) {
      ReplyLocked(kClassLamp, static_cast<std::uint8_t>(c.cmd + 1));
    }
  }

  // ---- bootloader -----------------------------------------------------------
  void TakeBootRecordLocked(Report record) {
    if (Chance(faults.dropFromHostPpm)) return;
    if (Chance(faults.corruptFromHostPpm)) record[rng()() % kReportSize] ^= FlipMask();
    // A host that writes faster than an erase ends is held up, not lost; the
    // endpoint holds only so much, though.
    if (waitingRecords.size() < kWaitingRecordsMax) waitingRecords.push_back(record);
    RunBootloaderLocked();
  }

  // Carries out the records that came, unless an erase is still going on;
  // the erase's answer goes out once it is done.
  void RunBootloaderLocked() {
    while (Now() >= bootloaderBusyUntil) {
      if (answerWhenIdle) {
        QueueReportLocked(*answerWhenIdle);
        answerWhenIdle.reset();
      }
      if (waitingRecords.empty() || pendingRestart) return;
      const Report record = waitingRecords.front();
      waitingRecords.pop_front();
      const auto outcome = bootloader.Handle(record, config, faults, rng());
      std::optional<Report> reply = outcome.reply;
      if (reply && Chance(faults.dropToHostPpm)) reply.reset();
      if (reply && Chance(faults.corruptToHostPpm)) (*reply)[rng()() % kReportSize] ^= FlipMask();
      if (outcome.busyFor.count() > 0) {
        bootloaderBusyUntil = Now() + outcome.busyFor;
        answerWhenIdle = reply;
      } else if (reply) {
        QueueReportLocked(*reply);  // before a restart is set up: it waits for this to be read
      }
      if (outcome.restartIntoApplication) ScheduleRestartLocked(Mode::kApplication);
    }
  }

  bool BootloaderWaitingLocked() const { return answerWhenIdle.has_value() || !waitingRecords.empty(); }

  // ---- device events ----------------------------------------------------------
  // Never called with `mu` held: a listener may call straight back into the board.
  void Notify(std::uint32_t event) {
    DeviceEventListener copy;
    {
      std::lock_guard lock(mu);
      if (!listener) return;
      copy = listener;
      ++listenerCalls;
    }
    struct CallScope {
      Impl& impl;
      bool outer = t_inDeviceListener;
      explicit CallScope(Impl& i) : impl(i) { t_inDeviceListener = true; }
      ~CallScope() {
        t_inDeviceListener = outer;
        std::lock_guard lock(impl.mu);
        --impl.listenerCalls;
        impl.control.notify_all();
      }
    } scope(*this);
    copy(event);
  }

  // Removal, the reset, then arrival as the other firmware. A plug or unplug
  // from outside during the gap takes over, and the arrival is left out.
  void Restart(Mode target) {
    {
      std::lock_guard lock(mu);
      if (!plugged) return;
      plugged = false;
      restartInProgress = true;
      ResetFirmwareLocked(target);
    }
    Notify(kEventRemoval);
    {
      std::lock_guard lock(mu);
      if (!restartInProgress) return;
      restartInProgress = false;
      plugged = true;
    }
    Notify(kEventArrival);
  }

  void RunRestartWorker() {
    std::unique_lock lock(mu);
    while (true) {
      control.wait(lock, [&] { return stopping || pendingRestart.has_value(); });
      if (stopping) return;
      const auto collected = [&] {
        return stopping || !pendingRestart || reportsRead >= pendingRestart->drainedAt || toHost.empty();
      };
      const auto deadline = pendingRestart->deadline;  // the restart may be cancelled while we wait
      control.wait_until(lock, deadline, collected);
      if (stopping) return;
      if (!pendingRestart) continue;  // cancelled by an unplug or another restart
      const Mode target = pendingRestart->target;
      pendingRestart.reset();
      lock.unlock();
      Restart(target);
      lock.lock();
    }
  }
};

SimBoard::SimBoard(SimConfig config) : impl_(std::make_unique<Impl>(std::move(config))) {
  if (impl_->config.restartThread) impl_->restartWorker = std::thread([this] { impl_->RunRestartWorker(); });
}

SimBoard::~SimBoard() {
  {
    std::lock_guard lock(impl_->mu);
    impl_->stopping = true;
    impl_->control.notify_all();
  }
  if (impl_->restartWorker.joinable()) impl_->restartWorker.join();
}

bool SimBoard::IsPlugged() const {
  std::lock_guard lock(impl_->mu);
  return impl_->plugged;
}

std::string BenchSerialNumber(std::size_t index) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "QVSIM%04zu", index + 1);
  return buf;
}

const std::string& SimBoard::SerialNumber() const { return impl_->config.serialNumber; }

std::uint16_t SimBoard::ReleaseNumber() const {
  std::lock_guard lock(impl_->mu);
  return impl_->mode == Mode::kApplication ? kReleaseApplication : kReleaseBootloader;
}

void SimBoard::Plug() {
  {
    std::lock_guard lock(impl_->mu);
    if (impl_->plugged) return;
    impl_->plugged = true;
    impl_->restartInProgress = false;
    // Power comes back: the bridge starts its application firmware, unless
    // an update erased it and did not write a whole new one, and the chip
    // starts from its reset values.
    impl_->ResetFirmwareLocked(impl_->bootloader.ApplicationIntact() ? Mode::kApplication : Mode::kBootloader);
    impl_->chip.PowerOn();
  }
  impl_->Notify(kEventArrival);
}

void SimBoard::Unplug() {
  {
    std::lock_guard lock(impl_->mu);
    if (!impl_->plugged) {
      impl_->restartInProgress = false;  // it stays away; the removal was raised already
      return;
    }
    impl_->plugged = false;
    impl_->ResetFirmwareLocked(impl_->mode);
  }
  impl_->Notify(kEventRemoval);
}

void SimBoard::SetDeviceEventListener(DeviceEventListener listener) {
  std::unique_lock lock(impl_->mu);
  std::swap(impl_->listener, listener);
  // Once this returns, the old listener is not running any more (unless it
  // is the caller), so its owner may go away.
  if (!t_inDeviceListener) {
    impl_->control.wait(lock, [&] { return impl_->listenerCalls == 0; });
  }
  lock.unlock();
  listener = nullptr;  // the old one's captures die outside the lock
}

std::uint64_t SimBoard::Connection() const {
  std::lock_guard lock(impl_->mu);
  return impl_->generation;
}

bool SimBoard::HostWrite(std::span<const std::uint8_t, kReportSize> report) {
  return HostWrite(report, Connection());
}

bool SimBoard::HostWrite(std::span<const std::uint8_t, kReportSize> report, std::uint64_t connection) {
  std::chrono::microseconds latency{0};
  {
    std::lock_guard lock(impl_->mu);
    latency = impl_->faults.reportLatency;
  }
  // An output report goes over at the next poll of the board's OUT endpoint;
  // the write returns once it has.
  if (latency.count() > 0) std::this_thread::sleep_for(latency);
  std::lock_guard lock(impl_->mu);
  if (!impl_->plugged || impl_->generation != connection) return false;
  if (impl_->faults.silent || impl_->inputHalted) {
    impl_->assembler.Reset();
    return true;
  }
  Report copy;
  std::ranges::copy(report, copy.begin());
  if (impl_->mode == Mode::kBootloader) {
    impl_->TakeBootRecordLocked(copy);
  } else {
    impl_->TakeAppReportLocked(copy);
  }
  return true;
}

int SimBoard::HostRead(Report& out, std::chrono::milliseconds timeout) {
  return HostRead(out, timeout, Connection());
}

int SimBoard::HostRead(Report& out, std::chrono::milliseconds timeout, std::uint64_t connection) {
  std::unique_lock lock(impl_->mu);
  const std::uint64_t generation = connection;
  // Negative means block, as with hidapi; so does anything too long to add
  // to the clock.
  const bool forever = timeout.count() < 0 || timeout > std::chrono::hours(24);
  const auto deadline = Clock::now() + std::max(timeout, std::chrono::milliseconds(0));
  bool waitedLatency = false;
  while (true) {
    if (!impl_->plugged || impl_->generation != generation) return -1;
    if (impl_->BootloaderWaitingLocked()) impl_->RunBootloaderLocked();
    if (!impl_->toHost.empty()) {
      const auto latency = impl_->faults.reportLatency;
      if (latency.count() > 0 && !waitedLatency) {
        // USB hands a report over only at the next poll of the interrupt
        // endpoint; nothing else of the board waits for this.
        waitedLatency = true;
        lock.unlock();
        std::this_thread::sleep_for(latency);
        lock.lock();
        continue;
      }
      out = impl_->toHost.front();
      impl_->toHost.pop_front();
      impl_->wakeRead = false;
      ++impl_->reportsRead;
      if (impl_->pendingRestart) impl_->control.notify_all();
      return 1;
    }
    if (impl_->wakeRead) {
      impl_->wakeRead = false;
      return 0;
    }
    if (!forever && Clock::now() >= deadline) return 0;
    const auto ready = [&] {
      return !impl_->toHost.empty() || !impl_->plugged || impl_->generation != generation || impl_->wakeRead;
    };
    // An erase that ends before the deadline has its answer to hand over.
    auto wakeAt = forever ? Clock::time_point::max() : deadline;
    if (impl_->BootloaderWaitingLocked()) wakeAt = std::min(wakeAt, impl_->bootloaderBusyUntil);
    if (wakeAt == Clock::time_point::max()) {
      impl_->readable.wait(lock, ready);
    } else {
      impl_->readable.wait_until(lock, wakeAt, ready);
    }
  }
}

void SimBoard::WakeHostRead() {
  {
    std::lock_guard lock(impl_->mu);
    impl_->wakeRead = true;
  }
  impl_->readable.notify_all();
}

std::uint8_t SimBoard::Register(std::uint8_t reg) const {
  std::lock_guard lock(impl_->mu);
  return impl_->chip.Get(reg);
}

void SimBoard::SetRegister(std::uint8_t reg, std::uint8_t value) {
  std::lock_guard lock(impl_->mu);
  impl_->chip.Set(reg, value);
}

std::uint8_t SimBoard::ChipAddress() const {
  std::lock_guard lock(impl_->mu);
  return impl_->chipAddress;
}

void SimBoard::RaiseInterrupt(std::uint8_t value) {
  std::lock_guard lock(impl_->mu);
  impl_->RaiseInterruptLocked(value);
}

void SimBoard::DrivePins(std::uint16_t levels) {
  std::lock_guard lock(impl_->mu);
  if (impl_->chip.DrivePins(levels)) impl_->RaiseInterruptLocked(1);
}

void SimBoard::DrivePin(int pin, bool high) {
  if (pin < 0 || pin >= kPinCount) return;
  std::lock_guard lock(impl_->mu);
  const auto bit = static_cast<PinMask>(1u << pin);
  const PinMask driven = impl_->chip.Pins().driven;
  if (impl_->chip.DrivePins(static_cast<PinMask>(high ? driven | bit : driven & ~bit))) impl_->RaiseInterruptLocked(1);
}

PinSnapshot SimBoard::Pins() const {
  std::lock_guard lock(impl_->mu);
  return impl_->chip.Pins();
}

void SimBoard::SendFrame(std::uint8_t endpoint, std::uint8_t cls, std::uint8_t cmd,
                         std::span<const std::uint8_t> payload, std::uint16_t sequence) {
  std::lock_guard lock(impl_->mu);
  if (!impl_->plugged) return;
  impl_->SendDataFrameLocked(endpoint, cls, cmd, payload, sequence);
}

void SimBoard::SendRawReport(const Report& report) {
  std::lock_guard lock(impl_->mu);
  if (!impl_->plugged) return;
  impl_->QueueReportLocked(report);
}

void SimBoard::RestartIntoBootloader() { impl_->Restart(Mode::kBootloader); }

void SimBoard::RestartIntoApplication() { impl_->Restart(Mode::kApplication); }

bool SimBoard::RunScheduledRestart() {
  Mode target;
  {
    std::lock_guard lock(impl_->mu);
    if (!impl_->pendingRestart) return false;
    target = impl_->pendingRestart->target;
    impl_->pendingRestart.reset();
  }
  impl_->Restart(target);
  return true;
}

std::vector<std::uint8_t> SimBoard::Flash(std::size_t offset, std::size_t length) const {
  std::lock_guard lock(impl_->mu);
  return impl_->bootloader.Flash(offset, length);
}

std::uint32_t SimBoard::ErasedLength() const {
  std::lock_guard lock(impl_->mu);
  return impl_->bootloader.ErasedLength();
}

SimFaults SimBoard::Faults() const {
  std::lock_guard lock(impl_->mu);
  return impl_->faults;
}

void SimBoard::SetFaults(const SimFaults& faults) {
  std::lock_guard lock(impl_->mu);
  impl_->faults = faults;
}

std::vector<DeliveredCommand> SimBoard::Delivered() const {
  std::lock_guard lock(impl_->mu);
  return impl_->delivered;
}

void SimBoard::ClearDelivered() {
  std::lock_guard lock(impl_->mu);
  impl_->delivered.clear();
}

SimBoard::Counters SimBoard::GetCounters() const {
  std::lock_guard lock(impl_->mu);
  return impl_->counters;
}

}  // namespace sim
