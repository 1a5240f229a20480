// Opening a session through a COM port, and the port list on the "Choose
// Connection" page.

#include "MainForm.h"

#include "ConnectionPage.h"
#include "NetworkPage.h"
#include "SerialLink.h"

#include <QComboBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

#include <exception>

namespace {
constexpr int SearchedComPorts = 32;
} // namespace

void TMainForm::setSerialLinkFactory(std::function<std::unique_ptr<SerialLink>()> factory)
{
    m_serialLinkFactory = std::move(factory);
}

void TMainForm::BitBtn1Click()
{
    PollFailureCount = 0;
    SerialComms = m_serialLinkFactory ? m_serialLinkFactory() : createSerialLink();
    bool opened = false;
    try {
        opened = ComPort >= 1 && SerialComms->OpenPort(ComPort);
    } catch (const std::exception &error) {
        // The component's own report of what went wrong with the device.
        SerialComms.reset();
        BeepMessageDlg(QString::fromLocal8Bit(error.what()), MsgKind::Error, MsgButtons::Ok);
        EnableControls();
        return;
    }
    if (!opened) {
        SerialComms.reset();
        BeepMessageDlg(QStringLiteral("Unable To Open Comms Port [COM%1].\rPlease Select Another.")
                           .arg(ComPort),
                       MsgKind::Warning, MsgButtons::Ok);
        EnableControls();
        return;
    }
    Access.SerialComms = SerialComms->comms();
    setPortStatus(QStringLiteral(" Port: COM%1").arg(ComPort));
    DisableControls();
    Access.ViaComPort = true;
    // Two identity reads: the first only wakes the line, its result is not used.
    InterrogateUnit();
    const quint16 product = InterrogateUnit();
    if (product == QuorixProductCode)
        acceptSerialUnit();
    else
        refuseUnit(product);
    EnableControls();
}

void TMainForm::acceptSerialUnit()
{
    showSessionTabs(true);
    m_pages->setCurrentIndex(NetPage);
    CloseConnection1->setEnabled(true);
    networkPage()->Button16->setVisible(ServiceMode);
    Flags.CloseRequested = false;
    Timer1->start();
    Timer2->start();
}

void TMainForm::ComboBox1Select(int index)
{
    const QString text = connectionPage()->ComboBox1->itemText(index);
    bool ok = false;
    const int number = text.mid(3).toInt(&ok);
    ComPort = ok ? number : 1;
    SaveSettings();
    connectionPage()->BitBtn1->setEnabled(true);
}

void TMainForm::BitBtn4Click()
{
    ConnectionPage *page = connectionPage();
    page->BitBtn4->setEnabled(false);
    page->ComboBox1->clear();
    for (int n = 1; n <= SearchedComPorts; ++n)
        if (comPortInstalled(n))
            page->ComboBox1->addItem(QStringLiteral("COM%1").arg(n));
    page->refreshPortTooltips();
    page->BitBtn4->setEnabled(true);
    page->BitBtn1->setEnabled(false);
    ComPort = 0;
    page->ComboBox1->setCurrentIndex(-1);
}
