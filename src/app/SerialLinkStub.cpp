#include "SerialLink.h"

// Stand-in until the serial component and its naming layer are built in: no
// COM port can be opened and none is found by the search.

namespace {

class NoSerialLink : public SerialLink
{
public:
    bool OpenPort(int) override { return false; }
    void ClosePort() override {}
    TVeskComms *comms() override { return nullptr; }
};

} // namespace

std::unique_ptr<SerialLink> createSerialLink()
{
    return std::make_unique<NoSerialLink>();
}

QString comPortDevice(int)
{
    return {};
}

bool comPortInstalled(int)
{
    return false;
}
