#pragma once

// Text colours that stay readable in light and dark colour schemes.
//
// The pages show some texts in fixed colours (navy values, green and maroon
// link states, red warnings, black on the button face). On a light background
// those colours are used exactly. On a dark background a colour that would
// fall below a contrast ratio of 4.5:1 is replaced by a lighter shade of the
// same hue, the darkest one that reaches 4.5:1.

#include <QColor>
#include <QObject>
#include <QPalette>

#include <optional>

class QApplication;

namespace Appearance {

// The contrast threshold for normal-size text.
inline constexpr double MinimumTextContrast = 4.5;

// Relative luminance (0 for black, 1 for white) of an sRGB colour.
double relativeLuminance(const QColor &colour);
// (lighter + 0.05) / (darker + 0.05): 1 for equal colours, 21 for black on white.
double contrastRatio(const QColor &a, const QColor &b);
// A background on which white text reads better than black.
bool isDarkBackground(const QColor &background);
// `stated` itself on a light background or wherever it already reaches the
// minimum contrast; otherwise the darkest lighter shade of its hue that does.
QColor readableOn(const QColor &stated, const QColor &background);

// The lightest surface a label may stand on: the window, or a tab page or
// panel, which styles draw from the button colour and, in dark palettes,
// somewhat lighter (Fusion by up to a quarter; nested tab pages more).
QColor surfaceBehindText(const QPalette &palette, QPalette::ColorGroup group = QPalette::Active);

// The dark palette used with the Fusion style when a dark scheme is chosen.
QPalette darkPalette();

enum class Scheme { Platform, Light, Dark };
// "light", "dark" or an empty name (the platform's own scheme); nothing for
// any other name.
std::optional<Scheme> schemeFromName(const QString &name);
// Applies the scheme named by RAVELIN_PALETTE. An unknown name keeps the
// platform's scheme and is reported on stderr; returns false then.
bool applySchemeFromEnvironment(QApplication &app);
void applyScheme(QApplication &app, Scheme scheme);

// Announces changes of the application palette (a scheme chosen at run time,
// the desktop switching to dark mode) once they have reached every widget,
// so that widgets holding computed colours compute them again.
class PaletteWatch : public QObject
{
    Q_OBJECT
public:
    static PaletteWatch *instance();

signals:
    void paletteChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    PaletteWatch();
    bool m_queued = false;
};

} // namespace Appearance
