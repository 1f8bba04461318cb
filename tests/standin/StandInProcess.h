// Starts the hidraw stand-in (tests/standin/HidrawStandIn.cpp) on a fresh
// mount directory and stops it again on every way out of a test: the
// destructor closes its input (it unmounts and ends), waits a bounded time,
// then kills it and lazily unmounts whatever is left.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#ifndef CORVEL_STANDIN_PROGRAM
#error "CORVEL_STANDIN_PROGRAM must name the stand-in program"
#endif

class StandInProcess {
 public:
  // Empty when the stand-in can run here; otherwise what is missing.
  static std::string Unavailable() {
    if (access("/dev/fuse", R_OK | W_OK) != 0) return "/dev/fuse is absent or not usable here";
    return {};
  }

  explicit StandInProcess(std::vector<std::string> extraArgs = {}) {
    char pattern[] = "/tmp/corvel-standin-XXXXXX";
    if (!mkdtemp(pattern)) return;
    dir_ = pattern;
    int toChild[2], fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0) return;
    if (pipe2(fromChild, O_CLOEXEC) != 0) return;
    std::vector<std::string> args = {CORVEL_STANDIN_PROGRAM, dir_, "--lifetime", "300"};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    pid_ = fork();
    if (pid_ == 0) {
      dup2(toChild[0], 0);
      dup2(fromChild[1], 1);
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    control_ = toChild[1];
    output_ = fromChild[0];
    const std::string line = ReadLine(std::chrono::seconds(10));
    if (line.rfind("ready ", 0) == 0) path_ = line.substr(6);
  }

  ~StandInProcess() {
    if (control_ >= 0) close(control_);  // end of input: it unmounts and ends
    if (pid_ > 0) {
      bool ended = WaitEnd(std::chrono::seconds(5));
      if (!ended) {
        kill(pid_, SIGTERM);
        ended = WaitEnd(std::chrono::seconds(2));
      }
      if (!ended) {
        kill(pid_, SIGKILL);
        WaitEnd(std::chrono::seconds(2));
      }
    }
    if (output_ >= 0) close(output_);
    if (!dir_.empty()) {
      // Never leave a mount behind, whatever happened above.
      const std::string unmount = "fusermount3 -u -z '" + dir_ + "' 2>/dev/null; umount -l '" + dir_ + "' 2>/dev/null";
      if (IsMounted()) (void)std::system(unmount.c_str());
      rmdir(dir_.c_str());
    }
  }

  StandInProcess(const StandInProcess&) = delete;
  StandInProcess& operator=(const StandInProcess&) = delete;

  // The node, or empty when the stand-in did not come up.
  const std::string& Path() const { return path_; }
  const std::string& Dir() const { return dir_; }

  void Command(const std::string& line) {
    const std::string text = line + "\n";
    if (control_ >= 0) (void)!write(control_, text.data(), text.size());
  }

  // One line the stand-in printed, or empty after `timeout`.
  std::string ReadLine(std::chrono::milliseconds timeout) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd p{output_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char c;
      if (read(output_, &c, 1) != 1) break;
      if (c == '\n') return line;
      line.push_back(c);
    }
    return {};
  }

  // The simulated chip's register, or -1 when the stand-in does not answer.
  int Register(int reg) {
    Command("reg " + std::to_string(reg));
    const std::string line = ReadLine(std::chrono::seconds(5));
    unsigned r = 0, v = 0;
    if (std::sscanf(line.c_str(), "reg 0x%X 0x%X", &r, &v) != 2 || static_cast<int>(r) != reg) return -1;
    return static_cast<int>(v);
  }

  // FNV-1a of the first `length` bytes of the simulated flash; 0 when the
  // stand-in does not answer.
  std::uint64_t FlashSum(std::size_t length) {
    Command("flashsum " + std::to_string(length));
    const std::string line = ReadLine(std::chrono::seconds(5));
    unsigned long long hash = 0;
    if (std::sscanf(line.c_str(), "flashsum 0x%llX", &hash) != 1) return 0;
    return hash;
  }

  bool IsMounted() const {
    struct stat dirStat {}, parentStat {};
    if (stat(dir_.c_str(), &dirStat) != 0) return true;  // "transport endpoint is not connected"
    if (stat(std::filesystem::path(dir_).parent_path().c_str(), &parentStat) != 0) return false;
    return dirStat.st_dev != parentStat.st_dev;
  }

  // Waits, with a bound, until the node is there (or gone).
  bool WaitNode(bool present, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if ((access(path_.c_str(), F_OK) == 0) == present) return true;
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  void Kill() {
    if (pid_ > 0) kill(pid_, SIGKILL);
    WaitEnd(std::chrono::seconds(2));
  }

  bool Running() {
    return pid_ > 0 && waitpid(pid_, &status_, WNOHANG) == 0;
  }

 private:
  bool WaitEnd(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      const pid_t r = waitpid(pid_, &status_, WNOHANG);
      if (r == pid_ || r < 0) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  std::string dir_;
  std::string path_;
  pid_t pid_ = -1;
  int control_ = -1;
  int output_ = -1;
  int status_ = 0;
};
