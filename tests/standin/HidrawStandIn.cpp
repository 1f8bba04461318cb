// A hidraw node of the lamp board, served through FUSE with the simulated
// board behind it, so that the hidapi backend opens, reads, writes and loses
// a real file as it would a real board.
//
//   corvel_hidraw_standin MOUNTDIR [--board ID] [--latency MS] [--faults SPEC]
//                         [--bootloader 1] [--lifetime S]
//
// Prints "ready MOUNTDIR/hidraw0" once mounted. Commands on standard input,
// one a line: "unplug", "plug", "unplug-after N" (after N more output
// reports), "reg R" (prints "reg 0xRR 0xVV", the chip's register R),
// "flashsum N" (prints an FNV-1a hash of the first N bytes of flash), "quit". End of input, SIGTERM, SIGINT, SIGHUP and the lifetime
// (default 600 s) all unmount and end it; the mount is made with auto_unmount
// so that even a killed stand-in leaves no mount behind.
//
// What FUSE cannot do as hidraw does: the node is a regular file, not a
// character device; ioctls reach it in FUSE's restricted form only, so
// HIDIOCGRDESC cannot see the size the caller asked for and answers the whole
// descriptor; all openers share one input queue (hidraw gives each its own).
#define FUSE_USE_VERSION 35
#include <fuse.h>
#include <fuse_lowlevel.h>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <iostream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/SimBoard.h"
#include "sim/SimKnobs.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kNodeName = "hidraw0";
constexpr const char* kNodePath = "/hidraw0";
constexpr std::uint32_t kDeviceArrival = 0x8000;
constexpr std::uint32_t kDeviceRemoval = 0x8004;
// How often a blocked read looks whether it was interrupted or the stand-in
// is stopping.
constexpr auto kWaitSlice = 20ms;

// A vendor-defined report descriptor with one 64-byte input and one 64-byte
// output report and no report ids, as the bridge declares.
constexpr std::uint8_t kReportDescriptor[] = {
    0x06, 0x00, 0xFF,  // usage page (vendor defined)
    0x09, 0x01,        // usage 1
    0xA1, 0x01,        // collection (application)
    0x15, 0x00,        //   logical minimum 0
    0x26, 0xFF, 0x00,  //   logical maximum 255
    0x75, 0x08,        //   report size 8
    0x95, 0x40,        //   report count 64
    0x09, 0x01,        //   usage 1
    0x81, 0x02,        //   input (data, variable, absolute)
    0x95, 0x40,        //   report count 64
    0x09, 0x01,        //   usage 1
    0x91, 0x02,        //   output (data, variable, absolute)
    0xC0,              // end collection
};

class StandIn {
 public:
  explicit StandIn(const sim::SimConfig& config) : board_(config) {
    board_.SetDeviceEventListener([this](std::uint32_t event) { OnDeviceEvent(event); });
    std::lock_guard lock(mutex_);
    present_ = board_.IsPlugged();
    connection_ = board_.Connection();
  }

  sim::SimBoard& Board() { return board_; }

  void Start() { pump_ = std::thread([this] { Pump(); }); }
  void Stop() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    if (pump_.joinable()) pump_.join();
    std::lock_guard lock(mutex_);
    for (auto* ph : polls_) fuse_pollhandle_destroy(ph);
    polls_.clear();
  }
  void RequestStop() {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    changed_.notify_all();
  }

  void UnplugAfter(long reports) {
    std::lock_guard lock(mutex_);
    unplugAfter_ = reports;
  }

  // ---- the file system ---------------------------------------------------
  int GetAttr(const char* path, struct stat* st) {
    std::memset(st, 0, sizeof *st);
    if (std::strcmp(path, "/") == 0) {
      st->st_mode = S_IFDIR | 0755;
      st->st_nlink = 2;
      return 0;
    }
    if (std::strcmp(path, kNodePath) != 0) return -ENOENT;
    std::lock_guard lock(mutex_);
    if (!present_) return -ENOENT;
    st->st_mode = S_IFREG | 0600;
    st->st_nlink = 1;
    st->st_uid = getuid();
    st->st_gid = getgid();
    return 0;
  }

  int ReadDir(void* buf, fuse_fill_dir_t fill) {
    fill(buf, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    fill(buf, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    std::lock_guard lock(mutex_);
    if (present_) fill(buf, kNodeName, nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    return 0;
  }

  int Open(const char* path, fuse_file_info* fi) {
    if (std::strcmp(path, kNodePath) != 0) return -ENOENT;
    std::lock_guard lock(mutex_);
    if (!present_) return -ENOENT;
    // One report per read, never cached, no file position: a device, not a file.
    fi->direct_io = 1;
    fi->nonseekable = 1;
    fi->keep_cache = 0;
    fi->fh = connection_;
    return 0;
  }

  int Read(char* buf, std::size_t size, fuse_file_info* fi) {
    std::unique_lock lock(mutex_);
    for (;;) {
      // Reports that came before a removal are still read; then hidraw fails
      // reads on the removed device with EIO.
      if (!input_[fi->fh].empty()) break;
      if (!Alive(fi->fh)) {
        input_.erase(fi->fh);
        return -EIO;
      }
      if (fi->flags & O_NONBLOCK) return -EAGAIN;
      if (stopping_ || fuse_interrupted() || fuse_session_exited(fuse_get_session(fuse_get_context()->fuse)))
        return -EINTR;
      changed_.wait_for(lock, kWaitSlice);
    }
    auto& queue = input_[fi->fh];
    const sim::Report report = queue.front();
    queue.pop_front();
    const std::size_t n = std::min(size, report.size());
    std::memcpy(buf, report.data(), n);
    return static_cast<int>(n);
  }

  int Write(const char* buf, std::size_t size, fuse_file_info* fi) {
    {
      std::lock_guard lock(mutex_);
      if (!Alive(fi->fh)) return -ENODEV;
    }
    // Report id 0 first (the board numbers no reports), then at most 64 bytes.
    if (size < 2 || size > sim::kReportSize + 1 || buf[0] != 0) return -EINVAL;
    std::array<std::uint8_t, sim::kReportSize> data{};
    std::memcpy(data.data(), buf + 1, size - 1);
    if (!board_.HostWrite(std::span<const std::uint8_t, sim::kReportSize>(data), fi->fh)) return -ENODEV;
    bool unplug = false;
    {
      std::lock_guard lock(mutex_);
      if (unplugAfter_ > 0 && --unplugAfter_ == 0) unplug = true;
    }
    if (unplug) board_.Unplug();
    return static_cast<int>(size);
  }

  int Poll(fuse_file_info* fi, fuse_pollhandle* ph, unsigned* revents) {
    std::lock_guard lock(mutex_);
    unsigned mask = POLLOUT | POLLWRNORM;
    if (auto q = input_.find(fi->fh); q != input_.end() && !q->second.empty()) mask |= POLLIN | POLLRDNORM;
    if (!Alive(fi->fh)) mask |= POLLERR | POLLHUP;
    if (ph) polls_.push_back(ph);
    *revents = mask;
    return 0;
  }

  int Ioctl(unsigned int cmd, fuse_file_info* fi, void* data) {
    {
      std::lock_guard lock(mutex_);
      if (!Alive(fi->fh)) return -ENODEV;
    }
    switch (cmd) {
      case HIDIOCGRDESCSIZE:
        *static_cast<int*>(data) = sizeof kReportDescriptor;
        return 0;
      case HIDIOCGRDESC: {
        auto* d = static_cast<hidraw_report_descriptor*>(data);
        d->size = sizeof kReportDescriptor;
        std::memcpy(d->value, kReportDescriptor, sizeof kReportDescriptor);
        return 0;
      }
      case HIDIOCGRAWINFO: {
        auto* info = static_cast<hidraw_devinfo*>(data);
        info->bustype = BUS_USB;
        info->vendor = static_cast<__s16>(sim::kVendorId);
        info->product = static_cast<__s16>(sim::kProductId);
        return 0;
      }
      default:
        break;
    }
    if (_IOC_TYPE(cmd) == 'H' && _IOC_DIR(cmd) == _IOC_READ) {
      // Name, physical path and unique id: a string, cut to the caller's size.
      std::string text;
      switch (_IOC_NR(cmd)) {
        case 0x04: text = board_.ReleaseNumber() == sim::kReleaseBootloader ? "Corvel Lamp Board Bootloader"
                                                                             : "Corvel Lamp Board"; break;
        case 0x05: text = "usb-standin-1/input0"; break;
        case 0x08: text = "SIM0001"; break;
        default: return -ENOTTY;
      }
      const std::size_t n = std::min<std::size_t>(_IOC_SIZE(cmd), text.size() + 1);
      std::memcpy(data, text.c_str(), n);
      return static_cast<int>(n);
    }
    // Feature, input and output report requests: the board has none, so the
    // USB control request stalls, as the kernel reports it.
    if (_IOC_TYPE(cmd) == 'H' && (_IOC_NR(cmd) == 0x06 || _IOC_NR(cmd) == 0x07 ||
                                  (_IOC_NR(cmd) >= 0x09 && _IOC_NR(cmd) <= 0x0C)))
      return -EPIPE;
    return -ENOTTY;
  }

 private:
  bool Alive(std::uint64_t connection) const { return present_ && connection == connection_; }

  void OnDeviceEvent(std::uint32_t event) {
    std::vector<fuse_pollhandle*> waiting;
    {
      std::unique_lock lock(mutex_);
      // A report the pump has taken from the board is the node's before the
      // board can go, as a completed USB transfer is in hidraw's queue
      // before the disconnect: let the pump finish handing it over.
      changed_.wait_for(lock, 200ms, [&] { return !pumpReading_; });
      if (event == kDeviceRemoval) {
        present_ = false;
      } else if (event == kDeviceArrival) {
        present_ = true;
        connection_ = board_.Connection();
      }
      waiting.swap(polls_);
    }
    changed_.notify_all();
    for (auto* ph : waiting) {
      fuse_notify_poll(ph);
      fuse_pollhandle_destroy(ph);
    }
  }

  // Moves the board's input reports into the node's queue, as the USB host
  // controller's interrupt polls do.
  void Pump() {
    sim::Report report;
    for (;;) {
      std::uint64_t connection;
      {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        connection = connection_;
        pumpReading_ = true;
      }
      const int n = board_.HostRead(report, kWaitSlice, connection);
      if (n <= 0) {
        {
          std::lock_guard lock(mutex_);
          pumpReading_ = false;
        }
        changed_.notify_all();
        if (n < 0) {
          std::unique_lock lock(mutex_);
          changed_.wait_for(lock, kWaitSlice);  // unplugged: wait for a plug-in
        }
        continue;
      }
      std::vector<fuse_pollhandle*> waiting;
      {
        std::lock_guard lock(mutex_);
        input_[connection].push_back(report);
        pumpReading_ = false;
        waiting.swap(polls_);
      }
      changed_.notify_all();
      for (auto* ph : waiting) {
        fuse_notify_poll(ph);
        fuse_pollhandle_destroy(ph);
      }
    }
  }

  sim::SimBoard board_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool present_ = false;
  bool stopping_ = false;
  bool pumpReading_ = false;  // between taking a report from the board and queueing it
  std::uint64_t connection_ = 0;
  long unplugAfter_ = 0;
  // Input reports by the connection (plug-in) they came on: what a board sent
  // just before it went (the answer before a restart) is still read from the
  // handle of its old node, as hidraw hands over what it had queued.
  std::map<std::uint64_t, std::deque<sim::Report>> input_;
  std::vector<fuse_pollhandle*> polls_;
  std::thread pump_;
};

StandIn* g_standIn = nullptr;

StandIn& S() { return *g_standIn; }

const fuse_operations kOperations = [] {
  fuse_operations ops{};
  ops.init = [](fuse_conn_info*, fuse_config* cfg) -> void* {
    // Nothing cached: an unplugged node must vanish at once.
    cfg->entry_timeout = 0;
    cfg->negative_timeout = 0;
    cfg->attr_timeout = 0;
    cfg->direct_io = 1;
    return nullptr;
  };
  ops.getattr = [](const char* path, struct stat* st, fuse_file_info*) { return S().GetAttr(path, st); };
  ops.readdir = [](const char* path, void* buf, fuse_fill_dir_t fill, off_t, fuse_file_info*,
                   fuse_readdir_flags) {
    if (std::strcmp(path, "/") != 0) return -ENOTDIR;
    return S().ReadDir(buf, fill);
  };
  ops.open = [](const char* path, fuse_file_info* fi) { return S().Open(path, fi); };
  ops.read = [](const char*, char* buf, std::size_t size, off_t, fuse_file_info* fi) {
    return S().Read(buf, size, fi);
  };
  ops.write = [](const char*, const char* buf, std::size_t size, off_t, fuse_file_info* fi) {
    return S().Write(buf, size, fi);
  };
  ops.poll = [](const char*, fuse_file_info* fi, fuse_pollhandle* ph, unsigned* revents) {
    return S().Poll(fi, ph, revents);
  };
  ops.ioctl = [](const char*, unsigned int cmd, void*, fuse_file_info* fi, unsigned int, void* data) {
    return S().Ioctl(cmd, fi, data);
  };
  ops.truncate = [](const char*, off_t, fuse_file_info*) { return 0; };
  return ops;
}();

int Usage() {
  std::fprintf(stderr,
               "usage: corvel_hidraw_standin MOUNTDIR [--board ID] [--latency MS] [--faults SPEC] "
               "[--lifetime S]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  // Whoever started us may die without a word: go with it.
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (argc < 2) return Usage();
  const std::string mountDir = argv[1];
  sim::SimConfig config;
  sim::SimFaults faults;  // no delays unless asked
  int lifetimeS = 600;
  bool startInBootloader = false;
  std::string error;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    if (i + 1 >= argc) return Usage();
    const std::string v = argv[++i];
    if (a == "--board") {
      config.boardId = static_cast<std::uint8_t>(std::stoi(v, nullptr, 0));
    } else if (a == "--latency") {
      if (!sim::ParseLatency(v, faults, error)) return std::fprintf(stderr, "%s\n", error.c_str()), 2;
    } else if (a == "--faults") {
      if (!sim::ParseFaultSpec(v, faults, error)) return std::fprintf(stderr, "%s\n", error.c_str()), 2;
    } else if (a == "--bootloader") {
      startInBootloader = v == "1";
    } else if (a == "--lifetime") {
      lifetimeS = std::stoi(v);
    } else {
      return Usage();
    }
  }

  StandIn standIn(config);
  standIn.Board().SetFaults(faults);
  if (startInBootloader) standIn.Board().RestartIntoBootloader();
  g_standIn = &standIn;

  std::vector<std::string> options = {argv[0], "-o", "fsname=corvel-hidraw,auto_unmount"};
  std::vector<char*> raw;
  for (auto& o : options) raw.push_back(o.data());
  fuse_args args = FUSE_ARGS_INIT(static_cast<int>(raw.size()), raw.data());
  fuse* fs = fuse_new(&args, &kOperations, sizeof kOperations, nullptr);
  if (!fs) return std::fprintf(stderr, "corvel_hidraw_standin: fuse_new failed\n"), 1;
  if (fuse_mount(fs, mountDir.c_str()) != 0) {
    fuse_destroy(fs);
    std::fprintf(stderr, "corvel_hidraw_standin: cannot mount on %s\n", mountDir.c_str());
    return 1;
  }
  fuse_session* session = fuse_get_session(fs);
  if (fuse_set_signal_handlers(session) != 0) {
    fuse_unmount(fs);
    fuse_destroy(fs);
    return 1;
  }
  standIn.Start();

  // The threads below take no signals: SIGTERM must reach the loop's threads,
  // whose reads it interrupts so that the loop ends.
  sigset_t blocked;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGTERM);
  sigaddset(&blocked, SIGINT);
  sigaddset(&blocked, SIGHUP);
  sigset_t previous;
  pthread_sigmask(SIG_BLOCK, &blocked, &previous);
  std::atomic<bool> done{false};
  auto stop = [&standIn] {
    standIn.RequestStop();
    kill(getpid(), SIGTERM);
  };
  // Commands; end of input (the test that started us has gone) stops us.
  std::thread control([&] {
    std::string line;
    while (std::getline(std::cin, line)) {
      if (line == "unplug") {
        standIn.Board().Unplug();
      } else if (line == "plug") {
        standIn.Board().Plug();
      } else if (line.rfind("unplug-after ", 0) == 0) {
        standIn.UnplugAfter(std::stol(line.substr(13)));
      } else if (line.rfind("reg ", 0) == 0) {
        // What the simulated chip holds now, for tests that drive the window.
        const int reg = std::stoi(line.substr(4), nullptr, 0);
        std::printf("reg 0x%02X 0x%02X\n", reg, standIn.Board().Register(static_cast<std::uint8_t>(reg)));
        std::fflush(stdout);
      } else if (line.rfind("flashsum ", 0) == 0) {
        // FNV-1a over the first N bytes of the flash, for tests that flash.
        const auto bytes = standIn.Board().Flash(0, std::stoul(line.substr(9), nullptr, 0));
        std::uint64_t hash = 0xcbf29ce484222325ull;
        for (const std::uint8_t b : bytes) hash = (hash ^ b) * 0x100000001b3ull;
        std::printf("flashsum 0x%016llX\n", static_cast<unsigned long long>(hash));
        std::fflush(stdout);
      } else if (line == "quit") {
        break;
      }
    }
    if (!done.load()) stop();
  });
  control.detach();  // blocked in getline; ends with the process
  std::thread watchdog([&] {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(lifetimeS);
    while (!done.load() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(100ms);
    if (done.load()) return;
    std::fprintf(stderr, "corvel_hidraw_standin: lifetime over, unmounting\n");
    stop();
    // If the loop does not end, end anyway; auto_unmount removes the mount.
    for (int i = 0; i < 50 && !done.load(); ++i) std::this_thread::sleep_for(100ms);
    if (!done.load()) _exit(3);
  });
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);

  std::printf("ready %s/%s\n", mountDir.c_str(), kNodeName);
  std::fflush(stdout);

  fuse_loop_config loop{};
  loop.clone_fd = 0;
  loop.max_idle_threads = 10;
  const int rc = fuse_loop_mt(fs, &loop);
  done.store(true);
  standIn.Stop();
  fuse_remove_signal_handlers(session);
  fuse_unmount(fs);
  fuse_destroy(fs);
  watchdog.join();
  return rc == 0 ? 0 : 1;
}
