// The transport manager: owns the HID transport, runs the connect sequence
// (engine reset, settle pause, handshake), keeps the link-state code and
// posts it to the main window, reacts to arrival and removal, and routes every
// input report either to the protocol engine or, while the board runs its
// bootloader, to the firmware transfer context.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "link/HidBackend.h"
#include "link/LinkState.h"
#include "link/MUSBHid.h"
#include "link/ProtocolEngine.h"
#include "link/TransportHost.h"
#include "platform/MessageTarget.h"

// Settle pause between opening the board and the handshake.
inline constexpr std::uint32_t kConnectSettleMs = 1200;

// Status codes posted to the firmware-update window (wParam of kMsgBootStatus)
// by the link itself.
inline constexpr std::uintptr_t kBootStatusDeviceRemoved = 11;
inline constexpr std::uintptr_t kBootStatusBootloaderFound = 12;
// Posts to the firmware-update window if it exists; otherwise nothing.
void PostBootStatus(std::uintptr_t code, std::intptr_t value);

// What receives the bootloader's raw 64-byte records: the firmware transfer
// context. Called on the HID reader thread.
class BootReplySink {
 public:
  virtual ~BootReplySink() = default;
  virtual void OnBootReply(const std::uint8_t* record) = 0;  // 64 bytes
};

class QVCommunication final : public EngineHost, public TransportHost {
 public:
  explicit QVCommunication(std::unique_ptr<HidBackend> backend,
                           ProtocolEngine& engine = ProtocolEngine::Instance());
  ~QVCommunication() override;
  QVCommunication(const QVCommunication&) = delete;
  QVCommunication& operator=(const QVCommunication&) = delete;

  void Init();
  // Opens the board and, after the settle pause, sends the handshake. Returns
  // 1 when a board was opened: the handshake may still be waiting for its
  // pause then.
  int Connect();
  void Disconnect();
  int Reconnect();
  void RegisterForDeviceNotifications(platform::Handle window);
  void OnDeviceChange(std::uint32_t event, std::uintptr_t data);

  void SetLinkState(int code) override;
  void PostLinkState() override;
  int LinkState() const { return m_linkState.load(); }
  const char* GetLinkStateText() const { return LinkStateText(m_linkState.load()); }

  // TransportHost. `fromBootloader`: the report was read from the
  // bootloader device.
  void OnReport(const std::uint8_t* data, int length, bool fromBootloader) override;
  // The reader thread, between reads of an open device: the engine's clock.
  void OnReaderTick(bool fromBootloader) override;
  void OnBootloaderFound() override;
  // The engine's frame pieces; refused while the bootloader is open.
  int WriteReport(const std::uint8_t* data, int length) override;
  // The transfer context's raw records; refused unless the bootloader is open.
  int WriteBootRecord(const std::uint8_t* record, int length);

  void SetBootMode(int flag) override { m_bootMode.store(flag); }
  int BootMode() const { return m_bootMode.load(); }
  void SetFirmwareUpdate(int flag) { m_firmwareUpdate.store(flag); }
  int FirmwareUpdate() const { return m_firmwareUpdate.load(); }

  // The firmware transfer context, while one exists (null otherwise).
  // Bootloader devices are accepted only while there is one.
  void SetBootTransferContext(BootReplySink* context);
  bool FirmwareUpdatePossible() const override;

  // Where this link's notices go: link states to `main`, the bootloader's
  // comings and goings to `boot`. kNoHandle (the default): the process's
  // main and update windows, looked up at each notice. A link of its own
  // (one board of several) names its own.
  void SetNotifyTargets(platform::Handle main, platform::Handle boot);

  // How a pause is waited out: runs `then` once `ms` have passed. The default
  // sleeps on the calling thread and then runs it (corvelctl has nothing else
  // to do meanwhile); a window installs one that waits on its event loop so
  // that it keeps painting. An empty scheduler restores the default.
  using PauseScheduler = std::function<void(std::uint32_t ms, std::function<void()> then)>;
  void SetPauseScheduler(PauseScheduler scheduler);

  // Every attached board (of any choice), without opening anything.
  std::vector<HidDeviceInfo> ListBoards();

  CMUSBHid* Hid() { return m_hid.get(); }
  ProtocolEngine& Engine() { return m_engine; }

 private:
  std::unique_ptr<HidBackend> m_backend;
  ProtocolEngine& m_engine;
  std::unique_ptr<CMUSBHid> m_hid;
  std::atomic<int> m_firmwareUpdate{0};
  std::atomic<int> m_linkState{0};
  std::atomic<int> m_bootMode{0};
  PauseScheduler m_pause;
  // Counts opened and closed links, so that a handshake still waiting for its
  // settle pause can tell that its link has gone (or been opened again).
  std::atomic<std::uint64_t> m_linkGeneration{0};

  std::atomic<platform::Handle> m_mainTarget{platform::kNoHandle};
  std::atomic<platform::Handle> m_bootTarget{platform::kNoHandle};
  void PostBoot(std::uintptr_t code);

  mutable std::mutex m_sinkMutex;  // held while a boot record is handed over
  BootReplySink* m_bootContext = nullptr;
};

// Null while the transport manager does not exist.
extern std::atomic<QVCommunication*> g_pCommunication;
