// ravelinctl survey --hosts FILE: identifies every unit of a site over Modbus
// TCP, a bounded number at a time, and flags values that must be unique on a
// site (BACnet instance, BACnet device name, MAC address) but are not.
//
// Every host gets its own thread, client and register access, and one time
// budget (the reply timeout) for its connect and all its exchanges together,
// so a silent or refusing host costs at most that budget and never holds up
// the others. Only the addresses in the file are contacted: they must be
// numeric, so no name is ever looked up. The survey only reads.

#include "CtlFiles.h"
#include "CtlText.h"

#include "Codecs.h"
#include "ConfigFile.h"
#include "NamesCsv.h"
#include "SaveFile.h"
#include "StatusTexts.h"
#include "TcpClient.h"
#include "UnitOps.h"
#include "UnitReport.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>

#include <atomic>
#include <cstdio>
#include <map>
#include <thread>

using namespace CtlFiles;

namespace {

constexpr int DefaultParallel = 16;
constexpr int MaxParallel = 256;
constexpr int MaxHosts = 4096;
constexpr qint64 MaxHostsFileSize = 1024 * 1024;

struct SurveyHost
{
    QString address;
    std::uint16_t port = 502;
    int line = 0;
    QString label() const { return QStringLiteral("%1:%2").arg(address).arg(port); }
};

struct SurveyResult
{
    bool reachable = false; // the identity block was read
    QString problem;        // why the host, or a later block, could not be read
    std::optional<ProductInfo> product;
    std::optional<std::uint32_t> instance;
    std::optional<QByteArray> name;
    std::optional<StatusBlock> status;
    QStringList flags;
    bool isRavelin() const { return product && product->productCode == QuorixProductCode; }
};

struct SurveyRequest
{
    QString hostsFile;
    enum Format
    {
        Table,
        Json,
        Csv
    } format = Table;
    int parallel = DefaultParallel;
};

// --- the hosts file ---

std::optional<SurveyHost> parseHostLine(const QString &text, std::uint16_t defaultPort,
                                        QString *why)
{
    SurveyHost host;
    QString address = text;
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (colon >= 0) {
        address = text.left(colon);
        const QString port = text.mid(colon + 1);
        bool digits = !port.isEmpty() && port.size() <= 5;
        for (const QChar c : port)
            digits = digits && c >= QLatin1Char('0') && c <= QLatin1Char('9');
        const int value = digits ? port.toInt() : 0;
        if (value < 1 || value > 65535) {
            *why = QStringLiteral("port \"%1\" is not a number from 1 to 65535").arg(port);
            return std::nullopt;
        }
        host.port = std::uint16_t(value);
    } else {
        host.port = defaultPort;
    }
    const std::optional<Octets4> octets = parseDottedAddress(address);
    if (!octets) {
        *why = QStringLiteral("\"%1\" is not a numeric IPv4 address (names are not looked up)")
                   .arg(address);
        return std::nullopt;
    }
    host.address = dottedAddress(octets->data()); // "010.0.0.1" is contacted as 10.0.0.1
    return host;
}

std::vector<SurveyHost> readHostsFile(const QString &path, std::uint16_t defaultPort)
{
    QString reason;
    const std::optional<QByteArray> read = readRegularFile(path, MaxHostsFileSize, &reason);
    if (!read)
        refuseFile(path, {QStringLiteral("cannot read it: %1").arg(reason)});
    const QByteArray &bytes = *read;
    std::vector<SurveyHost> hosts;
    std::map<QString, int> lineOf;
    QStringList faults;
    const QStringList lines = QString::fromUtf8(bytes).split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const QString text = lines[i].section(QLatin1Char('#'), 0, 0).trimmed();
        if (text.isEmpty())
            continue;
        QString why;
        const std::optional<SurveyHost> host = parseHostLine(text, defaultPort, &why);
        if (!host) {
            faults << QStringLiteral("line %1: %2").arg(i + 1).arg(why);
            continue;
        }
        if (const auto seen = lineOf.find(host->label()); seen != lineOf.end()) {
            std::fprintf(stderr,
                         "ravelinctl: %s: line %d: %s is already on line %d; surveyed once\n",
                         terminalSafe(path).constData(), i + 1,
                         terminalSafe(host->label()).constData(), seen->second);
            continue;
        }
        lineOf[host->label()] = i + 1;
        hosts.push_back(*host);
        hosts.back().line = i + 1;
    }
    if (!faults.isEmpty())
        refuseFile(path, faults);
    if (hosts.empty())
        refuseFile(path, {QStringLiteral("lists no host")});
    if (hosts.size() > MaxHosts)
        refuseFile(path, {QStringLiteral("lists %1 hosts; at most %2 are surveyed at once")
                              .arg(hosts.size())
                              .arg(MaxHosts)});
    return hosts;
}

// --- identifying one host ---

void identify(const SurveyHost &host, int budgetMs, SurveyResult &r)
{
    const QDeadlineTimer deadline(budgetMs);
    TTcpClient client;
    client.setRemoteHost(host.address);
    client.setRemotePort(host.port);
    if (!client.open(int(std::max<qint64>(1, deadline.remainingTime())))) {
        r.problem = client.lastError();
        return;
    }
    RegisterAccess access;
    access.useTcp(client);
    // Each exchange may use what is left of the host's budget, no more.
    const auto budget = [&]() {
        const qint64 left = deadline.remainingTime();
        access.tcpTimeout = std::uint16_t(std::clamp<qint64>((left + 99) / 100, 1, 65535));
        if (left <= 0)
            r.problem = QStringLiteral("the timeout ran out before every block was read");
        return left > 0;
    };
    const auto failed = [&r](const OpResult &op) {
        if (op.ok())
            return false;
        r.problem = describe(op);
        return true;
    };
    ProductInfo product;
    if (!budget() || failed(readProductInfo(access, product)))
        return;
    r.reachable = true;
    r.product = product;
    if (!r.isRavelin()) {
        r.problem = QStringLiteral("not a Quorix Ravelin unit");
        return;
    }
    std::array<std::uint16_t, 11> registers{};
    OpResult op;
    if (!budget())
        return;
    op.result = access.ReadBlock(Blocks::DeviceObjectId, registers.data());
    op.failedBlock = Blocks::DeviceObjectId;
    if (failed(op))
        return;
    r.instance = decodeDeviceInstance(registers.data());
    if (!budget())
        return;
    op.result = access.ReadBlock(Blocks::DeviceObjectName, registers.data());
    op.failedBlock = Blocks::DeviceObjectName;
    if (failed(op))
        return;
    r.name = decodeDeviceName(registers.data());
    StatusBlock status;
    if (budget() && !failed(readStatusBlock(access, status)))
        r.status = status;
}

std::vector<SurveyResult> surveyAll(const std::vector<SurveyHost> &hosts, int parallel,
                                    int budgetMs)
{
    std::vector<SurveyResult> results(hosts.size());
    std::atomic<std::size_t> next{0};
    const auto worker = [&]() {
        for (std::size_t i = next++; i < hosts.size(); i = next++)
            identify(hosts[i], budgetMs, results[i]);
    };
    std::vector<std::thread> threads;
    const std::size_t count = std::min<std::size_t>(std::size_t(parallel), hosts.size());
    for (std::size_t t = 0; t < count; ++t)
        threads.emplace_back(worker);
    for (std::thread &t : threads)
        t.join();
    return results;
}

// --- duplicates ---

struct Duplicate
{
    QString kind;
    QString value;
    std::vector<std::size_t> hosts;
};

std::vector<Duplicate> flagDuplicates(std::vector<SurveyResult> &results)
{
    std::map<QString, std::vector<std::size_t>> byInstance, byName, byMac;
    for (std::size_t i = 0; i < results.size(); ++i) {
        const SurveyResult &r = results[i];
        if (r.instance)
            byInstance[QString::number(*r.instance)].push_back(i);
        if (r.name)
            byName[printableName(*r.name)].push_back(i);
        if (r.product)
            byMac[macLabel(r.product->mac.data())].push_back(i);
    }
    std::vector<Duplicate> duplicates;
    const auto collect = [&](const std::map<QString, std::vector<std::size_t>> &groups,
                             const QString &kind) {
        for (const auto &[value, members] : groups) {
            if (members.size() < 2)
                continue;
            duplicates.push_back({kind, value, members});
            for (std::size_t i : members)
                results[i].flags << QStringLiteral("duplicate %1").arg(kind);
        }
    };
    collect(byInstance, QStringLiteral("BACnet instance"));
    collect(byName, QStringLiteral("BACnet name"));
    collect(byMac, QStringLiteral("MAC"));
    return duplicates;
}

// --- output ---

QStringList rowOf(const SurveyHost &host, const SurveyResult &r)
{
    QStringList notes = r.flags;
    if (!r.problem.isEmpty())
        notes.prepend(r.problem);
    return {host.label(),
            r.reachable ? QStringLiteral("yes") : QStringLiteral("no"),
            r.product ? QString::number(r.product->productCode) : QString(),
            r.product ? firmwareVersionText(r.product->firmware) : QString(),
            r.product ? macLabel(r.product->mac.data()) : QString(),
            r.instance ? QString::number(*r.instance) : QString(),
            r.name ? printableName(*r.name) : QString(),
            r.status ? (r.status->G50LinkState ? QStringLiteral("OK") : QStringLiteral("error"))
                     : QString(),
            notes.join(QStringLiteral("; "))};
}

const QStringList Headers{
    QStringLiteral("ADDRESS"),  QStringLiteral("REACHABLE"), QStringLiteral("PRODUCT"),
    QStringLiteral("FIRMWARE"), QStringLiteral("MAC"),       QStringLiteral("INSTANCE"),
    QStringLiteral("NAME"),     QStringLiteral("G50 LINK"),  QStringLiteral("NOTES")};

QString tableText(const std::vector<QStringList> &rows)
{
    std::vector<int> widths(std::size_t(Headers.size()), 0);
    for (const QStringList &row : rows)
        for (int c = 0; c < row.size(); ++c)
            widths[std::size_t(c)] = std::max(widths[std::size_t(c)], int(row[c].size()));
    QString text;
    for (const QStringList &row : rows) {
        QString line;
        for (int c = 0; c < row.size(); ++c)
            line += c + 1 < row.size() ? row[c].leftJustified(widths[std::size_t(c)] + 2) : row[c];
        text += line.trimmed() + QLatin1Char('\n');
    }
    return text;
}

QString csvText(const std::vector<QStringList> &rows)
{
    QString text;
    for (const QStringList &row : rows) {
        QStringList fields;
        for (const QString &field : row)
            fields << csvField(field);
        text += fields.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    return text;
}

QJsonObject jsonOf(const std::vector<SurveyHost> &hosts, const std::vector<SurveyResult> &results,
                   const std::vector<Duplicate> &duplicates)
{
    QJsonArray list;
    for (std::size_t i = 0; i < hosts.size(); ++i) {
        const SurveyResult &r = results[i];
        QJsonObject o{{QStringLiteral("address"), hosts[i].address},
                      {QStringLiteral("port"), hosts[i].port},
                      {QStringLiteral("reachable"), r.reachable},
                      {QStringLiteral("flags"), QJsonArray::fromStringList(r.flags)}};
        if (!r.problem.isEmpty())
            o.insert(QStringLiteral("problem"), r.problem);
        if (r.product) {
            o.insert(QStringLiteral("product"), r.product->productCode);
            o.insert(QStringLiteral("firmware"), firmwareVersionText(r.product->firmware));
            o.insert(QStringLiteral("mac"), macLabel(r.product->mac.data()));
        }
        if (r.instance)
            o.insert(QStringLiteral("bacnetInstance"), qint64(*r.instance));
        if (r.name)
            o.insert(QStringLiteral("bacnetName"), printableName(*r.name));
        if (r.status)
            o.insert(QStringLiteral("g50Link"), bool(r.status->G50LinkState));
        list.append(o);
    }
    QJsonArray dups;
    for (const Duplicate &d : duplicates) {
        QJsonArray members;
        for (std::size_t i : d.hosts)
            members.append(hosts[i].label());
        dups.append(QJsonObject{{QStringLiteral("kind"), d.kind},
                                {QStringLiteral("value"), d.value},
                                {QStringLiteral("hosts"), members}});
    }
    return {{QStringLiteral("hosts"), list}, {QStringLiteral("duplicates"), dups}};
}

SurveyRequest parseSurveyArguments(const QStringList &arguments, bool json)
{
    SurveyRequest request;
    if (json)
        request.format = SurveyRequest::Json;
    bool formatGiven = json;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        const auto value = [&]() {
            if (i + 1 >= arguments.size())
                usageError(QStringLiteral("survey: %1 needs a value").arg(a));
            return arguments[++i];
        };
        if (a == QLatin1String("--hosts")) {
            request.hostsFile = value();
        } else if (a == QLatin1String("--parallel")) {
            const QString text = value();
            const std::optional<int> n = entryNumberInRange(text, 1, MaxParallel);
            if (!n)
                usageError(QStringLiteral("survey: --parallel takes 1 to %1, not \"%2\"")
                               .arg(MaxParallel)
                               .arg(text));
            request.parallel = *n;
        } else if (a == QLatin1String("--json") || a == QLatin1String("--csv")) {
            const auto format =
                a == QLatin1String("--json") ? SurveyRequest::Json : SurveyRequest::Csv;
            if (formatGiven && request.format != format)
                usageError(QStringLiteral("survey prints either --json or --csv"));
            request.format = format;
            formatGiven = true;
        } else {
            usageError(QStringLiteral("survey: unknown argument \"%1\"").arg(a));
        }
    }
    if (request.hostsFile.isEmpty())
        usageError(QStringLiteral("survey needs --hosts FILE"));
    return request;
}

} // namespace

int runSurvey(const QStringList &arguments, std::uint16_t defaultPort, std::uint16_t timeoutTenths,
              bool json, bool serial)
{
    if (serial)
        usageError(QStringLiteral("survey works over Modbus TCP only"));
    const SurveyRequest request = parseSurveyArguments(arguments, json);
    const std::vector<SurveyHost> hosts = readHostsFile(request.hostsFile, defaultPort);
    std::vector<SurveyResult> results = surveyAll(hosts, request.parallel, timeoutTenths * 100);
    const std::vector<Duplicate> duplicates = flagDuplicates(results);

    std::vector<QStringList> rows{Headers};
    for (std::size_t i = 0; i < hosts.size(); ++i)
        rows.push_back(rowOf(hosts[i], results[i]));
    const int reachable = int(std::count_if(results.begin(), results.end(),
                                            [](const SurveyResult &r) { return r.reachable; }));
    QString text;
    if (request.format == SurveyRequest::Json) {
        text =
            QString::fromUtf8(
                QJsonDocument(jsonOf(hosts, results, duplicates)).toJson(QJsonDocument::Compact)) +
            QLatin1Char('\n');
    } else if (request.format == SurveyRequest::Csv) {
        rows.front() = QStringList{QStringLiteral("address"),     QStringLiteral("reachable"),
                                   QStringLiteral("product"),     QStringLiteral("firmware"),
                                   QStringLiteral("mac"),         QStringLiteral("bacnet_instance"),
                                   QStringLiteral("bacnet_name"), QStringLiteral("g50_link"),
                                   QStringLiteral("notes")};
        text = csvText(rows);
    } else {
        text = tableText(rows);
        for (const Duplicate &d : duplicates) {
            QStringList members;
            for (std::size_t i : d.hosts)
                members << hosts[i].label();
            text += QStringLiteral("duplicate %1 %2: %3\n")
                        .arg(d.kind, d.value, members.join(QStringLiteral(", ")));
        }
        text += QStringLiteral("%1 of %2 host(s) answered; %3 duplicated value(s)\n")
                    .arg(reachable)
                    .arg(hosts.size())
                    .arg(duplicates.size());
    }
    // JSON escapes by its own rules; the table and the CSV go through the
    // terminal rule when they reach one.
    if (request.format == SurveyRequest::Json)
        std::fputs(text.toUtf8().constData(), stdout);
    else
        writeFileText(text.toUtf8());
    const bool findings = reachable < int(hosts.size()) || !duplicates.empty();
    return findings ? ExitFindings : ExitOk;
}
