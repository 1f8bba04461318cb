#include "link/HidapiBackend.h"

#include <hidapi.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>
#include <cstring>
#include <cwchar>

#if defined(__linux__)
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

std::string Narrow(const wchar_t* text) {
  if (!text) return {};
  std::string out;
  for (; *text; ++text) out.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
  return out;
}

// hidapi keeps one error string per device, and on hidraw both hid_write and
// hid_read_timeout free and replace it on every call: a read running beside a
// write could free it twice around an unplug. So the two never run at the
// same time here. Reads poll without blocking instead, often while the board
// is talking and less often while it is quiet, so a write waits at most for
// one non-blocking read.
class HidapiDevice final : public HidDevice {
 public:
  explicit HidapiDevice(hid_device* handle) : handle_(handle) {}
  ~HidapiDevice() override {
    std::lock_guard lock(mutex_);
    hid_close(handle_);
  }

  int Write(const std::uint8_t* data, std::size_t length) override {
    std::lock_guard lock(mutex_);
    lastActivity_ = Clock::now();
    const int n = hid_write(handle_, data, length);
    return n < 0 ? -1 : n;
  }

  int Read(std::uint8_t* buffer, std::size_t length, int timeoutMs) override {
    if (length < 2) return -1;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
      int n;
      {
        std::lock_guard lock(mutex_);
        // Our board uses no numbered reports: hidapi hands over the 64 data
        // bytes alone, so put the report id in front as the wire carries it.
        n = hid_read_timeout(handle_, buffer + 1, length - 1, 0);
        if (n > 0) lastActivity_ = Clock::now();
      }
      if (n < 0) return -1;  // the device is gone (hidraw read fails after unplug)
      if (n > 0) {
        buffer[0] = 0;
        return n + 1;
      }
      const auto now = Clock::now();
      if (now >= deadline) return 0;
      const auto pause = now - lastActivity_ < kBusyWindow ? kBusyPoll : kIdlePoll;
      std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
    }
  }

 private:
  using Clock = std::chrono::steady_clock;
  // USB full speed polls the board every millisecond; match that while a
  // conversation is going on.
  static constexpr auto kBusyWindow = std::chrono::milliseconds(250);
  static constexpr auto kBusyPoll = std::chrono::milliseconds(1);
  static constexpr auto kIdlePoll = std::chrono::milliseconds(5);

  std::mutex mutex_;
  hid_device* handle_;
  Clock::time_point lastActivity_ = Clock::now();
};

#if defined(__linux__)
// The hidraw node itself, for reading and writing. hidapi finds and names
// boards, but its reads cannot run beside its writes (see above) and cannot
// take the last reports a board sent before it went: its read gives up as
// soon as poll reports the hang-up, though the kernel still holds them (the
// answer to the boot value, sent just before the restart into the
// bootloader). On the file descriptor a read blocks in poll until a report
// comes or the timeout ends, while writes go out beside it; what was queued
// before a removal is read first, and only then the removal is reported.
class HidrawDevice final : public HidDevice {
 public:
  explicit HidrawDevice(int fd) : fd_(fd), wake_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
  ~HidrawDevice() override {
    close(fd_);
    if (wake_ >= 0) close(wake_);
  }

  bool CanWake() const override { return wake_ >= 0; }
  void Wake() override {
    const std::uint64_t one = 1;
    if (wake_ >= 0) (void)!write(wake_, &one, sizeof one);
  }

  int Write(const std::uint8_t* data, std::size_t length) override {
    for (;;) {
      const ssize_t n = write(fd_, data, length);
      if (n >= 0) return static_cast<int>(n);
      if (errno != EINTR) return -1;
    }
  }

  int Read(std::uint8_t* buffer, std::size_t length, int timeoutMs) override {
    if (length < 2) return -1;
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_, POLLIN, 0}};
    const int ready = poll(fds, wake_ >= 0 ? 2 : 1, std::max(timeoutMs, 0));
    if (ready < 0) return errno == EINTR ? 0 : -1;
    if (ready == 0) return 0;
    const pollfd& p = fds[0];
    if (wake_ >= 0 && (fds[1].revents & POLLIN)) {
      std::uint64_t count;
      (void)!read(wake_, &count, sizeof count);
      if (!(p.revents & POLLIN)) return 0;
    }
    if (!(p.revents & POLLIN)) return (p.revents & (POLLERR | POLLHUP | POLLNVAL)) ? -1 : 0;
    // Our board numbers no reports: the node hands over the 64 data bytes
    // alone, so put the report id in front as the wire carries it.
    const ssize_t n = read(fd_, buffer + 1, length - 1);
    if (n < 0) return (errno == EAGAIN || errno == EINTR) ? 0 : -1;  // EIO, ENODEV: gone
    if (n == 0) return 0;
    buffer[0] = 0;
    return static_cast<int>(n) + 1;
  }

 private:
  int fd_;
  int wake_;  // eventfd: a write or a close ends the reader's wait
};
#endif

}  // namespace

HidapiBackend::HidapiBackend() : initialised_(hid_init() == 0) {}

HidapiBackend::HidapiBackend(std::string devicePath) : HidapiBackend() { devicePath_ = std::move(devicePath); }

HidapiBackend::~HidapiBackend() {
  if (initialised_) hid_exit();
}

std::vector<HidDeviceInfo> HidapiBackend::Enumerate(std::uint16_t vendorId, std::uint16_t productId) {
  std::vector<HidDeviceInfo> out;
  if (!initialised_) return out;
  hid_device_info* list = hid_enumerate(vendorId, productId);
  for (hid_device_info* d = list; d; d = d->next) {
    if (!d->path) continue;
    out.push_back(HidDeviceInfo{d->path, d->vendor_id, d->product_id, d->release_number, Narrow(d->serial_number)});
  }
  hid_free_enumeration(list);
  if (devicePath_.empty()) return out;

  // One given node. Where the system lists it, its release number (firmware
  // or bootloader) comes from there. A node the system does not list (one
  // udev does not know) says what it runs only through its name: the
  // bootloader's carries "Bootloader"; anything else is taken for the
  // application firmware, and the board's answer to the handshake shows
  // whether it is.
  std::vector<HidDeviceInfo> one;
  for (auto& d : out)
    if (d.path == devicePath_) one.push_back(std::move(d));
  if (one.empty() && DevicePathExists()) {
    const std::string name = DeviceName(devicePath_);
    const std::uint16_t release =
        name.find("Bootloader") != std::string::npos ? kBootloaderRelease : kDefaultRelease;
    one.push_back(HidDeviceInfo{devicePath_, vendorId, productId, release, {}});
  }
  return one;
}

std::string HidapiBackend::DeviceName(const std::string& path) {
#if defined(__linux__)
  const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return {};
  char name[256] = {};
  const int n = ioctl(fd, HIDIOCGRAWNAME(sizeof name - 1), name);
  close(fd);
  if (n <= 0) return {};
  return std::string(name, strnlen(name, sizeof name - 1));
#else
  (void)path;
  return {};
#endif
}

bool HidapiBackend::DevicePathExists() const {
#if defined(__linux__)
  struct stat st {};
  return stat(devicePath_.c_str(), &st) == 0;
#else
  return true;
#endif
}

std::string HidapiBackend::WhyNotFound() {
  if (devicePath_.empty()) return {};
#if defined(__linux__)
  struct stat st {};
  if (stat(devicePath_.c_str(), &st) != 0)
    return "No lamp board at " + devicePath_ + ": " + std::strerror(errno) + ".";
#endif
  return {};
}

std::string HidapiBackend::CheckDevicePath() {
  if (devicePath_.empty()) return {};
  if (std::string missing = WhyNotFound(); !missing.empty()) return missing;
  std::string error;
  if (!Open(devicePath_, error)) return error;
  return {};
}

std::unique_ptr<HidDevice> HidapiBackend::Open(const std::string& path, std::string& error) {
  if (!initialised_) {
    error = "The HID library could not be initialised.";
    return nullptr;
  }
#if defined(__linux__)
  // The node is opened here, not by hidapi (see HidrawDevice). That also
  // keeps hidapi 0.13 away from a path that opens but is no hidraw node: its
  // hid_open_path frees an uninitialised pointer there. A hidraw node answers
  // the question for its report descriptor's size; nothing else does.
  struct stat st {};
  if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    error = "Could not open " + path + ": it is a directory, not a HID device (hidraw node).";
    return nullptr;
  }
  const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
  if (fd >= 0) {
    int descriptorSize = 0;
    if (ioctl(fd, HIDIOCGRDESCSIZE, &descriptorSize) != 0) {
      close(fd);
      error = "Could not open " + path + ": it is not a HID device (hidraw node).";
      return nullptr;
    }
    return std::make_unique<HidrawDevice>(fd);
  }
  const int openErrno = errno;
  if (openErrno == EACCES || openErrno == EPERM) {
    error = "Permission denied opening " + path +
            ". Install the udev rule shipped in resources/udev/" + kUdevRuleName +
            " (copy it to /etc/udev/rules.d/, run 'udevadm control --reload-rules', then re-plug the board).";
    return nullptr;
  }
  error = "Could not open " + path + ": " + std::strerror(openErrno) + ".";
  return nullptr;
#else
  hid_device* handle = hid_open_path(path.c_str());
  if (handle) return std::make_unique<HidapiDevice>(handle);
  error = "Could not open " + path + ": " + Narrow(hid_error(nullptr));
  return nullptr;
#endif
}
