// Process-wide layout scale and the one place where fonts are scaled.
//
// Everything in the tool is laid out for a 1920 x 1040 work area. The main
// window measures the real work area once and publishes the factors here;
// every page and control reads them when it sizes itself or creates a font.
#pragma once

#include <QFont>
#include <QRect>
#include <QString>

// Work-area width / 1920 and height / 1040; 1.0 until the main window knows
// the screen, so widgets built before that (and in tests) are unscaled.
extern double g_scaleX;
extern double g_scaleY;
// Ratio from a dialog template's pixel size to its current size.
extern double g_ratioX;
extern double g_ratioY;
// The main window's layout ratio in its normal size.
extern double g_baseRatioX;
extern double g_baseRatioY;
// Ratio from the normal to the maximised main window, measured on maximise.
extern double g_maxRatioX;
extern double g_maxRatioY;
// Non-zero while the main window is in its maximised layout.
extern int g_bMaximized;
// The desktop work area read when the main window started.
extern QRect g_workArea;

// The face that draws the symbols of the status texts (U+2714, U+26D4, U+221A,
// U+00D7) as monochrome glyphs; every font below falls back to it first.
inline constexpr char kSymbolFace[] = "Symbola";

// Creates the font the Windows way of describing one: a cell height in
// pixels, an average character width in pixels (0 = the face's natural
// width) and a weight on the 100..900 scale (0 = normal). Height is scaled
// by g_scaleY and width by g_scaleX, each truncated toward zero, before the
// font is built. No italic, underline or strike-out.
QFont ScaledFont(int height, int width, int weight, const QString& face = QStringLiteral("Arial"));

// The frequency-weighted average width of lowercase letters and the space:
// what a Windows font's average character width means.
double WeightedAverageCharWidth(const QFont& font);

// The same mapping without the screen scale, for callers that already hold
// device pixels.
QFont LogicalFont(int cellHeight, int averageCharWidth, int weight, const QString& face);
