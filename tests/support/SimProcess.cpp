#include "SimProcess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

#include <algorithm>

namespace {
constexpr int StartTimeoutMs = 10000;
}

SimProcess::~SimProcess()
{
    stop();
}

QString SimProcess::simulatorPath()
{
    const QByteArray overridden = qgetenv("RAVELIN_SIM");
    return overridden.isEmpty() ? QStringLiteral(RAVELIN_SIM_PATH)
                                : QString::fromLocal8Bit(overridden);
}

bool SimProcess::start(const QStringList &extraArguments, const QString &host)
{
    return startWith(QStringList{QStringLiteral("--listen"), host + QStringLiteral(":0")} +
                     extraArguments);
}

bool SimProcess::startWith(const QStringList &arguments)
{
    stop();
    m_output.clear();
    m_port = 0;
    m_log.close();
    m_log.setFileName(m_dir.filePath(QStringLiteral("output")));
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(m_log.fileName(), QIODevice::Truncate);
    m_process.start(simulatorPath(), arguments);
    if (!m_process.waitForStarted(StartTimeoutMs))
        return false;

    // The simulator prints one line per endpoint once it is ready:
    //   ravelin-sim: listening on 127.0.0.1:40123 (Modbus TCP)
    //   ravelin-sim: serving Modbus RTU on /dev/pts/7
    static const QRegularExpression tcpReady(QStringLiteral("listening on (\\S+):(\\d+)"));
    static const QRegularExpression rtuReady(QStringLiteral("serving Modbus RTU on \\S+"));
    const QDeadlineTimer deadline(StartTimeoutMs);
    while (!deadline.hasExpired()) {
        const QString text = output();
        const auto tcp = tcpReady.match(text);
        if (tcp.hasMatch()) {
            m_host = tcp.captured(1);
            m_port = std::uint16_t(tcp.captured(2).toUInt());
            return true;
        }
        if (rtuReady.match(text).hasMatch())
            return true;
        if (m_process.state() == QProcess::NotRunning)
            return false;
        waitForOutput(deadline);
    }
    return false;
}

QString SimProcess::output()
{
    if (!m_log.isOpen() && !m_log.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return m_output;
    m_output += QString::fromLocal8Bit(m_log.readAll());
    return m_output;
}

void SimProcess::waitForOutput(const QDeadlineTimer &deadline)
{
    m_process.waitForFinished(int(std::clamp<qint64>(deadline.remainingTime(), 1, 10)));
}

void SimProcess::stop(int timeoutMs)
{
    if (m_process.state() == QProcess::NotRunning)
        return;
#ifdef Q_OS_WIN
    // A console program has no window to take a close request: end it.
    m_process.kill();
    m_process.waitForFinished(timeoutMs);
#else
    m_process.terminate(); // SIGTERM to this child's pid only
    if (!m_process.waitForFinished(timeoutMs)) {
        m_process.kill();
        m_process.waitForFinished(timeoutMs);
    }
#endif
    output();
}

QString SimProcess::command(const QString &line, int timeoutMs)
{
    if (m_process.state() != QProcess::Running)
        return {};
    const qsizetype from = output().size();
    m_process.write(line.toUtf8() + '\n');
    m_process.waitForBytesWritten(timeoutMs);
    static const QRegularExpression answer(QStringLiteral("^(ok|error)( .*)?$"),
                                           QRegularExpression::MultilineOption);
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const QString text = output();
        // Only whole lines printed after the command was sent.
        const QString fresh = text.mid(from, text.lastIndexOf(QLatin1Char('\n')) + 1 - from);
        const auto match = answer.match(fresh);
        if (match.hasMatch())
            return match.captured(0);
        if (deadline.hasExpired() || m_process.state() != QProcess::Running)
            return {};
        waitForOutput(deadline);
    }
}

#ifndef Q_OS_WIN
namespace {

// The fields of /proc/PID/stat after the command name, which may hold spaces.
QList<QByteArray> statFields(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = file.readAll();
    return text.mid(text.lastIndexOf(')') + 2).split(' ');
}

} // namespace
#endif

qint64 SimProcess::residentKiB() const
{
    QFile file(QStringLiteral("/proc/%1/status").arg(pid()));
    if (pid() <= 0 || !file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : file.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

double SimProcess::cpuSeconds() const
{
#ifdef Q_OS_WIN
    return -1; // read from /proc, which Windows has not
#else
    // utime and stime are the 14th and 15th fields, the 12th and 13th after the name.
    const QList<QByteArray> fields = statFields(pid());
    if (fields.size() < 13)
        return -1;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) /
           double(::sysconf(_SC_CLK_TCK));
#endif
}
