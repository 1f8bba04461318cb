// Message boxes. The window installs a presenter that shows a real dialog; the
// command-line tool and the tests keep the default, which writes the text to
// standard error, or install a hook that records the call and answers it.
#pragma once

#include <functional>
#include <string>

namespace platform {

enum class MessageIcon { None, Information, Warning, Error, Question };
enum class MessageButtons { Ok, OkCancel, YesNo };
enum class MessageResult { Ok, Cancel, Yes, No };

MessageResult MessageBox(const std::string& text, const std::string& caption = "CorvelGUI",
                         MessageIcon icon = MessageIcon::Error,
                         MessageButtons buttons = MessageButtons::Ok);

using MessageBoxHook = std::function<MessageResult(const std::string& text, const std::string& caption,
                                                   MessageIcon icon, MessageButtons buttons)>;
// An empty hook restores the default presenter.
void SetMessageBoxHook(MessageBoxHook hook);

}  // namespace platform
