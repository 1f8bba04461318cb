#include "ui/TextControlColours.h"

#include <QWidget>

namespace ui {

void ApplyCtrlColours(QWidget* widget, const QColor& text, QPalette::ColorRole textRole,
                      const QColor& background, QPalette::ColorRole backgroundRole) {
  QPalette pal = widget->palette();
  for (auto group : {QPalette::Active, QPalette::Inactive}) pal.setColor(group, textRole, text);
  pal.setColor(QPalette::All, backgroundRole, background);
  // setPalette schedules the repaint itself when anything changed.
  widget->setPalette(pal);
}

}  // namespace ui
