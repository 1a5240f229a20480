#pragma once

// Child processes of the benchmarks: socat pty pairs and the simulator,
// waited for by what they print or create, stopped by their own process.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QThread>

namespace Bench {

inline void stop(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(3000);
    }
}

inline bool waitForLinks(const QString &a, const QString &b)
{
    const QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired()) {
        if (QFileInfo::exists(a) && QFileInfo::exists(b))
            return true;
        QThread::msleep(10);
    }
    return false;
}

// Collects the process's output until `text` appears; returns everything
// read, or an empty array when it did not appear within ten seconds.
inline QByteArray waitForLine(QProcess &process, const QByteArray &text)
{
    QByteArray seen;
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired() && process.waitForReadyRead(1000)) {
        seen += process.readAll();
        if (seen.contains(text))
            return seen;
    }
    return {};
}

// Starts the simulator on a free loopback port with the extra arguments and
// returns that port, or 0 when it did not report listening within ten seconds.
inline quint16 startSimulator(QProcess &sim, const QString &path, const QStringList &extra = {})
{
    sim.setProcessChannelMode(QProcess::MergedChannels);
    sim.start(path, QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                                QStringLiteral("--no-animate")} +
                        extra);
    static const QRegularExpression ready(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
    QString text;
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired() && sim.waitForReadyRead(1000)) {
        text += QString::fromLocal8Bit(sim.readAll());
        const auto match = ready.match(text);
        if (match.hasMatch())
            return quint16(match.captured(1).toUInt());
    }
    return 0;
}

} // namespace Bench
