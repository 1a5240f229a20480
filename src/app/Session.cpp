// Opening a session over the network, judging the unit, and closing and ending
// sessions on either transport.

#include "MainForm.h"

#include "Codecs.h"
#include "ConfigFiles.h"
#include "ConnectReasons.h"
#include "ModBusTCPPro.h"
#include "NetworkPage.h"
#include "StatusPoll.h"

#include <QAction>
#include <QTabWidget>

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
