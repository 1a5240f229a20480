// ravelinctl show: every configuration block of the unit and a summary of
// its live status, decoded the way the configuration tool shows them.

#include "CtlSession.h"

#include "Codecs.h"
#include "StatusBlock.h"
#include "UnitOps.h"

namespace {

void add(CtlOutput &out, const QString &label, const QString &value)
{
    out.lines << QStringLiteral("%1 %2").arg(label + QLatin1Char(':'), -26).arg(value);
    QString key = label.toLower();
    key.replace(QLatin1Char(' '), QLatin1Char('_'));
    out.json.insert(key, value);
}

// A switch's show line: while it is on, the phrases of the rows it gates
// that have no line of their own ("BBMD 192.0.2.1, TTL 1800 s"); its word
// otherwise.
template <typename S, std::size_t N>
QString showText(const SettingTable<S, N> &rows, const SettingRow<S> &row, const S &value)
{
    QStringList phrases;
    const bool isSwitch = row.codec == Codec::BoolAsOne || row.codec == Codec::LockWord;
    if (isSwitch && std::get<bool>(row.get(value)))
        for (const SettingRow<S> &gated : rows)
            if (gateOf(rows, gated) == &row && !gated.showLabel && gated.briefFormat)
                phrases << briefText(gated, value);
    if (phrases.isEmpty())
        return settingText(row, value, SettingSurface::Show);
    return phrases.join(QStringLiteral(", "));
}

// Every row with a show label, in the table's order.
template <typename S, std::size_t N>
void addRows(CtlOutput &out, const SettingTable<S, N> &rows, const S &value)
{
    for (const SettingRow<S> &row : rows)
        if (row.showLabel)
            add(out, QLatin1String(row.showLabel), showText(rows, row, value));
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
    add(out, QStringLiteral("Unit"), firmwareLabel(product.productCode, product.firmware));
    addRows(out, IdentityRows, product);
    addRows(out, NetworkRows,
            NetworkConfig{*network.addresses, configViaNetworkAllowed(*network.lockWord)});
    addRows(out, G50Rows, *g50);
    addRows(out, BACnetRows, BACnetSettings{*bacnet.instance, *bacnet.name, *bacnet.options});
    add(out, QStringLiteral("Status"), statusSummary(status));
    return out;
}
