// The raw exchange with the lamp board's bootloader: the transfer context
// that receives its answers (on the HID reader thread) and the worker that
// erases, writes the image block by block, checks and ends the update.
//
// The worker reports only by posting kMsgBootStatus (wParam = status, lParam
// = value) to the firmware-update window through PostBootStatus; it never
// touches a window. Status codes and their texts are below.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "firmware/BootRecord.h"
#include "link/QVCommunication.h"

// Status codes of kMsgBootStatus. 11 (device removed) and 12 (bootloader
// found) come from the link (QVCommunication.h), 9 from CheckImageFile.
inline constexpr std::uintptr_t kBootStatusConnected = 0;     // value: boot version, see BootVersionText
inline constexpr std::uintptr_t kBootStatusTimeout = 1;
inline constexpr std::uintptr_t kBootStatusStarted = 2;
inline constexpr std::uintptr_t kBootStatusErased = 3;
inline constexpr std::uintptr_t kBootStatusEraseFailed = 4;
inline constexpr std::uintptr_t kBootStatusProgress = 5;      // value: (blocks confirmed × 3200) ÷ N
inline constexpr std::uintptr_t kBootStatusUpdateError = 6;
inline constexpr std::uintptr_t kBootStatusDone = 7;
inline constexpr std::uintptr_t kBootStatusStopped = 10;

// The message-line text of a worker status, or null for one that has none.
const char* BootStatusText(std::uintptr_t status);
// True for the statuses after which the worker has ended: 1, 4, 6, 7, 10.
bool IsFinalBootStatus(std::uintptr_t status);

// The connect status carries the boot version a.b.c.d packed as
// (a << 24 | b << 16 | c << 8 | d), so the window need not read a reply
// record that the next answer may already have replaced. "a.b.c.d".
std::string BootVersionText(std::intptr_t statusValue);

inline constexpr std::chrono::milliseconds kBootEraseWait{30000};
// The bridge's flash erases in 128 KiB sectors of about a second each, and
// the bootloader says nothing until it is done: what the user is told to
// expect while it erases.
inline constexpr std::uint32_t kEraseSectorSize = 0x20000;
inline constexpr std::chrono::milliseconds kEraseTimePerSector{1000};
std::chrono::milliseconds ExpectedEraseTime(std::uint32_t imageLength);
// "Erasing flash pages... 3 s of about 8 s"
std::string EraseProgressText(std::chrono::milliseconds elapsed, std::uint32_t imageLength);
inline constexpr std::chrono::milliseconds kBootReplyWait{1000};

// The connect record goes again when its answer has not come within this
// (a bootloader that has just enumerated may miss the first), this many
// times in all before the connection counts as failed.
inline constexpr std::chrono::milliseconds kBootConnectRetry{1000};
inline constexpr int kBootConnectAttempts = 3;
inline constexpr const char* kTextBootloaderSilent =
    "No answer from the bootloader! Please plug the USB device to reset!";

// How long the worker waits for each answer. Tests shorten them.
struct BootTransferTiming {
  std::chrono::milliseconds eraseWait = kBootEraseWait;
  std::chrono::milliseconds replyWait = kBootReplyWait;
};

class BootTransferContext final : public BootReplySink {
 public:
  using Record = boot::Record;
  // Hands one record to the board; false when it could not be sent (the
  // board is gone or the link is closed).
  using RecordWriter = std::function<bool(const Record&)>;

  using Timing = BootTransferTiming;

  // Without a writer, records go through the transport manager that
  // g_pCommunication names at the moment of sending.
  explicit BootTransferContext(RecordWriter writer = {}, Timing timing = {});
  // Ends a running worker at its current wait, quietly, and joins it.
  ~BootTransferContext() override;
  BootTransferContext(const BootTransferContext&) = delete;
  BootTransferContext& operator=(const BootTransferContext&) = delete;

  // A writer bound to one transport manager, which must outlive the context.
  static RecordWriter WriterFor(QVCommunication& comm);

  // Where the statuses go: kNoHandle (the default) is the process's update
  // window, looked up at each status; the update of one board of several
  // names its own. Set before a transfer starts.
  void SetStatusTarget(platform::Handle target) { m_statusTarget.store(target); }

  // HID reader thread: one 64-byte record from the bootloader.
  void OnBootReply(const std::uint8_t* record) override;

  // Connect record (0xE0). Its answer arrives as status 0. Refused (false)
  // while a transfer runs, as is SendEndRecord.
  bool SendConnectRecord();
  // End record (0xE5) without waiting: what the window's OK sends while the
  // bootloader is connected.
  bool SendEndRecord();

  // Starts the worker on the first `imageLength` bytes of `image`. The bytes
  // the worker sends (whole blocks, so the last one also carries what follows
  // N in `image`, then 0xFF) are copied first: the caller may reload or free
  // its buffer as soon as this returns. Refused (false) when a worker is
  // still running, when N is 0, larger than an image can hold or larger than
  // `image`; a thread that cannot be created shows a message box.
  bool StartTransfer(std::span<const std::uint8_t> image, std::uint32_t imageLength,
                     std::uint32_t checkWord);
  // The same transfer, carried out on the calling thread before this
  // returns, for a writer that gives each answer (or none) before it
  // returns itself, as a scripted bootloader in a test or fuzzer does.
  // Nobody can answer while the caller is in here, so a wait that finds no
  // answer is over at once, as if its time had passed: a silent step costs
  // nothing, and no thread is made.
  bool RunTransfer(std::span<const std::uint8_t> image, std::uint32_t imageLength, std::uint32_t checkWord);
  // The worker stops after the block it is waiting for is confirmed, or at
  // once while it waits for the erase (nothing has been written then). It
  // never asks the bootloader to run the part it wrote.
  void RequestStop();
  // The board has gone (status 11): no answer can come, so a worker waiting
  // for one ends at once with status 1 instead of waiting out its time. The
  // wait for the end record's answer is the exception: the bootloader
  // restarts right after giving it, so its removal is expected then.
  void OnDeviceRemoved();
  bool IsRunning() const { return m_running.load(); }
  // Waits for the worker to end on its own (each wait is bounded).
  void Join();

  // The last record received.
  Record LastReply() const;
  std::uint32_t ImageLength() const { return m_nImageLength.load(); }
  std::uint32_t CheckWord() const { return m_nCheckWord.load(); }

 private:
  enum class Answer { kReceived, kNone, kStopped, kQuit };

  // The worker's copy of the image (whole blocks), or null when the request
  // is refused; m_threadMutex held.
  std::shared_ptr<const std::vector<std::uint8_t>> PrepareTransfer(std::span<const std::uint8_t> image,
                                                                   std::uint32_t imageLength,
                                                                   std::uint32_t checkWord);

  void BootTransferThread(std::shared_ptr<const std::vector<std::uint8_t>> image, std::uint32_t length,
                          std::uint32_t checkWord);
  bool Send();  // m_request, with m_requestMutex held by the caller
  Answer SendAndWait(std::chrono::milliseconds limit, Record& reply);
  bool SendIdle(std::uint8_t opcode);

  void PostStatus(std::uintptr_t code, std::intptr_t value);

  RecordWriter m_writer;
  const Timing m_timing;
  std::atomic<platform::Handle> m_statusTarget{platform::kNoHandle};

  // Written by the reader thread, read by the worker: copied under the lock.
  mutable std::mutex m_replyMutex;
  std::condition_variable m_hReplyEvent;  // auto-reset event: m_replySignalled
  bool m_replySignalled = false;
  bool m_quit = false;        // the context is going: every wait ends at once, quietly
  bool m_deviceGone = false;  // this transfer's board has gone: every wait ends at once
  Record m_reply{};

  // The outgoing record. Every request sets only its own bytes; the rest keep
  // what the previous request left (all zero at first).
  std::mutex m_requestMutex;
  Record m_request{};

  std::atomic<std::uint32_t> m_nCheckWord{0};
  std::atomic<std::uint32_t> m_nImageLength{0};
  std::atomic<bool> m_bStop{false};

  std::mutex m_threadMutex;  // StartTransfer, Join and the destructor
  std::atomic<bool> m_running{false};
  bool m_waitsEndAtOnce = false;  // RunTransfer: only the worker's own thread could answer
  std::thread m_worker;
};
