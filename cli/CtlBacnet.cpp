// ravelinctl bacnet: sees the unit from the BACnet side. `discover` lists the
// devices that answer a Who-Is sent to the addresses given (or to one
// interface's broadcast address when asked) and marks duplicate instances;
// `check` compares what the unit announces with what its registers hold.

#include "CtlBacnet.h"

#include "CtlFiles.h"
#include "CtlText.h"

#include "BacnetDiscovery.h"
#include "Codecs.h"
#include "DeviceList.h"
#include "DottedQuad.h"
#include "UnitOps.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkInterface>

#include <cstdio>

using CtlFiles::usageError;
using namespace Bacnet;

namespace {

constexpr int DefaultSeconds = 3;

struct BacnetRequest
{
    QString action;
    std::vector<DiscoveryTarget> targets;
    QString broadcastInterface;
    std::uint16_t port = DefaultPort;
    int seconds = DefaultSeconds;
    bool csv = false;
};

std::uint16_t portNumber(const QString &text, const char *what)
{
    bool ok = false;
    const int port = text.toInt(&ok);
    if (!ok || port < 1 || port > 65535)
        usageError(QStringLiteral("%1 takes a port from 1 to 65535, not \"%2\"")
                       .arg(QLatin1String(what), text));
    return std::uint16_t(port);
}

// ADDRESS or ADDRESS:PORT, an IPv4 address written in full.
DiscoveryTarget targetOf(const QString &text, std::uint16_t defaultPort)
{
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    const QString address = colon < 0 ? text : text.left(colon);
    const std::optional<Octets4> octets = dottedOctets(address);
    if (!octets)
        usageError(QStringLiteral("--target takes ADDRESS[:PORT] with a dotted IPv4 address, "
                                  "not \"%1\"")
                       .arg(text));
    DiscoveryTarget target;
    target.address = QHostAddress(dottedText(octets->data()));
    target.port = colon < 0 ? defaultPort : portNumber(text.mid(colon + 1), "--target");
    return target;
}

// The broadcast address of the named interface's first IPv4 address.
DiscoveryTarget broadcastTarget(const QString &name, std::uint16_t port)
{
    const QNetworkInterface interface = QNetworkInterface::interfaceFromName(name);
    if (!interface.isValid())
        usageError(QStringLiteral("--broadcast: no network interface \"%1\"").arg(name));
    const QHostAddress broadcast = broadcastAddressOf(interface);
    if (!broadcast.isNull())
        return DiscoveryTarget{broadcast, port, true};
    usageError(
        QStringLiteral("--broadcast: interface \"%1\" has no IPv4 broadcast address").arg(name));
}

BacnetRequest parseBacnetArguments(const QStringList &args, const QString &unitHost, bool serial,
                                   bool json)
{
    BacnetRequest request;
    if (args.isEmpty() ||
        (args[0] != QLatin1String("discover") && args[0] != QLatin1String("check")))
        usageError(QStringLiteral("bacnet takes discover or check, not \"%1\"").arg(args.value(0)));
    request.action = args[0];
    const bool discover = request.action == QLatin1String("discover");
    QStringList targets;
    for (int i = 1; i < args.size(); ++i) {
        const QString &option = args[i];
        const auto value = [&]() -> QString {
            if (i + 1 >= args.size())
                usageError(QStringLiteral("%1 needs a value").arg(option));
            return args[++i];
        };
        if (option == QLatin1String("--bacnet-port")) {
            request.port = portNumber(value(), "--bacnet-port");
        } else if (option == QLatin1String("--seconds")) {
            bool ok = false;
            request.seconds = value().toInt(&ok);
            if (!ok || request.seconds < 1 || request.seconds > 60)
                usageError(QStringLiteral("--seconds takes a whole number from 1 to 60"));
        } else if (option == QLatin1String("--target")) {
            targets << value();
        } else if (discover && option == QLatin1String("--broadcast")) {
            request.broadcastInterface = value();
        } else if (discover && option == QLatin1String("--csv")) {
            request.csv = true;
        } else {
            usageError(QStringLiteral("unknown bacnet %1 option \"%2\"; options are %3")
                           .arg(request.action, option,
                                discover ? QStringLiteral("--target, --broadcast, --bacnet-port, "
                                                          "--seconds, --csv")
                                         : QStringLiteral("--target, --bacnet-port, --seconds")));
        }
    }
    if (request.csv && json)
        usageError(QStringLiteral("--csv and --json exclude each other"));
    if (!request.broadcastInterface.isEmpty() && !targets.isEmpty())
        usageError(QStringLiteral("--broadcast and --target exclude each other"));
    for (const QString &t : targets)
        request.targets.push_back(targetOf(t, request.port));
    if (!request.broadcastInterface.isEmpty())
        request.targets.push_back(broadcastTarget(request.broadcastInterface, request.port));
    if (!discover && request.targets.size() > 1)
        usageError(QStringLiteral("bacnet check takes one --target"));
    // By default the Who-Is goes to the address the unit is reached at; over
    // a serial line there is none, and no address is guessed.
    if (request.targets.empty() && serial)
        usageError(QStringLiteral("over a serial line bacnet %1 needs --target ADDRESS[:PORT]")
                       .arg(request.action));
    if (request.targets.empty())
        request.targets.push_back(targetOf(unitHost, request.port));
    return request;
}

QJsonObject jsonOf(const FoundDevice &d)
{
    QJsonObject o;
    o.insert(QStringLiteral("instance"), qint64(d.iam.device.instance));
    o.insert(QStringLiteral("address"), d.address.toString());
    o.insert(QStringLiteral("port"), d.port);
    o.insert(QStringLiteral("vendor_id"), qint64(d.iam.vendorId));
    o.insert(QStringLiteral("max_apdu"), qint64(d.iam.maxApdu));
    o.insert(QStringLiteral("segmentation"), segmentationText(d.iam.segmentation));
    o.insert(QStringLiteral("name"), deviceName(d));
    if (!d.nameProblem.isEmpty())
        o.insert(QStringLiteral("name_problem"), d.nameProblem);
    o.insert(QStringLiteral("duplicate"), d.duplicate);
    return o;
}

void printLine(FILE *stream, const QString &line)
{
    std::fprintf(stream, "%s\n", terminalSafe(line).constData());
}

int discover(const BacnetRequest &request, bool json)
{
    const DiscoveryResult result = Discovery::run(request.targets, WhoIs{}, request.seconds * 1000);
    if (!result.error.isEmpty()) {
        printLine(stderr, QStringLiteral("ravelinctl: %1").arg(result.error));
        return ExitFailure;
    }
    if (!result.note.isEmpty())
        printLine(stderr, QStringLiteral("ravelinctl: note: %1").arg(result.note));
    const bool duplicates = std::any_of(result.devices.begin(), result.devices.end(),
                                        [](const FoundDevice &d) { return d.duplicate; });
    if (json) {
        QJsonArray devices;
        for (const FoundDevice &d : result.devices)
            devices.append(jsonOf(d));
        QJsonObject o;
        o.insert(QStringLiteral("devices"), devices);
        o.insert(QStringLiteral("duplicates"), duplicates);
        o.insert(QStringLiteral("malformed"), result.malformed);
        std::printf("%s\n", QJsonDocument(o).toJson(QJsonDocument::Compact).constData());
    } else if (request.csv) {
        for (const QString &line :
             devicesCsv(result.devices).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            printLine(stdout, line);
    } else {
        const QStringList h = deviceHeaders();
        printLine(stdout, QStringLiteral("%1  %2  %3  %4  %5  %6  %7")
                              .arg(h[0], -8)
                              .arg(h[1], -21)
                              .arg(h[2], -6)
                              .arg(h[3], -8)
                              .arg(h[4], -12)
                              .arg(h[5], -20)
                              .arg(h[6]));
        for (const FoundDevice &d : result.devices) {
            const QStringList r = deviceRow(d);
            printLine(stdout, QStringLiteral("%1  %2  %3  %4  %5  %6  %7")
                                  .arg(r[0], -8)
                                  .arg(r[1], -21)
                                  .arg(r[2], -6)
                                  .arg(r[3], -8)
                                  .arg(r[4], -12)
                                  .arg(r[5], -20)
                                  .arg(r[6])
                                  .trimmed());
        }
        printLine(stdout,
                  QStringLiteral("%1 device(s) answered%2")
                      .arg(result.devices.size())
                      .arg(duplicates ? QStringLiteral("; duplicate instances found") : QString()));
    }
    if (result.devices.empty()) {
        printLine(stderr, QStringLiteral("ravelinctl: no BACnet device answered within %1 s")
                              .arg(request.seconds));
        return ExitNoReply;
    }
    return duplicates ? ExitFindings : ExitOk;
}

} // namespace

int runBacnet(const QStringList &arguments, CtlSession &session, const QString &unitHost,
              bool serial, bool json)
{
    const BacnetRequest request = parseBacnetArguments(arguments, unitHost, serial, json);
    if (request.action == QLatin1String("discover"))
        return discover(request, json);
    return checkUnit(request.targets.front(), request.seconds * 1000, session, json);
}

int checkUnit(const DiscoveryTarget &target, int milliseconds, CtlSession &session, bool json)
{
    CtlOutput out;
    BACnetReading held;
    QString error;
    if (!session.connect(&error)) {
        printLine(stderr, QStringLiteral("ravelinctl: %1").arg(error));
        return ExitFailure;
    }
    const OpResult op = readBACnetSettings(session.access(), held);
    if (!op.ok()) {
        printLine(stderr, QStringLiteral("ravelinctl: %1").arg(describe(op)));
        return ExitFailure;
    }
    const QString heldName = nameText(*held.name);
    const DiscoveryResult result = Discovery::run({target}, WhoIs{}, milliseconds);
    if (!result.note.isEmpty())
        printLine(stderr, QStringLiteral("ravelinctl: note: %1").arg(result.note));
    QJsonObject o;
    o.insert(QStringLiteral("unit_instance"), qint64(*held.instance));
    o.insert(QStringLiteral("unit_name"), heldName);
    o.insert(QStringLiteral("bacnet_address"),
             QStringLiteral("%1:%2").arg(target.address.toString()).arg(target.port));
    QStringList lines;
    int exitCode = ExitOk;
    const FoundDevice *answer = nullptr;
    for (const FoundDevice &d : result.devices)
        if (d.address.isEqual(target.address, QHostAddress::TolerantConversion))
            answer = &d;
    if (!result.error.isEmpty()) {
        lines << result.error;
        exitCode = ExitFailure;
    } else if (!answer) {
        lines << QStringLiteral("no I-Am from %1:%2 within %3 s; the unit's registers hold "
                                "instance %4, name \"%5\"")
                     .arg(target.address.toString())
                     .arg(target.port)
                     .arg(milliseconds / 1000.0, 0, 'f', 1)
                     .arg(*held.instance)
                     .arg(heldName);
        exitCode = ExitNoReply;
    } else {
        o.insert(QStringLiteral("announced_instance"), qint64(answer->iam.device.instance));
        o.insert(QStringLiteral("announced_name"), deviceName(*answer));
        const bool sameInstance = answer->iam.device.instance == *held.instance;
        const bool sameName =
            answer->nameRead && answer->nameProblem.isEmpty() && answer->name == heldName;
        if (sameInstance && sameName) {
            lines << QStringLiteral(
                         "BACnet check passed: %1:%2 announces instance %3, name \"%4\", "
                         "as the unit's registers hold")
                         .arg(target.address.toString())
                         .arg(target.port)
                         .arg(*held.instance)
                         .arg(heldName);
        } else {
            exitCode = ExitFindings;
            if (!sameInstance)
                lines << QStringLiteral("instance: the unit announces %1, its registers hold %2")
                             .arg(answer->iam.device.instance)
                             .arg(*held.instance);
            if (!sameName)
                lines << (answer->nameProblem.isEmpty()
                              ? QStringLiteral("name: the unit announces \"%1\", its registers "
                                               "hold \"%2\"")
                                    .arg(answer->name, heldName)
                              : QStringLiteral("name: not read (%1); its registers hold \"%2\"")
                                    .arg(answer->nameProblem, heldName));
        }
    }
    o.insert(QStringLiteral("passed"), exitCode == ExitOk);
    if (!lines.isEmpty() && exitCode != ExitOk)
        o.insert(QStringLiteral("error"), lines.join(QStringLiteral("; ")));
    if (json)
        std::printf("%s\n", QJsonDocument(o).toJson(QJsonDocument::Compact).constData());
    for (const QString &line : lines)
        if (!json || exitCode != ExitOk)
            printLine(exitCode == ExitOk ? stdout : stderr,
                      exitCode == ExitOk ? line : QStringLiteral("ravelinctl: ") + line);
    return exitCode;
}
