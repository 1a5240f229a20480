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

// The keys a set may give, per area, in the order get prints them.
QStringList settableKeys(Area area)
{
    switch (area) {
    case Area::Network:
        return {"ip", "gateway", "mask", "config"};
    case Area::G50:
        return {"address"};
    case Area::BACnet:
        return {"instance", "name", "comparison", "foreign", "bbmd", "ttl"};
    }
    return {};
}

const QStringList ReadOnlyKeys{"mac", "firmware"};
const QStringList AddressKeys{"ip", "gateway", "mask"};

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

// Why a value is refused by its key's rule; empty when it is accepted.
QString valueProblem(const QString &key, const QString &value)
{
    const auto must = [&](const QString &what) {
        return QStringLiteral("%1 must be %2, not \"%3\"").arg(key, what, value);
    };
    if (key == QLatin1String("config"))
        return value == QLatin1String("allowed") || value == QLatin1String("forbidden")
                   ? QString()
                   : must(QStringLiteral("allowed or forbidden"));
    if (key == QLatin1String("comparison") || key == QLatin1String("foreign"))
        return value == QLatin1String("on") || value == QLatin1String("off")
                   ? QString()
                   : must(QStringLiteral("on or off"));
    if (key == QLatin1String("instance"))
        return deviceInstanceEntry(value)
                   ? QString()
                   : must(QStringLiteral("a whole number from 0 to %1").arg(MaxDeviceInstance));
    if (key == QLatin1String("name"))
        return deviceNameEntry(value) ? QString()
                                      : must(QStringLiteral("at most %1 characters, each with a "
                                                            "one-byte (Latin-1) code")
                                                 .arg(MaxDeviceNameLength));
    if (key == QLatin1String("ttl"))
        return entryNumberInRange(value, 1, MaxTimeToLive)
                   ? QString()
                   : must(QStringLiteral("a whole number from 1 to %1").arg(MaxTimeToLive));
    // The addresses: ip, gateway, mask, address, bbmd.
    return dottedOctets(value) ? QString()
                               : must(QStringLiteral("four octets from 0 to 255, as 192.0.2.1"));
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

void putSwitch(CtlOutput &out, const QString &key, bool on)
{
    put(out, key, on ? QStringLiteral("on") : QStringLiteral("off"), on);
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

void putNetwork(CtlOutput &out, const NetworkAddresses &a, bool allowed)
{
    for (int i = 0; i < 3; ++i)
        putText(out, AddressKeys[i], dottedText(a.data() + 4 * i));
    putText(out, QStringLiteral("config"),
            allowed ? QStringLiteral("allowed") : QStringLiteral("forbidden"));
}

CtlOutput getNetwork(CtlSession &session)
{
    CtlOutput out;
    NetworkReading r;
    if (!completed(readNetworkSettings(session.access(), r), out))
        return out;
    putNetwork(out, *r.addresses, configViaNetworkAllowed(*r.lockWord));
    putText(out, QStringLiteral("mac"), macLabel(r.product->mac.data()));
    putText(out, QStringLiteral("firmware"),
            firmwareLabel(r.product->productCode, r.product->firmware));
    return out;
}

CtlOutput setNetwork(CtlSession &session, const Values &given)
{
    CtlOutput out;
    NetworkAddresses a{};
    bool allowed = false;
    // What is not given is sent back as the unit holds it.
    if (given.size() < settableKeys(Area::Network).size()) {
        NetworkReading r;
        if (!completed(readNetworkSettings(session.access(), r), out))
            return out;
        a = *r.addresses;
        allowed = configViaNetworkAllowed(*r.lockWord);
    }
    for (int i = 0; i < 3; ++i) {
        const QString &key = AddressKeys[i];
        if (given.contains(key)) {
            const Octets4 octets = *dottedOctets(given[key]);
            std::copy(octets.begin(), octets.end(), a.begin() + 4 * i);
        } else if (!dottedOctets(dottedText(a.data() + 4 * i))) {
            return unitValueRefused(key, dottedText(a.data() + 4 * i));
        }
    }
    if (given.contains(QStringLiteral("config")))
        allowed = given[QStringLiteral("config")] == QLatin1String("allowed");
    if (!completed(writeNetworkSettings(session.access(), a, allowed), out,
                   {Blocks::NetworkAddresses, Blocks::ConfigLock}))
        return out;
    putNetwork(out, a, allowed);
    return out;
}

// --- G50 ---

CtlOutput getG50(CtlSession &session)
{
    CtlOutput out;
    std::optional<Octets4> address;
    if (completed(readG50Address(session.access(), address), out))
        putText(out, QStringLiteral("address"), dottedText(address->data()));
    return out;
}

CtlOutput setG50(CtlSession &session, const Values &given)
{
    CtlOutput out;
    const Octets4 address = *dottedOctets(given[QStringLiteral("address")]);
    if (completed(writeG50Address(session.access(), address), out, {Blocks::G50Address}))
        putText(out, QStringLiteral("address"), dottedText(address.data()));
    return out;
}

// --- BACnet ---

void putBACnet(CtlOutput &out, const BACnetSettings &s)
{
    put(out, QStringLiteral("instance"), QString::number(s.instance), qint64(s.instance));
    putText(out, QStringLiteral("name"), nameText(s.name));
    putSwitch(out, QStringLiteral("comparison"), s.options.newSettingComparison);
    putSwitch(out, QStringLiteral("foreign"), s.options.foreignDevice);
    putText(out, QStringLiteral("bbmd"), dottedText(s.options.bbmd.data()));
    put(out, QStringLiteral("ttl"), QString::number(s.options.timeToLive),
        int(s.options.timeToLive));
}

CtlOutput getBACnet(CtlSession &session)
{
    CtlOutput out;
    BACnetReading r;
    if (!completed(readBACnetSettings(session.access(), r), out))
        return out;
    putBACnet(out, BACnetSettings{*r.instance, *r.name, *r.options});
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
        e.instance = QString::number(*r.instance);
        e.name = nameText(*r.name);
        e.newSettingComparison = r.options->newSettingComparison;
        e.foreignDevice = r.options->foreignDevice;
        for (std::uint16_t octet : r.options->bbmd)
            e.bbmd << QString::number(octet);
        e.timeToLive = QString::number(r.options->timeToLive);
    }
    const auto on = [&given](const char *key) {
        return given.value(QLatin1String(key)) == QLatin1String("on");
    };
    e.instance = given.value(QStringLiteral("instance"), e.instance);
    e.name = given.value(QStringLiteral("name"), e.name);
    if (given.contains(QStringLiteral("comparison")))
        e.newSettingComparison = on("comparison");
    if (given.contains(QStringLiteral("foreign")))
        e.foreignDevice = on("foreign");
    if (given.contains(QStringLiteral("bbmd")))
        e.bbmd = given[QStringLiteral("bbmd")].split(QLatin1Char('.'));
    e.timeToLive = given.value(QStringLiteral("ttl"), e.timeToLive);
    // The unit keeps no BBMD address while it does not register: an address
    // would be replaced by zeros, so it is refused rather than dropped.
    const std::optional<Octets4> bbmd = dottedOctets(given.value(QStringLiteral("bbmd")));
    if (bbmd && *bbmd != Octets4{} && !e.foreignDevice) {
        out.exitCode = ExitUsage;
        out.lines << QStringLiteral("bbmd is kept only with foreign=on");
        out.json.insert(QStringLiteral("error"), out.lines.first());
        return out;
    }
    const BACnetEntryCheck check = checkBACnetEntries(e);
    switch (check.refused) {
    case BACnetEntry::None:
        break;
    case BACnetEntry::Instance:
        return unitValueRefused(QStringLiteral("instance"), e.instance);
    case BACnetEntry::Name:
        return unitValueRefused(QStringLiteral("name"), e.name);
    case BACnetEntry::Bbmd:
        return unitValueRefused(QStringLiteral("bbmd"), e.bbmd.join(QLatin1Char('.')));
    case BACnetEntry::TimeToLive:
        return unitValueRefused(QStringLiteral("ttl"), e.timeToLive);
    }
    if (completed(writeBACnetSettings(session.access(), check.settings), out,
                  {Blocks::DeviceObjectId, Blocks::DeviceObjectName, Blocks::BACnetOptions}))
        putBACnet(out, check.settings);
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
        const QString problem = valueProblem(key, value);
        if (!problem.isEmpty())
            return refusal(problem);
        given.insert(key, value);
    }
    return ConfigCommand{[a, given](CtlSession &s) { return set(s, a, given); }, {}};
}
