#include "BACnetPage.h"

#include "MainForm.h"
#include "PageKit.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace PageKit;

BACnetPage::BACnetPage(TMainForm &form, QWidget *parent) : QWidget(parent), m_form(form)
{
    setObjectName(QStringLiteral("BAC_Tab"));
    QGroupBox *group = pageGroup(this, QStringLiteral(" BACnet Configuration "));
    label(group, QStringLiteral("Device ID"), QRect(16, 31, 120, 17));
    Edit21 = edit(group, QStringLiteral("Edit21"), 7, QRect(140, 28, 70, 23));
    Label26 = label(group, QStringLiteral("Invalid ID"), QRect(220, 31, 120, 17));
    Label26->setObjectName(QStringLiteral("Label26"));
    setTextColour(Label26, Red);
    Label26->hide();
    label(group, QStringLiteral("Device Name"), QRect(16, 63, 120, 17));
    Edit22 = edit(group, QStringLiteral("Edit22"), 19, QRect(140, 60, 200, 23));
    CheckBox1 = leftCheckBox(group, QStringLiteral("CheckBox1"),
                             QStringLiteral("New Setting Comparison"), QRect(12, 94, 230, 22));
    CheckBox2 =
        leftCheckBox(group, QStringLiteral("CheckBox2"),
                     QStringLiteral("Register as a Foreign Device"), QRect(12, 120, 230, 22));
    CheckBox2->setToolTip(
        QStringLiteral("Tick If Quorix Unit Needs to Register Itself With A BBMD"));

    Panel2 = new QWidget(group);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setGeometry(0, 146, 369, 84);
    bbmdBoxes = octetRow(Panel2, QStringLiteral("BBMD IP Address"), 17, 4);
    for (QLineEdit *box : bbmdBoxes)
        box->setEnabled(false);
    label(Panel2, QStringLiteral("Time To Live"), QRect(16, 43, 120, 17));
    Edit28 = edit(Panel2, QStringLiteral("Edit28"), 5, QRect(140, 40, 55, 23));
    label(Panel2, QStringLiteral("seconds"), QRect(202, 43, 80, 17));

    const GetSendPair pair = getSendButtons(group, 3, 4);
    Button3 = pair.get;
    Button4 = pair.send;

    connect(Button3, &QPushButton::clicked, this, &BACnetPage::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &BACnetPage::Button4Click);
    connect(CheckBox2, &QCheckBox::toggled, this, &BACnetPage::CheckBox2Click);
    for (QLineEdit *box :
         {Edit21, Edit22, Edit28, bbmdBoxes[0], bbmdBoxes[1], bbmdBoxes[2], bbmdBoxes[3]})
        connect(box, &QLineEdit::textChanged, this, &BACnetPage::BACnetChange);
    connect(CheckBox1, &QCheckBox::toggled, this, &BACnetPage::BACnetChange);
}

void BACnetPage::Button3Click()
{
    m_form.raisePageRequest(Request::GetBACnet, QStringLiteral("Retrieving BACnet Settings...."));
}

void BACnetPage::Button4Click()
{
    m_form.raisePageRequest(Request::SendBACnet,
                            QStringLiteral("Transmitting BACnet Settings...."));
}

void BACnetPage::CheckBox2Click()
{
    Panel2->setEnabled(CheckBox2->isChecked());
    EnableChildControls(Panel2);
    BACnetChange();
}

void BACnetPage::BACnetChange()
{
    if (m_form.Flags.PendingGetBACnet || m_form.ResettingPages)
        return;
    Button4->setEnabled(true);
    m_form.setTabHighlighted(TMainForm::BACPage, true);
}

void BACnetPage::GetBACnetSettings()
{
    m_form.commonTail();
}

void BACnetPage::SendBACnetSettings()
{
    m_form.commonTail();
}
