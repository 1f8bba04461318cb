#include "link/MUSBHid.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "link/LinkHost.h"
#include "platform/Messages.h"
#include "platform/Threads.h"

namespace {

// Reads wake up this often to notice Close and shutdown, and to give the
// engine its clock: while reports move, an overdue ACK is noticed within this
// much of its deadline (a tenth of the engine's ACK timeout).
constexpr int kReadPollMs = 20;
// A quiet link wakes the reader this seldom (a report coming in wakes it at
// once): an idle program should not wake the machine 50 times a second. A
// frame written meanwhile has its ACK deadline 200 ms out, so the reader is
// back to the short ticks well before it.
constexpr int kIdleReadPollMs = 100;
// A device whose wait a write can end sleeps longer still: the write wakes
// the reader, so an ACK deadline is watched from the moment the frame went.
// Not in the bootloader, whose transfer keeps its own timeouts on the ticks.
constexpr int kSleepingReadPollMs = 1000;
constexpr auto kBusyWindow = std::chrono::milliseconds(250);

struct AcceptedDevice {
  std::uint16_t vendorId;
  std::uint16_t productId;
  std::uint16_t releaseNumber;
};
constexpr AcceptedDevice kAcceptedDevices[] = {
    {kBoardVendorId, kBoardProductId, kReleaseApplication},
    {kBoardVendorId, kBoardProductId, kReleaseBootloader},
};

// Set on the thread that calls the tap, for the tap's call.
thread_local bool t_tapBootloader = false;

}  // namespace

bool CMUSBHid::TappedReportIsBootloader() { return t_tapBootloader; }

CMUSBHid::CMUSBHid(TransportHost& manager, HidBackend& backend)
    : m_manager(manager), m_backend(backend) {
  std::memset(m_writeReport, 0xFF, sizeof m_writeReport);
}

CMUSBHid::~CMUSBHid() {
  StopThreads();
  Close();
}

void CMUSBHid::StartThreads() {
  std::lock_guard lock(m_readMutex);
  if (m_readerThread.joinable()) return;
  m_stop = false;
  m_readerThread = std::thread([this] { ReaderLoop(); });
}

void CMUSBHid::StopThreads() {
  {
    std::lock_guard lock(m_readMutex);
    m_stop = true;
  }
  m_readEvent.notify_all();
  WakeReader();
  if (m_readerThread.joinable() && m_readerThread.get_id() != std::this_thread::get_id())
    m_readerThread.join();
}

void CMUSBHid::RegisterForDeviceNotifications(platform::Handle window) { m_notifyWindow.store(window); }

void CMUSBHid::SetReportTap(ReportTap tap) {
  std::lock_guard lock(m_hookMutex);
  m_reportTap = tap ? std::make_shared<const ReportTap>(std::move(tap)) : nullptr;
}

void CMUSBHid::SetDeviceChoice(DeviceChoice choice) {
  std::lock_guard lock(m_ioMutex);
  m_choice = std::move(choice);
}

DeviceChoice CMUSBHid::Choice() const {
  std::lock_guard lock(m_ioMutex);
  return m_choice;
}

std::string CMUSBHid::LastError() const {
  std::lock_guard lock(m_ioMutex);
  return m_lastError;
}

std::string CMUSBHid::DevicePath() const {
  std::lock_guard lock(m_ioMutex);
  return m_devicePath;
}

std::string CMUSBHid::OpenDevicePath() const {
  std::lock_guard lock(m_ioMutex);
  return m_device ? m_openPath : std::string();
}

std::string CMUSBHid::OpenDeviceSerial() const {
  std::lock_guard lock(m_ioMutex);
  return m_device ? m_openSerial : std::string();
}

int CMUSBHid::Open() {
  if (IsConnected()) Close();
  return Enumerate(true);
}

int CMUSBHid::IsPresent() { return Enumerate(false); }

int CMUSBHid::Enumerate(bool open) {
  const auto devices = m_backend.Enumerate(kBoardVendorId, kBoardProductId);
  const DeviceChoice choice = Choice();
  for (const auto& d : devices) {
    if (!choice.Matches(d)) continue;
    {
      std::lock_guard lock(m_ioMutex);
      m_devicePath = d.path;
    }
    bool accepted = false;
    for (const auto& entry : kAcceptedDevices) {
      char line[64];
      std::snprintf(line, sizeof line, "VID: %x PID: %x ver-num: %x\n", d.vendorId, d.productId,
                    d.releaseNumber);
      corvel::TraceLine(line);
      if (d.vendorId != entry.vendorId || d.productId != entry.productId) continue;
      if (d.releaseNumber == kReleaseApplication) {
        m_manager.SetBootMode(0);
        accepted = true;
        break;
      }
      if (d.releaseNumber == kReleaseBootloader && m_manager.FirmwareUpdatePossible()) {
        m_manager.OnBootloaderFound();
        m_manager.SetBootMode(1);
        accepted = true;
        break;
      }
    }
    if (!accepted) continue;
    if (!open) return 1;

    std::string error;
    auto device = m_backend.Open(d.path, error);
    {
      std::lock_guard lock(m_ioMutex);
      // A board we may not open is not connected: the caller reports the
      // reason (m_lastError), and the next arrival tries again.
      m_device = std::move(device);
      m_deviceIsBootloader = d.releaseNumber == kReleaseBootloader;
      m_openPath = d.path;
      m_openSerial = d.serialNumber;
      m_openRelease = d.releaseNumber;
      m_lastError = m_device ? std::string() : error;
      m_connected.store(m_device ? 1 : 0);
      m_deviceLost.store(false);
    }
    if (!IsConnected()) return 0;
    {
      std::lock_guard lock(m_readMutex);
      ++m_openCount;
    }
    m_readEvent.notify_all();
    return 1;
  }
  if (open) {
    std::lock_guard lock(m_ioMutex);
    m_lastError = m_backend.WhyNotFound();
    if (m_lastError.empty() && !choice.serial.empty())
      m_lastError = "No lamp board with serial number " + choice.serial + " is attached.";
  }
  return 0;
}

bool CMUSBHid::OpenDeviceStillPresent() {
  std::string path;
  std::uint16_t release;
  {
    std::lock_guard lock(m_ioMutex);
    if (!m_device) return false;
    path = m_openPath;
    release = m_openRelease;
  }
  for (const auto& d : m_backend.Enumerate(kBoardVendorId, kBoardProductId))
    if (d.path == path && d.releaseNumber == release) return true;
  return false;
}

bool CMUSBHid::AcceptedDevicePresent() {
  const DeviceChoice choice = Choice();
  for (const auto& d : m_backend.Enumerate(kBoardVendorId, kBoardProductId)) {
    if (!choice.Matches(d)) continue;
    if (d.releaseNumber == kReleaseApplication) return true;
    if (d.releaseNumber == kReleaseBootloader && m_manager.FirmwareUpdatePossible()) return true;
  }
  return false;
}

bool CMUSBHid::DeviceIsBootloader() const {
  std::lock_guard lock(m_ioMutex);
  return m_device && m_deviceIsBootloader;
}

void CMUSBHid::Close() {
  std::shared_ptr<HidDevice> closing;
  {
    std::lock_guard lock(m_ioMutex);
    closing = std::move(m_device);
    m_connected.store(0);
    std::memset(m_writeReport, 0xFF, sizeof m_writeReport);
  }
  {
    std::lock_guard lock(m_readMutex);
    ++m_openCount;  // a reader in the middle of a read lets go of the device
  }
  m_readEvent.notify_all();
  WakeReader();
  // `closing` may still be shared with the reader; the device is closed when
  // the last user lets go, never under a read in progress.
}

int CMUSBHid::WriteReport(const std::uint8_t* data, int length, WriteTarget target) {
  if (!data || length < 0 || length > static_cast<int>(kHidReportSize - 1)) return 0;
  std::shared_ptr<const ReportTap> tap;
  int result = 0;
  {
    std::lock_guard lock(m_ioMutex);
    if (!m_connected.load() || !m_device) return 0;
    // Frames never reach the bootloader (a piece of one that happened to
    // start with 0xE1 would erase the flash), and bootloader records never
    // reach the firmware.
    if ((target == WriteTarget::kFirmware && m_deviceIsBootloader) ||
        (target == WriteTarget::kBootloader && !m_deviceIsBootloader))
      return 0;
    std::memset(m_writeReport, 0xFF, sizeof m_writeReport);
    m_writeReport[0] = 0;
    std::memcpy(m_writeReport + 1, data, static_cast<std::size_t>(length));
    {
      std::lock_guard hookLock(m_hookMutex);
      tap = m_reportTap;
    }
    // Seen before it leaves, so a trace never shows an answer ahead of its
    // question.
    if (tap) {
      t_tapBootloader = m_deviceIsBootloader;
      (*tap)(true, m_writeReport, kHidReportSize);
    }
    NoteActivity();
    result = m_device->Write(m_writeReport, kHidReportSize) >= 0 ? 1 : 0;
    if (m_readerSleeping.load()) m_device->Wake();
    if (!result) m_deviceLost.store(true);
  }
  return result;
}

void CMUSBHid::WakeReader() {
  std::lock_guard lock(m_readMutex);
  if (m_reading) m_reading->Wake();
}

void CMUSBHid::NoteActivity() {
  m_lastActivity.store(std::chrono::steady_clock::now().time_since_epoch().count());
}

void CMUSBHid::ReaderLoop() {
  // Ctrl-C belongs to the thread that waits for the user; a signal taking a
  // read here would look like a board that has gone.
  platform::BlockAsyncSignalsInThisThread();
  std::uint8_t report[kHidReportSize];
  std::uint64_t seenOpen = 0;
  for (;;) {
    std::shared_ptr<HidDevice> device;
    bool fromBootloader = false;
    {
      std::unique_lock lock(m_readMutex);
      m_readEvent.wait(lock, [&] {
        if (m_stop) return true;
        if (m_openCount != seenOpen) return true;
        return false;
      });
      if (m_stop) return;
      seenOpen = m_openCount;
    }
    {
      std::lock_guard lock(m_ioMutex);
      if (m_connected.load()) {
        device = m_device;
        fromBootloader = m_deviceIsBootloader;
      }
    }
    if (!device) continue;  // wait for the next open
    {
      std::lock_guard lock(m_readMutex);
      m_reading = device;
    }

    // Read until the device is closed, replaced or gone.
    for (;;) {
      {
        std::lock_guard lock(m_readMutex);
        if (m_stop || m_openCount != seenOpen) break;
      }
      const auto recentlyBusy = [this] {
        return std::chrono::steady_clock::now().time_since_epoch() -
                   std::chrono::steady_clock::duration(m_lastActivity.load()) <
               kBusyWindow;
      };
      bool busy = recentlyBusy();
      bool sleeping = !busy && !fromBootloader && device->CanWake();
      // Announce the long wait first, then look at the clock again: a write
      // either sees the announcement and wakes us (Wake stays pending until
      // the next Read), or its activity is seen here.
      m_readerSleeping.store(sleeping);
      if (sleeping && recentlyBusy()) {
        busy = true;
        sleeping = false;
        m_readerSleeping.store(false);
      }
      const int n = device->Read(report, sizeof report,
                                 busy ? kReadPollMs : (sleeping ? kSleepingReadPollMs : kIdleReadPollMs));
      m_readerSleeping.store(false);
      if (n > 0) NoteActivity();
      if (n == 0) {
        m_manager.OnReaderTick(fromBootloader);
        continue;
      }
      if (n < 0) {
        // The board is gone: handle it as a removal, not as a quiet read
        // error, so the link is torn down and the user told.
        bool current;
        {
          std::lock_guard lock(m_ioMutex);
          current = m_device == device;
          if (current) m_deviceLost.store(true);
        }
        if (current) platform::PostMessage(m_notifyWindow.load(), platform::WM_DEVICECHANGE,
                                           platform::DBT_DEVICEREMOVECOMPLETE);
        break;
      }
      // A report read just before the device was closed is still handed on:
      // it is often the board's last answer before a restart (the reply to
      // the boot value, the bootloader's answer to the end record).
      std::shared_ptr<const ReportTap> tap;
      {
        std::lock_guard hookLock(m_hookMutex);
        tap = m_reportTap;
      }
      if (tap) {
        t_tapBootloader = fromBootloader;
        (*tap)(false, report, static_cast<std::size_t>(n));
      }
      if (n == static_cast<int>(kHidReportSize) && report[0] == 0)
        m_manager.OnReport(report + 1, static_cast<int>(kHidReportSize - 1), fromBootloader);
      // Also while reports keep coming: a board that chatters (interrupt
      // reports) must not hide an ACK that never came.
      m_manager.OnReaderTick(fromBootloader);
    }
    {
      std::lock_guard lock(m_readMutex);
      m_reading.reset();
    }
    device.reset();
    // After a failed read wait for the next open; after a close or reopen
    // the counter has moved and the outer wait returns at once.
  }
}
