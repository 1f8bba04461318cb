#include "platform/FileDialog.h"

#include <memory>
#include <mutex>

namespace platform {
namespace {
std::mutex g_hookMutex;
std::shared_ptr<const OpenFileDialogHook> g_hook;
std::shared_ptr<const SaveFileDialogHook> g_saveHook;
std::string g_openFolder;  // under g_hookMutex
}  // namespace

std::optional<std::string> OpenFileDialog(const std::string& filter, const std::string& title,
                                          const std::string& folder) {
  {
    std::lock_guard lock(g_hookMutex);
    g_openFolder = folder;
  }
  auto chosen = OpenFileDialog(filter, title);
  std::lock_guard lock(g_hookMutex);
  g_openFolder.clear();
  return chosen;
}

std::string OpenFileDialogFolder() {
  std::lock_guard lock(g_hookMutex);
  return g_openFolder;
}

std::optional<std::string> OpenFileDialog(const std::string& filter, const std::string& title) {
  std::shared_ptr<const OpenFileDialogHook> hook;
  {
    std::lock_guard lock(g_hookMutex);
    hook = g_hook;
  }
  if (!hook) return std::nullopt;
  return (*hook)(filter, title);
}

void SetOpenFileDialogHook(OpenFileDialogHook hook) {
  std::lock_guard lock(g_hookMutex);
  g_hook = hook ? std::make_shared<const OpenFileDialogHook>(std::move(hook)) : nullptr;
}

std::optional<std::string> SaveFileDialog(const std::string& filter, const std::string& title,
                                          const std::string& suggestedName) {
  std::shared_ptr<const SaveFileDialogHook> hook;
  {
    std::lock_guard lock(g_hookMutex);
    hook = g_saveHook;
  }
  if (!hook) return std::nullopt;
  return (*hook)(filter, title, suggestedName);
}

void SetSaveFileDialogHook(SaveFileDialogHook hook) {
  std::lock_guard lock(g_hookMutex);
  g_saveHook = hook ? std::make_shared<const SaveFileDialogHook>(std::move(hook)) : nullptr;
}

}  // namespace platform
