#include "platform/qt/DialogTemplate.h"

#include <cmath>

namespace platform {
namespace {
constexpr const char* kIdProperty = "controlId";

struct BaseUnits {
  int x, y;
};
BaseUnits UnitsFor(const DialogTemplate& d) { return d.fontPoint >= 9 ? BaseUnits{7, 14} : BaseUnits{6, 13}; }

int Scale(int units, int base, int divisor) {
  return static_cast<int>(std::lround(static_cast<double>(units) * base / divisor));
}
}  // namespace

QRect DialogUnitsToPixels(const DialogTemplate& dialog, int x, int y, int cx, int cy) {
  const BaseUnits b = UnitsFor(dialog);
  const int left = Scale(x, b.x, 4), top = Scale(y, b.y, 8);
  const int right = Scale(x + cx, b.x, 4), bottom = Scale(y + cy, b.y, 8);
  return QRect(left, top, right - left, bottom - top);
}

QSize DialogSize(const DialogTemplate& dialog) {
  const BaseUnits b = UnitsFor(dialog);
  return QSize(Scale(dialog.cx, b.x, 4), Scale(dialog.cy, b.y, 8));
}

void BuildDialog(QWidget* dialog, const DialogTemplate& tmpl, const ControlFactory& factory) {
  dialog->resize(DialogSize(tmpl));
  for (const ControlTemplate& c : tmpl.controls) {
    QWidget* w = factory(c, dialog);
    if (!w) continue;
    TagControl(w, c.id);
    w->setGeometry(DialogUnitsToPixels(tmpl, c.x, c.y, c.cx, c.cy));
    if (c.style & kStyleDisabled) w->setEnabled(false);
    w->setVisible(!(c.style & kStyleHidden));
  }
}

QWidget* FindControl(const QWidget* dialog, int id) {
  if (!dialog) return nullptr;
  for (QObject* child : dialog->children()) {
    auto* w = qobject_cast<QWidget*>(child);
    if (w && w->property(kIdProperty).toInt() == id) return w;
  }
  return nullptr;
}

void TagControl(QWidget* control, int id) {
  control->setProperty(kIdProperty, id);
  control->setObjectName(QStringLiteral("ctl%1").arg(id));
}

int ControlId(const QWidget* control) { return control ? control->property(kIdProperty).toInt() : 0; }

}  // namespace platform
