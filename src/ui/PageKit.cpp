#include "PageKit.h"

#include "Appearance.h"

#include <algorithm>

#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QValidator>

namespace {

// Refuses user input that would make the text longer than the limit; text
// set by the program is not validated and stays whole.
class EntryLengthLimit : public QValidator
{
public:
    EntryLengthLimit(int limit, QObject *parent) : QValidator(parent), m_limit(limit) {}
    State validate(QString &input, int &) const override
    {
        return input.size() <= m_limit ? Acceptable : Invalid;
    }

private:
    int m_limit;
};

// The colour asked for, kept so the shown colour can follow palette changes.
constexpr char StatedColourProperty[] = "statedTextColour";
constexpr char FollowsPaletteProperty[] = "followsPalette";

void applyTextColour(QWidget *widget)
{
    const QVariant stated = widget->property(StatedColourProperty);
    if (!stated.isValid())
        return;
    const QColor colour = stated.value<QColor>();
    // The colours around the widget, not its own palette: that one still
    // holds the roles set before a change of scheme.
    const QPalette around = widget->parentWidget() ? widget->parentWidget()->palette()
                                                   : QApplication::palette(widget);
    QPalette p;
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        p.setColor(group, QPalette::WindowText,
                   Appearance::readableOn(colour, Appearance::surfaceBehindText(around, group)));
        p.setColor(group, QPalette::Text,
                   Appearance::readableOn(colour, around.color(group, QPalette::Base)));
    }
    // Only the two text roles are the widget's own; the rest is inherited.
    widget->setPalette(p);
}

} // namespace

namespace PageKit {

QGroupBox *pageGroup(QWidget *page, const QString &title)
{
    auto *group = new QGroupBox(title, page);
    group->setGeometry(8, 8, 369, 289);
    return group;
}

QLabel *label(QWidget *parent, const QString &text, const QRect &geometry)
{
    auto *l = new QLabel(text, parent);
    l->setGeometry(geometry);
    return l;
}

QLabel *boldLabel(QWidget *parent, const QString &text, const QRect &geometry, int pointSize)
{
    QLabel *l = label(parent, text, geometry);
    QFont f = l->font();
    f.setBold(true);
    if (pointSize > 0)
        f.setPointSize(pointSize);
    l->setFont(f);
    return l;
}

void setTextColour(QWidget *widget, const QColor &colour)
{
    widget->setProperty(StatedColourProperty, colour);
    applyTextColour(widget);
    // Connected once per widget, however often its colour is set or cleared.
    if (!widget->property(FollowsPaletteProperty).toBool()) {
        widget->setProperty(FollowsPaletteProperty, true);
        QObject::connect(Appearance::PaletteWatch::instance(),
                         &Appearance::PaletteWatch::paletteChanged, widget,
                         [widget] { applyTextColour(widget); });
    }
}

void clearTextColour(QWidget *widget)
{
    widget->setProperty(StatedColourProperty, QVariant());
    widget->setPalette(QPalette()); // every role inherited again
}

QLineEdit *edit(QWidget *parent, const QString &name, int maxLength, const QRect &geometry)
{
    auto *e = new QLineEdit(parent);
    e->setObjectName(name);
    e->setValidator(new EntryLengthLimit(maxLength, e));
    e->setGeometry(geometry);
    return e;
}

QPushButton *button(QWidget *parent, const QString &name, const QString &text,
                    const QRect &geometry)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setGeometry(geometry);
    b->setAutoDefault(false);
    return b;
}

QCheckBox *leftCheckBox(QWidget *parent, const QString &name, const QString &text,
                        const QRect &geometry)
{
    auto *c = new QCheckBox(text, parent);
    c->setObjectName(name);
    c->setLayoutDirection(Qt::RightToLeft);
    c->setGeometry(geometry);
    return c;
}

std::array<QLineEdit *, 4> octetRow(QWidget *parent, const QString &caption, int firstEdit, int y,
                                    int boxesX)
{
    if (!caption.isEmpty())
        label(parent, caption, QRect(16, y + 3, boxesX - 20, 17));
    std::array<QLineEdit *, 4> boxes{};
    for (int i = 0; i < 4; ++i) {
        const int x = boxesX + i * 45;
        boxes[size_t(i)] =
            edit(parent, QStringLiteral("Edit%1").arg(firstEdit + i), 3, QRect(x, y, 33, 23));
        if (i < 3)
            boldLabel(parent, QStringLiteral("."), QRect(x + 37, y + 4, 6, 17), 10);
    }
    return boxes;
}

GetSendPair getSendButtons(QGroupBox *group, int getNumber, int sendNumber)
{
    auto *line = new QFrame(group);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(8, 238, 353, 4);
    GetSendPair pair{};
    pair.get = button(group, QStringLiteral("Button%1").arg(getNumber),
                      QStringLiteral("Get From Unit"), QRect(16, 250, 105, 27));
    pair.send = button(group, QStringLiteral("Button%1").arg(sendNumber),
                       QStringLiteral("Send To Unit"), QRect(248, 250, 105, 27));
    return pair;
}

} // namespace PageKit

void setBarValue(QProgressBar *bar, int value)
{
    bar->setValue(std::clamp(value, bar->minimum(), bar->maximum()));
}
