#include "platform/MessageBox.h"

#include <cstdio>
#include <memory>
#include <mutex>

namespace platform {
namespace {
std::mutex g_hookMutex;
std::shared_ptr<const MessageBoxHook> g_hook;
}  // namespace

MessageResult MessageBox(const std::string& text, const std::string& caption, MessageIcon icon,
                         MessageButtons buttons) {
  std::shared_ptr<const MessageBoxHook> hook;
  {
    std::lock_guard lock(g_hookMutex);
    hook = g_hook;
  }
  if (hook) return (*hook)(text, caption, icon, buttons);
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  return buttons == MessageButtons::YesNo ? MessageResult::No
         : buttons == MessageButtons::OkCancel ? MessageResult::Cancel
                                               : MessageResult::Ok;
}

void SetMessageBoxHook(MessageBoxHook hook) {
  std::lock_guard lock(g_hookMutex);
  g_hook = hook ? std::make_shared<const MessageBoxHook>(std::move(hook)) : nullptr;
}

}  // namespace platform
