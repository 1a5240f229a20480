#include "NetworkPage.h"

#include "Codecs.h"
#include "MacDialog.h"
#include "Outcome.h"
#include "PageHost.h"
#include "PageKit.h"
#include "PageRules.h"
#include "SentSettings.h"
#include "UiSupport.h"
#include "UnitOps.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

using namespace PageKit;

NetworkPage::NetworkPage(PageHost &host, QWidget *parent) : SessionPage(host, parent)
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
    setRequestButtons({Button1}, Button2);

    connect(Button1, &QPushButton::clicked, this, &NetworkPage::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &NetworkPage::Button2Click);
    connect(Button7, &QPushButton::clicked, this, &NetworkPage::Button7Click);
    connect(Button16, &QPushButton::clicked, this, &NetworkPage::Button16Click);
    for (QLineEdit *box : boxes) {
        holdOnEdit(box);
        connect(box, &QLineEdit::textChanged, this, &NetworkPage::NetworkChange);
        box->setToolTip(QStringLiteral("0 to %1").arg(OctetMax));
    }
    holdOnEdit(CheckBox3);
    connect(CheckBox3, &QCheckBox::toggled, this, &NetworkPage::NetworkChange);

    RequestScheduler &scheduler = host.scheduler();
    scheduler.setHandler(Request::GetNetwork, [this] { GetNetworkSettings(); });
    scheduler.setHandler(Request::SendNetwork, [this] { SendNetworkSettings(); });
    scheduler.setHandler(Request::Restart, [this] { SendRestartCommand(); });
}

void NetworkPage::resetDisplay()
{
    for (QLineEdit *box : boxes)
        box->clear();
    Label2->setText(QStringLiteral("00:00:00:00:00:00"));
    Label3->setText(QStringLiteral("QX???? v?.??"));
    CheckBox3->setChecked(false);
    // The MAC dialog of the next session starts from zeros, never from the
    // address of the unit before.
    UnitMacOctets.fill(0);
}

void NetworkPage::applyFirmwareGates(int version)
{
    // The lock register exists from version 1.34 on.
    CheckBox3->setVisible(version > 133);
}

void NetworkPage::showMacButton(bool show)
{
    Button16->setVisible(show);
}

void NetworkPage::letMacDialogWatch(TMACFrm &dialog)
{
    dialog.watchMacLabel(Label2);
}

void NetworkPage::Button1Click()
{
    m_host.raiseRequest(Request::GetNetwork);
}

void NetworkPage::Button2Click()
{
    m_host.raiseRequest(Request::SendNetwork);
}

void NetworkPage::Button7Click()
{
    if (m_host.hasUnsentChanges() &&
        BeepMessageDlg(QStringLiteral("There are changes that haven't been sent to the "
                                      "Ravelin\rRestarting the unit will discard these "
                                      "changes.\rOK to continue?"),
                       MsgKind::Warning, MsgButtons::YesNo) != MsgAnswer::Yes)
        return;
    if (BeepMessageDlg(QStringLiteral("Restarting The Unit Will Close This Connection.\rAre You "
                                      "Sure You Want To Continue?"),
                       MsgKind::Warning, MsgButtons::YesNo) != MsgAnswer::Yes)
        return;
    // The restart keeps the window usable until the scheduler serves it.
    m_host.raiseRequest(Request::Restart);
}

void NetworkPage::Button16Click()
{
    m_host.raiseRequest(Request::MACDialog);
}

void NetworkPage::NetworkChange()
{
    markUnsent();
}

void NetworkPage::show(const NetworkReading &reading, Hold hold)
{
    const Loading loading(*this);
    if (reading.addresses) {
        for (std::size_t i = 0; i < boxes.size(); ++i)
            boxes[i]->setText(octetText((*reading.addresses)[i]));
        if (hold == Hold::Shown)
            holdValues(boxes);
    }
    if (const std::optional<ProductInfo> &product = reading.product) {
        Label3->setText(firmwareLabel(product->productCode, product->firmware));
        Label2->setText(macLabel(product->mac.data()));
        std::copy(product->mac.begin(), product->mac.end(), UnitMacOctets.begin());
    }
    if (reading.lockWord) {
        CheckBox3->setChecked(configViaNetworkAllowed(*reading.lockWord));
        if (hold == Hold::Shown)
            holdValue(CheckBox3);
    }
}

bool NetworkPage::holdsAllEntries() const
{
    return holdsAll(boxes) && holds(CheckBox3);
}

NetworkEntries NetworkPage::entries() const
{
    NetworkEntries entries;
    for (std::size_t i = 0; i < boxes.size(); ++i)
        entries.addresses[i] = boxes[i]->text();
    entries.allowConfigViaNetwork = CheckBox3->isChecked();
    return entries;
}

bool NetworkPage::editTo(const NetworkReading &reading)
{
    const NetworkEntries before = entries();
    show(reading, Hold::Shown);
    if (entries() == before)
        return false;
    markUnsent();
    return true;
}

void NetworkPage::GetNetworkSettings()
{
    const Loading loading(*this);
    NetworkReading reading;
    const OpResult op = readNetworkSettings(m_host.access(), reading);
    // Whatever arrived before a failed block is shown.
    show(reading, Hold::Shown);
    finishRequest(Finish::Get, op.ok(), QString(),
                  QStringLiteral("Error Retrieving Network Settings."), describe(op));
}

void NetworkPage::SendNetworkSettings()
{
    const QString errorText = QStringLiteral("Error Transmitting Network Settings.");
    // Each of the two blocks is written only when the page holds it: an
    // unread lock box would otherwise lock the unit against configuration
    // over the network.
    const bool addressesHeld = holdsAny(boxes);
    const bool lockHeld = holds(CheckBox3);
    if (!addressesHeld && !lockHeld)
        return refuseUnheld();
    NetworkAddresses addresses{};
    if (addressesHeld) {
        const auto numbers =
            takeNumbers(QList<QLineEdit *>(boxes.begin(), boxes.end()), 0, OctetMax,
                        QStringLiteral("Unable To Send New Network Settings Due To Invalid Data."));
        if (!numbers)
            return;
        std::copy(numbers->begin(), numbers->end(), addresses.begin());
    }
    if (!confirmUnit(errorText))
        return;
    OpResult op;
    if (addressesHeld)
        op = writeNetworkAddresses(m_host.access(), addresses);
    // The lock register is written whether or not its box is shown.
    if (op.ok() && lockHeld)
        op = writeConfigLock(m_host.access(), entries().allowConfigViaNetwork);
    QString sent = QStringLiteral("Network Settings Transmitted OK.\rPlease restart the unit for "
                                  "these changes to take effect.");
    if (!lockHeld)
        sent += QLatin1Char('\r') + leftOutLine({QStringLiteral("Allow Config Via Network")});
    else if (!addressesHeld)
        sent += QLatin1Char('\r') +
                leftOutLine({QStringLiteral("IP address, gateway and subnet mask")});
    NetworkConfig config{addresses, entries().allowConfigViaNetwork};
    finishSendBeforeRestart(op.ok(), sent, errorText, describe(op),
                            sentNetworkSettings(config, addressesHeld, lockHeld));
}

void NetworkPage::SendRestartCommand()
{
    const QString errorText = QStringLiteral("Error Transmitting Restart Command.");
    if (!confirmUnit(errorText))
        return;
    const OpResult op = sendRestartCommand(m_host.access());
    commonTail();
    // The unit goes away to restart: the session ends without a message,
    // and the tool waits for the unit to come back.
    if (op.ok()) {
        m_host.BeginClose();
        m_host.followRestart();
    } else
        BeepMessageDlg(errorText, MsgKind::Error, MsgButtons::Ok);
}
