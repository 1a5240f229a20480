#include "SerialLink.h"

#include "ComPortNames.h"
#include "VeskComms.h"

namespace {

// The unit's line: 9600 baud, 8 data bits, no parity, one stop bit, and a
// 200-byte receive buffer (the longest reply is well under that).
class VeskSerialLink : public SerialLink
{
public:
    bool OpenPort(int comPort) override
    {
        m_comms.BaudRate = 9600;
        m_comms.DataBits = 8;
        m_comms.Parity = TParity::None;
        m_comms.StopBits = TStopBits::sb1;
        m_comms.RxBufferSize = 200;
        m_comms.CommPort = comPort - 1;
        return m_comms.OpenPort();
    }
    void ClosePort() override { m_comms.ClosePort(); }
    TVeskComms *comms() override { return &m_comms; }

private:
    TVeskComms m_comms;
};

} // namespace

std::unique_ptr<SerialLink> createSerialLink()
{
    return std::make_unique<VeskSerialLink>();
}

QString comPortDevice(int comNumber)
{
    return comNumber >= 1 ? ComPortNames::deviceForPort(comNumber) : QString();
}

bool comPortInstalled(int comNumber)
{
    return comNumber >= 1 && ComPortNames::portExists(comNumber);
}
