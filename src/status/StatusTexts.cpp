#include "StatusTexts.h"

const std::array<const char *, 5> G50ProcessCaptions{
    "Start Process", "Found G50", "Poll Sequence Started", "Poll Sequence Completed",
    "Network Cable Connected"};
const std::array<const char *, 5> BACnetProcessCaptions{
    "Sent I-Am Msg At Startup", "Foreign Device Reg. Enabled", "Sent Registration Msg",
    "Got Registration Reply", "Received Who-Is Request"};

namespace {

bool switchOff(const StatusBlock &status, int switchNumber)
{
    return status.BitSwitches & (switchNumber == 1 ? Switch1Mask : Switch2Mask);
}

} // namespace

QString g50LinkText(const StatusBlock &status)
{
    return status.G50LinkState ? QStringLiteral("G50 Comms Link OK")
                               : QStringLiteral("G50 Comms Link Error");
}

QString mnetText(const StatusBlock &status)
{
    if (!status.G50LinkState)
        return QStringLiteral("Mnet Comms State Unknown");
    return status.MnetState ? QStringLiteral("Mnet Comms OK")
                            : QStringLiteral("Mnet Comms Initialising...");
}

QString switchStateText(const StatusBlock &status, int switchNumber)
{
    return switchOff(status, switchNumber) ? QStringLiteral("OFF") : QStringLiteral("ON");
}

QString switchMeaning(const StatusBlock &status, int switchNumber)
{
    const bool off = switchOff(status, switchNumber);
    if (switchNumber == 1)
        return off ? QStringLiteral("Auto mode will report as Auto.")
                   : QStringLiteral("Auto mode will report as AutoHeat or AutoCool.");
    return off ? QStringLiteral("All Present-Value and Priority Arrays are initialised at "
                                "power-up.\nOutput object PV =\n Last Commanded PV (Highest "
                                "Priority).")
               : QStringLiteral("All Present-Value and Priority Arrays are preserved.\nOutput "
                                "object PV = Input object PV.");
}
