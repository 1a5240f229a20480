// ravelinctl: reads and writes a Quorix Ravelin unit's registers from the
// command line, through the same client code as the configuration tool.

#include "CtlBacnet.h"
#include "CtlConfig.h"
#include "CtlFiles.h"
#include "CtlRestart.h"
#include "CtlSession.h"
#include "CtlText.h"

#include "Codecs.h"
#include "FrameFormat.h"
#include "FrameRecording.h"
#include "ModBusPro.h"
#include "ModBusTCPPro.h"
#include "RavelinVersion.h"

#include <QCoreApplication>
#include <QJsonDocument>

#include <algorithm>
#include <cstdio>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif
#include <functional>
#include <optional>

namespace {

const char *const Usage =
    "Usage: ravelinctl [options] COMMAND [ARGUMENTS]\n"
    "\n"
    "Options:\n"
    "  --host ADDRESS[:PORT]\n"
    "                     unit address (default 127.0.0.1), and its port if given\n"
    "  --tcp-port PORT    Modbus TCP port (default 502)\n"
    "  --com N            Modbus RTU at 9600 8N1 over COM port N (see below)\n"
    "  --device PATH      Modbus RTU at 9600 8N1 over this serial device\n"
    "  --timeout SECONDS  reply timeout in seconds, 0.1 to 60 in steps of 0.1\n"
    "                     (default 7 over TCP, 5 over a serial line)\n"
    "  --json             print the result as one JSON object\n"
    "  --trace            print every frame sent and received on standard error,\n"
    "                     one line each (docs/frame-trace.md)\n"
    "  --trace-file FILE  append the same lines to FILE as they happen; the file\n"
    "                     grows to at most 50 MB, then the trace stops with a\n"
    "                     message\n"
    "  --version          print the version and build, then leave\n"
    "  --help             print this text, then leave\n"
    "\n"
    "Commands:\n"
    "  identify                      product code and firmware version\n"
    "  show                          every configuration block and a status summary\n"
    "  names                         the 100 object names\n"
    "  read UNIT FN START COUNT      read COUNT registers (1 to 123)\n"
    "  write [--force] UNIT FN START VALUE...\n"
    "                                write a block of registers (1 to 121 values)\n"
    "  write1 [--force] UNIT FN REG VALUE\n"
    "                                write one register\n"
    "  restart [--wait [SECONDS]] [--new-host ADDRESS] [--expect KEY=VALUE]...\n"
    "                                send the restart command; --wait then connects\n"
    "                                and identifies once a second until the unit\n"
    "                                answers (default 60 s), at ADDRESS if given,\n"
    "                                and checks each --expect key of get against\n"
    "                                the unit's value\n"
    "  backup FILE                   save the unit's configuration to FILE (JSON)\n"
    "  restore FILE [--dry-run] [--include-network] [--include-identity] [--force]\n"
    "                                write FILE's configuration to the unit (the\n"
    "                                network block only with --include-network; the\n"
    "                                Device instance and name of a file saved from\n"
    "                                another unit only with --include-identity; a\n"
    "                                file from another product only with --force)\n"
    "  names --csv                   the 100 object names as CSV\n"
    "  set-names FILE                write the names a CSV file lists\n"
    "  report FILE.html|FILE.pdf [--site TEXT] [--engineer TEXT] [--notes TEXT]\n"
    "                                commissioning report of the unit with the\n"
    "                                site, engineer and notes (\\n in TEXT starts\n"
    "                                a new line)\n"
    "  survey --hosts FILE [--json|--csv] [--parallel N]\n"
    "                                identify every ADDRESS[:PORT] in FILE\n"
    "  bacnet discover [--target ADDRESS[:PORT]]... [--broadcast INTERFACE]\n"
    "         [--bacnet-port N] [--seconds N] [--csv]\n"
    "                                BACnet/IP devices answering a Who-Is sent to\n"
    "                                the unit (or the targets, or one interface's\n"
    "                                broadcast address), duplicate instances marked\n"
    "  bacnet check [--target ADDRESS[:PORT]] [--bacnet-port N] [--seconds N]\n"
    "                                the unit announces the instance and name its\n"
    "                                registers hold (BACnet port 47808 by default)\n"
    "  get network|g50|bacnet        one page's values as KEY=VALUE lines\n"
    "  set network|g50|bacnet KEY=VALUE...  write them; keys not given keep the\n"
    "                                unit's values (see README)\n"
    "\n"
    "Every command that writes (write, write1, restart, restore, set-names, set)\n"
    "first reads the product block and writes nothing to a unit that does not\n"
    "report product code 5173; write and write1 --force skip that check and write\n"
    "to whatever device answers.\n"
    "\n"
    "Numbers may be decimal or hexadecimal ($1F, x1F, 0x1F).\n"
    "Over a serial line READ takes at most 97 registers and WRITE at most 20 values.\n"
    "COMn means /dev/ttyS0-3 (COM1-4), /dev/ttyUSB0-15 (COM5-20) or /dev/ttyACM0-11\n"
    "(COM21-32) on Linux; RAVELIN_COMn=PATH in the environment overrides it.\n"
    "Control characters in names and other text from the unit are printed as \\xNN.\n"
    "Exit status: 0 done, 2 exception reply, 3 no reply in time, 4 any other\n"
    "failure (no connection, connection closed, invalid reply, not a Quorix\n"
    "Ravelin unit), 5 input file refused, 64 usage error; survey: 1 when a host\n"
    "did not answer or a value is duplicated; bacnet discover: 1 when instances\n"
    "are duplicated, 3 when no device answered; bacnet check: 1 when the unit\n"
    "announces another instance or name than its registers hold, 3 when it does\n"
    "not answer; restart --wait: 1 when an --expect value differs, 69 when the\n"
    "unit did not answer in time.\n";

// A reply wait of at most a minute: long enough for any line, short enough
// that a silent unit never holds a script for good (the serial component
// would take 65535 as "never time out").
constexpr int MaxTimeoutTenths = 600;

using CtlFiles::usageError;

// --timeout SECONDS: whole seconds or seconds and tenths ("7", "0.5", "2.50"),
// in tenths of a second, the unit the transports count in. Nothing when the
// text is no such number or asks for finer than a tenth.
std::optional<int> timeoutTenths(const QString &text)
{
    const qsizetype point = text.indexOf(QLatin1Char('.'));
    const QString whole = point < 0 ? text : text.left(point);
    const QString fraction = point < 0 ? QString() : text.mid(point + 1);
    const auto digits = [](const QString &part) {
        for (const QChar c : part)
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
        return true;
    };
    if (whole.isEmpty() || whole.size() > 5 || !digits(whole) || !digits(fraction) ||
        (point >= 0 && fraction.isEmpty()))
        return std::nullopt;
    for (qsizetype k = 1; k < fraction.size(); ++k)
        if (fraction[k] != QLatin1Char('0'))
            return std::nullopt;
    return whole.toInt() * 10 + (fraction.isEmpty() ? 0 : fraction[0].digitValue());
}

// The --timeout value in tenths of a second, or a usage error.
std::uint16_t timeoutOption(const QString &text)
{
    const std::optional<int> tenths = timeoutTenths(text);
    if (!tenths || *tenths < 1 || *tenths > MaxTimeoutTenths)
        usageError(QStringLiteral("--timeout takes seconds from 0.1 to %1 in steps of 0.1, "
                                  "not \"%2\"")
                       .arg(MaxTimeoutTenths / 10)
                       .arg(text));
    return std::uint16_t(*tenths);
}

struct Invocation
{
    QString host = QStringLiteral("127.0.0.1");
    std::uint16_t port = 502;
    std::uint16_t timeout = 0; // 0: the transport's default
    int comPort = 0;           // serial when comPort > 0 or device is set
    QString device;
    bool json = false;
    bool trace = false;
    QString traceFile;
    bool serial() const { return comPort > 0 || !device.isEmpty(); }
    QString command;
    QStringList arguments;
};

// What a usage error lists as expected in place of an unknown word.
const char *const OptionList =
    "--host, --tcp-port, --com, --device, --timeout, --json, --trace, --trace-file, --version, "
    "--help";
const char *const CommandList = "identify, show, names, read, write, write1, restart, backup, "
                                "restore, set-names, report, survey, bacnet, get, set";

// The value an option takes, as the help text names it.
QString valueName(const QString &option)
{
    if (option == QLatin1String("--host"))
        return QStringLiteral("ADDRESS[:PORT]");
    if (option == QLatin1String("--tcp-port"))
        return QStringLiteral("PORT");
    if (option == QLatin1String("--com"))
        return QStringLiteral("N");
    if (option == QLatin1String("--device"))
        return QStringLiteral("PATH");
    if (option == QLatin1String("--trace-file"))
        return QStringLiteral("FILE");
    return QStringLiteral("SECONDS");
}

// A number in [min, max] by the tool's number-entry rule, or a usage error.
int number(const QString &text, int min, int max, const char *what)
{
    const int value = parseEntryNumber(text, min - 1);
    if (value < min || value > max)
        usageError(QStringLiteral("%1 must be a whole number from %2 to %3, not \"%4\"")
                       .arg(QLatin1String(what))
                       .arg(min)
                       .arg(max)
                       .arg(text));
    return value;
}

// --host ADDRESS:PORT: the port moves to inv.port. A single colon only, so
// that an IPv6 address stays whole; the port may be given once, here or with
// --tcp-port.
void splitHostPort(Invocation &inv, bool tcpPortGiven)
{
    const qsizetype colon = inv.host.indexOf(QLatin1Char(':'));
    if (colon < 0 || inv.host.lastIndexOf(QLatin1Char(':')) != colon)
        return;
    if (tcpPortGiven)
        usageError(QStringLiteral("the port is given twice, in --host %1 and with --tcp-port %2; "
                                  "expected one of them")
                       .arg(inv.host)
                       .arg(inv.port));
    inv.port = std::uint16_t(number(inv.host.mid(colon + 1), 1, 65535, "the PORT of --host"));
    inv.host = inv.host.left(colon);
}

Invocation parseArguments(const QStringList &args)
{
    Invocation inv;
    bool tcpPortGiven = false;
    int i = 1;
    for (; i < args.size() && args[i].startsWith(QLatin1String("--")); ++i) {
        const QString &option = args[i];
        const auto value = [&]() -> QString {
            if (i + 1 >= args.size())
                usageError(
                    QStringLiteral("%1 needs a value (%1 %2)").arg(option, valueName(option)));
            return args[++i];
        };
        if (option == QLatin1String("--host"))
            inv.host = value();
        else if (option == QLatin1String("--tcp-port")) {
            inv.port = std::uint16_t(number(value(), 1, 65535, "--tcp-port"));
            tcpPortGiven = true;
        } else if (option == QLatin1String("--timeout"))
            inv.timeout = timeoutOption(value());
        else if (option == QLatin1String("--com"))
            inv.comPort = number(value(), 1, 255, "--com");
        else if (option == QLatin1String("--device"))
            inv.device = value();
        else if (option == QLatin1String("--json"))
            inv.json = true;
        else if (option == QLatin1String("--trace"))
            inv.trace = true;
        else if (option == QLatin1String("--trace-file"))
            inv.traceFile = value();
        else if (option == QLatin1String("--help")) {
            std::printf("%s", Usage);
            std::exit(ExitOk);
        } else if (option == QLatin1String("--version")) {
            std::printf("ravelinctl %s\n", RavelinVersion::VersionText);
            std::exit(ExitOk);
        } else
            usageError(QStringLiteral("unknown option \"%1\"; options are %2")
                           .arg(option, QLatin1String(OptionList)));
    }
    if (i >= args.size())
        usageError(
            QStringLiteral("no command given; commands are %1").arg(QLatin1String(CommandList)));
    inv.command = args[i];
    inv.arguments = args.mid(i + 1);
    splitHostPort(inv, tcpPortGiven);
    if (inv.host.trimmed().isEmpty())
        usageError(QStringLiteral("--host needs an address"));
    if (inv.timeout == 0)
        inv.timeout = inv.serial() ? RtuTimeout : TcpTimeout;
    return inv;
}

void expectArguments(const Invocation &inv, int min, int max)
{
    const int n = int(inv.arguments.size());
    if (n < min || n > max)
        usageError(QStringLiteral("%1 takes %2 argument(s), not %3")
                       .arg(inv.command)
                       .arg(min == max ? QString::number(min)
                                       : QStringLiteral("%1 to %2").arg(min).arg(max))
                       .arg(n));
}

// restart and its wait for the unit: over the network each attempt opens a
// connection of its own, with a reply wait of at most 2 s so that the
// attempts stay about a second apart; a serial line stays open and is asked
// again.
std::function<CtlOutput(CtlSession &)> prepareRestart(const Invocation &inv,
                                                      const FileCommandContext &context)
{
    QString error;
    const RestartPlan plan = parseRestartArguments(inv.arguments, inv.serial(), &error);
    if (!error.isEmpty())
        usageError(error);
    const std::uint16_t pollTimeout = std::min<std::uint16_t>(inv.timeout, 20);
    SessionFactory reconnect = [inv, pollTimeout](const QString &host) {
        return inv.serial() ? nullptr : std::make_unique<CtlSession>(host, inv.port, pollTimeout);
    };
    return CtlFiles::ravelinOnly(
        [plan, host = inv.serial() ? context.unitAddress : inv.host, reconnect](CtlSession &s) {
            return restartAndWait(s, plan, host, reconnect);
        },
        context);
}

// Checks the command's arguments completely before anything is sent, and
// returns the function that runs it.
std::function<CtlOutput(CtlSession &)> prepare(Invocation inv)
{
    // A raw write goes to a Quorix Ravelin unit only, unless --force (at any
    // place among its arguments) sends it to whatever device answers there,
    // without reading the product block first.
    const bool rawWrite =
        inv.command == QLatin1String("write") || inv.command == QLatin1String("write1");
    const bool force = rawWrite && inv.arguments.removeAll(QStringLiteral("--force")) > 0;
    const QStringList &a = inv.arguments;
    const QString unitAddress =
        inv.serial()
            ? (inv.device.isEmpty() ? QStringLiteral("COM%1").arg(inv.comPort) : inv.device)
            : QStringLiteral("%1:%2").arg(inv.host).arg(inv.port);
    const FileCommandContext context{unitAddress, inv.json};
    if (auto run = prepareFileCommand(inv.command, a, context))
        return run;
    const auto unit = [&] {
        return number(a[0], 0, 255, "UNIT");
    };
    const auto fn = [&] {
        return number(a[1], 1, 127, "FN");
    };
    const auto reg = [&] {
        return number(a[2], 0, 65535, "START");
    };
    if (inv.command == QLatin1String("identify") || inv.command == QLatin1String("show") ||
        inv.command == QLatin1String("names")) {
        expectArguments(inv, 0, 0);
        const QString c = inv.command;
        return [c](CtlSession &s) {
            return c == QLatin1String("identify") ? s.identify()
                   : c == QLatin1String("show")   ? s.show()
                                                  : s.names();
        };
    }
    if (inv.command == QLatin1String("restart"))
        return prepareRestart(inv, context);
    if (inv.command == QLatin1String("read")) {
        expectArguments(inv, 4, 4);
        const int maxCount = inv.serial() ? RtuMaxReadCount : TcpMaxReadCount;
        const int u = unit(), f = fn(), s = reg(), c = number(a[3], 1, maxCount, "COUNT");
        return [=](CtlSession &session) {
            return session.read(u, f, s, c);
        };
    }
    const auto checkedWrite = [&](std::function<CtlOutput(CtlSession &)> run) {
        if (force)
            return run;
        return CtlFiles::ravelinOnly(
            std::move(run), context,
            QStringLiteral("%1 --force writes all the same").arg(inv.command));
    };
    if (inv.command == QLatin1String("write")) {
        expectArguments(inv, 4, 3 + (inv.serial() ? RtuMaxWriteCount : TcpMaxWriteCount));
        const int u = unit(), f = fn(), s = reg();
        std::vector<std::uint16_t> values;
        for (const QString &text : a.mid(3))
            values.push_back(std::uint16_t(number(text, 0, 65535, "VALUE")));
        return checkedWrite([=](CtlSession &session) { return session.write(u, f, s, values); });
    }
    if (inv.command == QLatin1String("write1")) {
        expectArguments(inv, 4, 4);
        const int u = unit(), f = fn(), r = reg(), v = number(a[3], 0, 65535, "VALUE");
        return checkedWrite(
            [=](CtlSession &session) { return session.writeOne(u, f, r, std::uint16_t(v)); });
    }
    if (inv.command == QLatin1String("get") || inv.command == QLatin1String("set")) {
        ConfigCommand config = prepareConfigCommand(inv.command, inv.arguments);
        if (!config.run)
            usageError(config.error);
        if (inv.command == QLatin1String("set"))
            return CtlFiles::ravelinOnly(std::move(config.run), context);
        return config.run;
    }
    usageError(QStringLiteral("unknown command \"%1\"; commands are %2")
                   .arg(inv.command, QLatin1String(CommandList)));
}

// The one-line message of a failure, as written on standard error.
QString failureMessage(const CtlOutput &out)
{
    const QString error = out.json.value(QStringLiteral("error")).toString();
    const QString what = out.json.value(QStringLiteral("failed")).toString();
    if (error.isEmpty())
        return out.lines.isEmpty() ? QStringLiteral("failed") : out.lines.last();
    return what.isEmpty() ? error : QStringLiteral("%1: %2").arg(what, error);
}

int print(const Invocation &inv, const CtlOutput &out)
{
    const bool failed = out.exitCode != ExitOk;
    if (inv.json) {
        std::printf("%s\n", QJsonDocument(out.json).toJson(QJsonDocument::Compact).constData());
        // Scripts that read the JSON still leave a person a reason in the log.
        if (failed)
            std::fprintf(stderr, "ravelinctl: %s\n", terminalSafe(failureMessage(out)).constData());
    } else {
        FILE *stream = failed ? stderr : stdout;
        for (const QString &line : out.lines)
            std::fprintf(stream, "%s%s\n", failed ? "ravelinctl: " : "",
                         terminalSafe(line).constData());
    }
    // A value refused once the unit's own values are known is a usage error
    // all the same, and ends the same way.
    if (out.exitCode == ExitUsage)
        std::fprintf(stderr, "%s\n", CtlFiles::UsageHint);
    return out.exitCode;
}

} // namespace

int main(int argc, char *argv[])
{
#ifdef _WIN32
    // The same bytes as on every other system: lines end in "\n", and CSV's
    // own "\r\n" is not doubled into "\r\r\n".
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    const auto app = makeCtlApplication(argc, argv);
    const Invocation inv = parseArguments(QCoreApplication::arguments());
    if (inv.command == QLatin1String("survey"))
        return runSurvey(inv.arguments, inv.port, inv.timeout, inv.json, inv.serial());
    if (inv.command == QLatin1String("bacnet")) {
        CtlSession session = inv.serial() ? CtlSession(inv.comPort, inv.device, inv.timeout)
                                          : CtlSession(inv.host, inv.port, inv.timeout);
        return runBacnet(inv.arguments, session, inv.host, inv.serial(), inv.json);
    }
    const auto run = prepare(inv);

    // The taps outlive the session that reports to them.
    FrameTracePrinter trace(stderr);
    FrameFileRecorder traceFile;
    if (!inv.traceFile.isEmpty()) {
        QString error;
        if (!traceFile.start(inv.traceFile, FrameFileRecorder::Format::Text,
                             FrameFileRecorder::DefaultLimit, &error)) {
            std::fprintf(stderr, "ravelinctl: cannot write the trace to %s: %s\n",
                         terminalSafe(inv.traceFile).constData(), terminalSafe(error).constData());
            return ExitFailure;
        }
    }
    FrameTapPair taps(inv.trace ? &trace : nullptr, inv.traceFile.isEmpty() ? nullptr : &traceFile);
    CtlSession session = inv.serial() ? CtlSession(inv.comPort, inv.device, inv.timeout)
                                      : CtlSession(inv.host, inv.port, inv.timeout);
    if (inv.trace || !inv.traceFile.isEmpty())
        session.setFrameTap(&taps);
    // Said once, at the end: the command's own output stays as it is.
    const auto traceStopped = [&traceFile] {
        const QString reason = traceFile.stopReason();
        if (!reason.isEmpty())
            std::fprintf(stderr, "ravelinctl: %s (%llu frames left out)\n",
                         terminalSafe(reason).constData(),
                         static_cast<unsigned long long>(traceFile.framesLeftOut()));
    };
    QString error;
    if (!session.connect(&error)) {
        CtlOutput out;
        out.exitCode = ExitFailure;
        out.lines << error;
        out.json.insert(QStringLiteral("error"), error);
        traceStopped();
        return print(inv, out);
    }
    CtlOutput out = run(session);
    session.reportLostConnection(out);
    traceStopped();
    return print(inv, out);
}
