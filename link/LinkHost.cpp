#include "link/LinkHost.h"

#include <cstdio>
#include <memory>
#include <mutex>

std::atomic<std::uint8_t> g_i2cAddress{kDefaultChipAddress};
std::atomic<std::uint8_t> g_i2cSpeed{kI2cSpeed400K};

namespace corvel {
namespace {
std::atomic<platform::Handle> g_hMainDialog{platform::kNoHandle};
std::atomic<platform::Handle> g_hBootDialog{platform::kNoHandle};
std::atomic<bool> g_chipRegistryPresent{false};
std::mutex g_traceMutex;
std::shared_ptr<const std::function<void(const std::string&)>> g_traceSink;
}  // namespace

void TraceLine(const std::string& line) {
  std::shared_ptr<const std::function<void(const std::string&)>> sink;
  {
    std::lock_guard lock(g_traceMutex);
    sink = g_traceSink;
  }
  if (sink) {
    (*sink)(line);
    return;
  }
  std::fputs(line.c_str(), stdout);
  std::fflush(stdout);
}

void SetTraceSink(std::function<void(const std::string&)> sink) {
  std::lock_guard lock(g_traceMutex);
  g_traceSink = sink ? std::make_shared<const std::function<void(const std::string&)>>(std::move(sink)) : nullptr;
}

void SetMainDialogHandle(platform::Handle handle) { g_hMainDialog.store(handle); }
platform::Handle GetMainDialogHandle() { return g_hMainDialog.load(); }
void SetBootDialogHandle(platform::Handle handle) { g_hBootDialog.store(handle); }
platform::Handle GetBootDialogHandle() { return g_hBootDialog.load(); }
void SetChipRegistryPresent(bool present) { g_chipRegistryPresent.store(present); }
bool ChipRegistryPresent() { return g_chipRegistryPresent.load(); }

}  // namespace corvel
