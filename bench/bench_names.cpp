// Time of the whole object-names transfer as the Unit Names page performs it:
// an offscreen main window's scheduler serves "Get From Unit" and "Send To
// Unit" (per-name progress in the busy window, the grid repainted, the 150 ms
// pause at the end) against ravelin-sim, over Modbus TCP on loopback and over
// a socat pty pair paced like a 9600 8N1 line. The fixed pause is taken off;
// the serial times are set beside the line's wire-time bound.
// Usage: bench_names SIMULATOR [TCP_ROUNDS]

#include "BenchSupport.h"
#include "MainForm.h"
#include "NamesPage.h"
#include "UiSupport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr double PauseMs = 150.0; // the common tail's fixed pause
constexpr double CharacterMs = 10.0 * 1000.0 / 9600.0;
// Per name, request and reply plus the two 3.5-character gaps: a read of 10
// registers (8 + 25 characters), a write of 10 registers (29 + 8).
constexpr double ReadBoundMs = 100 * (8 + 25 + 7) * CharacterMs;
constexpr double SendBoundMs = 100 * (29 + 8 + 7) * CharacterMs;

QStringList messages;

// The busy window asks to be raised at every step; offscreen windows cannot be.
QtMessageHandler defaultLog = nullptr;
void dropRaiseWarnings(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (!text.contains(QStringLiteral("does not support raise()")))
        defaultLog(type, context, text);
}

std::unique_ptr<TMainForm> openForm()
{
    auto form = std::make_unique<TMainForm>(QStringList{});
    form->createCompanionWindows();
    form->show();
    return form;
}

bool openTcpSession(TMainForm &form)
{
    const char *octets[] = {"127", "0", "0", "1"};
    for (int i = 0; i < 4; ++i)
        form.findChild<QLineEdit *>(QStringLiteral("Edit%1").arg(23 + i))
            ->setText(QString::fromLatin1(octets[i]));
    form.BitBtn2Click();
    form.scheduler().setStepped(true);
    return form.sessionOpen();
}

// One page request served at the scheduler's next tick; milliseconds beyond
// the fixed pause, or a negative number when the page reported a failure.
double timeRequest(TMainForm &form, Request request, const QString &successText)
{
    messages.clear();
    QElapsedTimer clock;
    clock.start();
    form.raiseRequest(request);
    form.Timer2->fire();
    const double ms = double(clock.nsecsElapsed()) / 1e6 - PauseMs;
    return messages == QStringList{successText} ? ms : -1.0;
}

struct Times
{
    std::vector<double> read, send;
    bool failed = false;
    void measure(TMainForm &form, int rounds)
    {
        for (int i = 0; i < rounds && !failed; ++i) {
            read.push_back(timeRequest(form, Request::GetNames, "Object Names Retrieved OK."));
            send.push_back(timeRequest(form, Request::SendNames, "Object Names Transmitted OK."));
            failed = read.back() < 0 || send.back() < 0;
        }
    }
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool benchTcp(const QString &simulator, int rounds)
{
    QProcess sim;
    sim.setProcessChannelMode(QProcess::MergedChannels);
    sim.start(simulator, {"--listen", "127.0.0.1:0", "--no-animate"});
    static const QRegularExpression ready(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
    const QString seen = QString::fromLocal8Bit(Bench::waitForLine(sim, "listening on"));
    const QRegularExpressionMatch port = ready.match(seen);
    Times times;
    if (port.hasMatch()) {
        qputenv("RAVELIN_TCP_PORT", port.captured(1).toLatin1());
        auto form = openForm();
        if (openTcpSession(*form))
            times.measure(*form, rounds);
        else
            times.failed = true;
        form->BeginClose();
        form->EndSession();
    }
    Bench::stop(sim);
    if (!port.hasMatch() || times.failed) {
        std::fprintf(stderr, "bench_names: the TCP transfer failed %s\n",
                     qPrintable(messages.join(QLatin1Char('|'))));
        return false;
    }
    std::printf("== Modbus TCP on loopback: 100 names as the page transfers them (%d rounds)\n",
                rounds);
    std::printf("read   beyond the pause  median %6.1f ms  best %6.1f ms  (target < 100 ms)\n",
                median(times.read), *std::min_element(times.read.begin(), times.read.end()));
    std::printf("send   beyond the pause  median %6.1f ms  best %6.1f ms  (target < 100 ms)\n",
                median(times.send), *std::min_element(times.send.begin(), times.send.end()));
    return true;
}

bool benchRtu(const QString &simulator, const QString &socat)
{
    QTemporaryDir dir;
    const QString a = dir.filePath(QStringLiteral("a")), b = dir.filePath(QStringLiteral("b"));
    QProcess pair, sim;
    pair.start(socat, {"pty,raw,echo=0,link=" + a, "pty,raw,echo=0,link=" + b});
    Times times;
    times.failed = true;
    if (Bench::waitForLinks(a, b)) {
        sim.setProcessChannelMode(QProcess::MergedChannels);
        sim.start(simulator, {"--serial", a, "--line-rate", "9600", "--no-animate"});
        if (!Bench::waitForLine(sim, "serving Modbus RTU").isEmpty()) {
            qputenv("RAVELIN_COM3", QFile::encodeName(b));
            auto form = openForm();
            form->BitBtn1Click();
            form->scheduler().setStepped(true);
            if (form->sessionOpen()) {
                times.failed = false;
                times.measure(*form, 1);
            }
            form->BeginClose();
            form->EndSession();
        }
    }
    Bench::stop(sim);
    Bench::stop(pair);
    if (times.failed) {
        std::fprintf(stderr, "bench_names: the RTU transfer failed %s\n",
                     qPrintable(messages.join(QLatin1Char('|'))));
        return false;
    }
    std::printf("== Modbus RTU over a pty paced at 9600 8N1: 100 names as the page transfers "
                "them\n");
    std::printf("read   beyond the pause %7.1f ms  wire bound %7.1f ms  ratio %.3f (target <= "
                "1.05)\n",
                times.read[0], ReadBoundMs, times.read[0] / ReadBoundMs);
    std::printf("send   beyond the pause %7.1f ms  wire bound %7.1f ms  ratio %.3f (target <= "
                "1.05)\n",
                times.send[0], SendBoundMs, times.send[0] / SendBoundMs);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    defaultLog = qInstallMessageHandler(dropRaiseWarnings);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_names SIMULATOR [TCP_ROUNDS]\n");
        return 64;
    }
    const QString simulator = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 11;
    // The tool keeps its settings file in the working folder: use a scratch one.
    QTemporaryDir work;
    QDir::setCurrent(work.path());
    QFile ini(work.filePath(QStringLiteral("QuorixIPB_Cfg.Ini")));
    if (!ini.open(QIODevice::WriteOnly) ||
        ini.write("[Options]\nComms_Port=3\nIP_Address=127.0.0.1\n") <= 0)
        return 1;
    ini.close();
    setMessageInterceptor([](const QString &text, MsgKind, MsgButtons) {
        messages << text;
        return MsgAnswer::Ok;
    });
    bool ok = benchTcp(simulator, rounds);
    const QString socat = QStandardPaths::findExecutable(QStringLiteral("socat"));
    if (socat.isEmpty()) {
        std::fprintf(stderr, "bench_names: socat is needed for the serial line (Debian package "
                             "socat)\n");
        return 1;
    }
    std::printf("\n");
    ok = benchRtu(simulator, socat) && ok;
    return ok ? 0 : 1;
}
