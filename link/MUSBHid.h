// The USB HID transport: finds the lamp board (in its application firmware or
// its bootloader), opens it, writes 64-byte reports and hands every 64-byte
// input report to its host (the transport manager) from a reader thread of
// its own. It
// knows nothing of frames; it moves reports.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "link/HidBackend.h"
#include "link/TransportHost.h"
#include "platform/MessageTarget.h"

inline constexpr std::uint16_t kBoardVendorId = 0x0483;
inline constexpr std::uint16_t kBoardProductId = 0x5750;
inline constexpr std::uint16_t kReleaseApplication = 0x1000;
inline constexpr std::uint16_t kReleaseBootloader = 0x0100;

class CMUSBHid {
 public:
  CMUSBHid(TransportHost& manager, HidBackend& backend);
  ~CMUSBHid();  // closes the device and joins the reader thread
  CMUSBHid(const CMUSBHid&) = delete;
  CMUSBHid& operator=(const CMUSBHid&) = delete;

  void StartThreads();
  void StopThreads();

  int Open();
  int IsPresent();
  int IsConnected() const { return m_connected.load(); }
  // The open device failed a read or write: it is gone, even if a board with
  // the same ids is already back (a restart between firmware and bootloader).
  bool DeviceLost() const { return m_deviceLost.load(); }
  void Close();
  // Which device a write is meant for; a write for the other is refused.
  enum class WriteTarget { kAny, kFirmware, kBootloader };
  int WriteReport(const std::uint8_t* data, int length, WriteTarget target = WriteTarget::kAny);

  // Without the side effects of IsPresent: is the device we opened (same
  // path, same release) still attached; is any board we could open attached.
  bool OpenDeviceStillPresent();
  bool AcceptedDevicePresent();
  bool DeviceIsBootloader() const;

  // The window that hears of arrivals and removals. A read that finds the
  // device gone is reported to it as a removal, like the system would.
  void RegisterForDeviceNotifications(platform::Handle window);

  // Which board this transport opens when several are attached; the
  // enumeration passes over the others as if they were not there. Takes
  // effect at the next Open.
  void SetDeviceChoice(DeviceChoice choice);
  DeviceChoice Choice() const;

  std::string LastError() const;
  std::string DevicePath() const;
  // The device open now (path and the serial number it reported), empty
  // while none is.
  std::string OpenDevicePath() const;
  std::string OpenDeviceSerial() const;

  // Sees every report in (`out` false) and out, report id first, on the
  // thread that moves it.
  using ReportTap = std::function<void(bool out, const std::uint8_t* report, std::size_t length)>;
  void SetReportTap(ReportTap tap);
  // Inside a tap: whether the report it sees went to or came from the
  // bootloader. Decided by the device it moved on, not by the manager's
  // mode, which the enumeration may flip while the bootloader's last answer
  // is still on its way.
  static bool TappedReportIsBootloader();

 private:
  int Enumerate(bool open);
  void ReaderLoop();
  void NoteActivity();
  void WakeReader();

  TransportHost& m_manager;
  HidBackend& m_backend;

  // Open, close and every write run under this lock. Reads run beside them;
  // a backend whose HID stack cannot take that serialises inside its device.
  mutable std::mutex m_ioMutex;
  std::shared_ptr<HidDevice> m_device;
  // Whether m_device is the bootloader. Reports are routed by the device they
  // were read from, not by the manager's mode, which the UI thread may flip
  // while a report of the previous device is still on its way.
  bool m_deviceIsBootloader = false;
  DeviceChoice m_choice;  // under m_ioMutex
  std::string m_openPath;
  std::string m_openSerial;
  std::uint16_t m_openRelease = 0;
  std::atomic<int> m_connected{0};
  std::atomic<bool> m_deviceLost{false};
  // When a report last went out or came in (steady clock ticks): the reader
  // waits longer while the link is quiet.
  std::atomic<std::chrono::steady_clock::rep> m_lastActivity{0};
  std::string m_devicePath;
  std::string m_lastError;
  std::uint8_t m_writeReport[kHidReportSize];

  std::mutex m_readMutex;
  std::condition_variable m_readEvent;
  std::uint64_t m_openCount = 0;  // bumped on every open, wakes the reader
  bool m_stop = false;
  std::thread m_readerThread;
  std::shared_ptr<HidDevice> m_reading;  // the device the reader reads, for Wake
  std::atomic<bool> m_readerSleeping{false};

  std::atomic<platform::Handle> m_notifyWindow{platform::kNoHandle};
  std::mutex m_hookMutex;
  std::shared_ptr<const ReportTap> m_reportTap;
};
