// A lamp board in memory: the bridge firmware's side of the framed link, a
// model of the LED-driver chip's registers, and the bootloader with a flash
// model. It sits behind the same report interface as a real board: the host
// writes 64-byte output reports and reads 64-byte input reports.
//
// It shares only the CRC-16 with the host side of the link; framing is done by
// its own encoder and decoder, so that a framing fault on one side shows up
// against the other in the end-to-end tests.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <random>
#include <span>
#include <string>
#include <memory>
#include <vector>

#include "sim/SimPins.h"

namespace sim {

inline constexpr std::size_t kReportSize = 64;
using Report = std::array<std::uint8_t, kReportSize>;

inline constexpr std::uint16_t kVendorId = 0x0483;
inline constexpr std::uint16_t kProductId = 0x5750;
inline constexpr std::uint16_t kReleaseApplication = 0x1000;
inline constexpr std::uint16_t kReleaseBootloader = 0x0100;

// Flash of the bridge microcontroller as the bootloader sees it.
inline constexpr std::size_t kFlashSize = 0x1E0000;

// The serial number of board i (from 0) of a simulated bench: QVSIM0001, ...
std::string BenchSerialNumber(std::size_t index);

struct SimConfig {
  std::uint8_t boardId = 1;  // 0, 1, 3, 5 or 128 on real boards; anything is accepted
  std::array<std::string, 3> versionStrings{"QV-BRIDGE", "2026-11-02", "V1.3.0"};
  std::array<std::uint8_t, 4> bootVersion{1, 2, 0, 7};
  std::uint32_t seed = 1;
  // The chip's own I2C address, as its address pins set it: it acknowledges
  // no other, so a transfer the bridge makes to another address fails.
  std::uint8_t chipAddress = 0x5B;
  // A restart the firmware schedules (after an accepted boot value, or the
  // bootloader's end record) is carried out by a thread of the board once
  // the host has collected the reply. Without that thread the restart waits
  // for RunScheduledRestart: one thread driving the board (a fuzzer) then
  // decides when it happens, every run goes the same way, and making a
  // board starts no thread.
  bool restartThread = true;
  // The clock the firmware's own timing reads (the gap after which a
  // partial frame is given up, an erase's end, a restart's grace); empty
  // for the real one. A fuzzer moves its own, so that how long the machine
  // took to get to the next report changes nothing. (The restart thread and
  // HostRead's waits stay on real time: a board with its own clock is
  // driven from one thread, without restartThread.)
  std::function<std::chrono::steady_clock::time_point()> clock;
  // The USB serial number it enumerates with (also as its bootloader), so
  // that one of several boards can be told from the others.
  std::string serialNumber = "QVSIM0001";
};

// Fault knobs. Shares are in parts per million of frames (or reports, for the
// bootloader), drawn from the board's seeded generator. Each direction is
// counted on its own.
struct SimFaults {
  std::uint32_t dropToHostPpm = 0;      // board -> host frames silently lost
  std::uint32_t dropFromHostPpm = 0;    // host -> board frames lost before decoding
  std::uint32_t corruptToHostPpm = 0;   // one byte of a board -> host frame flipped
  std::uint32_t corruptFromHostPpm = 0; // one byte of a host -> board frame flipped
  std::uint32_t nakFromHostPpm = 0;     // good host frames answered with NAK anyway
  bool silent = false;                  // no answer to anything
  bool wrongHandshake = false;          // (1,2) answered with 5A 5A 00 02
  bool refuseBootValue = false;         // (48,1) answered with (48,3)
  bool refuseErase = false;             // bootloader 0xE1 answered with byte 1 = 0
  bool wrongBlockEcho = false;          // bootloader 0xE3 echo with one byte changed
  bool failRegisterRead = false;        // (16,1) answered with (16,48)
  bool refuseAddress = false;           // (64,10) answered with (64,12)
  // The board's answers (class, command) to lose, as a lossy link loses one
  // after the command itself was acknowledged; `count` of them, then none.
  struct LostAnswers {
    std::uint8_t cls = 0;
    std::uint8_t cmd = 0;
    int count = 0;
  } loseAnswers;
  // Each report, in and out, waits this long: the USB poll of its endpoint.
  std::chrono::microseconds reportLatency{0};
  // Erasing the whole flash takes this long; an erase takes its sectors'
  // share, and the bootloader answers nothing until it is done.
  std::chrono::milliseconds eraseTime{0};
};

// One data frame the board accepted from the host (after its checksum passed
// and its duplicate filter let it through), in arrival order.
struct DeliveredCommand {
  std::uint8_t cls = 0;
  std::uint8_t cmd = 0;
  std::uint16_t sequence = 0;
  std::vector<std::uint8_t> payload;
};

class SimBoard {
 public:
  explicit SimBoard(SimConfig config = {});
  ~SimBoard();
  SimBoard(const SimBoard&) = delete;
  SimBoard& operator=(const SimBoard&) = delete;

  // ---- the USB side ------------------------------------------------------
  bool IsPlugged() const;
  std::uint16_t ReleaseNumber() const;  // kReleaseApplication or kReleaseBootloader
  const std::string& SerialNumber() const;
  // Unplug and plug raise the device-change events (0x8004 removal, 0x8000
  // arrival) through the listener; so does a restart between application
  // firmware and bootloader (removal then arrival).
  void Plug();
  void Unplug();
  using DeviceEventListener = std::function<void(std::uint32_t event)>;
  void SetDeviceEventListener(DeviceEventListener listener);

  // Host -> board: the 64 data bytes of one output report. Returns false when
  // the board is unplugged. Any thread; the board does its work on the
  // calling thread and queues its answers for HostRead.
  bool HostWrite(std::span<const std::uint8_t, kReportSize> report);
  // Each plug-in and each restart starts a new connection. A handle opened on
  // an earlier one is dead, as the device node of a re-plugged board is: these
  // overloads fail (false / -1) once `connection` is no longer current.
  std::uint64_t Connection() const;
  bool HostWrite(std::span<const std::uint8_t, kReportSize> report, std::uint64_t connection);
  int HostRead(Report& out, std::chrono::milliseconds timeout, std::uint64_t connection);
  // Board -> host: the next input report. Returns 1 with a report, 0 on
  // timeout, -1 when the board is unplugged (a pending read is woken by
  // Unplug). Honours the per-report latency.
  int HostRead(Report& out, std::chrono::milliseconds timeout);
  // Ends a HostRead in progress (or the next one) at once; it returns 0, or
  // a report that is there. Any thread: the reader may then wait long while
  // nothing happens, as it does on a hidraw node it can wake.
  void WakeHostRead();

  // ---- the chip ----------------------------------------------------------
  // The input ports 0x00/0x01 read the pins' levels (sim/SimPins.h).
  std::uint8_t Register(std::uint8_t reg) const;
  // Sets a register as it is; for 0x00/0x01, what is outside that port's
  // pins, without an interrupt report.
  void SetRegister(std::uint8_t reg, std::uint8_t value);
  // The address the bridge was told with (64,10); 0x5B at start. Register
  // transfers reach the chip only when this, the transfer's own address and
  // the chip's (SimConfig::chipAddress) agree.
  std::uint8_t ChipAddress() const;

  // ---- the chip's pins ---------------------------------------------------
  // What is outside the sixteen GPIO pins (bit 8 * port + n is pin Pport_n,
  // set = high; all high until driven otherwise). When the change reaches a
  // GPIO input whose interrupt is enabled, the board sends the interrupt
  // report (32, 37) with byte 0 = 1, as the chip's interrupt line makes it.
  void DrivePins(std::uint16_t levels);
  void DrivePin(int pin, bool high);
  PinSnapshot Pins() const;

  // ---- unasked reports ---------------------------------------------------
  void RaiseInterrupt(std::uint8_t value = 1);  // (32,37), payload byte 0 = value
  // Sends a data frame from the board on the given receiving endpoint (low
  // nibble of the address byte), e.g. 8 for the duplicate-filtered one.
  void SendFrame(std::uint8_t endpoint, std::uint8_t cls, std::uint8_t cmd,
                 std::span<const std::uint8_t> payload, std::uint16_t sequence);
  // Queues raw input reports as they are, for framing tests.
  void SendRawReport(const Report& report);

  // ---- bootloader and flash ----------------------------------------------
  // Restart into the bootloader (as after an accepted boot value) or back into
  // the application firmware (as after the bootloader's end record).
  void RestartIntoBootloader();
  void RestartIntoApplication();
  // Carries out a scheduled restart now (see SimConfig::restartThread);
  // false when none is scheduled.
  bool RunScheduledRestart();
  std::vector<std::uint8_t> Flash(std::size_t offset, std::size_t length) const;
  std::uint32_t ErasedLength() const;  // N announced by the last erase record

  // ---- observation and faults ---------------------------------------------
  SimFaults Faults() const;
  void SetFaults(const SimFaults& faults);
  std::vector<DeliveredCommand> Delivered() const;
  void ClearDelivered();
  struct Counters {
    std::uint64_t framesFromHost = 0;   // complete frames decoded
    std::uint64_t badChecksums = 0;     // answered with NAK
    std::uint64_t duplicates = 0;       // retransmits acknowledged but not delivered
    std::uint64_t spoiledNumbers = 0;   // frames whose number was neither the last nor the next
    std::uint64_t acksFromHost = 0;
    std::uint64_t naksFromHost = 0;     // each one makes the board resend
    std::uint64_t framesToHost = 0;
  };
  Counters GetCounters() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace sim
