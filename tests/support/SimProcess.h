#pragma once

// Runs ravelin-sim as a child process for one test: started on a free
// loopback port, stopped by its own process id within a bounded time.

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdint>

class SimProcess
{
public:
    SimProcess() = default;
    ~SimProcess();
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    // Starts the simulator listening on host:0 (the kernel picks the port) with
    // the extra arguments, and waits until it reports where it listens.
    bool start(const QStringList &extraArguments = {},
               const QString &host = QStringLiteral("127.0.0.1"));
    // Starts the simulator with exactly these arguments and waits until it
    // reports that it is ready (a TCP listener or an RTU line).
    bool startWith(const QStringList &arguments);
    // Sends SIGTERM and waits up to timeoutMs, then kills. Idempotent.
    void stop(int timeoutMs = 3000);

    QString host() const { return m_host; }
    std::uint16_t port() const { return m_port; }
    qint64 pid() const { return m_process.processId(); }
    bool running() const { return m_process.state() != QProcess::NotRunning; }
    // How the process ended: its exit status, or -1 when it was killed or crashed.
    int exitCode() const
    {
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }
    // Everything the simulator printed so far (stdout and stderr).
    QString output();

    // Sends one fault command line to a simulator started with --commands and
    // waits for its acknowledgement: the "ok ..." or "error ..." line, or an
    // empty string when none came within timeoutMs.
    QString command(const QString &line, int timeoutMs = 3000);
    // The simulator's resident memory in KiB and the processor time it has
    // used in seconds (user and system), from /proc; -1 when unknown.
    qint64 residentKiB() const;
    double cpuSeconds() const;

    static QString simulatorPath();

private:
    // Waits a little for the simulator to print more, unless it has ended.
    void waitForOutput(const QDeadlineTimer &deadline);

    QProcess m_process;
    // The simulator prints into a file, not a pipe: a test that runs
    // exchanges for a while without reading cannot stall a --verbose
    // simulator on a full pipe.
    QTemporaryDir m_dir;
    QFile m_log;
    QString m_output;
    QString m_host;
    std::uint16_t m_port = 0;
};
