// Opening a session through a COM port, and the port list on the "Choose
// Connection" page.

#include "MainForm.h"

#include "ConnectReasons.h"
#include "SerialLink.h"

#include <exception>

void TMainForm::setSerialLinkFactory(std::function<std::unique_ptr<SerialLink>()> factory)
{
    m_serialLinkFactory = std::move(factory);
}

void TMainForm::BitBtn1Click()
{
    std::unique_ptr<SerialLink> link =
        m_serialLinkFactory ? m_serialLinkFactory() : createSerialLink();
    bool opened = false;
    try {
        opened = ComPort >= 1 && link->OpenPort(ComPort);
    } catch (const std::exception &error) {
        // The component's own report of what went wrong with the device.
        BeepMessageDlg(QString::fromLocal8Bit(error.what()), MsgKind::Error, MsgButtons::Ok);
        EnableControls();
        return;
    }
    if (!opened) {
        const QString device = comPortDevice(ComPort);
        BeepMessageDlg(QStringLiteral("Unable To Open Comms Port [COM%1].\rPlease Select Another.")
                           .arg(ComPort),
                       MsgKind::Warning, MsgButtons::Ok,
                       serialOpenReason(ComPort, device, probeSerialDevice(device)));
        EnableControls();
        return;
    }
    // From here the facade owns the link: EndSession closes and releases it.
    Access.useSerial(std::move(link));
    setPortStatus(QStringLiteral(" Port: COM%1").arg(ComPort));
    DisableControls();
    // Two identity reads: the first only wakes the line, its result is not used.
    InterrogateUnit();
    judgeUnit(true, InterrogateUnit());
    EnableControls();
}
