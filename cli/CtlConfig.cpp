#include "CtlConfig.h"

#include "Codecs.h"
#include "PageRules.h"
#include "UnitOps.h"

#include <QJsonArray>
#include <QMap>

#include <initializer_list>
#include <optional>

namespace {

enum class Area
{
    Network,
    G50,
    BACnet
};

template <typename S> QString keyOf(const SettingRow<S> &row)
{
    return QLatin1String(row.cliKey);
}

template <typename S, std::size_t N> QStringList cliKeys(const SettingTable<S, N> &rows)
{
    QStringList keys;
    for (const SettingRow<S> &row : rows)
        if (row.cliKey)
            keys << keyOf(row);
    return keys;
}

// The keys a set may give, per area, in the order get prints them.
QStringList settableKeys(Area area)
{
    switch (area) {
    case Area::Network:
        return cliKeys(NetworkRows);
    case Area::G50:
        return cliKeys(G50Rows);
    case Area::BACnet:
        return cliKeys(BACnetRows);
    }
    return {};
}

// Shown by get network after the settable keys, never set.
const QStringList ReadOnlyKeys{QLatin1String(MacRow.cliKey), "firmware"};

std::optional<Area> areaNamed(const QString &name)
{
    if (name == QLatin1String("network"))
        return Area::Network;
    if (name == QLatin1String("g50"))
        return Area::G50;
    if (name == QLatin1String("bacnet"))
        return Area::BACnet;
    return std::nullopt;
}

// KEY=VALUE arguments as given, each value already checked on its own.
using Values = QMap<QString, QString>;

// A value given for a key, by its row's codec and entry rule; nothing with
// `problem` set to why it is refused.
template <typename S, std::size_t N>
std::optional<SettingValue> givenValue(const SettingTable<S, N> &rows, const QString &key,
                                       const QString &value, QString *problem = nullptr)
{
    const SettingRow<S> *row = rowWithCliKey(rows, key);
    QString what;
    std::optional<SettingValue> v =
        settingFromCli(row->codec, row->rule, row->cliWords, value, &what);
    if (!v && problem)
        *problem = QStringLiteral("%1 must be %2, not \"%3\"").arg(key, what, value);
    return v;
}

// Why a value is refused by its key's rule; empty when it is accepted.
QString valueProblem(Area area, const QString &key, const QString &value)
{
    QString problem;
    switch (area) {
    case Area::Network:
        givenValue(NetworkRows, key, value, &problem);
        break;
    case Area::G50:
        givenValue(G50Rows, key, value, &problem);
        break;
    case Area::BACnet:
        givenValue(BACnetRows, key, value, &problem);
        break;
    }
    return problem;
}

void put(CtlOutput &out, const QString &key, const QString &text, const QJsonValue &json)
{
    out.lines << key + QLatin1Char('=') + text;
    out.json.insert(key, json);
}

void putText(CtlOutput &out, const QString &key, const QString &text)
{
    put(out, key, text, text);
}

// Every row with a ravelinctl key, in the table's order.
template <typename S, std::size_t N>
void putRows(CtlOutput &out, const SettingTable<S, N> &rows, const S &value)
{
    for (const SettingRow<S> &row : rows)
        if (row.cliKey)
            put(out, keyOf(row), settingText(row, value, SettingSurface::Cli),
                settingCliJson(row.codec, row.get(value), row.cliWords));
}

// False, with the failed block and its result in `out`, when the chain of
// exchanges stopped before its end. For a chain of writes (`written`, the
// blocks in the order they are written) it also says which blocks the unit
// took before the failure: they now hold the new values.
bool completed(const OpResult &op, CtlOutput &out,
               std::initializer_list<RegisterBlock> written = {})
{
    if (op.ok())
        return true;
    const QString block =
        op.failedBlock ? QString::fromLatin1(op.failedBlock->name) : QStringLiteral("request");
    out.exitCode = exitForResult(op.result);
    out.lines << QStringLiteral("%1: %2").arg(block, describeCause(op));
    out.json.insert(QStringLiteral("error"), describeCause(op));
    out.json.insert(QStringLiteral("result"), int(op.result));
    out.json.insert(QStringLiteral("failed"), block);
    if (written.size() == 0)
        return false;
    QStringList before;
    for (const RegisterBlock &b : written) {
        if (!op.failedBlock ||
            (op.failedBlock->unitId == b.unitId && op.failedBlock->start == b.start))
            break;
        before << QString::fromLatin1(b.name);
    }
    out.lines
        << (before.isEmpty()
                ? QStringLiteral("nothing was written before it")
                : QStringLiteral("written before it: %1").arg(before.join(QStringLiteral(", "))));
    out.json.insert(QStringLiteral("written_blocks"), QJsonArray::fromStringList(before));
    return false;
}

// A value the unit holds and a set would have to send back unchanged, but
// which its rule refuses: nothing is written.
CtlOutput unitValueRefused(const QString &key, const QString &value)
{
    CtlOutput out;
    out.exitCode = ExitUsage;
    const QString message =
        QStringLiteral("the unit's %1 (%2) cannot be sent back; give %1=... as well")
            .arg(key, value);
    out.lines << message;
    out.json.insert(QStringLiteral("error"), message);
    return out;
}

// --- Network ---

CtlOutput getNetwork(CtlSession &session)
{
    CtlOutput out;
    NetworkReading r;
    if (!completed(readNetworkSettings(session.access(), r), out))
        return out;
    putRows(out, NetworkRows, NetworkConfig{*r.addresses, configViaNetworkAllowed(*r.lockWord)});
    putText(out, keyOf(MacRow), settingText(MacRow, *r.product, SettingSurface::Cli));
    putText(out, QStringLiteral("firmware"),
            firmwareLabel(r.product->productCode, r.product->firmware));
    return out;
}

CtlOutput setNetwork(CtlSession &session, const Values &given)
{
    CtlOutput out;
    NetworkConfig n{NetworkAddresses{}, false};
    // What is not given is sent back as the unit holds it.
    if (given.size() < settableKeys(Area::Network).size()) {
        NetworkReading r;
        if (!completed(readNetworkSettings(session.access(), r), out))
            return out;
        n = NetworkConfig{*r.addresses, configViaNetworkAllowed(*r.lockWord)};
    }
    for (const SettingRow<NetworkConfig> &row : NetworkRows) {
        const QString key = keyOf(row);
        if (given.contains(key))
            row.set(n, *givenValue(NetworkRows, key, given[key]));
        else if (!settingFits(row.codec, row.get(n)))
            return unitValueRefused(key, settingText(row, n, SettingSurface::Cli));
    }
    if (!completed(writeNetworkSettings(session.access(), n.addresses, n.allowConfigViaNetwork),
                   out, {Blocks::NetworkAddresses, Blocks::ConfigLock}))
        return out;
    putRows(out, NetworkRows, n);
    return out;
}

// --- G50 ---

CtlOutput getG50(CtlSession &session)
{
    CtlOutput out;
    std::optional<Octets4> address;
    if (completed(readG50Address(session.access(), address), out))
        putRows(out, G50Rows, *address);
    return out;
}

CtlOutput setG50(CtlSession &session, const Values &given)
{
    CtlOutput out;
    Octets4 address{};
    for (const SettingRow<Octets4> &row : G50Rows)
        row.set(address, *givenValue(G50Rows, keyOf(row), given[keyOf(row)]));
    if (completed(writeG50Address(session.access(), address), out, {Blocks::G50Address}))
        putRows(out, G50Rows, address);
    return out;
}

// --- BACnet ---

CtlOutput getBACnet(CtlSession &session)
{
    CtlOutput out;
    BACnetReading r;
    if (!completed(readBACnetSettings(session.access(), r), out))
        return out;
    putRows(out, BACnetRows, BACnetSettings{*r.instance, *r.name, *r.options});
    const bool valid = isValidDeviceInstance(*r.instance);
    out.json.insert(QStringLiteral("instance_valid"), valid);
    if (!valid)
        out.lines.first() += QStringLiteral(" (not a valid device instance)");
    return out;
}

CtlOutput setBACnet(CtlSession &session, const Values &given)
{
    CtlOutput out;
    BACnetEntries e;
    if (given.size() < settableKeys(Area::BACnet).size()) {
        BACnetReading r;
        if (!completed(readBACnetSettings(session.access(), r), out))
            return out;
        e = bacnetEntriesFor(BACnetSettings{*r.instance, *r.name, *r.options});
    }
    for (const SettingRow<BACnetSettings> &row : BACnetRows)
        if (row.cliKey && given.contains(keyOf(row)))
            e.set(row, given[keyOf(row)]);
    // The unit keeps no value for an entry sent as zeros while its switch is
    // off: a value given for it would be dropped, so it is refused.
    for (const SettingRow<BACnetSettings> &row : BACnetRows) {
        const SettingRow<BACnetSettings> *gate = gateOf(BACnetRows, row);
        if (!gate || e.isOn(*gate) || row.rule.whileOff != WhileOff::SentAsZero ||
            !given.contains(keyOf(row)))
            continue;
        const std::optional<SettingValue> value =
            settingFromCli(row.codec, row.rule, row.cliWords, given[keyOf(row)], nullptr);
        if (value && *value != zeroSetting(row.codec)) {
            out.exitCode = ExitUsage;
            out.lines << QStringLiteral("%1 is kept only with %2=%3")
                             .arg(keyOf(row), keyOf(*gate), QLatin1String(gate->cliWords.on));
            out.json.insert(QStringLiteral("error"), out.lines.first());
            return out;
        }
    }
    const BACnetEntryCheck check = checkBACnetEntries(e);
    if (!check.ok())
        for (const SettingRow<BACnetSettings> &row : BACnetRows)
            if (row.rule.refusal == check.refused)
                return unitValueRefused(keyOf(row), e.text(row));
    if (completed(writeBACnetSettings(session.access(), check.settings), out,
                  {Blocks::DeviceObjectId, Blocks::DeviceObjectName, Blocks::BACnetOptions}))
        putRows(out, BACnetRows, check.settings);
    return out;
}

CtlOutput get(CtlSession &session, Area area)
{
    switch (area) {
    case Area::Network:
        return getNetwork(session);
    case Area::G50:
        return getG50(session);
    case Area::BACnet:
        break;
    }
    return getBACnet(session);
}

CtlOutput set(CtlSession &session, Area area, const Values &given)
{
    switch (area) {
    case Area::Network:
        return setNetwork(session, given);
    case Area::G50:
        return setG50(session, given);
    case Area::BACnet:
        break;
    }
    return setBACnet(session, given);
}

ConfigCommand refusal(const QString &error)
{
    return ConfigCommand{{}, error};
}

} // namespace

ConfigCommand prepareConfigCommand(const QString &command, const QStringList &arguments)
{
    const std::optional<Area> area = areaNamed(arguments.value(0));
    if (!area)
        return refusal(QStringLiteral("%1 needs an area: network, g50 or bacnet").arg(command));
    const Area a = *area;
    const QStringList pairs = arguments.mid(1);
    if (command == QLatin1String("get")) {
        if (!pairs.isEmpty())
            return refusal(QStringLiteral("get takes the area only"));
        return ConfigCommand{[a](CtlSession &s) { return get(s, a); }, {}};
    }
    const QStringList keys = settableKeys(a);
    if (pairs.isEmpty())
        return refusal(QStringLiteral("set %1 needs KEY=VALUE arguments (keys: %2)")
                           .arg(arguments[0], keys.join(QLatin1String(", "))));
    Values given;
    for (const QString &pair : pairs) {
        const qsizetype split = pair.indexOf(QLatin1Char('='));
        const QString key = pair.left(split);
        if (split < 0)
            return refusal(QStringLiteral("\"%1\" is not KEY=VALUE").arg(pair));
        if (ReadOnlyKeys.contains(key) && a == Area::Network)
            return refusal(QStringLiteral("%1 is read only").arg(key));
        if (!keys.contains(key))
            return refusal(QStringLiteral("set %1 has no key \"%2\" (keys: %3)")
                               .arg(arguments[0], key, keys.join(QLatin1String(", "))));
        if (given.contains(key))
            return refusal(QStringLiteral("%1 is given twice").arg(key));
        const QString value = pair.mid(split + 1);
        const QString problem = valueProblem(a, key, value);
        if (!problem.isEmpty())
            return refusal(problem);
        given.insert(key, value);
    }
    return ConfigCommand{[a, given](CtlSession &s) { return set(s, a, given); }, {}};
}

namespace {

template <typename S, std::size_t N>
std::optional<QString> rowStyleValue(const SettingTable<S, N> &rows, const QString &key,
                                     const QString &value, QString *problem)
{
    const SettingRow<S> *row = rowWithCliKey(rows, key);
    const std::optional<SettingValue> v = givenValue(rows, key, value, problem);
    if (!v)
        return std::nullopt;
    return settingText(row->codec, *v, SettingSurface::Cli, row->cliWords);
}

} // namespace

QString getAreaOfKey(const QString &key)
{
    if (ReadOnlyKeys.contains(key))
        return QStringLiteral("network");
    for (const QString &area :
         {QStringLiteral("network"), QStringLiteral("g50"), QStringLiteral("bacnet")})
        if (settableKeys(*areaNamed(area)).contains(key))
            return area;
    return QString();
}

std::optional<QString> getStyleValue(const QString &key, const QString &value, QString *problem)
{
    if (ReadOnlyKeys.contains(key))
        return value;
    switch (areaNamed(getAreaOfKey(key)).value_or(Area::Network)) {
    case Area::Network:
        return rowStyleValue(NetworkRows, key, value, problem);
    case Area::G50:
        return rowStyleValue(G50Rows, key, value, problem);
    case Area::BACnet:
        break;
    }
    return rowStyleValue(BACnetRows, key, value, problem);
}

CtlOutput getArea(CtlSession &session, const QString &area)
{
    return get(session, areaNamed(area).value_or(Area::Network));
}
