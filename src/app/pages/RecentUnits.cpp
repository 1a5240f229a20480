#include "RecentUnits.h"

#include "Codecs.h"
#include "DottedQuad.h"

#include <QUrl>

#include <algorithm>

namespace {

constexpr char SerialKind[] = "com";
constexpr char TcpKind[] = "tcp";
constexpr int FieldCount = 8; // kind, where, port, when, firmware, mac, instance, name

QString encoded(const QString &field)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(field));
}

QString decoded(const QString &field)
{
    return QUrl::fromPercentEncoding(field.toLatin1());
}

std::optional<int> wholeNumber(const QString &text, int min, int max)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok || value < min || value > max)
        return std::nullopt;
    return value;
}

} // namespace

bool RecentUnit::macKnown() const
{
    return std::any_of(mac.begin(), mac.end(), [](std::uint16_t part) { return part != 0; });
}

QString RecentUnit::location() const
{
    return serial() ? QStringLiteral("COM%1").arg(comPort)
                    : QStringLiteral("%1:%2").arg(address).arg(tcpPort);
}

bool RecentUnit::sameLocation(const RecentUnit &other) const
{
    return serial() == other.serial() &&
           (serial() ? comPort == other.comPort
                     : address == other.address && tcpPort == other.tcpPort);
}

QString RecentUnit::text() const
{
    QStringList parts{location()};
    if (firmware != 0)
        parts << QStringLiteral("v%1").arg(firmwareVersionText(firmware));
    if (instance)
        parts << QStringLiteral("device %1").arg(*instance);
    if (!deviceName.isEmpty())
        parts << QStringLiteral("\"%1\"").arg(deviceName);
    if (reached.isValid())
        parts << reached.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    return parts.join(QStringLiteral("  "));
}

QString RecentUnit::entry() const
{
    const QStringList fields{
        QLatin1String(serial() ? SerialKind : TcpKind),
        serial() ? QString::number(comPort) : address,
        serial() ? QString() : QString::number(tcpPort),
        reached.toUTC().toString(Qt::ISODate),
        firmware != 0 ? QString::number(firmware) : QString(),
        macKnown() ? macLabel(mac.data()) : QString(),
        instance ? QString::number(*instance) : QString(),
        deviceName,
    };
    QStringList out;
    for (const QString &field : fields)
        out << encoded(field);
    return out.join(QLatin1Char(','));
}

std::optional<RecentUnit> RecentUnit::fromEntry(const QString &entry)
{
    const QStringList raw = entry.split(QLatin1Char(','));
    if (raw.size() != FieldCount)
        return std::nullopt;
    QStringList f;
    for (const QString &field : raw)
        f << decoded(field);
    RecentUnit unit;
    if (f[0] == QLatin1String(SerialKind)) {
        const auto com = wholeNumber(f[1], 1, 255);
        if (!com || !f[2].isEmpty())
            return std::nullopt;
        unit.comPort = *com;
    } else if (f[0] == QLatin1String(TcpKind)) {
        std::array<int, 4> octets{};
        if (parseDottedQuad(f[1], FileAddressRules, octets) != DottedQuadResult::Good)
            return std::nullopt;
        const auto port = wholeNumber(f[2], 1, 65535);
        if (!port)
            return std::nullopt;
        std::array<std::uint16_t, 4> parts{};
        std::copy(octets.begin(), octets.end(), parts.begin());
        unit.address = dottedText(parts.data());
        unit.tcpPort = std::uint16_t(*port);
    } else {
        return std::nullopt;
    }
    unit.reached = QDateTime::fromString(f[3], Qt::ISODate);
    if (!unit.reached.isValid())
        return std::nullopt;
    unit.reached = unit.reached.toUTC();
    if (!f[4].isEmpty()) {
        const auto firmware = wholeNumber(f[4], 1, 65535);
        if (!firmware)
            return std::nullopt;
        unit.firmware = std::uint16_t(*firmware);
    }
    if (!f[5].isEmpty()) {
        const QStringList bytes = f[5].split(QLatin1Char(':'));
        if (bytes.size() != 6)
            return std::nullopt;
        for (int i = 0; i < 6; ++i) {
            bool ok = false;
            const uint value = bytes[i].toUInt(&ok, 16);
            if (!ok || value > 0xFFFF)
                return std::nullopt;
            unit.mac[std::size_t(i)] = std::uint16_t(value);
        }
    }
    if (!f[6].isEmpty()) {
        bool ok = false;
        const qulonglong instance = f[6].toULongLong(&ok, 10);
        if (!ok || instance > MaxDeviceInstance)
            return std::nullopt;
        unit.instance = std::uint32_t(instance);
    }
    unit.deviceName = f[7];
    return unit;
}

void RecentUnits::reached(RecentUnit unit)
{
    const auto old = std::find_if(m_units.begin(), m_units.end(), [&](const RecentUnit &known) {
        return known.sameLocation(unit);
    });
    if (old != m_units.end()) {
        if (!unit.instance && unit.deviceName.isEmpty() && unit.macKnown() &&
            old->mac == unit.mac) {
            unit.instance = old->instance;
            unit.deviceName = old->deviceName;
        }
        m_units.erase(old);
    }
    m_units.prepend(std::move(unit));
    while (m_units.size() > MaxUnits)
        m_units.removeLast();
}

bool RecentUnits::setBACnetIdentity(const RecentUnit &at, std::optional<std::uint32_t> instance,
                                    const QString &deviceName)
{
    if (m_units.isEmpty() || !m_units.front().sameLocation(at))
        return false;
    m_units.front().instance = instance;
    m_units.front().deviceName = deviceName;
    return true;
}

bool RecentUnits::removeAt(int index)
{
    if (index < 0 || index >= m_units.size())
        return false;
    m_units.removeAt(index);
    return true;
}

QStringList RecentUnits::entries() const
{
    QStringList out;
    for (const RecentUnit &unit : m_units)
        out << unit.entry();
    return out;
}

void RecentUnits::setEntries(const QStringList &entries)
{
    m_units.clear();
    for (const QString &entry : entries) {
        if (m_units.size() >= MaxUnits)
            break;
        const std::optional<RecentUnit> unit = RecentUnit::fromEntry(entry);
        if (!unit)
            continue;
        const bool known = std::any_of(m_units.begin(), m_units.end(),
                                       [&](const RecentUnit &u) { return u.sameLocation(*unit); });
        if (!known)
            m_units.append(*unit);
    }
}
