// Readability in the light and dark schemes: the colour rule on its own, then
// every window of a session with the simulator, checked on its pixels for the
// contrast of the coloured texts and on its geometry for clipped text. The
// suite runs once per scale factor (QT_SCALE_FACTOR, set by CTest).

#include "AboutBox.h"
#include "AppTestKit.h"
#include "Appearance.h"
#include "BACnetPage.h"
#include "DiagnosticsPage.h"
#include "FrameMonitor.h"
#include "G50Page.h"
#include "MacDialog.h"
#include "NamesPage.h"
#include "NetworkPage.h"
#include "PingForm.h"
#include "SimProcess.h"
#include "SimSession.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionFrame>
#include <QStyleOptionGroupBox>
#include <QTabBar>
#include <QTableWidget>
#include <QTest>

#include <cmath>

using Appearance::contrastRatio;
using Appearance::readableOn;

namespace {

const QColor Navy(0x00, 0x00, 0x80);
const QColor Green(0x00, 0x80, 0x00);
const QColor Maroon(0x80, 0x00, 0x00);
const QColor Red(0xFF, 0x00, 0x00);
const QColor Black(0x00, 0x00, 0x00);

// The background of a piece of the screen (its most frequent colour) and the
// colour that stands out most from it (the text, where it is fully covered).
struct Ink
{
    QColor background;
    QColor text;
    bool contains(const QColor &colour) const { return colours.contains(colour.rgb()); }
    QHash<QRgb, int> colours;
};

Ink inkOf(const QImage &shot, const QRectF &logical)
{
    const qreal ratio = shot.devicePixelRatio();
    const QRect area = QRectF(logical.topLeft() * ratio, logical.size() * ratio)
                           .toAlignedRect()
                           .intersected(shot.rect());
    Ink ink;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            ++ink.colours[shot.pixel(x, y) | 0xFF000000u];
    QRgb background = 0;
    int most = -1;
    for (auto it = ink.colours.cbegin(); it != ink.colours.cend(); ++it)
        if (it.value() > most)
            most = it.value(), background = it.key();
    ink.background = QColor::fromRgb(background);
    double best = 0;
    for (auto it = ink.colours.cbegin(); it != ink.colours.cend(); ++it) {
        const double c = contrastRatio(QColor::fromRgb(it.key()), ink.background);
        if (c > best)
            best = c, ink.text = QColor::fromRgb(it.key());
    }
    return ink;
}

QString describe(const QColor &c)
{
    return c.name();
}

// Where `widget` lies in `window`'s picture.
QRectF placeIn(const QWidget *widget, const QWidget *window, const QRect &rect)
{
    return QRectF(rect.translated(widget->mapTo(window, QPoint(0, 0))));
}

// A coloured text on the screen: in the light scheme the stated colour itself
// is drawn; in the dark scheme the drawn text reaches the minimum contrast
// and keeps the stated hue.
void checkColouredText(const QString &what, const Ink &ink, const QColor &stated, bool dark,
                       QStringList &failures)
{
    if (!dark) {
        if (!ink.contains(stated))
            failures << QStringLiteral("%1: %2 not drawn (text %3 on %4)")
                            .arg(what, describe(stated), describe(ink.text),
                                 describe(ink.background));
        return;
    }
    const double contrast = contrastRatio(ink.text, ink.background);
    if (contrast < Appearance::MinimumTextContrast)
        failures << QStringLiteral("%1: %2 on %3 has contrast %4")
                        .arg(what, describe(ink.text), describe(ink.background))
                        .arg(contrast, 0, 'f', 2);
    const int statedHue = stated.hslHue();
    const int drawnHue = ink.text.hslHue();
    if (statedHue >= 0 && drawnHue >= 0) {
        const int apart = std::abs(statedHue - drawnHue);
        if (std::min(apart, 360 - apart) > 6)
            failures << QStringLiteral("%1: drawn %2 is not a shade of %3")
                            .arg(what, describe(ink.text), describe(stated));
    }
}

// Every coloured label of `window` that shows text, checked on the picture.
int checkColouredLabels(QWidget *window, const QImage &shot, bool dark, QStringList &failures)
{
    int checked = 0;
    for (QLabel *label : window->findChildren<QLabel *>()) {
        const QVariant stated = label->property("statedTextColour");
        if (!stated.isValid() || !label->isVisibleTo(window) || label->text().trimmed().isEmpty())
            continue;
        const QString what = window->objectName() + QLatin1Char('/') + label->objectName() +
                             QStringLiteral(" \"") + label->text() + QLatin1Char('"');
        checkColouredText(what, inkOf(shot, placeIn(label, window, label->contentsRect())),
                          stated.value<QColor>(), dark, failures);
        ++checked;
    }
    // The Diagnostics indicators' ticks.
    for (QLabel *label : window->findChildren<QLabel *>(
             QRegularExpression(QStringLiteral("^Indicator\\d+$")))) {
        if (label->pixmap().isNull() || !label->isVisibleTo(window))
            continue;
        checkColouredText(window->objectName() + QLatin1Char('/') + label->objectName(),
                          inkOf(shot, placeIn(label, window, label->rect())), Green, dark,
                          failures);
        ++checked;
    }
    return checked;
}

int textWidth(const QFontMetrics &fm, const QString &text)
{
    int width = 0;
    for (const QString &line : text.split(QLatin1Char('\n')))
        width = std::max(width, fm.horizontalAdvance(QString(line).remove(QLatin1Char('&'))));
    return width;
}

QString nameOf(const QWidget *w)
{
    return w->objectName().isEmpty() ? QString::fromLatin1(w->metaObject()->className())
                                     : w->objectName();
}

// Qt's offscreen platform on Windows has no fonts at all (every glyph is a
// placeholder box), so there text widths say nothing about a real screen.
bool textMeasurable()
{
    return !QFontDatabase::families().isEmpty();
}

// Text that does not fit the room its widget gives it, found from the font's
// metrics and the style's layout of each kind of control.
void checkClipping(QWidget *window, QStringList &failures)
{
    if (!textMeasurable())
        return;
    const auto fail = [&](const QWidget *w, const QString &text, int need, int room) {
        failures << QStringLiteral("%1/%2 \"%3\" needs %4 px, has %5")
                        .arg(window->objectName(), nameOf(w), text)
                        .arg(need)
                        .arg(room);
    };
    for (QWidget *w : window->findChildren<QWidget *>()) {
        if (!w->isVisibleTo(window))
            continue;
        const QFontMetrics fm = w->fontMetrics();
        if (auto *label = qobject_cast<QLabel *>(w)) {
            const QString text = label->text();
            if (text.isEmpty() || label->textFormat() == Qt::RichText)
                continue;
            const QRect room = label->contentsRect().adjusted(label->margin(), label->margin(),
                                                              -label->margin(), -label->margin());
            if (label->wordWrap()) {
                const int need = label->heightForWidth(label->width());
                if (need > label->height())
                    fail(label, text, need, label->height());
            } else {
                if (textWidth(fm, text) > room.width())
                    fail(label, text, textWidth(fm, text), room.width());
                const int lines = int(text.count(QLatin1Char('\n'))) + 1;
                const int need = (lines - 1) * fm.lineSpacing() + fm.ascent() + fm.descent();
                if (need > room.height() + 2)
                    fail(label, text, need, room.height());
            }
        } else if (auto *box = qobject_cast<QCheckBox *>(w)) {
            QStyleOptionButton option;
            option.initFrom(box);
            option.text = box->text();
            const QRect room = box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
            if (textWidth(fm, box->text()) > room.width())
                fail(box, box->text(), textWidth(fm, box->text()), room.width());
        } else if (auto *button = qobject_cast<QPushButton *>(w)) {
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = button->text();
            const QRect room =
                button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
            const int need = textWidth(fm, button->text()) +
                             (button->icon().isNull() ? 0 : button->iconSize().width() + 4);
            if (need > room.width())
                fail(button, button->text(), need, room.width());
        } else if (auto *edit = qobject_cast<QLineEdit *>(w)) {
            QStyleOptionFrame option;
            option.initFrom(edit);
            option.lineWidth = edit->hasFrame() ? 1 : 0;
            const QRect room =
                edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit);
            // QLineEdit keeps two pixels free on each side of its text.
            if (fm.horizontalAdvance(edit->text()) > room.width() - 4)
                fail(edit, edit->text(), fm.horizontalAdvance(edit->text()), room.width() - 4);
        } else if (auto *group = qobject_cast<QGroupBox *>(w)) {
            QStyleOptionGroupBox option;
            option.initFrom(group);
            option.text = group->title();
            option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
            const QRect title = group->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                               QStyle::SC_GroupBoxLabel, group);
            if (title.right() >= group->width())
                fail(group, group->title(), title.right() + 1, group->width());
        } else if (auto *combo = qobject_cast<QComboBox *>(w)) {
            QStyleOptionComboBox option;
            option.initFrom(combo);
            option.currentText = combo->currentText();
            const QRect room = combo->style()->subControlRect(
                QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo);
            if (fm.horizontalAdvance(combo->currentText()) > room.width())
                fail(combo, combo->currentText(), fm.horizontalAdvance(combo->currentText()),
                     room.width());
        } else if (auto *bar = qobject_cast<QTabBar *>(w)) {
            // Tabs that do not all fit would be scrolled or elided.
            int right = 0;
            for (int i = 0; i < bar->count(); ++i)
                if (bar->isTabVisible(i))
                    right = std::max(right, bar->tabRect(i).right() + 1);
            if (right > bar->width())
                fail(bar, QStringLiteral("tabs"), right, bar->width());
        }
    }
}

} // namespace

class TestAppearance : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { dropRaiseWarnings(); }
    void lightBackgroundsKeepTheStatedColour_data();
    void lightBackgroundsKeepTheStatedColour();
    void darkBackgroundsGetTheDarkestReadableShade_data();
    void darkBackgroundsGetTheDarkestReadableShade();
    void surfaceBehindText();
    void schemeNames();
    void sessionWindowsInBothSchemes();
};

void TestAppearance::lightBackgroundsKeepTheStatedColour_data()
{
    QTest::addColumn<QColor>("stated");
    QTest::addColumn<QColor>("background");
    const QPalette light = QApplication::style()->standardPalette();
    for (const QColor &stated : {Navy, Green, Maroon, Red, Black}) {
        // Green on the light window is 4.47:1, below the threshold: the light
        // scheme keeps the design's colours all the same.
        QTest::addRow("%s on light window", qPrintable(stated.name()))
            << stated << light.color(QPalette::Window);
        QTest::addRow("%s on white", qPrintable(stated.name())) << stated << QColor(Qt::white);
        QTest::addRow("%s on mid grey", qPrintable(stated.name())) << stated << QColor(0x80, 0x80, 0x80);
    }
}

void TestAppearance::lightBackgroundsKeepTheStatedColour()
{
    QFETCH(QColor, stated);
    QFETCH(QColor, background);
    QVERIFY(!Appearance::isDarkBackground(background));
    QCOMPARE(readableOn(stated, background), stated);
}

void TestAppearance::darkBackgroundsGetTheDarkestReadableShade_data()
{
    QTest::addColumn<QColor>("stated");
    QTest::addColumn<QColor>("background");
    const QPalette dark = Appearance::darkPalette();
    const QList<std::pair<const char *, QColor>> backgrounds{
        {"dark window", dark.color(QPalette::Window)},
        {"dark base", dark.color(QPalette::Base)},
        {"black", QColor(Qt::black)},
        {"dark blue-grey", QColor(0x1E, 0x24, 0x30)},
        {"just dark", QColor(0x70, 0x70, 0x70)}};
    for (const auto &[name, background] : backgrounds)
        for (const QColor &stated : {Navy, Green, Maroon, Red, Black})
            QTest::addRow("%s on %s", qPrintable(stated.name()), name) << stated << background;
}

void TestAppearance::darkBackgroundsGetTheDarkestReadableShade()
{
    QFETCH(QColor, stated);
    QFETCH(QColor, background);
    QVERIFY(Appearance::isDarkBackground(background));
    const QColor shown = readableOn(stated, background);
    QVERIFY2(contrastRatio(shown, background) >= Appearance::MinimumTextContrast,
             qPrintable(shown.name()));
    if (contrastRatio(stated, background) >= Appearance::MinimumTextContrast) {
        QCOMPARE(shown, stated);
        return;
    }
    QCOMPARE(shown.hslHue(), stated.hslHue());
    QVERIFY(std::abs(shown.hslSaturationF() - stated.hslSaturationF()) < 0.02f);
    QVERIFY(shown.lightnessF() > stated.lightnessF());
    // The darkest shade that passes: a visibly darker one does not. White
    // would pass everywhere and lose the hue.
    const QColor darker = QColor::fromHslF(std::max(0.0f, stated.hslHueF()), stated.hslSaturationF(),
                                           shown.lightnessF() - 3.0f / 255);
    QVERIFY2(contrastRatio(darker, background) < Appearance::MinimumTextContrast,
             qPrintable(darker.name()));
}

// The surface texts are made readable on: the palette's lighter of window and
// button, lifted on dark palettes (styles draw tab pages lighter) but never
// out of the dark range, where the stated colours would be kept.
void TestAppearance::surfaceBehindText()
{
    using Appearance::isDarkBackground;
    const QPalette light = QApplication::style()->standardPalette();
    QCOMPARE(Appearance::surfaceBehindText(light), light.color(QPalette::Window));

    const QPalette dark = Appearance::darkPalette();
    const QColor lifted = Appearance::surfaceBehindText(dark);
    QVERIFY(isDarkBackground(lifted));
    QVERIFY(Appearance::relativeLuminance(lifted) >
            Appearance::relativeLuminance(dark.color(QPalette::Window)));

    const QPalette grey(QColor(0x70, 0x70, 0x70));
    QVERIFY(isDarkBackground(grey.color(QPalette::Window)));
    const QColor surface = Appearance::surfaceBehindText(grey);
    QVERIFY(isDarkBackground(surface));
    QVERIFY(contrastRatio(readableOn(Navy, surface), grey.color(QPalette::Window)) >=
            Appearance::MinimumTextContrast);
}

void TestAppearance::schemeNames()
{
    using Appearance::Scheme;
    QCOMPARE(Appearance::schemeFromName(QString()), Scheme::Platform);
    QCOMPARE(Appearance::schemeFromName(QStringLiteral("light")), Scheme::Light);
    QCOMPARE(Appearance::schemeFromName(QStringLiteral(" Dark ")), Scheme::Dark);
    QVERIFY(!Appearance::schemeFromName(QStringLiteral("midnight")));
    QVERIFY(!Appearance::schemeFromName(QStringLiteral("darker")));
}

// The main window on every page with the unit's values, the names grid, a
// page marked unsent, the About box and the ping window: light, dark, and
// light again (the stated colours come back after a change of scheme).
void TestAppearance::sessionWindowsInBothSchemes()
{
    WorkingFolder folder;
    MessageRecorder messages;
    SimProcess sim;
    QVERIFY2(sim.start({QStringLiteral("--no-animate")}), qPrintable(sim.output()));
    if (!textMeasurable())
        qInfo("text fit not checked: the %s platform here has no fonts",
              qPrintable(QGuiApplication::platformName()));
    std::unique_ptr<TMainForm> form = tcpSessionForm(sim.port());
    QVERIFY(form->sessionOpen());
    for (QPushButton *get : {form->networkPage()->Button1, form->g50Page()->Button5,
                             form->bacnetPage()->Button3, form->namesPage()->Button9}) {
        get->click();
        form->Timer2->fire();
    }
    form->scheduler().setPending(Request::StatusPoll, true);
    form->DispatchRequest();
    form->setTabHighlighted(TMainForm::Tab::BACnet, true);
    form->pingForm()->Label2->setText(QStringLiteral("127.0.0.1"));
    form->FrameMonitor1->trigger();
    QVERIFY(form->frameMonitor());

    auto &app = *qApp;
    // The platform's own (light) palette first, then the schemes a user chooses.
    for (const auto scheme :
         {Appearance::Scheme::Platform, Appearance::Scheme::Dark, Appearance::Scheme::Light}) {
        const bool dark = scheme == Appearance::Scheme::Dark;
        if (scheme != Appearance::Scheme::Platform) {
            QSignalSpy recoloured(Appearance::PaletteWatch::instance(),
                                  &Appearance::PaletteWatch::paletteChanged);
            Appearance::applyScheme(app, scheme);
            QVERIFY(recoloured.wait(5000));
        }
        QCOMPARE(Appearance::isDarkBackground(form->palette().color(QPalette::Window)), dark);
        QStringList failures;
        int coloured = 0;

        QTabWidget *pages = form->pageControl();
        for (int i = 0; i < pages->count(); ++i) {
            if (!pages->isTabVisible(i))
                continue;
            pages->setCurrentIndex(i);
            QTabWidget *inner = i == int(TMainForm::Tab::Diagnostics)
                                    ? form->diagnosticsPage()->inner
                                    : nullptr;
            for (int j = 0; j < (inner ? inner->count() : 1); ++j) {
                if (inner)
                    inner->setCurrentIndex(j);
                const QImage shot = form->grab().toImage();
                coloured += checkColouredLabels(form.get(), shot, dark, failures);
                checkClipping(form.get(), failures);
            }
        }

        // The marked tab's caption, on the picture of the tab bar.
        QTabBar *bar = pages->tabBar();
        const QImage shot = form->grab().toImage();
        const int marked = int(TMainForm::Tab::BACnet);
        checkColouredText(QStringLiteral("BACnet tab caption"),
                          inkOf(shot, placeIn(bar, form.get(), bar->tabRect(marked))), Red, dark,
                          failures);

        // The names grid's fixed address cells: black on the button face.
        pages->setCurrentIndex(int(TMainForm::Tab::Names));
        QTableWidget *grid = form->namesPage()->StringGrid1;
        const QImage names = form->grab().toImage();
        const QRect cell = grid->visualItemRect(grid->item(0, 0));
        checkColouredText(QStringLiteral("names grid address cell"),
                          inkOf(names, placeIn(grid->viewport(), form.get(), cell)), Black, dark,
                          failures);

        for (QWidget *window : std::initializer_list<QWidget *>{
                 form->aboutBox(), form->pingForm(), form->macDialog(), form->frameMonitor()}) {
            const QImage picture = window->grab().toImage();
            coloured += checkColouredLabels(window, picture, dark, failures);
            checkClipping(window, failures);
        }
        // The Frame Monitor's failed exchanges, on plain and alternate rows.
        const QColor failed = FrameTableModel::failedRowColour();
        if (!dark)
            QCOMPARE(failed, QColor(Qt::darkRed));
        for (const auto role : {QPalette::Base, QPalette::AlternateBase})
            if (dark && contrastRatio(failed, QGuiApplication::palette().color(role)) <
                            Appearance::MinimumTextContrast)
                failures << QStringLiteral("failed frame rows: %1 on %2")
                                .arg(failed.name(),
                                     QGuiApplication::palette().color(role).name());

        // Values and states on the pages, the G50 lines, the About box's
        // texts, the ping address: a page whose colour was lost would lower this.
        QVERIFY2(coloured >= 14, qPrintable(QString::number(coloured)));
        QVERIFY2(failures.isEmpty(), qPrintable((dark ? QStringLiteral("dark:\n")
                                                      : QStringLiteral("light:\n")) +
                                                failures.join(QLatin1Char('\n'))));
    }
    form->BeginClose();
    form->EndSession();
    sim.stop();

    // The connection page, shown again once the session has ended.
    QVERIFY(form->pageControl()->isTabVisible(int(TMainForm::Tab::Connection)));
    for (const auto scheme : {Appearance::Scheme::Dark, Appearance::Scheme::Light}) {
        QSignalSpy recoloured(Appearance::PaletteWatch::instance(),
                              &Appearance::PaletteWatch::paletteChanged);
        Appearance::applyScheme(app, scheme);
        QVERIFY(recoloured.wait(5000));
        QStringList failures;
        checkColouredLabels(form.get(), form->grab().toImage(),
                            scheme == Appearance::Scheme::Dark, failures);
        checkClipping(form.get(), failures);
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QLatin1Char('\n'))));
    }
}

QTEST_MAIN(TestAppearance)
#include "tst_appearance.moc"
