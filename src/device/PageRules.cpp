#include "PageRules.h"

#include "Codecs.h"

QStringList BACnetEntries::parts(const SettingRow<BACnetSettings> &row) const
{
    return byRow.value(QLatin1String(row.id));
}

QString BACnetEntries::text(const SettingRow<BACnetSettings> &row) const
{
    return parts(row).join(QLatin1Char('.'));
}

void BACnetEntries::set(const SettingRow<BACnetSettings> &row, const QString &text)
{
    setParts(row, row.codec == Codec::Octets ? text.split(QLatin1Char('.')) : QStringList{text});
}

void BACnetEntries::setParts(const SettingRow<BACnetSettings> &row, const QStringList &parts)
{
    byRow.insert(QLatin1String(row.id), parts);
}

bool BACnetEntries::isOn(const SettingRow<BACnetSettings> &row) const
{
    return text(row) == QLatin1String(row.cliWords.on);
}

void BACnetEntries::setOn(const SettingRow<BACnetSettings> &row, bool on)
{
    set(row, QLatin1String(on ? row.cliWords.on : row.cliWords.off));
}

BACnetEntries bacnetEntriesFor(const BACnetSettings &settings)
{
    BACnetEntries entries;
    for (const SettingRow<BACnetSettings> &row : BACnetRows)
        entries.set(row, settingText(row, settings, SettingSurface::Cli));
    return entries;
}

bool partHolds(const BACnetParts &parts, const SettingRow<BACnetSettings> &row)
{
    if (row.inBlock(Blocks::DeviceObjectId))
        return parts.instance;
    if (row.inBlock(Blocks::DeviceObjectName))
        return parts.name;
    return parts.options;
}

namespace {

// An address entry's four octets, each under the row's range; the index of
// the first refused part otherwise.
std::optional<Octets4> octetEntries(const QStringList &parts, const EntryRule &rule, int *refused)
{
    Octets4 octets{};
    for (int i = 0; i < 4; ++i) {
        const std::optional<int> octet =
            entryNumberInRange(parts.value(i), int(rule.min), int(rule.max));
        if (!octet) {
            *refused = i;
            return std::nullopt;
        }
        octets[std::size_t(i)] = std::uint16_t(*octet);
    }
    if (parts.size() > 4) {
        *refused = 3;
        return std::nullopt;
    }
    return octets;
}

} // namespace

BACnetEntryCheck checkBACnetEntries(const BACnetEntries &entries, BACnetParts parts)
{
    BACnetEntryCheck check;
    for (const SettingRow<BACnetSettings> &row : BACnetRows) {
        if (!partHolds(parts, row))
            continue;
        const SettingRow<BACnetSettings> *gate = gateOf(BACnetRows, row);
        const bool gatedOff = gate && !entries.isOn(*gate);
        const EntryRule &rule = row.rule;
        if (gatedOff && rule.whileOff == WhileOff::SentAsZero) {
            row.set(check.settings, zeroSetting(row.codec));
            continue;
        }
        std::optional<SettingValue> value;
        if (row.codec == Codec::BoolAsOne || row.codec == Codec::LockWord)
            value = entries.isOn(row);
        else if (row.codec == Codec::Octets)
            value = octetEntries(entries.parts(row), rule, &check.partIndex);
        else
            value = settingFromCli(row.codec, rule, row.cliWords, entries.text(row), nullptr);
        if (!value && gatedOff && rule.whileOff == WhileOff::KeptOrFallback)
            value = numberSetting(row.codec, rule.fallback);
        if (!value) {
            // A row whose entry can be refused names its refusal kind (BACnetTable.h).
            check.refused = rule.refusal;
            return check;
        }
        row.set(check.settings, *value);
    }
    check.partIndex = -1;
    return check;
}
