#include "NetworkPage.h"

#include "MainForm.h"
#include "PageKit.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace PageKit;

NetworkPage::NetworkPage(TMainForm &form, QWidget *parent) : QWidget(parent), m_form(form)
{
    setObjectName(QStringLiteral("Net_Tab"));
    QGroupBox *group = pageGroup(this, QStringLiteral(" Network Configuration "));
    const auto ip = octetRow(group, QStringLiteral("IP Address"), 1, 28);
    const auto gateway = octetRow(group, QStringLiteral("Gateway Address"), 5, 60);
    const auto mask = octetRow(group, QStringLiteral("Subnet Mask"), 9, 92);
    for (int i = 0; i < 4; ++i) {
        boxes[size_t(i)] = ip[size_t(i)];
        boxes[size_t(i + 4)] = gateway[size_t(i)];
        boxes[size_t(i + 8)] = mask[size_t(i)];
    }
    CheckBox3 = leftCheckBox(group, QStringLiteral("CheckBox3"),
                             QStringLiteral("Allow Config Via Network"), QRect(12, 126, 200, 22));
    Button7 = button(group, QStringLiteral("Button7"), QStringLiteral("Restart Unit"),
                     QRect(248, 124, 105, 27));
    label(group, QStringLiteral("MAC Address"), QRect(16, 168, 120, 17));
    Label2 = label(group, QStringLiteral("00:00:00:00:00:00"), QRect(140, 168, 150, 17));
    Label2->setObjectName(QStringLiteral("Label2"));
    setTextColour(Label2, Navy);
    Button16 =
        button(group, QStringLiteral("Button16"), QStringLiteral("Set"), QRect(300, 165, 45, 22));
    Button16->setFocusPolicy(Qt::NoFocus);
    Button16->hide();
    label(group, QStringLiteral("Firmware Version"), QRect(16, 198, 120, 17));
    Label3 = label(group, QStringLiteral("QX???? v?.??"), QRect(140, 198, 150, 17));
    Label3->setObjectName(QStringLiteral("Label3"));
    setTextColour(Label3, Navy);
    const GetSendPair pair = getSendButtons(group, 1, 2);
    Button1 = pair.get;
    Button2 = pair.send;

    connect(Button1, &QPushButton::clicked, this, &NetworkPage::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &NetworkPage::Button2Click);
    connect(Button7, &QPushButton::clicked, this, &NetworkPage::Button7Click);
    connect(Button16, &QPushButton::clicked, this, &NetworkPage::Button16Click);
    for (QLineEdit *box : boxes)
        connect(box, &QLineEdit::textChanged, this, &NetworkPage::NetworkChange);
    connect(CheckBox3, &QCheckBox::toggled, this, &NetworkPage::NetworkChange);
}

void NetworkPage::Button1Click()
{
    m_form.raisePageRequest(Request::GetNetwork, QStringLiteral("Retrieving Network Settings...."));
}

void NetworkPage::Button2Click()
{
    m_form.raisePageRequest(Request::SendNetwork,
                            QStringLiteral("Transmitting New Network Settings...."));
}

void NetworkPage::Button7Click()
{
    const bool unsent = m_form.isTabHighlighted(TMainForm::NetPage) ||
                        m_form.isTabHighlighted(TMainForm::G50PageIndex) ||
                        m_form.isTabHighlighted(TMainForm::BACPage) ||
                        m_form.isTabHighlighted(TMainForm::NamePage);
    if (unsent && BeepMessageDlg(QStringLiteral("There are changes that haven't been sent to the "
                                                "Ravelin\rRestarting the unit will discard these "
                                                "changes.\rOK to continue?"),
                                 MsgKind::Warning, MsgButtons::YesNo) != MsgAnswer::Yes)
        return;
    if (BeepMessageDlg(QStringLiteral("Restarting The Unit Will Close This Connection.\rAre You "
                                      "Sure You Want To Continue?"),
                       MsgKind::Warning, MsgButtons::YesNo) != MsgAnswer::Yes)
        return;
    // The restart keeps the window usable until the scheduler serves it.
    m_form.showBusy(QStringLiteral("Transmitting Restart Command...."));
    m_form.saveCursor();
    m_form.Flags.PendingRestart = true;
}

void NetworkPage::Button16Click()
{
    m_form.Flags.PendingMACDialog = true;
}

void NetworkPage::NetworkChange()
{
    if (m_form.Flags.PendingGetNetwork || m_form.ResettingPages)
        return;
    Button2->setEnabled(true);
    m_form.setTabHighlighted(TMainForm::NetPage, true);
}

void NetworkPage::GetNetworkSettings()
{
    m_form.commonTail();
}

void NetworkPage::SendNetworkSettings()
{
    m_form.commonTail();
}

void NetworkPage::SendRestartCommand()
{
    m_form.commonTail();
}
