// Dialog layouts as data: each dialog is a table of controls (id, class,
// caption, rectangle in dialog units, style bits). A builder creates the
// widgets from it and controls are found again by id, so pages address their
// controls by the same numbers the board tools have always used.
#pragma once

#include <QRect>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <span>

namespace platform {

enum class ControlClass {
  Static,        // plain text label
  MyStatic,      // text with its own 11-point font
  StaticFont,    // text whose font the page sets
  Edit,
  ComboBox,
  RectButton,    // owner-drawn rounded button
  RoundButton,   // owner-drawn round LED cell
  BitmapButton,  // flat button showing a picture
  CheckBox,
  GroupBox,
  Picture,       // static picture
  Slider,
  Progress,
  Host,          // empty frame that hosts a page
};

inline constexpr std::uint32_t kStyleHidden = 1u << 0;
inline constexpr std::uint32_t kStyleDisabled = 1u << 1;
inline constexpr std::uint32_t kStyleCentered = 1u << 2;   // centred text
inline constexpr std::uint32_t kStyleRight = 1u << 3;      // right-aligned text
inline constexpr std::uint32_t kStyleMultiline = 1u << 4;
inline constexpr std::uint32_t kStyleReadOnly = 1u << 5;

struct ControlTemplate {
  int id;
  ControlClass cls;
  const char* caption;
  int x, y, cx, cy;  // dialog units
  std::uint32_t style = 0;
};

struct DialogTemplate {
  int id;
  int cx, cy;     // dialog units
  int fontPoint;  // 9 or 8: picks the base units
  std::span<const ControlTemplate> controls;
};

// Dialog units to pixels: base units 7 x 14 for the 9-point dialogs, 6 x 13
// for the 8-point ones; a unit is a quarter of the base width and an eighth of
// the base height, rounded to the nearest pixel as the dialog manager does.
QRect DialogUnitsToPixels(const DialogTemplate& dialog, int x, int y, int cx, int cy);
QSize DialogSize(const DialogTemplate& dialog);

// Makes the widget for one control, parented to `parent`.
using ControlFactory = std::function<QWidget*(const ControlTemplate& control, QWidget* parent)>;

// Resizes `dialog` to the template and creates every control in table order
// (which is also their z-order), tagged with its id.
void BuildDialog(QWidget* dialog, const DialogTemplate& tmpl, const ControlFactory& factory);

QWidget* FindControl(const QWidget* dialog, int id);
template <typename T>
T* Control(const QWidget* dialog, int id) {
  return qobject_cast<T*>(FindControl(dialog, id));
}
int ControlId(const QWidget* control);  // 0 when the widget is not a template control
// Gives a control made at run time its id, as if it came from the template.
void TagControl(QWidget* control, int id);

}  // namespace platform
