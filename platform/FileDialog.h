// The open-file and save-file dialogs. The window installs presenters; tests
// install hooks that record the call and answer it. Without either nothing is
// chosen.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace platform {

// `filter` uses the "Description(*.ext)|*.ext|" form: pairs of a label and
// its patterns, each followed by '|'.
std::optional<std::string> OpenFileDialog(const std::string& filter, const std::string& title);

// The same, opening in `folder` (empty: wherever the presenter likes), so a
// window can offer the folder a person last used. The hook is the one above;
// it learns the folder from OpenFileDialogFolder while it runs.
std::optional<std::string> OpenFileDialog(const std::string& filter, const std::string& title,
                                          const std::string& folder);
// The folder the open-file dialog being shown was asked to open in.
std::string OpenFileDialogFolder();

using OpenFileDialogHook =
    std::function<std::optional<std::string>(const std::string& filter, const std::string& title)>;
void SetOpenFileDialogHook(OpenFileDialogHook hook);

// Asks where to save. `suggestedName` is offered: a file name, or a path
// whose folder the dialog opens in. A name typed without an extension gets
// the filter's first one.
std::optional<std::string> SaveFileDialog(const std::string& filter, const std::string& title,
                                          const std::string& suggestedName);

using SaveFileDialogHook = std::function<std::optional<std::string>(
    const std::string& filter, const std::string& title, const std::string& suggestedName)>;
void SetSaveFileDialogHook(SaveFileDialogHook hook);

}  // namespace platform
