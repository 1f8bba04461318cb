#include "link/QVCommunication.h"

#include "link/LinkHost.h"
#include "platform/Messages.h"
#include "platform/Sleep.h"

std::atomic<QVCommunication*> g_pCommunication{nullptr};

void PostBootStatus(std::uintptr_t code, std::intptr_t value) {
  platform::PostMessage(corvel::GetBootDialogHandle(), platform::kMsgBootStatus, code,
                        std::make_shared<const platform::ValuePayload>(value));
}

QVCommunication::QVCommunication(std::unique_ptr<HidBackend> backend, ProtocolEngine& engine)
    : m_backend(std::move(backend)), m_engine(engine) {}

QVCommunication::~QVCommunication() {
  if (m_hid) {
    m_hid->StopThreads();  // no report may reach us while we go
    m_hid->Close();
  }
  m_linkState.store(kLinkDeviceNotFound);
  m_engine.ClearHost(this);
  m_hid.reset();
}

void QVCommunication::Init() {
  if (!m_hid) m_hid = std::make_unique<CMUSBHid>(*this, *m_backend);
  m_engine.SetHost(this);
  m_hid->StartThreads();
}

int QVCommunication::Connect() {
  if (m_hid && m_hid->Open() && m_hid->IsConnected()) {
    m_engine.ResetLink();
    const std::uint64_t link = ++m_linkGeneration;
    if (m_firmwareUpdate.load()) {
      m_engine.SendHandshake();
      return 1;
    }
    auto handshake = [this, link] {
      // Unplugged, closed or opened anew while the board settled: the
      // handshake belonged to a link that is gone.
      if (link != m_linkGeneration.load() || !m_hid || !m_hid->IsConnected()) return;
      m_engine.SendHandshake();
    };
    if (m_pause) {
      m_pause(kConnectSettleMs, std::move(handshake));
    } else {
      platform::SleepMs(kConnectSettleMs);
      handshake();
    }
    return 1;
  }
  SetLinkState(kLinkDeviceNotFound);
  PostLinkState();
  return 0;
}

void QVCommunication::Disconnect() {
  ++m_linkGeneration;
  if (m_hid) m_hid->Close();
  SetLinkState(kLinkDeviceNotFound);
}

int QVCommunication::Reconnect() {
  Disconnect();
  return Connect();
}

void QVCommunication::RegisterForDeviceNotifications(platform::Handle window) {
  if (m_hid) m_hid->RegisterForDeviceNotifications(window);
}

void QVCommunication::OnDeviceChange(std::uint32_t event, std::uintptr_t) {
  switch (event) {
    case platform::DBT_DEVICEARRIVAL:
      if (m_hid && !m_hid->IsConnected()) Connect();
      return;
    case platform::DBT_DEVICEREMOVECOMPLETE: {
      if (!m_hid) return;
      // The system and our own reader both report a removal; the second finds
      // the link already down and has nothing left to say.
      if (!m_hid->IsConnected() && m_linkState.load() == kLinkDeviceNotFound) return;
      // Some other device left, and ours is still there and working. The
      // check has no side effects: a board that has restarted into its other
      // firmware must not change the mode before the old link is taken down.
      if (m_hid->IsConnected() && !m_hid->DeviceLost() && m_hid->OpenDeviceStillPresent()) return;
      const bool wasBootloader = m_hid->IsConnected() ? m_hid->DeviceIsBootloader() : m_bootMode.load() == 1;
      Disconnect();
      PostLinkState();
      if (FirmwareUpdatePossible() && wasBootloader) PostBoot(kBootStatusDeviceRemoved);
      // A restart can bring the board back before its removal is handled:
      // its arrival was then ignored while the old link still looked alive,
      // so link the board that is there now.
      if (m_hid->AcceptedDevicePresent()) Connect();
      return;
    }
    default:
      return;
  }
}

std::vector<HidDeviceInfo> QVCommunication::ListBoards() {
  return m_backend ? m_backend->Enumerate(kBoardVendorId, kBoardProductId) : std::vector<HidDeviceInfo>{};
}

void QVCommunication::SetPauseScheduler(PauseScheduler scheduler) { m_pause = std::move(scheduler); }

void QVCommunication::SetLinkState(int code) { m_linkState.store(code); }

void QVCommunication::SetNotifyTargets(platform::Handle main, platform::Handle boot) {
  m_mainTarget.store(main);
  m_bootTarget.store(boot);
}

void QVCommunication::PostBoot(std::uintptr_t code) {
  const platform::Handle boot = m_bootTarget.load();
  if (boot == platform::kNoHandle) {
    PostBootStatus(code, 0);
    return;
  }
  platform::PostMessage(boot, platform::kMsgBootStatus, code, std::make_shared<const platform::ValuePayload>(0));
}

void QVCommunication::OnBootloaderFound() { PostBoot(kBootStatusBootloaderFound); }

void QVCommunication::PostLinkState() {
  const platform::Handle own = m_mainTarget.load();
  platform::PostMessage(own != platform::kNoHandle ? own : corvel::GetMainDialogHandle(), platform::kMsgLinkState,
                        static_cast<std::uintptr_t>(m_linkState.load()));
}

void QVCommunication::OnReport(const std::uint8_t* data, int length, bool fromBootloader) {
  if (!data || length < static_cast<int>(frame::kReportSize)) return;
  // Routed by where the report came from: across a restart the mode flag
  // changes before the last reports of the old device have been handled, and
  // the bootloader's last answer must not end up in the packet engine (nor a
  // frame of the firmware in the transfer context).
  if (fromBootloader) {
    std::lock_guard lock(m_sinkMutex);
    if (m_bootContext) m_bootContext->OnBootReply(data);
    return;
  }
  m_engine.QueueReport(data);
  m_engine.ProcessReport();
}

void QVCommunication::OnReaderTick(bool fromBootloader) {
  // The bootloader does not speak frames: while it is open, whatever the
  // engine still holds waits for the reconnect to the firmware, which resets
  // it, instead of failing a link that is busy with an update.
  if (!fromBootloader) m_engine.Poll(ProtocolEngine::Clock::now());
}

int QVCommunication::WriteReport(const std::uint8_t* data, int length) {
  return m_hid ? m_hid->WriteReport(data, length, CMUSBHid::WriteTarget::kFirmware) : 0;
}

int QVCommunication::WriteBootRecord(const std::uint8_t* record, int length) {
  return m_hid ? m_hid->WriteReport(record, length, CMUSBHid::WriteTarget::kBootloader) : 0;
}

void QVCommunication::SetBootTransferContext(BootReplySink* context) {
  std::lock_guard lock(m_sinkMutex);
  m_bootContext = context;
}

bool QVCommunication::FirmwareUpdatePossible() const {
  std::lock_guard lock(m_sinkMutex);
  return m_bootContext != nullptr;
}
