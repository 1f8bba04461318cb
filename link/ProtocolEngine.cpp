#include "link/ProtocolEngine.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "link/LinkState.h"
#include "link/QVProtocol.h"
#include "platform/Sleep.h"

namespace {

struct CommandPair {
  std::uint8_t cls;
  std::uint8_t cmd;
};

// Every (class, command) pair the board may send us. A frame whose pair is not
// here (and is not the last accepted one) is a protocol error.
constexpr CommandPair kAcceptedCommands[] = {
    {1, 1},   {1, 2},   {1, 8},   {1, 32},  {1, 33},
    {16, 1},  {16, 2},  {16, 3},  {16, 4},  {16, 17}, {16, 18}, {16, 24}, {16, 25}, {16, 48},
    {32, 1},  {32, 2},  {32, 3},  {32, 17}, {32, 18}, {32, 19}, {32, 36}, {32, 37}, {32, 65},
    {32, 81},
    {48, 1},  {48, 2},  {48, 3},
    {64, 1},  {64, 2},  {64, 3},  {64, 4},  {64, 5},  {64, 6},  {64, 10}, {64, 11}, {64, 12},
    {64, 16}, {64, 17}, {64, 18}, {64, 23}, {64, 24}, {64, 25}, {64, 32}, {64, 33}, {64, 34},
    {64, 39}, {64, 40}, {64, 41}, {64, 42}, {64, 43}, {64, 44}, {64, 55}, {64, 56}, {64, 57},
    {64, 64}, {64, 65}, {64, 66}, {64, 67}, {64, 68}, {64, 69}, {64, 70}, {64, 71}, {64, 72},
};
static_assert(std::size(kAcceptedCommands) == 63);

constexpr std::uint8_t kHandshakeAnswer[] = {0x5A, 0x5A, 0x00, 0x01};

}  // namespace

ProtocolEngine::ProtocolEngine() = default;

void ProtocolEngine::WaitUntilNobodyOutside(std::unique_lock<std::mutex>& lock) {
  // Whoever let go of the lock holding the old host or sink is done with it
  // before the caller may destroy it. Hosts and sinks only post, so none of
  // them waits for the caller meanwhile.
  nobodyOutside_.wait(lock, [this] { return outside_ == 0; });
}

void ProtocolEngine::SetReplySink(ReplySink* sink) {
  std::unique_lock lock(mutex_);
  replySink_ = sink;
  WaitUntilNobodyOutside(lock);
}

void ProtocolEngine::SetHost(EngineHost* host) {
  std::unique_lock lock(mutex_);
  host_ = host;
  WaitUntilNobodyOutside(lock);
}

void ProtocolEngine::ClearHost(EngineHost* host) {
  std::unique_lock lock(mutex_);
  if (host_ == host) host_ = nullptr;
  WaitUntilNobodyOutside(lock);
}

void ProtocolEngine::SetAckObserverForTest(AckObserver observer) {
  std::unique_lock lock(mutex_);
  ackObserver_ = observer ? std::make_shared<const AckObserver>(std::move(observer)) : nullptr;
  WaitUntilNobodyOutside(lock);
}

// ---- after the lock -------------------------------------------------------------

void ProtocolEngine::ClaimWire(Aftermath& after) {
  // One writer at a time keeps the pieces of two frames apart; the one that
  // writes takes whatever the others queued meanwhile.
  if (!wire_.empty() && !writing_) {
    writing_ = true;
    after.write = true;
  } else if (after.queuedData && writing_) {
    after.waitTurn = true;
    ++turnWaiters_;
  }
}

void ProtocolEngine::LeaveLocked(Aftermath& after) {
  after_ = nullptr;
  // With somebody to tell, the wire is claimed only once they are told: the
  // one told may send at once (its frame then queues behind the ACK), and a
  // thread that held the wire while it waited for them would block it.
  if (after.linkStates.empty() && !after.reply && !after.acked) ClaimWire(after);
  else after.claimLater = true;
  if (after.Empty()) return;
  after.host = host_;
  after.sink = replySink_;
  ++outside_;
}

void ProtocolEngine::Finish(Aftermath& after) {
  if (after.Empty()) return;
  // Told before the ACK is written: whoever waits for an answer has it a
  // report and a pause sooner.
  for (const int code : after.linkStates) {
    if (!after.host) break;
    after.host->SetLinkState(code);
    after.host->PostLinkState();
  }
  if (after.acked && after.ackObserver)
    (*after.ackObserver)(after.ackedClass, after.ackedCommand, after.ackedPayload);
  if (after.reply && after.sink)
    after.sink->OnReply(after.replyClass, after.replyCommand, after.replyPayload, after.replyLengthField);
  if (after.claimLater) {
    std::lock_guard lock(mutex_);
    ClaimWire(after);
  }
  if (after.write || after.waitTurn) WriteOut(after.waitTurn);
  std::lock_guard lock(mutex_);
  if (--outside_ == 0) nobodyOutside_.notify_all();
}

void ProtocolEngine::WriteOut(bool waitTurn) {
  std::unique_lock lock(mutex_);
  if (waitTurn) {
    turn_.wait(lock, [this] { return !writing_; });
    --turnWaiters_;
    writing_ = true;
  }
  while (!wire_.empty()) {
    // A data frame whose sender waits for the turn is left to it (the
    // reader, say, done with an ACK, goes back to reading).
    if (!waitTurn && turnWaiters_ > 0 && !wire_.front().control) break;
    WireFrame next = std::move(wire_.front());
    wire_.pop_front();
    if (next.control) --wireControl_;
    EngineHost* host = host_;
    lock.unlock();
    WriteFrameReports(host, next.bytes.data(), next.bytes.size());
    const auto out = Clock::now();
    lock.lock();
    // The ACK wait counts from the frame's last report: a long frame's own
    // pacing, or a queue of ACKs ahead of it, is not the board's delay.
    if (next.inFlight && next.epoch == epoch_ && inFlight_ && currentSequence_ == next.sequence) {
      ackDeadline_ = out + ackTimeout_;
      ackWaitStarted_ = true;
    }
  }
  writing_ = false;
  if (turnWaiters_ > 0) turn_.notify_all();
}

void ProtocolEngine::SetAckTimeout(std::chrono::milliseconds timeout) {
  std::lock_guard lock(mutex_);
  ackTimeout_ = timeout;
}

std::uint8_t ProtocolEngine::EndpointForClass(std::uint8_t cls) {
  switch (cls) {
    case 1: case 16: case 32: case 48: case 64: return frame::kHostEndpoint;
    default: return 0;
  }
}

std::uint16_t ProtocolEngine::Checksum(const std::uint8_t* data, std::size_t length) const {
  const CQVProtocol* protocol = g_pProtocol.load();
  if (!protocol) return 0;
  return protocol->ComputeChecksum(data, static_cast<int>(length));
}

// ---- pool -------------------------------------------------------------------

Packet* ProtocolEngine::AllocPacket(std::uint32_t kind) {
  if (kind != kPacketOutgoing && kind != kPacketIncoming) return nullptr;
  if (inUse_[kind] >= kKindLimit || !freeList_) return nullptr;
  Packet* p = freeList_;
  freeList_ = p->next;
  p->next = nullptr;
  ++inUse_[kind];
  p->kind = kind;
  p->useCount = 1;
  return p;
}

void ProtocolEngine::ReleasePacket(Packet* p) {
  if (!p || p->useCount == 0) return;  // a second release of the same record is harmless
  if (--p->useCount != 0) return;
  if ((p->kind == kPacketOutgoing || p->kind == kPacketIncoming) && inUse_[p->kind] > 0) {
    --inUse_[p->kind];
    p->length = 0;
    p->kind = kPacketFree;
    p->next = freeList_;
    freeList_ = p;
  }
}

void ProtocolEngine::ResetLink() {
  std::lock_guard lock(mutex_);
  // A frame being written now still goes out whole; nothing queued for the
  // old link does.
  wire_.clear();
  wireControl_ = 0;
  ++epoch_;
  ackWaitStarted_ = false;
  for (std::size_t i = 0; i < kPoolSize; ++i) {
    pool_[i].next = (i + 1 < kPoolSize) ? &pool_[i + 1] : nullptr;
    pool_[i].length = 0;
    pool_[i].useCount = 0;
    pool_[i].kind = kPacketFree;
  }
  freeList_ = &pool_[0];
  inUse_ = {};
  ClearReassembly();
  window_ = {};
  head_ = tail_ = 0;
  inFlight_ = false;
  currentSequence_ = nextSequence_ = 0;
  retransmissions_ = 0;
  lastSequenceFromEndpoint8_ = -1;
}

// ---- sending ------------------------------------------------------------------

int ProtocolEngine::SendCommand(std::uint8_t cls, std::uint8_t cmd, std::uint16_t length,
                                const std::uint8_t* payload) {
  Aftermath after;
  int result;
  {
    std::lock_guard lock(mutex_);
    after_ = &after;
    result = SendCommandLocked(cls, cmd, length, payload);
    LeaveLocked(after);
  }
  Finish(after);
  return result;
}

int ProtocolEngine::SendHandshake() {
  if (!g_pProtocol.load()) return 0;
  return SendCommand(1, 1, 0, nullptr);
}

int ProtocolEngine::SendCommandLocked(std::uint8_t cls, std::uint8_t cmd, std::uint16_t length,
                                      const std::uint8_t* payload) {
  // A payload that cannot be framed whole is refused, not cut: a cut command
  // would be carried out with part of its data and reported as sent.
  const std::size_t n = payload ? length : 0;
  if (n > frame::kMaxPayload) return 0;
  Packet* p = AllocPacket(kPacketOutgoing);
  if (!p) return 0;
  std::uint8_t* f = p->frame.data();
  f[frame::kClassOffset] = cls;
  frame::WriteU16(f + frame::kCommandOffset, cmd);
  frame::WriteU16(f + frame::kPayloadLengthOffset, static_cast<std::uint16_t>(n));
  if (n) std::memcpy(f + frame::kPayloadOffset, payload, n);
  f[frame::kPayloadOffset + n] = frame::kTrailingByte;
  f[frame::kMarkerOffset] = frame::kFormatMarker;
  p->length = static_cast<std::uint16_t>(n + frame::kBodyHeaderSize + 1);
  EnqueueFrame(p, EndpointForClass(cls));
  return 1;
}

void ProtocolEngine::EnqueueFrame(Packet* p, std::uint8_t endpoint) {
  std::uint8_t* f = p->frame.data();
  std::memset(f + frame::kReservedOffset, 0, 4);  // reserved, type = data, sequence
  // The sequence number is not covered, so it can be given at transmission.
  frame::WriteU16(f + frame::kChecksumOffset, Checksum(f + frame::kMarkerOffset, p->length));
  p->length = static_cast<std::uint16_t>(p->length + 6);  // now counted from offset 6
  window_[tail_] = Slot{p, endpoint};
  tail_ = (tail_ + 1) % kWindowSlots;
  // With nothing in flight the window is empty, so this frame is at its head.
  if (!inFlight_) StartNextFrame();
}

void ProtocolEngine::StartNextFrame() {
  Slot& slot = window_[head_];
  if (!slot.packet) return;
  frame::WriteU16(slot.packet->frame.data() + frame::kSequenceOffset, nextSequence_);
  currentSequence_ = nextSequence_++;
  inFlight_ = true;
  retransmissions_ = 0;
  TransmitInFlight(false);
}

void ProtocolEngine::TransmitInFlight(bool resend) {
  const Slot& slot = window_[head_];
  TransmitFrame(slot.packet, slot.endpoint, resend, false);
  // Its ACK wait starts once its last report is out (WriteOut).
  ackWaitStarted_ = false;
  wire_.back().inFlight = true;
  wire_.back().sequence = currentSequence_;
}

void ProtocolEngine::RetransmitOrFail() {
  if (retransmissions_ >= kMaxRetransmissions) {
    FailLink();
    return;
  }
  ++retransmissions_;
  ++totalRetransmissions_;
  TransmitInFlight(true);  // the same bytes, sequence number included
}

void ProtocolEngine::FailLink() {
  // The board does not take our frames: what waits behind the one in flight
  // would fare no better. The records go back to the pool, so the next
  // command after a reconnect finds room, and the owner hears of it.
  for (Slot& slot : window_) {
    if (slot.packet) ReleasePacket(slot.packet);
    slot = Slot{};
  }
  // Nor do the data frames still waiting for the wire; ACKs of the board's
  // frames still go.
  std::erase_if(wire_, [](const WireFrame& w) { return !w.control; });
  ++epoch_;
  head_ = tail_ = 0;
  inFlight_ = false;
  ackWaitStarted_ = false;
  retransmissions_ = 0;
  ++linkFailures_;
  TellLinkState(kLinkFailed);
}

void ProtocolEngine::TellLinkState(int code) {
  if (after_) after_->linkStates.push_back(code);
}

void ProtocolEngine::Poll(Clock::time_point now) {
  Aftermath after;
  {
    std::lock_guard lock(mutex_);
    after_ = &after;
    if (inFlight_ && ackWaitStarted_ && now >= ackDeadline_) RetransmitOrFail();
    LeaveLocked(after);
  }
  Finish(after);
}

void ProtocolEngine::TransmitFrame(Packet* p, std::uint8_t endpoint, bool resend, bool control) {
  std::uint8_t* f = p->frame.data();
  if (!resend) {
    f[frame::kMagicOffset] = frame::kMagicByte;
    f[frame::kMagicOffset + 1] = frame::kMagicByte;
    f[frame::kAddressOffset] = static_cast<std::uint8_t>(((endpoint & 0x0F) << 4) | frame::kBoardEndpoint);
    f[frame::kAddressHighOffset] = 0;
    frame::WriteU16(f + frame::kLengthOffset, p->length);
    p->length = static_cast<std::uint16_t>(p->length + frame::kHeaderSize);  // the whole frame
  }
  WireFrame w;
  w.bytes.assign(f, f + p->length);
  w.control = control;
  w.epoch = epoch_;
  if (!control && after_) after_->queuedData = true;
  if (control) {
    wire_.insert(wire_.begin() + static_cast<std::ptrdiff_t>(wireControl_), std::move(w));
    ++wireControl_;
  } else {
    wire_.push_back(std::move(w));
  }
}

void ProtocolEngine::WriteFrameReports(EngineHost* host, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const std::size_t piece = std::min(size, frame::kReportSize);
    // Once a piece could not be written the frame is lost anyway; the rest
    // would only keep the wire (and a blocked USB write) busy for nothing.
    if (!host || !host->WriteReport(data, static_cast<int>(piece))) return;
    platform::SleepMs(1);
    data += piece;
    size -= piece;
  }
}

// ---- receiving --------------------------------------------------------------

void ProtocolEngine::QueueReport(const std::uint8_t* report) {
  if (!report) return;
  std::lock_guard lock(mutex_);
  auto& slot = reports_.emplace_back();
  std::memcpy(slot.data(), report, frame::kReportSize);
}

void ProtocolEngine::ClearReassembly() {
  frameTotal_ = remaining_ = nextChunk_ = chunksLeft_ = 0;
  assembly_.clear();
  assembly_.shrink_to_fit();
}

int ProtocolEngine::ProcessReport() {
  Aftermath after;
  int result;
  {
    std::lock_guard lock(mutex_);
    after_ = &after;
    result = ProcessReportLocked();
    LeaveLocked(after);
  }
  Finish(after);
  return result;
}

int ProtocolEngine::ProcessReportLocked() {
  if (reports_.empty()) return 0;
  const auto report = reports_.front();
  reports_.pop_front();

  if (remaining_ == 0) {
    if (report[0] != frame::kMagicByte || report[1] != frame::kMagicByte) return 0;  // stray report
    // A frame that could never be accepted is not started: it would swallow
    // the reports after it (ACKs included) only to be dropped at the end.
    // The next report may start a frame again.
    const std::uint32_t lengthField = frame::ReadU16(report.data() + frame::kLengthOffset);
    if (lengthField < frame::kMinLengthField || lengthField > frame::kMaxLengthField) return 0;
    frameTotal_ = remaining_ = lengthField + std::uint32_t{frame::kHeaderSize};
    chunksLeft_ = (remaining_ - 1) / frame::kReportSize + 1;
    nextChunk_ = chunksLeft_ > 1 ? frame::kReportSize : remaining_;
    assembly_.assign(frameTotal_, 0);
  }
  std::memcpy(assembly_.data() + (frameTotal_ - remaining_), report.data(), nextChunk_);
  remaining_ -= nextChunk_;
  chunksLeft_ = remaining_ ? (remaining_ - 1) / frame::kReportSize + 1 : 0;
  nextChunk_ = chunksLeft_ > 1 ? frame::kReportSize : remaining_;
  if (remaining_ != 0) return 0;

  std::vector<std::uint8_t> complete = std::move(assembly_);
  ClearReassembly();
  AcceptFrame(complete.data(), complete.size());
  return 1;
}

void ProtocolEngine::AcceptFrame(const std::uint8_t* data, std::size_t size) {
  if (size < frame::kHeaderSize) return;
  if (data[0] != frame::kMagicByte || data[1] != frame::kMagicByte) return;
  const std::uint32_t lengthField = frame::ReadU16(data + frame::kLengthOffset);
  if (lengthField < frame::kMinLengthField || lengthField > frame::kMaxLengthField) return;
  if (size != lengthField + frame::kHeaderSize) return;
  Packet* p = AllocPacket(kPacketIncoming);
  if (!p) return;  // no record: dropped without a reply, the board will resend or time out
  std::memcpy(p->frame.data(), data, size);
  const std::uint8_t address = data[frame::kAddressOffset];
  if ((address >> 4) != frame::kBoardEndpoint) {
    ReleasePacket(p);
    return;
  }
  p->length = static_cast<std::uint16_t>(lengthField);
  HandleFrame(p, static_cast<std::uint8_t>(address & 0x0F));
}

void ProtocolEngine::HandleFrame(Packet* p, std::uint8_t endpoint) {
  std::uint8_t* f = p->frame.data();
  switch (f[frame::kTypeOffset] >> 4) {
    case 0: {
      const std::size_t lengthField = p->length;
      const std::size_t covered = lengthField - 6;
      const bool good = Checksum(f + frame::kMarkerOffset, covered) ==
                        frame::ReadU16(f + frame::kChecksumOffset);
      // The record becomes the ACK or NAK in place; the body behind it stays.
      f[frame::kReservedOffset] = 0;
      f[frame::kTypeOffset] = good ? frame::kTypeAck : frame::kTypeNak;
      frame::WriteU16(f + frame::kChecksumOffset, 0);
      p->length = 6;
      TransmitFrame(p, endpoint, false, true);
      if (!good) {
        ReleasePacket(p);
        return;
      }
      if (endpoint == frame::kFilteredEndpoint) {
        const int sequence = frame::ReadU16(f + frame::kSequenceOffset);
        if (sequence == lastSequenceFromEndpoint8_) {
          ReleasePacket(p);
          return;
        }
        lastSequenceFromEndpoint8_ = sequence;
      }
      DeliverFrame(p, covered);
      return;
    }
    case 1:
      HandleAcknowledgement(p);
      ReleasePacket(p);
      return;
    default:
      ReleasePacket(p);
      return;
  }
}

void ProtocolEngine::HandleAcknowledgement(Packet* ack) {
  const std::uint8_t* f = ack->frame.data();
  const std::uint16_t sequence = frame::ReadU16(f + frame::kSequenceOffset);
  Slot& slot = window_[head_];
  if (sequence != currentSequence_ || !slot.packet) return;
  switch (f[frame::kTypeOffset] & 0x0F) {
    case frame::kTypeAck & 0x0F: {
      Packet* done = slot.packet;
      if (ackObserver_ && after_) {
        const std::uint8_t* d = done->frame.data();
        const std::size_t n = frame::ReadU16(d + frame::kPayloadLengthOffset);
        after_->acked = true;
        after_->ackedClass = d[frame::kClassOffset];
        after_->ackedCommand = d[frame::kCommandOffset];
        after_->ackedPayload.assign(d + frame::kPayloadOffset, d + frame::kPayloadOffset + n);
        after_->ackObserver = ackObserver_;
      }
      slot = Slot{};
      ReleasePacket(done);
      inFlight_ = false;
      head_ = (head_ + 1) % kWindowSlots;
      StartNextFrame();
      return;
    }
    case frame::kTypeNak & 0x0F:
      // Bounded like a missing ACK: a board that refuses every frame must
      // not keep the link busy for ever.
      RetransmitOrFail();
      return;
    default:
      return;
  }
}

void ProtocolEngine::DeliverFrame(Packet* p, std::size_t bodySize) {
  // A body too short for its own header carries no command: nothing to read.
  if (bodySize < frame::kBodyHeaderSize) {
    ReleasePacket(p);
    return;
  }
  const std::uint8_t* f = p->frame.data();
  if (!IsKnownCommand(f[frame::kClassOffset], f[frame::kCommandOffset])) {
    ReportUnknownCommand();
    ReleasePacket(p);
    return;
  }
  DispatchReply(p, bodySize);
  ReleasePacket(p);
}

bool ProtocolEngine::IsKnownCommand(std::uint8_t cls, std::uint8_t cmd) {
  if (cls == lastAcceptedClass_ && cmd == lastAcceptedCommand_) return true;
  for (const auto& pair : kAcceptedCommands) {
    if (pair.cls == cls && pair.cmd == cmd) {
      lastAcceptedClass_ = cls;
      lastAcceptedCommand_ = cmd;
      return true;
    }
  }
  return false;
}

void ProtocolEngine::ReportUnknownCommand() { TellLinkState(kLinkEventIdError); }

void ProtocolEngine::DispatchReply(Packet* p, std::size_t bodySize) {
  const std::uint8_t* f = p->frame.data();
  const std::uint8_t cls = f[frame::kClassOffset];
  const std::uint8_t cmd = f[frame::kCommandOffset];
  const std::uint16_t payloadLengthField = frame::ReadU16(f + frame::kPayloadLengthOffset);
  // The payload handed on never reaches past the frame, whatever its length
  // field claims.
  const std::size_t present = bodySize - frame::kBodyHeaderSize;
  const std::span<const std::uint8_t> payload(f + frame::kPayloadOffset,
                                              std::min<std::size_t>(payloadLengthField, present));

  if (cls == 1 && cmd == 1) {
    if (g_pProtocol.load()) SendCommandLocked(1, 2, sizeof kHandshakeAnswer, kHandshakeAnswer);
    return;
  }
  if (cls == 1 && cmd == 2) {
    if ((payloadLengthField & 0xFF) != sizeof kHandshakeAnswer || payload.size() < sizeof kHandshakeAnswer)
      return;
    const bool match = std::equal(payload.begin(), payload.begin() + 4, std::begin(kHandshakeAnswer));
    TellLinkState(match ? kLinkDeviceFound : kLinkProtocolNotMatch);
    return;
  }
  if (cls == 1 && cmd == 8) {
    TellLinkState(kLinkEventIdError);
    return;
  }
  if (cls == 255) return;
  // Copied out: the record goes back to the pool before the sink is called.
  if (replySink_ && after_) {
    after_->reply = true;
    after_->replyClass = cls;
    after_->replyCommand = cmd;
    after_->replyLengthField = payloadLengthField;
    after_->replyPayload.assign(payload.begin(), payload.end());
  }
}

ProtocolEngine::Stats ProtocolEngine::GetStats() const {
  std::lock_guard lock(mutex_);
  Stats s;
  s.outgoingInUse = inUse_[kPacketOutgoing];
  s.incomingInUse = inUse_[kPacketIncoming];
  for (const Packet* p = freeList_; p; p = p->next) ++s.freeRecords;
  s.inFlight = inFlight_;
  for (const auto& slot : window_) s.windowCount += slot.packet ? 1 : 0;
  s.currentSequence = currentSequence_;
  s.nextSequence = nextSequence_;
  s.queuedReports = reports_.size();
  s.reassembling = remaining_ != 0;
  s.retransmissions = totalRetransmissions_;
  s.linkFailures = linkFailures_;
  return s;
}
