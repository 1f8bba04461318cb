// Presenters for message boxes and the open-file and save-file dialogs on Qt.
#pragma once

#include <QString>

namespace platform {

void InstallQtDialogs();

// "Qvbin file(*.qvbin)|*.qvbin|" -> "Qvbin file(*.qvbin) (*.qvbin)"
QString QtFilterFromPairs(const std::string& filter);

}  // namespace platform
