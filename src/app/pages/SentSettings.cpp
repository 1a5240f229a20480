#include "SentSettings.h"

#include <QMap>

#include <algorithm>

namespace {

// Every row of `rows` inside one of `blocks` that has a ravelinctl key.
template <typename S, std::size_t N>
QList<SentSetting> settingsOf(const SettingTable<S, N> &rows, const S &value,
                              std::initializer_list<RegisterBlock> blocks)
{
    QList<SentSetting> settings;
    for (const SettingRow<S> &row : rows) {
        const bool inSent = std::any_of(blocks.begin(), blocks.end(),
                                        [&row](const RegisterBlock &b) { return row.inBlock(b); });
        if (inSent && row.cliKey)
            settings.append({QLatin1String(row.cliKey), QLatin1String(row.reportLabel),
                             settingText(row, value, SettingSurface::Cli)});
    }
    return settings;
}

template <typename S, std::size_t N>
void putUnitValues(const SettingTable<S, N> &rows, const S &value, QMap<QString, QString> &unit)
{
    for (const SettingRow<S> &row : rows)
        if (row.cliKey)
            unit.insert(QLatin1String(row.cliKey), settingText(row, value, SettingSurface::Cli));
}

template <typename S, std::size_t N>
bool hasKey(const SettingTable<S, N> &rows, const QList<SentSetting> &sent)
{
    return std::any_of(sent.begin(), sent.end(), [&rows](const SentSetting &s) {
        return rowWithCliKey(rows, s.key) != nullptr;
    });
}

} // namespace

QList<SentSetting> sentNetworkSettings(const NetworkConfig &config, bool addresses, bool lock)
{
    QList<SentSetting> settings;
    if (addresses)
        settings += settingsOf(NetworkRows, config, {Blocks::NetworkAddresses});
    if (lock)
        settings += settingsOf(NetworkRows, config, {Blocks::ConfigLock});
    return settings;
}

QList<SentSetting> sentG50Settings(const Octets4 &address)
{
    return settingsOf(G50Rows, address, {Blocks::G50Address});
}

QList<SentSetting> sentBACnetSettings(const BACnetSettings &settings, BACnetParts parts)
{
    QList<SentSetting> sent;
    if (parts.instance)
        sent += settingsOf(BACnetRows, settings, {Blocks::DeviceObjectId});
    if (parts.name)
        sent += settingsOf(BACnetRows, settings, {Blocks::DeviceObjectName});
    if (parts.options)
        sent += settingsOf(BACnetRows, settings, {Blocks::BACnetOptions});
    return sent;
}

void SentLedger::add(const QList<SentSetting> &settings)
{
    for (const SentSetting &setting : settings) {
        const auto same =
            std::find_if(m_settings.begin(), m_settings.end(),
                         [&setting](const SentSetting &s) { return s.key == setting.key; });
        if (same != m_settings.end())
            *same = setting;
        else
            m_settings.append(setting);
    }
}

QString SentLedger::sentIpAddress() const
{
    for (const SentSetting &setting : m_settings)
        if (setting.key == QLatin1String(IpAddressRow.cliKey))
            return setting.sent;
    return QString();
}

QList<SettingCheck> checkSentSettings(RegisterAccess &access, const QList<SentSetting> &sent)
{
    // Only the areas something was sent to are read; a failed read leaves
    // that area's values unknown.
    QMap<QString, QString> unit;
    if (hasKey(NetworkRows, sent)) {
        NetworkReading r;
        if (readNetworkSettings(access, r).ok())
            putUnitValues(NetworkRows,
                          NetworkConfig{*r.addresses, configViaNetworkAllowed(*r.lockWord)}, unit);
    }
    if (hasKey(G50Rows, sent)) {
        std::optional<Octets4> address;
        if (readG50Address(access, address).ok())
            putUnitValues(G50Rows, *address, unit);
    }
    if (hasKey(BACnetRows, sent)) {
        BACnetReading r;
        if (readBACnetSettings(access, r).ok())
            putUnitValues(BACnetRows, BACnetSettings{*r.instance, *r.name, *r.options}, unit);
    }
    QList<SettingCheck> checks;
    for (const SentSetting &setting : sent)
        checks.append({setting, unit.value(setting.key)});
    return checks;
}

QStringList describeChecks(const QList<SettingCheck> &checks)
{
    QStringList lines;
    for (const SettingCheck &check : checks) {
        const QString &s = check.setting.sent;
        if (check.unit.isEmpty())
            lines << QStringLiteral("%1: sent %2, could not be read back")
                         .arg(check.setting.label, s);
        else
            lines << QStringLiteral("%1: sent %2, unit has %3 (%4)")
                         .arg(check.setting.label, s, check.unit,
                              check.taken() ? QStringLiteral("taken")
                                            : QStringLiteral("NOT taken"));
    }
    return lines;
}
