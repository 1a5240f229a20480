#include "Appearance.h"

#include <QApplication>
#include <QEvent>
#include <QStyle>
#include <QStyleFactory>
#include <QWidget>

#include <cmath>
#include <cstdio>

namespace Appearance {

namespace {

double linearChannel(double c)
{
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

// The luminance at which black and white text have the same contrast.
constexpr double EvenLuminance = 0.1791;

} // namespace

double relativeLuminance(const QColor &colour)
{
    const QColor rgb = colour.toRgb();
    return 0.2126 * linearChannel(rgb.redF()) + 0.7152 * linearChannel(rgb.greenF()) +
           0.0722 * linearChannel(rgb.blueF());
}

double contrastRatio(const QColor &a, const QColor &b)
{
    const double la = relativeLuminance(a);
    const double lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

bool isDarkBackground(const QColor &background)
{
    return relativeLuminance(background) < EvenLuminance;
}

QColor readableOn(const QColor &stated, const QColor &background)
{
    if (!isDarkBackground(background) || contrastRatio(stated, background) >= MinimumTextContrast)
        return stated;
    float hue = 0, saturation = 0, lightness = 0, alpha = 1;
    stated.toHsl().getHslF(&hue, &saturation, &lightness, &alpha);
    if (hue < 0) { // achromatic: the shades are greys
        hue = 0;
        saturation = 0;
    }
    const auto shade = [&](float l) {
        return QColor::fromHslF(hue, saturation, std::min(l, 1.0f), alpha).toRgb();
    };
    // Within one hue and saturation the luminance grows with the lightness,
    // so the darkest passing shade is found by halving the interval. White
    // passes on every dark background (1.05 / 0.2291 > 4.5).
    float low = lightness;
    float high = 1.0f;
    for (int i = 0; i < 24; ++i) {
        const float middle = (low + high) / 2;
        (contrastRatio(shade(middle), background) >= MinimumTextContrast ? high : low) = middle;
    }
    // Rounding to 8-bit channels may land just below the threshold: step up.
    QColor result = shade(high);
    for (float l = high; contrastRatio(result, background) < MinimumTextContrast && l < 1.0f;) {
        l = std::min(1.0f, l + 1.0f / 255);
        result = shade(l);
    }
    return result;
}

QColor surfaceBehindText(const QPalette &palette, QPalette::ColorGroup group)
{
    const QColor window = palette.color(group, QPalette::Window);
    const QColor button = palette.color(group, QPalette::Button);
    const QColor lighter = relativeLuminance(button) > relativeLuminance(window) ? button : window;
    if (!isDarkBackground(lighter))
        return lighter;
    // A dark palette close to mid-grey is not lifted out of the dark range:
    // its texts must still be made readable on it.
    const QColor lifted = lighter.lighter(130);
    return isDarkBackground(lifted) ? lifted : lighter;
}

QPalette darkPalette()
{
    const QColor window(0x35, 0x35, 0x35);
    const QColor base(0x2A, 0x2A, 0x2A);
    const QColor text(0xF0, 0xF0, 0xF0);
    const QColor disabledText(0x80, 0x80, 0x80);
    QPalette p(text, window, window.lighter(150), window.darker(200), window.darker(150), text,
               text, base, window);
    p.setColor(QPalette::AlternateBase, QColor(0x42, 0x42, 0x42));
    p.setColor(QPalette::ToolTipBase, QColor(0x20, 0x20, 0x20));
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::Highlight, QColor(0x2A, 0x82, 0xDA));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(0x6C, 0xB4, 0xFF));
    p.setColor(QPalette::LinkVisited, QColor(0xC0, 0x9C, 0xFF));
    p.setColor(QPalette::PlaceholderText, disabledText);
    for (const QPalette::ColorRole role :
         {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::HighlightedText})
        p.setColor(QPalette::Disabled, role, disabledText);
    p.setColor(QPalette::Disabled, QPalette::Highlight, QColor(0x50, 0x50, 0x50));
    return p;
}

std::optional<Scheme> schemeFromName(const QString &name)
{
    const QString n = name.trimmed().toLower();
    if (n.isEmpty())
        return Scheme::Platform;
    if (n == QLatin1String("light"))
        return Scheme::Light;
    if (n == QLatin1String("dark"))
        return Scheme::Dark;
    return std::nullopt;
}

void applyScheme(QApplication &app, Scheme scheme)
{
    if (scheme == Scheme::Platform)
        return;
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    app.setPalette(scheme == Scheme::Dark ? darkPalette() : QApplication::style()->standardPalette());
}

bool applySchemeFromEnvironment(QApplication &app)
{
    const QString name = qEnvironmentVariable("RAVELIN_PALETTE");
    const std::optional<Scheme> scheme = schemeFromName(name);
    if (!scheme) {
        std::fprintf(stderr,
                     "RAVELIN_PALETTE: unknown scheme \"%s\" (light or dark); the desktop's "
                     "colours are used\n",
                     qPrintable(name));
        return false;
    }
    applyScheme(app, *scheme);
    return true;
}

PaletteWatch *PaletteWatch::instance()
{
    static PaletteWatch *watch = nullptr;
    if (!watch) {
        watch = new PaletteWatch;
        // Owned by the application object; a later application gets a new one.
        QObject::connect(qApp, &QObject::destroyed, [] { watch = nullptr; });
    }
    return watch;
}

PaletteWatch::PaletteWatch() : QObject(qApp)
{
    qApp->installEventFilter(this);
}

bool PaletteWatch::eventFilter(QObject *watched, QEvent *event)
{
    // A new application palette reaches the windows after the application
    // object hears of it; each window passes it on to its children at once.
    // One announcement follows the first window's change, queued behind the
    // delivery to the others.
    if (event->type() == QEvent::PaletteChange && !m_queued && watched->isWidgetType() &&
        static_cast<QWidget *>(watched)->isWindow()) {
        m_queued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_queued = false;
                emit paletteChanged();
            },
            Qt::QueuedConnection);
    }
    return QObject::eventFilter(watched, event);
}

} // namespace Appearance
