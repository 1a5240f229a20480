// The status poll against ravelin-sim on loopback:
//  1. the poll's exchange time: the 40-register status read and the
//     write-back, through the register operations over the tool's Modbus TCP
//     client, as RunStatusPoll performs them;
//  2. the tool's idle processor use: QuorixIPB_Cfg (offscreen) in an open
//     TCP session with the poll running, from /proc over a stretch of
//     seconds, with the simulator counting the polls it served.
// Usage: bench_statuspoll SIMULATOR TOOL [POLLS] [SECONDS]

#include "BenchSupport.h"

#include "RegisterAccess.h"
#include "TcpClient.h"
#include "UnitOps.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(p * double(values.size())))];
}

// Processor time of a process, in seconds: the scheduler's nanosecond count
// summed over its threads (stat's utime and stime tick in 10 ms steps, too
// coarse for a process that is idle nearly all the time).
double cpuSeconds(qint64 pid)
{
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    double seconds = 0;
    bool any = false;
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks.filePath(task + QStringLiteral("/schedstat")));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        seconds += stat.readAll().split(' ').value(0).toDouble() / 1e9;
        any = true;
    }
    return any ? seconds : -1;
}

// Status reads the simulator has logged so far (unit 21, function 107, 0, 40).
int countPolls(QProcess &sim, QString &log)
{
    log += QString::fromLocal8Bit(sim.readAll());
    return int(log.count(QStringLiteral("15 6b 00 00 00 28")));
}

int exchangeTimes(const QString &simulator, int polls)
{
    QProcess sim;
    const quint16 port = Bench::startSimulator(sim, simulator, {});
    TTcpClient client;
    client.setRemoteHost(QStringLiteral("127.0.0.1"));
    client.setRemotePort(port);
    if (port == 0 || !client.open()) {
        std::fprintf(stderr, "bench_statuspoll: no simulator to talk to\n");
        Bench::stop(sim);
        return 1;
    }
    RegisterAccess access;
    access.useTcp(client);
    std::vector<double> reads, writeBacks, whole;
    QElapsedTimer clock;
    int failures = 0;
    for (int i = 0; i < polls; ++i) {
        StatusBlock block;
        clock.start();
        failures += !readStatusBlock(access, block).ok();
        const double read = double(clock.nsecsElapsed()) / 1000.0;
        failures += !writeStatusPollWriteBack(access).ok();
        const double all = double(clock.nsecsElapsed()) / 1000.0;
        reads.push_back(read);
        writeBacks.push_back(all - read);
        whole.push_back(all);
    }
    client.close();
    Bench::stop(sim);
    std::printf("polls                %d (status read of 40 registers + write-back)\n", polls);
    std::printf("                     median      p99      max   (us)\n");
    const auto row = [](const char *name, const std::vector<double> &v) {
        std::printf("%-20s %7.1f %8.1f %8.1f\n", name, percentile(v, 0.5), percentile(v, 0.99),
                    percentile(v, 1.0));
    };
    row("status read", reads);
    row("write-back", writeBacks);
    row("whole poll", whole);
    if (failures)
        std::fprintf(stderr, "bench_statuspoll: %d exchange(s) failed\n", failures);
    return failures ? 1 : 0;
}

int idleProcessorUse(const QString &simulator, const QString &tool, int seconds)
{
    QProcess sim;
    const quint16 port = Bench::startSimulator(sim, simulator, {QStringLiteral("--verbose")});
    QTemporaryDir folder;
    QFile ini(folder.filePath(QStringLiteral("QuorixIPB_Cfg.Ini")));
    if (port == 0 || !ini.open(QIODevice::WriteOnly) ||
        ini.write("[Options]\nComms_Port=0\nIP_Address=127.0.0.1\n") < 0) {
        std::fprintf(stderr, "bench_statuspoll: cannot prepare the session\n");
        Bench::stop(sim);
        return 1;
    }
    ini.close();
    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("RAVELIN_TCP_PORT"), QString::number(port));
    env.insert(QStringLiteral("RAVELIN_DEMO_CONNECT"), QStringLiteral("1"));
    app.setProcessEnvironment(env);
    app.setWorkingDirectory(folder.path());
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    app.start(tool, {});
    if (!app.waitForStarted(5000))
        std::fprintf(stderr, "bench_statuspoll: %s\n", qPrintable(app.errorString()));
    QString log;
    // Measured from the first poll on: the session is open and settled.
    QElapsedTimer clock;
    clock.start();
    while (countPolls(sim, log) == 0 && clock.elapsed() < 15000)
        sim.waitForReadyRead(200);
    int result = 1;
    if (countPolls(sim, log) == 0) {
        std::fprintf(stderr, "bench_statuspoll: the tool never polled\n");
    } else {
        const int pollsBefore = countPolls(sim, log);
        const double cpuBefore = cpuSeconds(app.processId());
        clock.start();
        while (clock.elapsed() < qint64(seconds) * 1000) {
            sim.waitForReadyRead(1000);
            countPolls(sim, log);
        }
        const double cpu = cpuSeconds(app.processId()) - cpuBefore;
        const double wall = double(clock.elapsed()) / 1000.0;
        const int polls = countPolls(sim, log) - pollsBefore;
        std::printf("session              %.1f s open over Modbus TCP, %d polls (one per %.2f s)\n",
                    wall, polls, polls ? wall / polls : 0.0);
        std::printf("tool processor time  %.3f s = %.3f %% of one core (target <= 0.5 %%)\n", cpu,
                    100.0 * cpu / wall);
        result = 0;
    }
    Bench::stop(app);
    Bench::stop(sim);
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_statuspoll SIMULATOR TOOL [POLLS] [SECONDS]\n");
        return 64;
    }
    const QString simulator = QString::fromLocal8Bit(argv[1]);
    const int polls = argc > 3 ? std::max(10, std::atoi(argv[3])) : 2000;
    const int seconds = argc > 4 ? std::max(5, std::atoi(argv[4])) : 60;
    int failed = exchangeTimes(simulator, polls);
    std::printf("\n");
    // The tool runs in a folder of its own: its path must not be relative.
    const QString tool = QFileInfo(QString::fromLocal8Bit(argv[2])).absoluteFilePath();
    failed |= idleProcessorUse(simulator, tool, seconds);
    return failed;
}
