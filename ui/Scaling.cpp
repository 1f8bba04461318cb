#include "ui/Scaling.h"

#include <QFontInfo>
#include <QFontMetricsF>
#include <QStringList>

#include <algorithm>
#include <array>
#include <utility>
#include <cmath>

double g_scaleX = 1.0;
double g_scaleY = 1.0;
double g_ratioX = 1.0;
double g_ratioY = 1.0;
// The main window sets these before any page lays itself out; starting them at
// the identity keeps a page built on its own (a test, a preview) at its
// template size instead of collapsing it to nothing.
double g_baseRatioX = 1.0;
double g_baseRatioY = 1.0;
double g_maxRatioX = 1.0;
double g_maxRatioY = 1.0;
int g_bMaximized = 0;
QRect g_workArea;

namespace {

// Measured at a large size so that rounding in the font engine does not
// distort the ratios.
constexpr int kReferencePixelSize = 200;

QFont::Weight MapWeight(int weight) {
  // Qt 6 uses the same 1..1000 scale as the Windows weights; 0 is "don't
  // care", which Windows renders as normal.
  if (weight <= 0) return QFont::Normal;
  return static_cast<QFont::Weight>(std::clamp(weight, 1, 1000));
}

// The average character width that a Windows font's width asks for is the
// classic OpenType one: lowercase letters and the space weighted by their
// frequency in English text (per mille). Qt's own averageCharWidth() reads the
// face's OS/2 field, which newer faces (Liberation Sans among them) compute
// over every glyph they carry; that comes out about a third wider than Arial's
// and would squeeze every stretched font.
constexpr std::array<std::pair<char16_t, int>, 27> kCharWeights{{
    {u'a', 64}, {u'b', 14}, {u'c', 27}, {u'd', 35}, {u'e', 100}, {u'f', 20}, {u'g', 14},
    {u'h', 42}, {u'i', 63}, {u'j', 3},   {u'k', 6},  {u'l', 35}, {u'm', 20}, {u'n', 56},
    {u'o', 56}, {u'p', 17}, {u'q', 4},   {u'r', 49}, {u's', 56}, {u't', 71}, {u'u', 31},
    {u'v', 10}, {u'w', 18}, {u'x', 3},   {u'y', 18}, {u'z', 2},  {u' ', 166},
}};

}  // namespace

double WeightedAverageCharWidth(const QFont& font) {
  const QFontMetricsF metrics(font);
  double sum = 0;
  for (const auto& [ch, weight] : kCharWeights) sum += metrics.horizontalAdvance(QChar(ch)) * weight;
  return sum / 1000.0;
}

QFont LogicalFont(int cellHeight, int averageCharWidth, int weight, const QString& face) {
  QFont font(face);
  // Status texts carry symbols (a check mark, a no-entry sign) that the text
  // face lacks. Left to the system's fallback, the no-entry sign comes from a
  // colour emoji font and draws red whatever the text colour: invisible on the
  // red status line. A symbol face that draws them as plain glyphs is tried
  // first, so they take the text colour like every letter. The face is named
  // as the system resolved it ("Arial" is an alias): given a list, Qt takes
  // the first name that is installed as such and would skip the alias.
  font.setFamilies(QStringList{QFontInfo(font).family(), QString::fromLatin1(kSymbolFace)});
  font.setWeight(MapWeight(weight));
  font.setItalic(false);
  font.setUnderline(false);
  font.setStrikeOut(false);

  // A positive height names the character cell (ascent + descent), which for
  // Arial-metric faces is about 1.12 em; Qt's pixel size is the em. Convert
  // through the face's own metrics so that a 20-pixel font really occupies
  // 20 pixels of line height, as the layouts were drawn for. A negative
  // height already names the em; zero keeps the default size.
  if (cellHeight > 0) {
    QFont reference(font);
    reference.setPixelSize(kReferencePixelSize);
    const QFontMetricsF rm(reference);
    const double cellPerEm = (rm.ascent() + rm.descent()) / kReferencePixelSize;
    const int em = cellPerEm > 0 ? static_cast<int>(std::lround(cellHeight / cellPerEm)) : cellHeight;
    font.setPixelSize(std::max(1, em));
  } else if (cellHeight < 0) {
    font.setPixelSize(-cellHeight);
  }

  // The width names the average character width. Qt has no such knob, only a
  // horizontal stretch in percent of the natural width, so measure the
  // natural average at this size and stretch to the width asked for.
  if (averageCharWidth > 0) {
    const double natural = WeightedAverageCharWidth(font);
    if (natural > 0) {
      const int stretch = static_cast<int>(std::lround(100.0 * averageCharWidth / natural));
      font.setStretch(std::clamp(stretch, 1, 4000));
    }
  }
  return font;
}

QFont ScaledFont(int height, int width, int weight, const QString& face) {
  // Truncation toward zero, as every scaled size in the tool is.
  const int h = static_cast<int>(height * g_scaleY);
  const int w = static_cast<int>(width * g_scaleX);
  return LogicalFont(h, w, weight, face);
}
