// Makes the widget of each control class a dialog template names.
#pragma once

#include "platform/qt/DialogTemplate.h"

QWidget* MakeControl(const platform::ControlTemplate& control, QWidget* parent);

// Builds a dialog from its template with the standard controls.
inline void BuildStandardDialog(QWidget* dialog, const platform::DialogTemplate& tmpl) {
  platform::BuildDialog(dialog, tmpl, &MakeControl);
}
