#include "firmware/BootTransfer.h"

#include "platform/Threads.h"

#include <algorithm>
#include <cstdio>
#include <system_error>

#include "firmware/ImageFile.h"
#include "platform/MessageBox.h"
#include "platform/Messages.h"

namespace {

// Progress is (blocks confirmed × this) ÷ N: 32 bytes a block, in percent.
constexpr std::uint64_t kProgressScale = boot::kBlockSize * 100;

}  // namespace

const char* BootStatusText(std::uintptr_t status) {
  switch (status) {
    case kBootStatusTimeout: return "Timeout, Please plug the USB device to reset!";
    case kBootStatusStarted: return "Begin update firmware...";
    case kBootStatusErased: return "Flash pages erase succeed! Downloading firmware...";
    case kBootStatusEraseFailed: return "Flash pages erase failed! Please plug the USB device to reset!";
    case kBootStatusUpdateError: return "Update error! The board stays in its bootloader, ready for another try.";
    case kBootStatusDone: return "Update ended and execute new firmware!";
    case kBootStatusStopped: return "Update stop! The board stays in its bootloader, ready for another try.";
    default: return nullptr;
  }
}

std::chrono::milliseconds ExpectedEraseTime(std::uint32_t imageLength) {
  const std::uint64_t sectors = (std::uint64_t{imageLength} + kEraseSectorSize - 1) / kEraseSectorSize;
  return kEraseTimePerSector * static_cast<std::int64_t>(std::max<std::uint64_t>(sectors, 1));
}

std::string EraseProgressText(std::chrono::milliseconds elapsed, std::uint32_t imageLength) {
  const auto seconds = [](std::chrono::milliseconds t) {
    return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(t).count());
  };
  return "Erasing flash pages... " + seconds(std::max(elapsed, std::chrono::milliseconds(0))) + " s of about " +
         seconds(ExpectedEraseTime(imageLength)) + " s";
}

bool IsFinalBootStatus(std::uintptr_t status) {
  return status == kBootStatusTimeout || status == kBootStatusEraseFailed ||
         status == kBootStatusUpdateError || status == kBootStatusDone || status == kBootStatusStopped;
}

std::string BootVersionText(std::intptr_t statusValue) {
  const auto v = static_cast<std::uint32_t>(statusValue);
  char text[32];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", (v >> 24) & 0xFFu, (v >> 16) & 0xFFu, (v >> 8) & 0xFFu,
                v & 0xFFu);
  return text;
}

BootTransferContext::BootTransferContext(RecordWriter writer, Timing timing)
    : m_writer(std::move(writer)), m_timing(timing) {
  if (!m_writer) {
    m_writer = [](const Record& record) {
      QVCommunication* comm = g_pCommunication.load();
      return comm && comm->WriteBootRecord(record.data(), static_cast<int>(record.size())) == 1;
    };
  }
}

void BootTransferContext::PostStatus(std::uintptr_t code, std::intptr_t value) {
  const platform::Handle target = m_statusTarget.load();
  if (target == platform::kNoHandle) {
    PostBootStatus(code, value);
    return;
  }
  platform::PostMessage(target, platform::kMsgBootStatus, code, std::make_shared<const platform::ValuePayload>(value));
}

BootTransferContext::~BootTransferContext() {
  {
    std::lock_guard lock(m_replyMutex);
    m_quit = true;
  }
  m_hReplyEvent.notify_all();
  Join();
}

BootTransferContext::RecordWriter BootTransferContext::WriterFor(QVCommunication& comm) {
  return [&comm](const Record& record) {
    return comm.WriteBootRecord(record.data(), static_cast<int>(record.size())) == 1;
  };
}

void BootTransferContext::OnBootReply(const std::uint8_t* record) {
  if (!record) return;
  std::uint8_t opcode;
  std::uint32_t version = 0;
  {
    std::lock_guard lock(m_replyMutex);
    std::copy_n(record, boot::kRecordSize, m_reply.begin());
    opcode = m_reply[boot::kOpcodeOffset];
    for (std::size_t i = 0; i < boot::kVersionParts; ++i)
      version = version << 8 | m_reply[boot::kVersionOffset + i];
    if (opcode == boot::kOpErase || opcode == boot::kOpBlockEcho || opcode == boot::kOpCheck ||
        opcode == boot::kOpEnd) {
      m_replySignalled = true;
      m_hReplyEvent.notify_all();
    }
  }
  if (opcode == boot::kOpConnect) PostStatus(kBootStatusConnected, static_cast<std::intptr_t>(version));
  // Anything else (0xE2 included) is kept as the last reply and nothing more.
}

bool BootTransferContext::Send() { return m_writer(m_request); }

bool BootTransferContext::SendIdle(std::uint8_t opcode) {
  std::lock_guard threadLock(m_threadMutex);
  if (m_running.load()) return false;  // the worker owns the request buffer now
  std::lock_guard lock(m_requestMutex);
  m_request[boot::kOpcodeOffset] = opcode;
  return Send();
}

bool BootTransferContext::SendConnectRecord() { return SendIdle(boot::kOpConnect); }

bool BootTransferContext::SendEndRecord() { return SendIdle(boot::kOpEnd); }

BootTransferContext::Answer BootTransferContext::SendAndWait(std::chrono::milliseconds limit, Record& reply) {
  // The bootloader restarts as soon as it has answered the end record, so
  // its removal may be reported before that answer has been handed over:
  // for the end record only the answer or the time ends the wait.
  const bool ending = m_request[boot::kOpcodeOffset] == boot::kOpEnd;
  const auto gone = [&] { return m_deviceGone && !ending; };
  // Nothing is written while the flash is erased: a stop may end that wait
  // (the erase may take half a minute).
  const bool erasing = m_request[boot::kOpcodeOffset] == boot::kOpErase;
  const auto stopped = [&] { return erasing && m_bStop.load(); };
  {
    // An answer can only be to this request: forget any signal left by a
    // stray or repeated record since the last wait.
    std::lock_guard lock(m_replyMutex);
    if (m_quit) return Answer::kQuit;
    if (stopped()) return Answer::kStopped;
    if (gone()) return Answer::kNone;
    m_replySignalled = false;
  }
  // A record that cannot be sent gets no answer: the board is gone, and
  // waiting out the full time (30 s for the erase) would tell nobody more.
  if (!Send()) return Answer::kNone;
  std::unique_lock lock(m_replyMutex);
  const auto ended = [&] { return m_replySignalled || m_quit || gone() || stopped(); };
  if (m_waitsEndAtOnce ? !ended() : !m_hReplyEvent.wait_for(lock, limit, ended)) return Answer::kNone;
  if (m_quit) return Answer::kQuit;
  if (!m_replySignalled) return stopped() ? Answer::kStopped : Answer::kNone;
  m_replySignalled = false;  // auto-reset
  reply = m_reply;
  return Answer::kReceived;
}

std::shared_ptr<const std::vector<std::uint8_t>> BootTransferContext::PrepareTransfer(
    std::span<const std::uint8_t> image, std::uint32_t imageLength, std::uint32_t checkWord) {
  if (m_running.load()) return nullptr;
  if (imageLength == 0 || imageLength > kImageMaxDataLength || imageLength > image.size()) return nullptr;
  if (m_worker.joinable()) m_worker.join();  // ended already; only its thread object is left

  // Blocks are cut from the loaded file unchanged: the last one carries what
  // follows the data (the trailer), then 0xFF where the file ended.
  const std::size_t blocks = (imageLength + boot::kBlockSize - 1) / boot::kBlockSize;
  auto copy = std::make_shared<std::vector<std::uint8_t>>(blocks * boot::kBlockSize, kImageFill);
  std::copy_n(image.begin(), std::min(copy->size(), image.size()), copy->begin());

  m_nImageLength.store(imageLength);
  m_nCheckWord.store(checkWord);
  m_bStop.store(false);
  {
    std::lock_guard lock(m_replyMutex);
    m_replySignalled = false;
    m_deviceGone = false;
  }
  m_running.store(true);
  return copy;
}

bool BootTransferContext::RunTransfer(std::span<const std::uint8_t> image, std::uint32_t imageLength,
                                      std::uint32_t checkWord) {
  std::lock_guard threadLock(m_threadMutex);
  const auto copy = PrepareTransfer(image, imageLength, checkWord);
  if (!copy) return false;
  m_waitsEndAtOnce = true;
  BootTransferThread(copy, imageLength, checkWord);
  m_waitsEndAtOnce = false;
  return true;
}

bool BootTransferContext::StartTransfer(std::span<const std::uint8_t> image, std::uint32_t imageLength,
                                        std::uint32_t checkWord) {
  std::lock_guard threadLock(m_threadMutex);
  const auto copy = PrepareTransfer(image, imageLength, checkWord);
  if (!copy) return false;
  try {
    m_worker = std::thread([this, copy, imageLength, checkWord] {
      platform::BlockAsyncSignalsInThisThread();  // Ctrl-C is the user's thread's to see
      BootTransferThread(copy, imageLength, checkWord);
    });
  } catch (const std::system_error&) {
    m_running.store(false);
    platform::MessageBox("Update firmware thread create failed!");
    return false;
  }
  return true;
}

void BootTransferContext::RequestStop() {
  {
    std::lock_guard lock(m_replyMutex);  // so that a wait cannot miss it
    m_bStop.store(true);
  }
  m_hReplyEvent.notify_all();
}

void BootTransferContext::OnDeviceRemoved() {
  {  // cleared by the next StartTransfer, which talks to the board that is there then
    std::lock_guard lock(m_replyMutex);
    m_deviceGone = true;
  }
  m_hReplyEvent.notify_all();
}

void BootTransferContext::Join() {
  std::lock_guard threadLock(m_threadMutex);
  if (m_worker.joinable()) m_worker.join();
}

BootTransferContext::Record BootTransferContext::LastReply() const {
  std::lock_guard lock(m_replyMutex);
  return m_reply;
}

void BootTransferContext::BootTransferThread(std::shared_ptr<const std::vector<std::uint8_t>> image,
                                             std::uint32_t length, std::uint32_t checkWord) {
  struct Finished {
    std::atomic<bool>& running;
    ~Finished() { running.store(false); }
  } finished{m_running};

  // Only the worker touches the request while it runs; the lock makes that
  // plain to the UI-thread senders, which refuse meanwhile.
  std::unique_lock request(m_requestMutex);
  Record reply{};
  const auto answered = [&](std::chrono::milliseconds limit) {
    switch (SendAndWait(limit, reply)) {
      case Answer::kReceived: return true;
      case Answer::kNone: PostStatus(kBootStatusTimeout, 0); return false;
      case Answer::kStopped: PostStatus(kBootStatusStopped, 0); return false;
      case Answer::kQuit: return false;  // the context is going; nobody is listening
    }
    return false;
  };
  const auto setHeader = [&](std::uint8_t opcode, std::uint32_t number) {
    m_request[boot::kOpcodeOffset] = opcode;
    std::fill(m_request.begin() + boot::kZeroFirst, m_request.begin() + boot::kZeroEnd, 0);
    boot::PutU32(m_request.data() + boot::kNumberOffset, number);
  };

  PostStatus(kBootStatusStarted, 0);

  setHeader(boot::kOpErase, length);
  if (!answered(m_timing.eraseWait)) return;
  // Only the erase answer may say the flash is erased: blocks written over
  // pages that were not would be lost.
  if (reply[boot::kOpcodeOffset] != boot::kOpErase || reply[boot::kResultOffset] != boot::kResultDone) {
    PostStatus(kBootStatusEraseFailed, 0);
    return;
  }
  PostStatus(kBootStatusErased, 0);

  std::uint32_t offset = 0;
  std::uint64_t confirmed = 0;
  for (; offset < length; offset += boot::kBlockSize) {
    setHeader(boot::kOpBlock, offset);
    std::fill(m_request.begin() + boot::kBlockDataOffset, m_request.end(), boot::kBlockFill);
    std::copy_n(image->begin() + offset, boot::kBlockSize, m_request.begin() + boot::kBlockDataOffset);
    if (!answered(m_timing.replyWait)) return;

    const bool echoed = reply[boot::kOpcodeOffset] == boot::kOpBlockEcho &&
                        std::equal(reply.begin() + boot::kEchoFirst, reply.begin() + boot::kEchoEnd,
                                   m_request.begin() + boot::kEchoFirst);
    if (!echoed) {
      // The end record would ask the bootloader to run a firmware that is
      // only partly written: the board stays in its bootloader instead,
      // where the update can be tried again.
      PostStatus(kBootStatusUpdateError, 0);
      return;
    }
    ++confirmed;
    PostStatus(kBootStatusProgress, static_cast<std::intptr_t>(confirmed * kProgressScale / length));

    if (m_bStop.load()) {
      PostStatus(kBootStatusStopped, 0);  // and no end record, as above
      return;
    }
  }

  if (checkWord != 0) {
    setHeader(boot::kOpCheck, offset);  // bytes written: whole blocks
    boot::PutU32(m_request.data() + boot::kCheckWordOffset, checkWord);
    const auto accepted = [&] {
      return reply[boot::kOpcodeOffset] == boot::kOpCheck && reply[boot::kResultOffset] == boot::kResultDone;
    };
    if (!answered(m_timing.replyWait)) return;
    if (!accepted()) {
      // One more try with the same record; only a second refusal is an error.
      if (!answered(m_timing.replyWait)) return;
      if (!accepted()) {
        PostStatus(kBootStatusUpdateError, 0);
        return;
      }
    }
  }

  m_request[boot::kOpcodeOffset] = boot::kOpEnd;
  if (!answered(m_timing.replyWait)) return;
  PostStatus(kBootStatusDone, 0);
}
