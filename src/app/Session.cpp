// Opening a session over the network, judging the unit, and closing and ending
// sessions on either transport.

#include "MainForm.h"

#include "BACnetPage.h"
#include "Codecs.h"
#include "ConnectionPage.h"
#include "DiagnosticsPage.h"
#include "ModBusTCPPro.h"
#include "NetworkPage.h"
#include "SerialLink.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

namespace {
const QString NoReplyText = QStringLiteral("No Reply From Unit. Terminating Connection...");
const QString ForeignUnitText =
    QStringLiteral("This unit is not a BACnet I/F. Terminating Connection...");
} // namespace

void TMainForm::BitBtn2Click()
{
    PollFailureCount = 0;
    std::array<int, 4> octets{};
    for (int i = 0; i < 4; ++i) {
        octets[size_t(i)] = parseEntryNumber(EditBoxes[size_t(23 + i)]->text());
        if (octets[size_t(i)] < 0 || octets[size_t(i)] > 255) {
            BeepMessageDlg(QStringLiteral("Invalid IP Address Selected."), MsgKind::Error,
                           MsgButtons::Ok);
            return;
        }
    }
    showBusy(QStringLiteral("Attempting To Connect To Quorix Unit...."));
    saveCursor();
    IPAddress = QString::asprintf("%d.%d.%d.%d", octets[0], octets[1], octets[2], octets[3]);
    MBTcpClient.setRemotePort(m_tcpPort);
    MBTcpClient.setRemoteHost(IPAddress);
    MBTcpClient.open();
    hideBusy();
    restoreCursor();
    if (!MBTcpClient.connected()) {
        BeepMessageDlg(IPAddress +
                           QStringLiteral(" is not responding. Please Select Another IP Address."),
                       MsgKind::Error, MsgButtons::Ok);
        EnableControls();
        return;
    }
    setPortStatus(QStringLiteral(" IP Address: ") + IPAddress);
    SaveSettings();
    IPOctets = octets;
    DisableControls();
    Access.ViaComPort = false;
    const quint16 product = InterrogateUnit();
    if (product == QuorixProductCode)
        acceptNetworkUnit();
    else
        refuseUnit(product);
    EnableControls();
}

quint16 TMainForm::InterrogateUnit()
{
    repaint();
    showBusy(QStringLiteral("Interrogating Unit. Please Wait....."));
    std::uint16_t identity[2] = {};
    quint16 product = 0;
    if (Access.ReadRegisters(SystemUnitId, FnReadBlock, ProductCodeRegister, 2, identity) ==
        ResultGood) {
        applyFirmwareGates(identity[1]);
        product = identity[0];
    }
    hideBusy();
    return product;
}

void TMainForm::applyFirmwareGates(quint16 version)
{
    diagnosticsPage()->applyFirmwareGates(version);
    QCheckBox *foreign = bacnetPage()->CheckBox2;
    if (version <= 120) {
        foreign->setChecked(false);
        foreign->setEnabled(false);
    } else {
        foreign->setEnabled(true);
    }
    networkPage()->CheckBox3->setVisible(version > 133);
    UpgradeFirmware1->setEnabled(version >= 999);
}

void TMainForm::acceptNetworkUnit()
{
    m_pages->setCurrentIndex(NetPage);
    showSessionTabs(true);
    m_pages->setCurrentIndex(NetPage);
    CloseConnection1->setEnabled(true);
    TransactionId = 1;
    networkPage()->Button16->hide();
    Timer1->start();
    Timer2->start();
    Flags.CloseRequested = false;
    UpgradeSeparator->setVisible(true);
    UpgradeFirmware1->setVisible(true);
}

void TMainForm::refuseUnit(quint16 productCode)
{
    BeepMessageDlg(productCode == 0 ? NoReplyText : ForeignUnitText, MsgKind::Error,
                   MsgButtons::Ok);
    BeginClose();
    EndSession();
}

void TMainForm::CloseConnection1Click()
{
    const bool unsent = isTabHighlighted(NetPage) || isTabHighlighted(G50PageIndex) ||
                        isTabHighlighted(BACPage) || isTabHighlighted(NamePage);
    if (unsent &&
        BeepMessageDlg(QStringLiteral("There are changes that haven't been sent to the "
                                      "Ravelin.\rClosing the connection will discard these "
                                      "changes.\rOK to continue?"),
                       MsgKind::Warning, MsgButtons::YesNo) != MsgAnswer::Yes)
        return;
    BeginClose();
}

void TMainForm::BeginClose()
{
    Flags.CloseRequested = true;
    setPortStatus(QStringLiteral(" Port:"));
    Timer1->stop();
    DisableControls();
    showBusy(QStringLiteral("Closing Connection...."));
    saveCursor();
}

void TMainForm::EndSession()
{
    Timer1->stop();
    Timer2->stop();
    if (Access.ViaComPort) {
        if (SerialComms) {
            SerialComms->ClosePort();
            Access.SerialComms = nullptr;
            SerialComms.reset();
        }
    } else if (MBTcpClient.active()) {
        MBTcpClient.close();
    }
    UpgradeSeparator->setVisible(false);
    UpgradeFirmware1->setVisible(false);
    showSessionTabs(false);
    CloseConnection1->setEnabled(false);
    m_pages->setCurrentIndex(ConnPage);
    restoreCursor();
    hideBusy();
    EnableControls();
    ResetDisplays();
}
