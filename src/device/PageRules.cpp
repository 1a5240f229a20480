#include "PageRules.h"

#include "Codecs.h"

std::optional<Octets4> dottedOctets(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return std::nullopt;
    const EntryCheck check = checkEntryNumbers(parts, 0, OctetMax);
    if (!check.ok())
        return std::nullopt;
    Octets4 octets{};
    for (std::size_t i = 0; i < octets.size(); ++i)
        octets[i] = std::uint16_t(check.values[i]);
    return octets;
}

QString dottedText(const std::uint16_t *octets, int count)
{
    QStringList parts;
    for (int i = 0; i < count; ++i)
        parts << QString::number(octets[i]);
    return parts.join(QLatin1Char('.'));
}

std::optional<std::uint32_t> deviceInstanceEntry(const QString &text)
{
    const std::optional<int> value = entryNumberInRange(text, 0, int(MaxDeviceInstance));
    if (!value)
        return std::nullopt;
    return std::uint32_t(*value);
}

std::optional<QByteArray> deviceNameEntry(const QString &text)
{
    if (text.size() > MaxDeviceNameLength)
        return std::nullopt;
    return nameBytes(text);
}

std::optional<std::uint16_t> timeToLiveEntry(const QString &text, bool foreignDevice)
{
    const std::optional<int> value = entryNumberInRange(text, 1, MaxTimeToLive);
    if (value)
        return std::uint16_t(*value);
    if (foreignDevice)
        return std::nullopt;
    return DefaultTimeToLive;
}

BACnetEntryCheck checkBACnetEntries(const BACnetEntries &entries)
{
    BACnetEntryCheck check;
    BACnetSettings &s = check.settings;
    const std::optional<std::uint32_t> instance = deviceInstanceEntry(entries.instance);
    if (!instance) {
        check.refused = BACnetEntry::Instance;
        return check;
    }
    s.instance = *instance;
    const std::optional<QByteArray> name = deviceNameEntry(entries.name);
    if (!name) {
        check.refused = BACnetEntry::Name;
        return check;
    }
    s.name = *name;
    s.options.newSettingComparison = entries.newSettingComparison;
    s.options.foreignDevice = entries.foreignDevice;
    if (entries.foreignDevice) {
        for (int i = 0; i < 4; ++i) {
            const std::optional<int> octet = entryNumberInRange(entries.bbmd.value(i), 0, OctetMax);
            if (!octet) {
                check.refused = BACnetEntry::Bbmd;
                check.bbmdIndex = i;
                return check;
            }
            s.options.bbmd[std::size_t(i)] = std::uint16_t(*octet);
        }
    }
    const std::optional<std::uint16_t> ttl =
        timeToLiveEntry(entries.timeToLive, entries.foreignDevice);
    if (!ttl) {
        check.refused = BACnetEntry::TimeToLive;
        return check;
    }
    s.options.timeToLive = *ttl;
    return check;
}
