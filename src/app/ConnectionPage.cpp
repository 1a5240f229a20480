#include "ConnectionPage.h"

#include "MainForm.h"
#include "PageKit.h"
#include "SerialLink.h"

#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>

using namespace PageKit;

namespace {

QToolButton *connectButton(QWidget *parent, const QString &name, const QString &text,
                           QStyle::StandardPixmap picture, const QString &hint, const QRect &geo)
{
    auto *b = new QToolButton(parent);
    b->setObjectName(name);
    b->setText(text);
    b->setIcon(parent->style()->standardIcon(picture));
    b->setIconSize(QSize(32, 32));
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setToolTip(hint);
    b->setGeometry(geo);
    return b;
}

} // namespace

ConnectionPage::ConnectionPage(TMainForm &form, QWidget *parent) : QWidget(parent), m_form(form)
{
    setObjectName(QStringLiteral("Conn_Tab"));
    QGroupBox *group = pageGroup(this, QStringLiteral(" Connection Types "));
    BitBtn1 = connectButton(
        group, QStringLiteral("BitBtn1"), QStringLiteral("Via COM Port"), QStyle::SP_ComputerIcon,
        QStringLiteral("Click To Connect Using Serial Comms"), QRect(16, 28, 81, 73));
    BitBtn1->setEnabled(false);
    ComboBox1 = new QComboBox(group);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setEditable(false);
    ComboBox1->setGeometry(112, 30, 90, 24);
    for (int n = 1; n <= 8; ++n)
        ComboBox1->addItem(QStringLiteral("COM%1").arg(n));
    BitBtn4 =
        button(group, QStringLiteral("BitBtn4"), QStringLiteral("Find"), QRect(218, 28, 83, 49));

    auto *line = new QFrame(group);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(8, 118, 353, 4);

    BitBtn2 = connectButton(
        group, QStringLiteral("BitBtn2"), QStringLiteral("Via Network"), QStyle::SP_DriveNetIcon,
        QStringLiteral("Click To Connect Using Network Comms"), QRect(16, 136, 81, 73));
    addressBoxes = octetRow(group, QString(), 23, 160, 112);
    Button8 =
        button(group, QStringLiteral("Button8"), QStringLiteral("Ping"), QRect(296, 158, 58, 27));

    connect(BitBtn1, &QToolButton::clicked, &m_form, &TMainForm::BitBtn1Click);
    connect(BitBtn2, &QToolButton::clicked, &m_form, &TMainForm::BitBtn2Click);
    connect(BitBtn4, &QPushButton::clicked, &m_form, &TMainForm::BitBtn4Click);
    connect(ComboBox1, QOverload<int>::of(&QComboBox::activated), &m_form,
            &TMainForm::ComboBox1Select);
    connect(ComboBox1, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &ConnectionPage::showChosenDevice);
}

void ConnectionPage::refreshPortTooltips()
{
    for (int i = 0; i < ComboBox1->count(); ++i) {
        const QString text = ComboBox1->itemText(i);
        const QString device = comPortDevice(text.mid(3).toInt());
        ComboBox1->setItemData(i, device.isEmpty() ? text : text + QStringLiteral(": ") + device,
                               Qt::ToolTipRole);
    }
    showChosenDevice(ComboBox1->currentIndex());
}

void ConnectionPage::showChosenDevice(int index)
{
    ComboBox1->setToolTip(index < 0 ? QString()
                                    : ComboBox1->itemData(index, Qt::ToolTipRole).toString());
}
