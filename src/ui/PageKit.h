#pragma once

// Building blocks shared by the tab pages: every control is placed at fixed
// coordinates and carries its name as objectName, so tests and later pages
// find it by that name.

#include <QColor>
#include <QRect>
#include <QString>

#include <array>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QWidget;

namespace PageKit {

inline const QColor Navy(0x00, 0x00, 0x80);
inline const QColor Green(0x00, 0x80, 0x00);
inline const QColor Maroon(0x80, 0x00, 0x00);
inline const QColor Red(0xFF, 0x00, 0x00);

// The page's group box at (8, 8), 369 x 289.
QGroupBox *pageGroup(QWidget *page, const QString &title);
QLabel *label(QWidget *parent, const QString &text, const QRect &geometry);
QLabel *boldLabel(QWidget *parent, const QString &text, const QRect &geometry, int pointSize = 0);
// Shows the widget's text in `colour`, or on a dark background in a lighter
// shade of it where needed for contrast; follows later palette changes.
void setTextColour(QWidget *widget, const QColor &colour);
// The widget's text in the palette's own colours again.
void clearTextColour(QWidget *widget);
// An edit box whose user input is limited to maxLength characters. Text the
// program sets is shown whole (a register value too wide for its box stays
// visible and is refused when sent), unlike QLineEdit's own maxLength, which
// would cut it.
QLineEdit *edit(QWidget *parent, const QString &name, int maxLength, const QRect &geometry);
QPushButton *button(QWidget *parent, const QString &name, const QString &text,
                    const QRect &geometry);
// A check box whose caption stands to the left of the box.
QCheckBox *leftCheckBox(QWidget *parent, const QString &name, const QString &text,
                        const QRect &geometry);

// A row caption at x = 16 and four 33-pixel octet boxes named Edit<first> to
// Edit<first + 3>, with a bold "." between neighbours.
std::array<QLineEdit *, 4> octetRow(QWidget *parent, const QString &caption, int firstEdit, int y,
                                    int boxesX = 140);

// The horizontal line and the "Get From Unit" / "Send To Unit" pair at the
// bottom of a page group.
struct GetSendPair
{
    QPushButton *get;
    QPushButton *send;
};
GetSendPair getSendButtons(QGroupBox *group, int getNumber, int sendNumber);

} // namespace PageKit

// QProgressBar ignores a value outside its range and keeps the old one; the
// value is clamped first so the bar always shows the nearest end.
void setBarValue(QProgressBar *bar, int value);
