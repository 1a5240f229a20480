// Opening a session over the network, judging the unit, and closing and ending
// sessions on either transport; after a restart, waiting for the unit and
// reconnecting.

#include "MainForm.h"

#include "Codecs.h"
#include "ConfigFiles.h"
#include "ConnectReasons.h"
#include "ModBusTCPPro.h"
#include "NetworkPage.h"
#include "SerialLink.h"
#include "StatusPoll.h"

#include <QAction>
#include <QTabWidget>

#include <algorithm>

namespace {
const QString NoReplyText = QStringLiteral("No Reply From Unit. Terminating Connection...");
const QString ForeignUnitText =
    QStringLiteral("This unit is not a BACnet I/F. Terminating Connection...");
} // namespace

void TMainForm::BitBtn2Click()
{
    const std::array<int, 4> octets = m_connection->addressOctets();
    for (int octet : octets) {
        if (octet < 0 || octet > 255) {
            BeepMessageDlg(QStringLiteral("Invalid IP Address Selected."), MsgKind::Error,
                           MsgButtons::Ok);
            return;
        }
    }
    const std::optional<std::uint16_t> port = m_connection->tcpPortEntry();
    if (!port) {
        BeepMessageDlg(QStringLiteral("Invalid port: enter a TCP port from 1 to 65535."),
                       MsgKind::Error, MsgButtons::Ok);
        return;
    }
    m_tcpPortSetting = *port;
    m_tcpPort = m_envTcpPort.value_or(*port);
    showBusy(QStringLiteral("Attempting To Connect To Quorix Unit...."));
    saveCursor();
    std::array<std::uint16_t, 4> parts{};
    std::copy(octets.begin(), octets.end(), parts.begin());
    IPAddress = dottedText(parts.data());
    MBTcpClient.setRemotePort(m_tcpPort);
    MBTcpClient.setRemoteHost(IPAddress);
    MBTcpClient.open();
    hideBusy();
    restoreCursor();
    if (!MBTcpClient.connected()) {
        BeepMessageDlg(IPAddress +
                           QStringLiteral(" is not responding. Please Select Another IP Address."),
                       MsgKind::Error, MsgButtons::Ok,
                       tcpConnectReason(IPAddress, m_tcpPort, MBTcpClient.lastError()));
        EnableControls();
        return;
    }
    setPortStatus(QStringLiteral(" IP Address: ") + IPAddress);
    SaveSettings();
    IPOctets = octets;
    DisableControls();
    Access.useTcp(MBTcpClient);
    judgeUnit(false, InterrogateUnit());
    EnableControls();
}

quint16 TMainForm::InterrogateUnit()
{
    repaint();
    showBusy(QStringLiteral("Interrogating Unit. Please Wait....."));
    std::uint16_t identity[2] = {};
    quint16 product = 0;
    const RegisterResult result =
        Access.ReadRegisters(SystemUnitId, FnReadBlock, ProductCodeRegister, 2, identity);
    m_identityRead = {result, std::nullopt, Access.lastExchange()};
    if (result == ResultGood) {
        applyFirmwareGates(identity[1]);
        product = identity[0];
        m_sessionFirmware = identity[1];
    }
    hideBusy();
    return product;
}

void TMainForm::applyFirmwareGates(quint16 version)
{
    for (SessionPage *page : m_tabs)
        page->applyFirmwareGates(version);
    UpgradeFirmware1->setEnabled(version >= 999);
}

void TMainForm::judgeUnit(bool serial, quint16 productCode)
{
    if (productCode != QuorixProductCode) {
        refuseUnit(productCode);
        return;
    }
    // The identity every write of the session is checked against. Without
    // it the session still reads, but nothing is written.
    ProductInfo unit;
    if (readProductInfo(Access, unit).ok())
        m_sessionUnit = unit;
    acceptUnit(serial);
}

void TMainForm::acceptUnit(bool serial)
{
    m_pages->setCurrentIndex(int(Tab::Network));
    showSessionTabs(true);
    m_pages->setCurrentIndex(int(Tab::Network));
    CloseConnection1->setEnabled(true);
    if (!serial)
        MBTcpClient.TransactionId = 1;
    // The MAC address is programmed over a serial line in service mode only.
    m_network->showMacButton(serial && ServiceMode);
    m_scheduler->CloseRequested = false;
    m_scheduler->dropPending();
    m_statusPoll->sessionOpened();
    m_scheduler->startTimers();
    UpgradeSeparator->setVisible(!serial);
    UpgradeFirmware1->setVisible(!serial);
    recordReachedUnit(serial);
    m_lastGoodPoll.invalidate();
    refreshLinkStatus();
    if (readPagesOnConnect())
        readPagesFromUnit();
}

void TMainForm::recordReachedUnit(bool serial)
{
    RecentUnit unit;
    if (serial) {
        unit.comPort = ComPort;
    } else {
        unit.address = IPAddress;
        unit.tcpPort = m_tcpPort;
    }
    unit.firmware = m_sessionUnit ? m_sessionUnit->firmware : m_sessionFirmware;
    if (m_sessionUnit)
        unit.mac = m_sessionUnit->mac;
    unit.reached = QDateTime::currentDateTimeUtc();
    m_recent.reached(unit);
    m_recentChanged = true;
}

void TMainForm::refuseUnit(quint16 productCode)
{
    BeepMessageDlg(productCode == 0 ? NoReplyText : ForeignUnitText, MsgKind::Error, MsgButtons::Ok,
                   refusedUnitReason(m_identityRead, productCode));
    BeginClose();
    EndSession();
}

void TMainForm::CloseConnection1Click()
{
    if (hasUnsentChanges() &&
        BeepMessageDlg(QStringLiteral("There are changes that haven't been sent to the "
                                      "Ravelin.\rClosing the connection will discard these "
                                      "changes.\rOK to continue?"),
                       MsgKind::Warning, MsgButtons::YesNo) != MsgAnswer::Yes)
        return;
    BeginClose();
}

void TMainForm::BeginClose()
{
    m_scheduler->CloseRequested = true;
    // What the session asked for ends with it: a send, a restart or the MAC
    // dialog raised and not yet served never reaches the next unit.
    m_scheduler->dropPending();
    setPortStatus(QStringLiteral(" Port:"));
    Timer1->stop();
    DisableControls();
    showBusy(QStringLiteral("Closing Connection...."));
    saveCursor();
}

void TMainForm::EndSession()
{
    m_scheduler->stopTimers();
    m_scheduler->dropPending();
    m_sessionUnit.reset();
    m_sessionFirmware = 0;
    if (m_recentChanged)
        saveRecentUnits();
    const bool serial = Access.viaComPort();
    Access.closeTransport();
    if (!serial && MBTcpClient.active())
        MBTcpClient.close();
    UpgradeSeparator->setVisible(false);
    UpgradeFirmware1->setVisible(false);
    showSessionTabs(false);
    CloseConnection1->setEnabled(false);
    m_pages->setCurrentIndex(int(Tab::Connection));
    restoreCursor();
    hideBusy();
    EnableControls();
    ResetDisplays();
    refreshLinkStatus();
    followUpAfterSessionEnd();
}

PageHost::UnitCheck TMainForm::confirmSessionUnit()
{
    ProductInfo now;
    if (!m_sessionUnit || !readProductInfo(Access, now).ok())
        return UnitCheck::Unread;
    if (sameUnit(*m_sessionUnit, now))
        return UnitCheck::Same;
    m_otherUnit = now;
    return UnitCheck::Other;
}

void TMainForm::leaveOtherUnit()
{
    const auto identity = [](const ProductInfo &unit) {
        return QStringLiteral("%1, MAC %2")
            .arg(firmwareLabel(unit.productCode, unit.firmware), macLabel(unit.mac.data()));
    };
    const QString opened = m_sessionUnit ? identity(*m_sessionUnit) : QString();
    BeepMessageDlg(QStringLiteral("Another unit is answering on this connection.\rConnected to: "
                                  "%1\rNow answering: %2\rNothing was sent. The connection "
                                  "will be closed; connect again to work on this unit.")
                       .arg(opened, identity(m_otherUnit)),
                   MsgKind::Error, MsgButtons::Ok);
    BeginClose();
}

void TMainForm::sessionUnitMacChanged(const std::array<std::uint16_t, 6> &mac)
{
    if (m_sessionUnit)
        m_sessionUnit->mac = mac;
}

void TMainForm::keepUnsentChanges()
{
    if (!hasUnsentChanges() ||
        BeepMessageDlg(QStringLiteral("There are changes that haven't been sent to the Ravelin.\r"
                                      "They are discarded when the connection closes.\rSave them "
                                      "to a file first?"),
                       MsgKind::Warning, MsgButtons::YesNo) != MsgAnswer::Yes)
        return;
    m_configFiles->saveUnsentChanges();
}

// --- Restart and return ---

void TMainForm::settingsSent(const QList<SentSetting> &sent)
{
    m_sent.add(sent);
}

void TMainForm::restartNow()
{
    // The same questions as "Restart Unit": unsent changes on other pages
    // are not discarded unasked.
    m_network->Button7Click();
}

void TMainForm::followRestart()
{
    const bool serial = viaComPort();
    m_followUp = RestartFollowUp{
        serial, serial ? QString() : reconnectAddress(IPAddress, m_sent.sentIpAddress()),
        m_sent.settings()};
}

void TMainForm::followUpAfterSessionEnd()
{
    m_sent.clear();
    if (!m_followUp || (m_restartWindow && m_restartWindow->wait().running()))
        return;
    const RestartFollowUp followUp = *m_followUp;
    m_restartWindow = std::make_unique<RestartWaitWindow>(
        awaitedAt(followUp), m_reconnectTiming,
        [this, followUp] { return reconnectAttempt(followUp.serial, followUp.address); }, this);
    connect(&m_restartWindow->wait(), &RestartWait::ended, this, &TMainForm::restartWaitEnded);
    m_restartWindow->show();
    m_restartWindow->wait().start();
}

bool TMainForm::reconnectAttempt(bool serial, const QString &address)
{
    if (serial) {
        std::unique_ptr<SerialLink> link =
            m_serialLinkFactory ? m_serialLinkFactory() : createSerialLink();
        try {
            if (ComPort < 1 || !link->OpenPort(ComPort))
                return false;
        } catch (const std::exception &) {
            return false; // the port is not there yet: the next attempt tries again
        }
        Access.useSerial(std::move(link));
        InterrogateUnit(); // wakes the line, as a serial connect does
    } else {
        MBTcpClient.setRemotePort(m_tcpPort);
        MBTcpClient.setRemoteHost(address);
        // A restarting unit refuses at once; one that is not there yet is
        // given at most an interval.
        MBTcpClient.open(std::clamp(m_reconnectTiming.everyMs, 200, TTcpClient::ConnectTimeoutMs));
        if (!MBTcpClient.connected())
            return false;
        Access.useTcp(MBTcpClient);
    }
    // Cancelled while the unit was being asked: the answer is not taken.
    if (InterrogateUnit() == QuorixProductCode && m_followUp)
        return true;
    Access.closeTransport();
    if (!serial && MBTcpClient.active())
        MBTcpClient.close();
    return false;
}

void TMainForm::restartWaitEnded(RestartWait::Outcome outcome)
{
    const RestartFollowUp followUp = *m_followUp;
    m_followUp.reset();
    // Hidden, not deleted: this runs inside the wait's own signal.
    m_restartWindow->hide();
    if (outcome == RestartWait::Outcome::Back)
        return reopenAfterRestart(followUp);
    Access.closeTransport();
    if (MBTcpClient.active())
        MBTcpClient.close();
    // Cancel leaves the connection page without a word.
    if (outcome == RestartWait::Outcome::TimedOut)
        BeepMessageDlg(QStringLiteral("The unit did not come back at %1 within %2 seconds.\r"
                                      "Check the unit, then connect again.")
                           .arg(awaitedAt(followUp))
                           .arg(m_reconnectTiming.totalMs / 1000),
                       MsgKind::Error, MsgButtons::Ok);
}

QString TMainForm::awaitedAt(const RestartFollowUp &followUp) const
{
    return followUp.serial ? QStringLiteral("COM%1").arg(ComPort) : followUp.address;
}

void TMainForm::reopenAfterRestart(const RestartFollowUp &followUp)
{
    if (followUp.serial) {
        setPortStatus(QStringLiteral(" Port: COM%1").arg(ComPort));
    } else {
        // The unit's address from now on, as a connect there would keep it.
        IPAddress = followUp.address;
        const QStringList octets = followUp.address.split(QLatin1Char('.'));
        for (int i = 0; i < 4 && octets.size() == 4; ++i)
            IPOctets[std::size_t(i)] = octets[i].toInt();
        setPortStatus(QStringLiteral(" IP Address: ") + IPAddress);
        SaveSettings();
    }
    DisableControls();
    judgeUnit(followUp.serial, QuorixProductCode);
    const QList<SettingCheck> checks = checkSentSettings(Access, followUp.sent);
    EnableControls();
    QString text = QStringLiteral("The unit is back at %1.").arg(awaitedAt(followUp));
    if (!checks.isEmpty())
        text += QStringLiteral("\rSettings sent before the restart:\r") +
                describeChecks(checks).join(QLatin1Char('\r'));
    const bool allTaken =
        std::all_of(checks.begin(), checks.end(), [](const SettingCheck &c) { return c.taken(); });
    BeepMessageDlg(text, allTaken ? MsgKind::Information : MsgKind::Warning, MsgButtons::Ok);
    // The pages show what the unit holds after its restart; accepting the unit
    // has started that read already when the pages are read on connect.
    if (!readPagesOnConnect())
        readPagesFromUnit();
}
