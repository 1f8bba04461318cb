// The open-file dialog. The window installs a presenter; tests install a hook
// that records the call and answers it. Without either nothing is chosen.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace platform {

// `filter` uses the "Description(*.ext)|*.ext|" form: pairs of a label and
// its patterns, each followed by '|'.
std::optional<std::string> OpenFileDialog(const std::string& filter, const std::string& title);

using OpenFileDialogHook =
    std::function<std::optional<std::string>(const std::string& filter, const std::string& title)>;
void SetOpenFileDialogHook(OpenFileDialogHook hook);

}  // namespace platform
