#include "link/LinkHost.h"

std::atomic<std::uint8_t> g_i2cAddress{kDefaultChipAddress};
std::atomic<std::uint8_t> g_i2cSpeed{kI2cSpeed400K};

namespace corvel {
namespace {
std::atomic<platform::Handle> g_hMainDialog{platform::kNoHandle};
std::atomic<platform::Handle> g_hBootDialog{platform::kNoHandle};
std::atomic<bool> g_chipRegistryPresent{false};
}  // namespace

void SetMainDialogHandle(platform::Handle handle) { g_hMainDialog.store(handle); }
platform::Handle GetMainDialogHandle() { return g_hMainDialog.load(); }
void SetBootDialogHandle(platform::Handle handle) { g_hBootDialog.store(handle); }
platform::Handle GetBootDialogHandle() { return g_hBootDialog.load(); }
void SetChipRegistryPresent(bool present) { g_chipRegistryPresent.store(present); }
bool ChipRegistryPresent() { return g_chipRegistryPresent.load(); }

}  // namespace corvel
