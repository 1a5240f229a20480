#include "ConfigTransfer.h"

#include "Codecs.h"

#include <initializer_list>

namespace {

QString objectNameBlockName(int n)
{
    return QStringLiteral("Object name %1").arg(n);
}

// The same registers would be written: every row of the options block agrees.
bool sameOptions(const BACnetOptions &a, const BACnetOptions &b)
{
    const auto registers = [](const BACnetOptions &o) {
        return encodeBlock<Blocks::BACnetOptions.count>(BACnetRows, Blocks::BACnetOptions,
                                                        BACnetSettings{0, {}, o});
    };
    return registers(a) == registers(b);
}

QString quoted(const QByteArray &name)
{
    return QLatin1Char('"') + nameText(name) + QLatin1Char('"');
}

// The options block in one sentence: the phrase of each of its rows.
QString optionsText(const BACnetOptions &o)
{
    const BACnetSettings s{0, {}, o};
    QStringList phrases;
    for (const SettingRow<BACnetSettings> &row : BACnetRows)
        if (row.inBlock(Blocks::BACnetOptions) && row.briefFormat)
            phrases << briefText(row, s);
    return phrases.join(QStringLiteral(", "));
}

QString addressesText(const NetworkAddresses &a)
{
    return QStringLiteral("IP %1, gateway %2, mask %3")
        .arg(dottedText(a.data()), dottedText(a.data() + 4), dottedText(a.data() + 8));
}

QString lockText(bool allowed)
{
    return allowed ? QStringLiteral("configuration via network allowed")
                   : QStringLiteral("configuration via network forbidden");
}

// Adds one block: Changed or Unchanged by comparing the texts of what the
// unit holds (nothing when it is unknown) and what would be written.
void compare(std::vector<BlockChange> &plan, const QString &block,
             const std::optional<QString> &before, const QString &after)
{
    BlockChange change;
    change.block = block;
    change.before = before.value_or(QStringLiteral("unknown"));
    change.after = after;
    change.kind = before && *before == after ? BlockChange::Unchanged : BlockChange::Changed;
    plan.push_back(change);
}

void notRestored(std::vector<BlockChange> &plan, const QString &block, BlockChange::Kind kind,
                 const QString &why)
{
    plan.push_back(BlockChange{block, kind, QString(), why});
}

template <typename T, typename F>
std::optional<QString> textOf(const std::optional<T> &value, F &&toText)
{
    return value ? std::optional<QString>(toText(*value)) : std::nullopt;
}

void planBACnet(std::vector<BlockChange> &plan, const UnitConfig &current, const UnitConfig &target,
                const RestoreOptions &restoreOptions)
{
    const QString id = QLatin1String(Blocks::DeviceObjectId.name);
    const QString name = QLatin1String(Blocks::DeviceObjectName.name);
    const QString options = QLatin1String(Blocks::BACnetOptions.name);
    if (!target.bacnet) {
        for (const QString &block : {id, name, options})
            notRestored(plan, block, BlockChange::NotInFile, QStringLiteral("not in the file"));
        return;
    }
    const BACnetSettings send = bacnetSettingsToSend(*target.bacnet);
    const std::optional<BACnetSettings> &now = current.bacnet;
    if (const std::optional<QString> why =
            identityLeftAlone(target, current.identity, restoreOptions)) {
        for (const QString &block : {id, name})
            notRestored(plan, block, BlockChange::Skipped,
                        QStringLiteral("left alone: %1; the BACnet identity goes to another unit "
                                       "only on request")
                            .arg(*why));
    } else {
        compare(plan, id,
                textOf(now, [](const BACnetSettings &b) { return QString::number(b.instance); }),
                QString::number(send.instance));
        compare(plan, name, textOf(now, [](const BACnetSettings &b) { return quoted(b.name); }),
                quoted(send.name));
    }
    BlockChange o;
    o.block = options;
    o.before = now ? optionsText(now->options) : QStringLiteral("unknown");
    o.after = optionsText(send.options);
    o.kind = now && sameOptions(now->options, send.options) ? BlockChange::Unchanged
                                                            : BlockChange::Changed;
    plan.push_back(o);
}

void planNames(std::vector<BlockChange> &plan, const UnitConfig &current, const UnitConfig &target)
{
    if (!target.objectNames) {
        notRestored(plan, QStringLiteral("Object names"), BlockChange::NotInFile,
                    QStringLiteral("not in the file"));
        return;
    }
    int unchanged = 0;
    for (int n = 1; n <= ObjectNameCount; ++n) {
        const std::size_t i = std::size_t(n - 1);
        const QByteArray &after = (*target.objectNames)[i];
        if (current.objectNames && (*current.objectNames)[i] == after) {
            ++unchanged;
            continue;
        }
        plan.push_back(BlockChange{objectNameBlockName(n), BlockChange::Changed,
                                   current.objectNames ? quoted((*current.objectNames)[i])
                                                       : QStringLiteral("unknown"),
                                   quoted(after)});
    }
    if (unchanged > 0)
        plan.push_back(BlockChange{
            QStringLiteral("Object names"), BlockChange::Unchanged,
            QStringLiteral("%1 of %2 as in the file").arg(unchanged).arg(ObjectNameCount),
            QString()});
}

void planNetwork(std::vector<BlockChange> &plan, const UnitConfig &current,
                 const UnitConfig &target, const RestoreOptions &options)
{
    const QString addresses = QLatin1String(Blocks::NetworkAddresses.name);
    const QString lock = QLatin1String(Blocks::ConfigLock.name);
    if (!target.network) {
        for (const QString &block : {addresses, lock})
            notRestored(plan, block, BlockChange::NotInFile, QStringLiteral("not in the file"));
    } else if (!options.includeNetwork) {
        for (const QString &block : {addresses, lock})
            notRestored(plan, block, BlockChange::Skipped,
                        QStringLiteral("left alone: network settings are restored only on "
                                       "request"));
    } else {
        compare(plan, addresses,
                textOf(current.network,
                       [](const NetworkConfig &n) { return addressesText(n.addresses); }),
                addressesText(target.network->addresses));
        compare(plan, lock,
                textOf(current.network,
                       [](const NetworkConfig &n) { return lockText(n.allowConfigViaNetwork); }),
                lockText(target.network->allowConfigViaNetwork));
    }
    notRestored(plan, QLatin1String(Blocks::MacAddress.name), BlockChange::Skipped,
                QStringLiteral("never restored"));
}

// Reports the blocks of one chain of writes that the unit accepted: all of
// them when the chain went through, those before the failed block otherwise,
// none when the request was refused before sending. `blocks` come in the
// order the operation writes them.
bool reportChain(const OpResult &op, std::initializer_list<RegisterBlock> blocks,
                 const BlockWritten &written)
{
    for (const RegisterBlock &block : blocks) {
        if (!op.ok() && (!op.failedBlock || (op.failedBlock->unitId == block.unitId &&
                                             op.failedBlock->start == block.start)))
            break;
        if (written)
            written(QLatin1String(block.name), 0);
    }
    return op.ok();
}

} // namespace

std::optional<NetworkConfig> networkConfigFrom(const NetworkReading &reading)
{
    if (!reading.addresses || !reading.lockWord)
        return std::nullopt;
    return NetworkConfig{*reading.addresses, configViaNetworkAllowed(*reading.lockWord)};
}

std::optional<BACnetSettings> bacnetSettingsFrom(const BACnetReading &reading)
{
    if (!reading.instance || !reading.name || !reading.options)
        return std::nullopt;
    return BACnetSettings{*reading.instance, *reading.name, *reading.options};
}

BACnetSettings bacnetSettingsToSend(const BACnetSettings &settings)
{
    return withGatesApplied(BACnetRows, settings);
}

OpResult readUnitConfig(RegisterAccess &access, UnitConfig &out, const TransferProgress &progress,
                        const StopRequested &stop)
{
    // Reports the block about to be read; false when the caller stops here.
    const auto next = [&progress, &stop](const char *block) {
        if (progress)
            progress(QLatin1String(block), 0);
        return !(stop && stop());
    };
    OpResult stopped;
    stopped.stopped = true;
    out.identity.reset();
    out.network.reset();
    out.g50.reset();
    out.bacnet.reset();
    out.objectNames.reset();

    if (!next(Blocks::NetworkAddresses.name))
        return stopped;
    NetworkReading network;
    OpResult op = readNetworkSettings(access, network);
    out.identity = network.product;
    out.network = networkConfigFrom(network);
    if (!op.ok())
        return op;

    if (!next(Blocks::G50Address.name))
        return stopped;
    op = readG50Address(access, out.g50);
    if (!op.ok())
        return op;

    if (!next(Blocks::DeviceObjectId.name))
        return stopped;
    BACnetReading bacnet;
    op = readBACnetSettings(access, bacnet);
    out.bacnet = bacnetSettingsFrom(bacnet);
    if (!op.ok())
        return op;

    ObjectNameList names;
    op = readObjectNames(
        access, names,
        [&progress](int n) {
            if (progress)
                progress(QStringLiteral("Object name"), n);
        },
        stop);
    if (op.ok())
        out.objectNames = names;
    return op;
}

std::vector<BlockChange> planRestore(const UnitConfig &current, const UnitConfig &target,
                                     const RestoreOptions &options)
{
    std::vector<BlockChange> plan;
    const QString g50 = QLatin1String(Blocks::G50Address.name);
    if (target.g50)
        compare(plan, g50,
                textOf(current.g50, [](const Octets4 &a) { return dottedText(a.data()); }),
                dottedText(target.g50->data()));
    else
        notRestored(plan, g50, BlockChange::NotInFile, QStringLiteral("not in the file"));
    planBACnet(plan, current, target, options);
    planNames(plan, current, target);
    planNetwork(plan, current, target, options);
    return plan;
}

std::optional<QString> identityLeftAlone(const UnitConfig &target,
                                         const std::optional<ProductInfo> &unit,
                                         const RestoreOptions &options)
{
    if (options.includeIdentity)
        return std::nullopt;
    if (!target.identity)
        return QStringLiteral("the file records no MAC address to tell which unit it comes from");
    if (!unit)
        return QStringLiteral("this unit's MAC address is unknown");
    if (target.identity->mac == unit->mac)
        return std::nullopt;
    return QStringLiteral("the file comes from MAC %1, this unit has MAC %2")
        .arg(macLabel(target.identity->mac.data()), macLabel(unit->mac.data()));
}

OpResult restoreUnitConfig(RegisterAccess &access, const UnitConfig &target,
                           const ProductInfo &unit, const RestoreOptions &options,
                           const BlockWritten &written, const TransferProgress &progress)
{
    const auto report = [&progress](const QString &block, int n) {
        if (progress)
            progress(block, n);
    };
    OpResult op;
    if (target.g50) {
        report(QLatin1String(Blocks::G50Address.name), 0);
        op = writeG50Address(access, *target.g50);
        if (!reportChain(op, {Blocks::G50Address}, written))
            return op;
    }
    if (target.bacnet) {
        const BACnetSettings send = bacnetSettingsToSend(*target.bacnet);
        if (identityLeftAlone(target, unit, options)) {
            report(QLatin1String(Blocks::BACnetOptions.name), 0);
            op = writeBACnetSettings(access, send, BACnetParts{false, false, true});
            if (!reportChain(op, {Blocks::BACnetOptions}, written))
                return op;
        } else {
            report(QLatin1String(Blocks::DeviceObjectId.name), 0);
            op = writeBACnetSettings(access, send);
            if (!reportChain(
                    op, {Blocks::DeviceObjectId, Blocks::DeviceObjectName, Blocks::BACnetOptions},
                    written))
                return op;
        }
    }
    if (target.objectNames) {
        // Name n - 1 went through when the exchange of name n begins.
        op = writeObjectNames(access, *target.objectNames, [&](int n) {
            if (n > 1 && written)
                written(objectNameBlockName(n - 1), n - 1);
            report(QStringLiteral("Object name"), n);
        });
        if (!op.ok())
            return op;
        if (written)
            written(objectNameBlockName(ObjectNameCount), ObjectNameCount);
    }
    // Last: a restore that failed above never reaches the unit's address.
    if (target.network && options.includeNetwork) {
        report(QLatin1String(Blocks::NetworkAddresses.name), 0);
        op = writeNetworkSettings(access, target.network->addresses,
                                  target.network->allowConfigViaNetwork);
        reportChain(op, {Blocks::NetworkAddresses, Blocks::ConfigLock}, written);
    }
    return op;
}
