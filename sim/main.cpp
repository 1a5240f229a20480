// ravelin-sim: a simulated Quorix Ravelin unit answering Modbus TCP and
// Modbus RTU with the unit's own function codes, for tests and demos.

#include "BacnetEndpoint.h"
#include "RavelinVersion.h"
#ifndef Q_OS_WIN
#include "RtuEndpoint.h"
#endif
#include "SimCore.h"
#include "TcpEndpoint.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QtGlobal>

#include <cerrno>
#include <csignal>
#include <cstdio>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif
#include <memory>
#include <utility>
#ifdef Q_OS_WIN
#include <thread>
#endif
#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

constexpr int ExitUsage = 64;
constexpr int ExitUnavailable = 69;

#ifdef Q_OS_WIN
QCoreApplication *consoleApp = nullptr;

// Runs on a thread of its own: the quit is queued to the main thread.
BOOL WINAPI onConsoleEvent(DWORD)
{
    QMetaObject::invokeMethod(consoleApp, &QCoreApplication::quit, Qt::QueuedConnection);
    return TRUE;
}

// Ctrl+C, Ctrl+Break and closing the console end the event loop, so the
// process leaves with status 0 after closing its endpoints.
void quitOnSignals(QCoreApplication &app)
{
    consoleApp = &app;
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}
#else
int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[0], &byte, 1);
}

// SIGTERM and SIGINT end the event loop from the main thread, so the process
// leaves with status 0 after closing its endpoints.
void quitOnSignals(QCoreApplication &app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] { app.quit(); });
    struct sigaction action
    {
    };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}
#endif

[[noreturn]] void usageError(const QCommandLineParser &parser, const QString &message)
{
    std::fprintf(stderr, "ravelin-sim: %s\n\n%s", qPrintable(message),
                 qPrintable(parser.helpText()));
    std::exit(ExitUsage);
}

int numberOption(const QCommandLineParser &parser, const QString &name, int min, int max)
{
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    if (!ok || value < min || value > max)
        usageError(parser, QStringLiteral("--%1 wants a whole number from %2 to %3, not \"%4\"")
                               .arg(name)
                               .arg(min)
                               .arg(max)
                               .arg(parser.value(name)));
    return value;
}

struct Endpoints
{
    QList<QPair<QHostAddress, quint16>> listen;
    QStringList serial;
};

QPair<QHostAddress, quint16> parseListen(const QCommandLineParser &parser, const QString &text)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    QHostAddress address(text.left(colon));
    bool ok = false;
    const uint port = text.mid(colon + 1).toUInt(&ok);
    if (colon < 0 || address.isNull() || !ok || port > 65535)
        usageError(parser,
                   QStringLiteral("--listen wants HOST:PORT with a numeric address, not \"%1\"")
                       .arg(text));
    return {address, quint16(port)};
}

void addOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Simulated Quorix Ravelin unit (Modbus TCP and RTU)."));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("version"), QStringLiteral("Print the version and build, then leave.")},
        {QStringLiteral("listen"),
         QStringLiteral("Serve Modbus TCP on HOST:PORT (repeatable; port 0 picks a free port). "
                        "Default 127.0.0.1:502."),
         QStringLiteral("host:port")},
        {QStringLiteral("serial"),
         QStringLiteral("Serve Modbus RTU at 9600 8N1 on a tty or pty (repeatable)."),
         QStringLiteral("device")},
        {QStringLiteral("bacnet-port"),
         QStringLiteral("Also answer BACnet/IP (Who-Is, ReadProperty of the Device object) on UDP "
                        "port N of each --listen address (0: not at all)."),
         QStringLiteral("n")},
        {QStringLiteral("bacnet-iam-broadcast"),
         QStringLiteral("Answer a Who-Is with an I-Am broadcast to the --listen address's subnet "
                        "on the BACnet port, as many devices do, instead of sending it back to "
                        "the asker (unchanged where there is no broadcast address, as on "
                        "loopback).")},
        {QStringLiteral("state"), QStringLiteral("Keep written values in this JSON file."),
         QStringLiteral("file")},
        {QStringLiteral("no-animate"),
         QStringLiteral("Freeze the live status block at its factory values.")},
        {QStringLiteral("product"), QStringLiteral("Report this product code instead of 5173."),
         QStringLiteral("n")},
        {QStringLiteral("firmware"),
         QStringLiteral("Report this firmware number instead of 134 (v1.34)."),
         QStringLiteral("n")},
        {QStringLiteral("locked"),
         QStringLiteral("Start with configuration via the network forbidden.")},
        {QStringLiteral("restart-ms"),
         QStringLiteral("How long a restart keeps the unit away (default 5000)."),
         QStringLiteral("ms")},
        {QStringLiteral("silent"), QStringLiteral("Never answer.")},
        {QStringLiteral("fail-after"),
         QStringLiteral("Answer the first N requests, then never again."), QStringLiteral("n")},
        {QStringLiteral("exception"),
         QStringLiteral("Answer requests to UNIT starting at START (and carrying COUNT registers) "
                        "with exception 4, the first N of them or all (repeatable)."),
         QStringLiteral("unit:start[:count][@n]")},
        {QStringLiteral("delay-ms"),
         QStringLiteral("Send every reply this many milliseconds late."), QStringLiteral("ms")},
        {QStringLiteral("split"),
         QStringLiteral("Send every reply in two pieces a few milliseconds apart.")},
        {QStringLiteral("late"),
         QStringLiteral("Send every reply after the client's timeout (7.5 s TCP, 5.6 s RTU).")},
        {QStringLiteral("corrupt-crc"), QStringLiteral("RTU: send every reply with a wrong CRC.")},
        {QStringLiteral("noise"), QStringLiteral("RTU: send stray bytes before every reply.")},
        {QStringLiteral("line-rate"),
         QStringLiteral("RTU: pace the line like a real one at BAUD (10 bits per character)."),
         QStringLiteral("baud")},
        {QStringLiteral("verbose"),
         QStringLiteral("Log every frame received, sent and dropped on stderr, one line "
                        "each (docs/frame-trace.md).")},
        {QStringLiteral("commands"),
         QStringLiteral("Read fault commands from standard input, one per line, each acknowledged "
                        "by one line on standard output (silent on|off, exception add "
                        "UNIT:START[:COUNT][@N], exception clear, restart). After a restart a TCP "
                        "endpoint listens at the unit's IP address (same port) when that lies "
                        "in 127.0.0.0/8, and says where on standard output.")},
    });
}

SimOptions readOptions(const QCommandLineParser &parser)
{
    SimOptions options;
    if (parser.isSet(QStringLiteral("product")))
        options.product = std::uint16_t(numberOption(parser, QStringLiteral("product"), 0, 65535));
    if (parser.isSet(QStringLiteral("firmware")))
        options.firmware =
            std::uint16_t(numberOption(parser, QStringLiteral("firmware"), 0, 65535));
    if (parser.isSet(QStringLiteral("restart-ms")))
        options.restartMs = numberOption(parser, QStringLiteral("restart-ms"), 0, 600000);
    if (parser.isSet(QStringLiteral("fail-after")))
        options.failAfter = numberOption(parser, QStringLiteral("fail-after"), 0, 1 << 30);
    if (parser.isSet(QStringLiteral("delay-ms")))
        options.delayMs = numberOption(parser, QStringLiteral("delay-ms"), 0, 600000);
    if (parser.isSet(QStringLiteral("line-rate")))
        options.lineRate = numberOption(parser, QStringLiteral("line-rate"), 300, 1000000);
    if (parser.isSet(QStringLiteral("bacnet-port")))
        options.bacnetPort = numberOption(parser, QStringLiteral("bacnet-port"), 0, 65535);
    for (const QString &text : parser.values(QStringLiteral("exception"))) {
        const std::optional<ExceptionRule> rule = parseExceptionRule(text);
        if (!rule)
            usageError(
                parser,
                QStringLiteral("--exception wants UNIT:START[:COUNT][@N], not \"%1\"").arg(text));
        options.exceptions.push_back(*rule);
    }
    options.statePath = parser.value(QStringLiteral("state"));
    options.animate = !parser.isSet(QStringLiteral("no-animate"));
    options.locked = parser.isSet(QStringLiteral("locked"));
    options.silent = parser.isSet(QStringLiteral("silent"));
    options.split = parser.isSet(QStringLiteral("split"));
    options.late = parser.isSet(QStringLiteral("late"));
    options.corruptCrc = parser.isSet(QStringLiteral("corrupt-crc"));
    options.noise = parser.isSet(QStringLiteral("noise"));
    options.verbose = parser.isSet(QStringLiteral("verbose"));
    options.commands = parser.isSet(QStringLiteral("commands"));
    options.bacnetIAmBroadcast = parser.isSet(QStringLiteral("bacnet-iam-broadcast"));
    return options;
}

// Qt's log lines (the --verbose traces, warnings) go to standard error
// on every system. On Windows Qt would send them to the debugger whenever the
// simulator has no console of its own, as when its output goes to a file or a
// pipe, and a --verbose log would then be empty.
void toStandardError(QtMsgType, const QMessageLogContext &, const QString &message)
{
    std::fprintf(stderr, "%s\n", qPrintable(message));
    std::fflush(stderr);
}

void announce(const QString &line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

// Fault commands on standard input, one per line, each answered by one line
// on standard output. At the end of standard input the simulator keeps
// serving.
class CommandLines
{
public:
    explicit CommandLines(SimCore &core) : m_core(core) {}

    void take(const char *bytes, qsizetype size)
    {
        m_pending.append(bytes, size);
        for (qsizetype end = m_pending.indexOf('\n'); end >= 0; end = m_pending.indexOf('\n')) {
            const QByteArray line = m_pending.left(end);
            m_pending.remove(0, end + 1);
            if (std::exchange(m_overLong, false))
                continue;
            announce(m_core.command(QString::fromUtf8(line)));
        }
        if (m_pending.size() > MaxLine) {
            m_pending.clear();
            if (!std::exchange(m_overLong, true))
                announce(QStringLiteral("error command line longer than %1 bytes").arg(MaxLine));
        }
    }

private:
    static constexpr qsizetype MaxLine = 1024;
    SimCore &m_core;
    QByteArray m_pending;
    // Set while the rest of an over-long line is dropped: it was answered
    // once, and nothing of it is taken for a command.
    bool m_overLong = false;
};

#ifdef Q_OS_WIN
// Standard input is a pipe or console here, which the event loop cannot
// watch: a thread of its own reads it and hands each chunk to the main thread.
void readCommands(QCoreApplication &app, SimCore &core)
{
    auto lines = std::make_shared<CommandLines>(core);
    std::thread([&app, lines] {
        const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
        for (;;) {
            char chunk[4096];
            DWORD got = 0;
            if (!ReadFile(input, chunk, sizeof chunk, &got, nullptr) || got == 0)
                return;
            const QByteArray bytes(chunk, qsizetype(got));
            QMetaObject::invokeMethod(
                &app, [lines, bytes] { lines->take(bytes.constData(), bytes.size()); },
                Qt::QueuedConnection);
        }
    }).detach();
}
#else
// One read per wake-up, so standard input is never put in non-blocking mode
// (it may be shared with the parent).
void readCommands(QCoreApplication &app, SimCore &core)
{
    auto *notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, &app);
    auto lines = std::make_shared<CommandLines>(core);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [notifier, lines] {
        char chunk[4096];
        const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            return;
        if (got <= 0) {
            notifier->setEnabled(false);
            return;
        }
        lines->take(chunk, qsizetype(got));
    });
}
#endif

} // namespace

int main(int argc, char *argv[])
{
#ifdef _WIN32
    // Lines end in "\n" as on every other system, so a log reads the same.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    qInstallMessageHandler(toStandardError);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ravelin-sim"));
    QCommandLineParser parser;
    addOptions(parser);
    if (!parser.parse(QCoreApplication::arguments()))
        usageError(parser, parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        std::printf("%s", qPrintable(parser.helpText()));
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("ravelin-sim %s\n", RavelinVersion::VersionText);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        usageError(
            parser,
            QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));

    const SimOptions options = readOptions(parser);
    Endpoints endpoints;
    for (const QString &text : parser.values(QStringLiteral("listen")))
        endpoints.listen.append(parseListen(parser, text));
    endpoints.serial = parser.values(QStringLiteral("serial"));
    if (endpoints.listen.isEmpty() && endpoints.serial.isEmpty())
        endpoints.listen.append({QHostAddress::LocalHost, 502});

    SimCore core(options);
    QString error;
    if (!core.model.loadState(&error)) {
        std::fprintf(stderr, "ravelin-sim: cannot use the state file %s: %s\n",
                     qPrintable(options.statePath), qPrintable(error));
        return ExitUnavailable;
    }
    quitOnSignals(app);
    if (options.commands)
        readCommands(app, core);

    std::vector<std::unique_ptr<TcpEndpoint>> tcp;
    for (const auto &[address, port] : endpoints.listen) {
        tcp.push_back(std::make_unique<TcpEndpoint>(address, port, core));
        if (!tcp.back()->listen(&error)) {
            std::fprintf(stderr, "ravelin-sim: cannot listen on %s:%u: %s\n",
                         qPrintable(address.toString()), port, qPrintable(error));
            return ExitUnavailable;
        }
        announce(tcp.back()->readyLine());
        // A scripted unit moves with its own address after a restart, so a
        // client can follow a network change it has sent.
        if (options.commands) {
            tcp.back()->followUnitAddress();
            QObject::connect(tcp.back().get(), &TcpEndpoint::announcement, &app, announce);
        }
    }
    std::vector<std::unique_ptr<BacnetEndpoint>> bacnet;
    if (!BacnetEndpoint::openAll(endpoints.listen, options.bacnetPort, core, bacnet, announce))
        return ExitUnavailable;
#ifdef Q_OS_WIN
    if (!endpoints.serial.isEmpty()) {
        std::fprintf(stderr, "ravelin-sim: serial lines are served by the Linux or macOS "
                             "simulator only (a pty stands in for the line)\n");
        return ExitUnavailable;
    }
#else
    std::vector<std::unique_ptr<RtuEndpoint>> rtu;
    for (const QString &device : endpoints.serial) {
        rtu.push_back(std::make_unique<RtuEndpoint>(device, core));
        if (!rtu.back()->open(&error)) {
            std::fprintf(stderr, "ravelin-sim: cannot open %s: %s\n", qPrintable(device),
                         qPrintable(error));
            return ExitUnavailable;
        }
        announce(rtu.back()->readyLine());
    }
#endif
    return app.exec();
}
