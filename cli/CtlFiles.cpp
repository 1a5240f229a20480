// ravelinctl backup, restore, names --csv and set-names: a unit's
// configuration to and from a file, and its object names to and from CSV.

#include "CtlFiles.h"
#include "CtlText.h"

#include "Codecs.h"
#include "ConfigFile.h"
#include "ConfigTransfer.h"
#include "NamesCsv.h"
#include "RavelinVersion.h"
#include "SaveFile.h"
#include "UnitOps.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>

#include <cstdio>

namespace CtlFiles {

void usageError(const QString &message)
{
    std::fprintf(stderr, "ravelinctl: %s\n%s\n", terminalSafe(message).constData(), UsageHint);
    std::exit(ExitUsage);
}

void refuseFile(const QString &path, const QStringList &messages)
{
    for (const QString &message : messages)
        std::fprintf(stderr, "ravelinctl: %s: %s\n", terminalSafe(path).constData(),
                     terminalSafe(message).constData());
    std::fprintf(stderr, "ravelinctl: %s refused; nothing was sent\n",
                 terminalSafe(path).constData());
    std::exit(ExitBadFile);
}

QString toolVersion()
{
    return QString::fromLatin1(RavelinVersion::ProjectVersion);
}

std::optional<ProductInfo> checkRavelin(RegisterAccess &access, const FileCommandContext &context,
                                        CtlOutput &out, const QString &hint)
{
    ProductInfo product;
    const OpResult op = readProductInfo(access, product);
    if (!op.ok()) {
        failAt(op, 0, out);
        return std::nullopt;
    }
    if (product.productCode != QuorixProductCode) {
        out.exitCode = ExitFailure;
        QString why = QStringLiteral("the unit at %1 reports product code %2, not a Quorix "
                                     "Ravelin unit (%3); nothing was done")
                          .arg(context.unitAddress, QString::number(product.productCode),
                               QString::number(QuorixProductCode));
        if (!hint.isEmpty())
            why += QStringLiteral(" (%1)").arg(hint);
        out.lines << why;
        out.json.insert(QStringLiteral("error"), why);
        out.json.insert(QStringLiteral("product"), product.productCode);
        return std::nullopt;
    }
    return product;
}

std::function<CtlOutput(CtlSession &)> ravelinOnly(std::function<CtlOutput(CtlSession &)> run,
                                                   const FileCommandContext &context,
                                                   const QString &hint)
{
    return [run = std::move(run), context, hint](CtlSession &session) {
        CtlOutput out;
        if (!checkRavelin(session.access(), context, out, hint))
            return out;
        return run(session);
    };
}

void failAt(const OpResult &op, int nameNumber, CtlOutput &out)
{
    QString block = op.failedBlock ? QString::fromLatin1(op.failedBlock->name)
                                   : QStringLiteral("request refused before sending");
    if (op.failedBlock && op.failedBlock->unitId == NamesUnitId && nameNumber > 0)
        block += QStringLiteral(" %1").arg(nameNumber);
    out.exitCode = exitForResult(op.result);
    out.lines << QStringLiteral("%1: %2").arg(block, describeCause(op));
    out.json.insert(QStringLiteral("error"), describeCause(op));
    out.json.insert(QStringLiteral("result"), int(op.result));
    out.json.insert(QStringLiteral("failed"), block);
}

void progressLine(const FileCommandContext &context, CtlOutput &out, const QString &line)
{
    if (context.json) {
        QJsonArray lines = out.json.value(QStringLiteral("progress")).toArray();
        lines.append(line);
        out.json.insert(QStringLiteral("progress"), lines);
        return;
    }
    std::printf("%s\n", terminalSafe(line).constData());
    std::fflush(stdout);
}

} // namespace CtlFiles

using namespace CtlFiles;

namespace {

QString identityText(const ProductInfo &id)
{
    return QStringLiteral("%1, MAC %2")
        .arg(firmwareLabel(id.productCode, id.firmware), macLabel(id.mac.data()));
}

// Reads the whole unit; on failure fills `out` and returns false.
bool readWholeUnit(RegisterAccess &access, UnitConfig &config, CtlOutput &out)
{
    int nameNumber = 0;
    const OpResult op =
        readUnitConfig(access, config, [&nameNumber](const QString &, int n) { nameNumber = n; });
    if (op.ok())
        return true;
    failAt(op, nameNumber, out);
    return false;
}

// --- backup ---

CtlOutput backup(CtlSession &session, const QString &path, const FileCommandContext &context)
{
    CtlOutput out;
    // A path that cannot take the file (a FIFO, a device) is refused before
    // the unit is read: the answer would not change after a whole read.
    QString unusable;
    if (!checkWriteTarget(path, &unusable)) {
        const QString error = QStringLiteral("cannot write %1: %2").arg(path, unusable);
        out.exitCode = ExitFailure;
        out.lines << error;
        out.json.insert(QStringLiteral("error"), error);
        return out;
    }
    if (!checkRavelin(session.access(), context, out))
        return out;
    UnitConfig config;
    // Rewriting a configuration file keeps the keys this version does not know.
    UnitConfig existing;
    if (QFileInfo::exists(path) && loadUnitConfig(path, existing, nullptr))
        config.source = existing.source;
    if (!readWholeUnit(session.access(), config, out))
        return out;
    config.toolName = QStringLiteral("ravelinctl");
    config.toolVersion = toolVersion();
    config.savedAt = QDateTime::currentDateTimeUtc();

    // A unit can hold values its pages would refuse to send (an octet of
    // 300, the instance 4194303). The file records them as read; say now that
    // a restore will refuse it until they are corrected.
    ConfigError refusal;
    if (!parseUnitConfig(serializeUnitConfig(config), &refusal))
        progressLine(context, out,
                     QStringLiteral("warning: the unit holds a value a restore refuses (%1); "
                                    "correct it in the file before restoring")
                         .arg(refusal.text()));
    QString error;
    if (!saveUnitConfig(path, config, &error)) {
        out.exitCode = ExitFailure;
        out.lines << error;
        out.json.insert(QStringLiteral("error"), error);
        return out;
    }
    out.lines << QStringLiteral("saved the configuration of %1 to %2")
                     .arg(identityText(*config.identity), path);
    out.json.insert(QStringLiteral("file"), path);
    out.json.insert(QStringLiteral("mac"), macLabel(config.identity->mac.data()));
    return out;
}

// --- restore ---

struct RestoreRequest
{
    QString path;
    UnitConfig config;
    RestoreOptions options;
    bool dryRun = false;
    bool force = false; // a file saved from another product, restored all the same
};

RestoreRequest prepareRestoreRequest(const QStringList &arguments)
{
    RestoreRequest request;
    for (const QString &a : arguments) {
        if (a == QLatin1String("--dry-run"))
            request.dryRun = true;
        else if (a == QLatin1String("--include-network"))
            request.options.includeNetwork = true;
        else if (a == QLatin1String("--include-identity"))
            request.options.includeIdentity = true;
        else if (a == QLatin1String("--force"))
            request.force = true;
        else if (a.startsWith(QLatin1String("--")))
            usageError(QStringLiteral("restore: unknown option %1").arg(a));
        else if (request.path.isEmpty())
            request.path = a;
        else
            usageError(QStringLiteral("restore takes one file"));
    }
    if (request.path.isEmpty())
        usageError(QStringLiteral("restore needs a configuration file"));
    ConfigError error;
    if (!loadUnitConfig(request.path, request.config, &error))
        refuseFile(request.path, {error.text()});
    // Registers of another product mean other things: its file is no
    // Ravelin configuration, whatever its sections look like.
    const std::optional<ProductInfo> &identity = request.config.identity;
    if (identity && identity->productCode != QuorixProductCode && !request.force)
        refuseFile(request.path,
                   {QStringLiteral("saved from a unit reporting product code %1, not a Quorix "
                                   "Ravelin unit (%2); restore --force restores it all the same")
                        .arg(identity->productCode)
                        .arg(QuorixProductCode)});
    return request;
}

QString sourceText(const RestoreRequest &r)
{
    const UnitConfig &c = r.config;
    QStringList parts;
    if (c.savedAt.isValid())
        parts << QStringLiteral("saved %1").arg(c.savedAt.toUTC().toString(Qt::ISODate));
    if (!c.toolName.isEmpty())
        parts << QStringLiteral("by %1 %2").arg(c.toolName, c.toolVersion);
    if (c.identity)
        parts << QStringLiteral("from %1").arg(identityText(*c.identity));
    return parts.isEmpty() ? r.path : QStringLiteral("%1 (%2)").arg(r.path, parts.join(' '));
}

QString changeLine(const BlockChange &c)
{
    switch (c.kind) {
    case BlockChange::Changed:
        return QStringLiteral("  %1: %2 -> %3").arg(c.block, c.before, c.after);
    case BlockChange::Unchanged:
        return QStringLiteral("  %1: unchanged (%2)").arg(c.block, c.before);
    default:
        return QStringLiteral("  %1: %2").arg(c.block, c.after);
    }
}

CtlOutput dryRun(CtlSession &session, const RestoreRequest &r, const FileCommandContext &context,
                 CtlOutput out)
{
    UnitConfig current;
    if (!readWholeUnit(session.access(), current, out))
        return out;
    const std::vector<BlockChange> plan = planRestore(current, r.config, r.options);
    int changed = 0;
    QJsonArray blocks;
    for (const BlockChange &c : plan) {
        changed += c.kind == BlockChange::Changed ? 1 : 0;
        progressLine(context, out, changeLine(c));
        blocks.append(QJsonObject{{QStringLiteral("block"), c.block},
                                  {QStringLiteral("change"), c.kind == BlockChange::Changed},
                                  {QStringLiteral("before"), c.before},
                                  {QStringLiteral("after"), c.after}});
    }
    out.lines << QStringLiteral("dry run: %1 block(s) would change; nothing was sent").arg(changed);
    out.json.insert(QStringLiteral("blocks"), blocks);
    out.json.insert(QStringLiteral("changes"), changed);
    return out;
}

// The blocks a restore has written, reported as each one goes through: every
// block by name in JSON; in the text consecutive object names as one run
// ("Object names 1 to 49"), printed once the run ends.
class WrittenBlocks
{
public:
    WrittenBlocks(const FileCommandContext &context, CtlOutput &out)
        : m_context(context), m_out(out)
    {}

    void add(const QString &block, int nameNumber)
    {
        m_blocks.append(block);
        if (nameNumber > 0 && m_lastName > 0 && nameNumber == m_lastName + 1) {
            m_lastName = nameNumber;
            return;
        }
        endNames();
        if (nameNumber > 0)
            m_firstName = m_lastName = nameNumber;
        else
            report(block);
    }
    // Reports the run of names still open.
    void endNames()
    {
        if (m_firstName == 0)
            return;
        report(m_firstName == m_lastName
                   ? QStringLiteral("Object name %1").arg(m_firstName)
                   : QStringLiteral("Object names %1 to %2").arg(m_firstName).arg(m_lastName));
        m_firstName = m_lastName = 0;
    }
    const QJsonArray &blocks() const { return m_blocks; }
    const QStringList &summary() const { return m_summary; }

private:
    void report(const QString &what)
    {
        m_summary << what;
        progressLine(m_context, m_out, QStringLiteral("  written: %1").arg(what));
    }

    const FileCommandContext &m_context;
    CtlOutput &m_out;
    QJsonArray m_blocks;
    QStringList m_summary;
    int m_firstName = 0;
    int m_lastName = 0;
};

CtlOutput restore(CtlSession &session, const RestoreRequest &r, const FileCommandContext &context)
{
    CtlOutput out;
    const std::optional<ProductInfo> unit = checkRavelin(session.access(), context, out);
    if (!unit)
        return out;
    progressLine(context, out,
                 QStringLiteral("restoring %1 into %2 at %3")
                     .arg(sourceText(r), identityText(*unit), context.unitAddress));
    if (r.config.bacnet)
        if (const std::optional<QString> why = identityLeftAlone(r.config, *unit, r.options)) {
            progressLine(context, out,
                         QStringLiteral("%1: the Device instance and name are left alone "
                                        "(--include-identity writes them)")
                             .arg(*why));
            out.json.insert(QStringLiteral("identity_left_alone"), *why);
        }
    if (r.dryRun)
        return dryRun(session, r, context, out);

    WrittenBlocks written(context, out);
    int nameNumber = 0;
    const OpResult op = restoreUnitConfig(
        session.access(), r.config, *unit, r.options,
        [&written](const QString &block, int n) { written.add(block, n); },
        [&nameNumber](const QString &, int n) { nameNumber = n; });
    written.endNames();
    out.json.insert(QStringLiteral("written_blocks"), written.blocks());
    if (!op.ok()) {
        failAt(op, nameNumber, out);
        out.lines.last().prepend(QStringLiteral("restore stopped at "));
        out.lines << (written.summary().isEmpty()
                          ? QStringLiteral("nothing was written before it")
                          : QStringLiteral("written before it: %1")
                                .arg(written.summary().join(QLatin1String(", "))));
        return out;
    }
    out.lines << QStringLiteral("restored; restart the unit for the changes to take effect");
    out.json.insert(QStringLiteral("restored"), true);
    return out;
}

// --- names as CSV ---

CtlOutput namesCsv(CtlSession &session, const FileCommandContext &context)
{
    CtlOutput out;
    ObjectNameList names;
    int reached = 0;
    const OpResult op =
        readObjectNames(session.access(), names, [&reached](int n) { reached = n; });
    if (!op.ok()) {
        failAt(op, reached, out);
        return out;
    }
    const QByteArray csv = namesToCsv(names);
    if (context.json)
        out.json.insert(QStringLiteral("csv"), QString::fromUtf8(csv));
    else
        writeFileText(csv);
    return out;
}

NameUpdates readNamesFile(const QString &path)
{
    QString reason;
    const std::optional<QByteArray> text = readRegularFile(path, MaxNamesCsvSize, &reason);
    if (!text)
        refuseFile(path, {QStringLiteral("cannot read it: %1").arg(reason)});
    QStringList faults;
    const std::optional<NameUpdates> updates = parseNamesCsv(*text, &faults);
    if (!updates)
        refuseFile(path, faults);
    return *updates;
}

CtlOutput setNames(CtlSession &session, const NameUpdates &updates,
                   const FileCommandContext &context)
{
    CtlOutput out;
    if (!checkRavelin(session.access(), context, out))
        return out;
    // The names go in address order, whatever the file's order: the report
    // lists the addresses in the order they were written.
    std::vector<int> written;
    const auto reportWritten = [&out, &written] {
        QJsonArray addresses;
        for (const int address : written)
            addresses.append(address);
        out.json.insert(QStringLiteral("written"), int(written.size()));
        out.json.insert(QStringLiteral("written_addresses"), addresses);
    };
    for (const auto &[address, name] : updates) {
        const OpResult op = writeObjectName(session.access(), address, name);
        if (!op.ok()) {
            failAt(op, address, out);
            out.json.insert(QStringLiteral("failed_address"), address);
            out.lines << (written.empty()
                              ? QStringLiteral("no name was written before it")
                              : QStringLiteral("written before it: addresses %1")
                                    .arg(numberRanges(written, QStringLiteral(" to "))));
            reportWritten();
            return out;
        }
        written.push_back(address);
    }
    out.lines << QStringLiteral("wrote %1 object name(s): addresses %2")
                     .arg(written.size())
                     .arg(numberRanges(written, QStringLiteral(" to ")));
    reportWritten();
    return out;
}

void expectCount(const QString &command, const QStringList &arguments, int count)
{
    if (arguments.size() != count)
        usageError(QStringLiteral("%1 takes %2 argument(s), not %3")
                       .arg(command)
                       .arg(count)
                       .arg(arguments.size()));
}

} // namespace

std::function<CtlOutput(CtlSession &)> prepareFileCommand(const QString &command,
                                                          const QStringList &arguments,
                                                          const FileCommandContext &context)
{
    if (command == QLatin1String("backup")) {
        expectCount(command, arguments, 1);
        const QString path = arguments[0];
        return [path, context](CtlSession &s) {
            return backup(s, path, context);
        };
    }
    if (command == QLatin1String("restore")) {
        const RestoreRequest request = prepareRestoreRequest(arguments);
        return [request, context](CtlSession &s) {
            return restore(s, request, context);
        };
    }
    if (command == QLatin1String("names") && arguments == QStringList{QStringLiteral("--csv")})
        return [context](CtlSession &s) {
            return namesCsv(s, context);
        };
    if (command == QLatin1String("set-names")) {
        expectCount(command, arguments, 1);
        const NameUpdates updates = readNamesFile(arguments[0]);
        return [updates, context](CtlSession &s) {
            return setNames(s, updates, context);
        };
    }
    if (command == QLatin1String("report"))
        return prepareReport(arguments, context);
    return {};
}
