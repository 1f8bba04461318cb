// The framed, acknowledged packet link to the board's bridge firmware.
//
// Outgoing commands are framed (magic, address, length, sequence, CRC-16),
// queued in a 64-slot send window with exactly one frame in flight, and cut
// into 64-byte reports paced 1 ms apart. Incoming reports are reassembled into
// frames, acknowledged, filtered and handed to a reply sink (the command
// set's notifications, for the process's engine). All packet memory is a
// fixed pool of 128 records: at most 64 of each kind, so neither direction
// can starve the other.
//
// The frame in flight waits for its ACK for a bounded time (Poll gives the
// engine its clock: the reader thread calls it between reads); a missing ACK
// or a NAK has the same bytes sent again a bounded number of times. When they
// are used up the board is not answering: everything waiting is dropped and
// the link is reported failed, for its owner to reset and reconnect.
//
// One lock guards the engine's state, and only its state: an entry point
// decides under it what goes on the wire and whom to tell, and writes and
// tells after letting go of it. So a USB write, the 1 ms pause after a frame
// or a reply sink never holds up the other thread's entry points. Frames go
// out through one wire queue, written by one thread at a time (whichever
// finds no other writing; the writer drains the queue before it returns), so
// the pieces of two frames never interleave. ACKs and NAKs queue ahead of
// every data frame. The reader thread runs the whole receive side; it hands a
// received answer on before it writes the answer's ACK, so the one waiting
// for the answer does not wait for the ACK's report and pause too. A thread
// that queued a data frame while another writes waits its turn and writes it
// itself, so that the reader, done with its ACK, goes back to reading the
// board's answer instead of pacing our frame out.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "link/FrameFormat.h"
#include "link/ReplySink.h"

// What the engine needs from the transport manager.
class EngineHost {
 public:
  virtual ~EngineHost() = default;
  virtual int WriteReport(const std::uint8_t* data, int length) = 0;  // one piece of <= 64 bytes
  virtual void SetLinkState(int code) = 0;
  virtual void PostLinkState() = 0;
};

enum PacketKind : std::uint32_t { kPacketFree = 0, kPacketOutgoing = 1, kPacketIncoming = 2 };

struct Packet {
  Packet* next = nullptr;
  std::array<std::uint8_t, frame::kMaxFrameSize> frame{};
  std::uint16_t length = 0;  // working byte count; its meaning changes with the stage
  std::uint16_t useCount = 0;
  std::uint32_t kind = kPacketFree;
};

class ProtocolEngine {
 public:
  using Clock = std::chrono::steady_clock;

  static constexpr std::size_t kPoolSize = 128;
  static constexpr int kKindLimit = 64;
  static constexpr std::size_t kWindowSlots = 64;

  // How long the frame in flight waits for its ACK, counted from its last
  // report. The link moves one 64-byte report per 1 ms USB poll each way, so
  // a 12-byte ACK takes a poll or two; but the board may have queued a frame
  // of its own ahead of it, and its largest (5800 bytes, 91 reports) takes
  // 91 ms, and it may finish the command's I2C transfer first (249 bytes at
  // 400 kHz: about 6 ms). 200 ms is twice that worst case, so only a lost
  // frame or ACK runs into it.
  static constexpr std::chrono::milliseconds kAckTimeout{200};
  // Sends of one frame after its first, for missing ACKs and NAKs together.
  // Five sends in all: a board that answers at all gets one through; one
  // that does not is reported within about a second, well before the
  // senders' 5 s reply timer would call it frozen.
  static constexpr int kMaxRetransmissions = 4;

  ProtocolEngine();
  ProtocolEngine(const ProtocolEngine&) = delete;
  ProtocolEngine& operator=(const ProtocolEngine&) = delete;

  // The process-wide engine: the one board of the window and of a one-board
  // corvelctl. Its replies go to the command set's notifications for the
  // process's windows. Another board gets an engine of its own.
  static ProtocolEngine& Instance();

  void SetHost(EngineHost* host);
  void ClearHost(EngineHost* host);  // only if it is still the host
  // Where accepted replies go; null drops them (after acknowledging them).
  void SetReplySink(ReplySink* sink);

  int SendCommand(std::uint8_t cls, std::uint8_t cmd, std::uint16_t length,
                  const std::uint8_t* payload);
  int SendHandshake();
  void ResetLink();

  void QueueReport(const std::uint8_t* report);  // 64 bytes
  int ProcessReport();

  // The engine's clock: retransmits the frame in flight once its ACK is
  // overdue, or reports the link failed when its sends are used up. Called
  // regularly by the reader thread while the board's firmware is open.
  void Poll(Clock::time_point now);
  // A link slower than USB full speed (or a test's instant board) may wait
  // longer (or less) for each ACK.
  void SetAckTimeout(std::chrono::milliseconds timeout);

  struct Stats {
    int outgoingInUse = 0;
    int incomingInUse = 0;
    int freeRecords = 0;
    bool inFlight = false;
    std::size_t windowCount = 0;  // frames in flight or queued
    std::uint16_t currentSequence = 0;
    std::uint16_t nextSequence = 0;
    std::size_t queuedReports = 0;
    bool reassembling = false;
    std::uint64_t retransmissions = 0;  // since the engine was made
    std::uint64_t linkFailures = 0;
  };
  Stats GetStats() const;

  static std::uint8_t EndpointForClass(std::uint8_t cls);

  // ---- test seam -------------------------------------------------------------
  // Told of every frame of ours the board acknowledged, so that a test can
  // hold the board's record of what it carried out against it. Runs on the
  // reader thread, outside the engine's lock, before the next frame goes out.
  // Nothing in the program uses it.
  using AckObserver = std::function<void(std::uint8_t cls, std::uint8_t cmd,
                                         std::span<const std::uint8_t> payload)>;
  void SetAckObserverForTest(AckObserver observer);

 private:
  struct Slot {
    Packet* packet = nullptr;
    std::uint8_t endpoint = 0;
  };

  // What an entry point found to do once the lock is let go: whom to tell,
  // and whether this thread writes the wire queue out.
  struct Aftermath {
    EngineHost* host = nullptr;
    std::vector<int> linkStates;  // each set and posted, in order
    bool reply = false;
    std::uint8_t replyClass = 0;
    std::uint8_t replyCommand = 0;
    std::uint16_t replyLengthField = 0;
    std::vector<std::uint8_t> replyPayload;
    ReplySink* sink = nullptr;
    bool acked = false;  // for the test seam
    std::uint8_t ackedClass = 0;
    std::uint8_t ackedCommand = 0;
    std::vector<std::uint8_t> ackedPayload;
    std::shared_ptr<const AckObserver> ackObserver;
    bool queuedData = false;  // a data frame of ours went into the wire queue
    bool write = false;       // this thread writes the wire queue out
    bool waitTurn = false;    // ... once the thread writing now is done
    bool claimLater = false;  // the wire is claimed after telling
    bool Empty() const { return linkStates.empty() && !reply && !acked && !write && !waitTurn; }
  };
  // A frame on its way to the wire, copied out of its record: the record may
  // be reset or reused while the frame is written.
  struct WireFrame {
    std::vector<std::uint8_t> bytes;
    bool control = false;  // an ACK or NAK: ahead of every data frame
    bool inFlight = false;  // the frame in flight: its ACK wait starts when it is out
    std::uint16_t sequence = 0;
    std::uint64_t epoch = 0;
  };

  // Called with the lock held at the end of an entry point: takes the
  // writer's role if the wire has work and nobody else writes, and counts
  // this thread as working outside the lock.
  void LeaveLocked(Aftermath& after);
  void ClaimWire(Aftermath& after);
  // Called after the lock was let go: tells, then writes.
  void Finish(Aftermath& after);
  void WriteOut(bool waitTurn);
  void WaitUntilNobodyOutside(std::unique_lock<std::mutex>& lock);

  Packet* AllocPacket(std::uint32_t kind);
  void ReleasePacket(Packet* packet);
  int SendCommandLocked(std::uint8_t cls, std::uint8_t cmd, std::uint16_t length,
                        const std::uint8_t* payload);
  void EnqueueFrame(Packet* packet, std::uint8_t endpoint);
  void StartNextFrame();
  void TransmitInFlight(bool resend);
  void RetransmitOrFail();
  void FailLink();
  void TransmitFrame(Packet* packet, std::uint8_t endpoint, bool resend, bool control);
  static void WriteFrameReports(EngineHost* host, const std::uint8_t* data, std::size_t size);
  void AcceptFrame(const std::uint8_t* data, std::size_t size);
  void HandleFrame(Packet* packet, std::uint8_t endpoint);
  void HandleAcknowledgement(Packet* packet);
  void DeliverFrame(Packet* packet, std::size_t bodySize);
  bool IsKnownCommand(std::uint8_t cls, std::uint8_t cmd);
  void DispatchReply(Packet* packet, std::size_t bodySize);
  void ReportUnknownCommand();
  void TellLinkState(int code);
  int ProcessReportLocked();
  void ClearReassembly();
  std::uint16_t Checksum(const std::uint8_t* data, std::size_t length) const;

  mutable std::mutex mutex_;
  EngineHost* host_ = nullptr;
  ReplySink* replySink_ = nullptr;
  std::shared_ptr<const AckObserver> ackObserver_;
  // Threads writing or telling outside the lock, with the host and sink they
  // took under it: a new host or sink waits for them, so the old one may go.
  int outside_ = 0;
  std::condition_variable nobodyOutside_;
  // Set while an entry point under the lock collects what to tell.
  Aftermath* after_ = nullptr;

  std::deque<WireFrame> wire_;
  std::size_t wireControl_ = 0;  // ACKs and NAKs at the front of wire_
  bool writing_ = false;          // a thread is writing wire_ out
  int turnWaiters_ = 0;           // threads waiting to write their data frame
  std::condition_variable turn_;
  std::uint64_t epoch_ = 0;       // bumped when the window is emptied
  bool ackWaitStarted_ = false;   // the frame in flight is out: its deadline runs

  std::array<Packet, kPoolSize> pool_{};
  Packet* freeList_ = nullptr;  // empty until the first ResetLink
  std::array<int, 3> inUse_{};  // by kind

  std::array<Slot, kWindowSlots> window_{};
  std::size_t head_ = 0;
  std::size_t tail_ = 0;
  bool inFlight_ = false;
  std::uint16_t currentSequence_ = 0;
  std::uint16_t nextSequence_ = 0;
  std::chrono::milliseconds ackTimeout_ = kAckTimeout;
  Clock::time_point ackDeadline_{};
  int retransmissions_ = 0;  // of the frame in flight
  std::uint64_t totalRetransmissions_ = 0;
  std::uint64_t linkFailures_ = 0;

  std::deque<std::array<std::uint8_t, frame::kReportSize>> reports_;

  // Reassembly counts are wider than the 16-bit length field they come from,
  // so a field near 0xFFFF cannot wrap the frame size.
  std::uint32_t frameTotal_ = 0;
  std::uint32_t remaining_ = 0;
  std::uint32_t nextChunk_ = 0;
  std::uint32_t chunksLeft_ = 0;
  std::vector<std::uint8_t> assembly_;

  std::uint8_t lastAcceptedClass_ = 255;
  std::uint8_t lastAcceptedCommand_ = 0;
  int lastSequenceFromEndpoint8_ = -1;
};

// The engine's entry points as free functions on the process-wide instance.
int SendCommand(std::uint8_t cls, std::uint8_t cmd, std::uint16_t length, const std::uint8_t* payload);
