#include "PageRules.h"

#include "Codecs.h"

#include <cstring>

bool namedBACnetEntry(const SettingRow<BACnetSettings> &row)
{
    for (const SettingRow<BACnetSettings> *named :
         {&DeviceInstanceRow, &DeviceNameRow, &ComparisonRow, &ForeignDeviceRow, &BbmdRow,
          &TimeToLiveRow})
        if (std::strcmp(row.id, named->id) == 0)
            return true;
    return false;
}

std::optional<std::uint32_t> deviceInstanceEntry(const QString &text)
{
    const EntryRule &rule = DeviceInstanceRow.rule;
    const std::optional<int> value = entryNumberInRange(text, int(rule.min), int(rule.max));
    if (!value)
        return std::nullopt;
    return std::uint32_t(*value);
}

std::optional<QByteArray> deviceNameEntry(const QString &text)
{
    if (text.size() > DeviceNameRow.rule.max)
        return std::nullopt;
    return nameBytes(text);
}

std::optional<std::uint16_t> timeToLiveEntry(const QString &text, bool foreignDevice)
{
    const EntryRule &rule = TimeToLiveRow.rule;
    const std::optional<int> value = entryNumberInRange(text, int(rule.min), int(rule.max));
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
        check.refused = DeviceInstanceRow.rule.refusal;
        return check;
    }
    s.instance = *instance;
    const std::optional<QByteArray> name = deviceNameEntry(entries.name);
    if (!name) {
        check.refused = DeviceNameRow.rule.refusal;
        return check;
    }
    s.name = *name;
    s.options.newSettingComparison = entries.newSettingComparison;
    s.options.foreignDevice = entries.foreignDevice;
    if (entries.foreignDevice) {
        for (int i = 0; i < 4; ++i) {
            const EntryRule &rule = BbmdRow.rule;
            const std::optional<int> octet =
                entryNumberInRange(entries.bbmd.value(i), int(rule.min), int(rule.max));
            if (!octet) {
                check.refused = rule.refusal;
                check.bbmdIndex = i;
                return check;
            }
            s.options.bbmd[std::size_t(i)] = std::uint16_t(*octet);
        }
    }
    const std::optional<std::uint16_t> ttl =
        timeToLiveEntry(entries.timeToLive, entries.foreignDevice);
    if (!ttl) {
        check.refused = TimeToLiveRow.rule.refusal;
        return check;
    }
    s.options.timeToLive = *ttl;
    for (const SettingRow<BACnetSettings> &row : BACnetRows) {
        if (namedBACnetEntry(row))
            continue;
        // A row whose entry can be refused names its refusal kind (BACnetTable.h).
        const std::optional<SettingValue> value =
            settingFromCli(row.codec, row.rule, row.cliWords,
                           entries.others.value(QLatin1String(row.id)), nullptr);
        if (!value) {
            check.refused = row.rule.refusal;
            return check;
        }
        row.set(s, *value);
    }
    return check;
}
