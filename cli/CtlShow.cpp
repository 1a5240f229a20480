// ravelinctl show: every configuration block of the unit and a summary of
// its live status, decoded the way the configuration tool shows them.

#include "CtlSession.h"

#include "Codecs.h"
#include "StatusBlock.h"

namespace {

QString dotted(const std::uint16_t *octets)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(octetText(octets[0]), octetText(octets[1]), octetText(octets[2]),
             octetText(octets[3]));
}

void add(CtlOutput &out, const QString &label, const QString &value)
{
    out.lines << QStringLiteral("%1 %2").arg(label + QLatin1Char(':'), -26).arg(value);
    QString key = label.toLower();
    key.replace(QLatin1Char(' '), QLatin1Char('_'));
    out.json.insert(key, value);
}

QString statusSummary(const StatusBlock &s)
{
    const QString link =
        s.G50LinkState ? QStringLiteral("G50 link OK") : QStringLiteral("G50 link error");
    const QString mnet = !s.G50LinkState ? QStringLiteral("Mnet unknown")
                         : s.MnetState   ? QStringLiteral("Mnet OK")
                                         : QStringLiteral("Mnet initialising");
    return QStringLiteral(
               "%1, %2, G50 flags 0x%3, BACnet flags 0x%4, rx buffer %5%, poll state %6 group %7")
        .arg(link, mnet)
        .arg(s.G50ProcessFlags, 2, 16, QLatin1Char('0'))
        .arg(s.BACnetProcessFlags, 2, 16, QLatin1Char('0'))
        .arg(receiveBufferUsage(s.RxWritePos, s.RxBoundary))
        .arg(s.G50PollProgress >> 8)
        .arg(s.G50PollProgress & 0xFF);
}

} // namespace

CtlOutput CtlSession::show()
{
    CtlOutput out;
    std::uint16_t product[8] = {}, network[12] = {}, lock[1] = {}, g50[4] = {}, id[3] = {},
                  name[11] = {}, options[7] = {}, status[StatusBlockSize] = {};
    struct Step
    {
        const RegisterBlock &block;
        std::uint16_t *values;
    };
    const Step steps[] = {{Blocks::Product, product},       {Blocks::NetworkAddresses, network},
                          {Blocks::ConfigLock, lock},       {Blocks::G50Address, g50},
                          {Blocks::DeviceObjectId, id},     {Blocks::DeviceObjectName, name},
                          {Blocks::BACnetOptions, options}, {Blocks::Status, status}};
    for (const Step &step : steps) {
        const RegisterBlock &b = step.block;
        if (!readBlock(b.unitId, b.readFunction, b.start, b.count, step.values, out,
                       QString::fromLatin1(b.name)))
            return out;
    }
    add(out, QStringLiteral("Unit"), firmwareLabel(product[0], product[1]));
    add(out, QStringLiteral("MAC address"), macLabel(product + 2));
    add(out, QStringLiteral("IP address"), dotted(network));
    add(out, QStringLiteral("Gateway"), dotted(network + 4));
    add(out, QStringLiteral("Subnet mask"), dotted(network + 8));
    add(out, QStringLiteral("Config via network"),
        lock[0] == ConfigLockedWord ? QStringLiteral("forbidden") : QStringLiteral("allowed"));
    add(out, QStringLiteral("G50 address"), dotted(g50));
    const std::uint32_t instance = decodeDeviceInstance(id);
    add(out, QStringLiteral("BACnet device id"),
        QString::number(instance) +
            (isValidDeviceInstance(instance) ? QString() : QStringLiteral(" (invalid)")));
    add(out, QStringLiteral("BACnet device name"), QString::fromLatin1(decodeDeviceName(name)));
    add(out, QStringLiteral("New setting comparison"),
        options[0] == 1 ? QStringLiteral("on") : QStringLiteral("off"));
    add(out, QStringLiteral("Foreign device"),
        options[1] == 1
            ? QStringLiteral("BBMD %1, TTL %2 s").arg(dotted(options + 2)).arg(options[6])
            : QStringLiteral("off"));
    add(out, QStringLiteral("Status"), statusSummary(decodeStatusBlock(status)));
    return out;
}
