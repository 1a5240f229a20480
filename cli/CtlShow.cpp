// ravelinctl show: every configuration block of the unit and a summary of
// its live status, decoded the way the configuration tool shows them.

#include "CtlSession.h"

#include "Codecs.h"
#include "StatusBlock.h"
#include "UnitOps.h"

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
    NetworkReading network;
    std::optional<Octets4> g50;
    BACnetReading bacnet;
    StatusBlock status;
    OpResult op = readNetworkSettings(m_access, network);
    if (op.ok())
        op = readG50Address(m_access, g50);
    if (op.ok())
        op = readBACnetSettings(m_access, bacnet);
    if (op.ok())
        op = readStatusBlock(m_access, status);
    if (!opSucceeded(op, out,
                     op.failedBlock ? QString::fromLatin1(op.failedBlock->name) : QString()))
        return out;
    const ProductInfo &product = *network.product;
    const NetworkAddresses &addresses = *network.addresses;
    add(out, QStringLiteral("Unit"), firmwareLabel(product.productCode, product.firmware));
    add(out, QStringLiteral("MAC address"), macLabel(product.mac.data()));
    add(out, QStringLiteral("IP address"), dotted(addresses.data()));
    add(out, QStringLiteral("Gateway"), dotted(addresses.data() + 4));
    add(out, QStringLiteral("Subnet mask"), dotted(addresses.data() + 8));
    add(out, QStringLiteral("Config via network"),
        configViaNetworkAllowed(*network.lockWord) ? QStringLiteral("allowed")
                                                   : QStringLiteral("forbidden"));
    add(out, QStringLiteral("G50 address"), dotted(g50->data()));
    const std::uint32_t instance = *bacnet.instance;
    add(out, QStringLiteral("BACnet device id"),
        QString::number(instance) +
            (isValidDeviceInstance(instance) ? QString() : QStringLiteral(" (invalid)")));
    add(out, QStringLiteral("BACnet device name"), QString::fromLatin1(*bacnet.name));
    const BACnetOptions &options = *bacnet.options;
    add(out, QStringLiteral("New setting comparison"),
        options.newSettingComparison ? QStringLiteral("on") : QStringLiteral("off"));
    add(out, QStringLiteral("Foreign device"),
        options.foreignDevice ? QStringLiteral("BBMD %1, TTL %2 s")
                                    .arg(dotted(options.bbmd.data()))
                                    .arg(options.timeToLive)
                              : QStringLiteral("off"));
    add(out, QStringLiteral("Status"), statusSummary(status));
    return out;
}
