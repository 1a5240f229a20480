#pragma once

// Reading back what a --verbose ravelin-sim logged: the bytes of every
// Modbus TCP request it received, in order (the trace line form is described
// in docs/frame-trace.md).

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

inline QList<QByteArray> loggedTcpRequests(const QString &output)
{
    QList<QByteArray> frames;
    for (const QString &line : output.split(QLatin1Char('\n'))) {
        if (!line.contains(QLatin1String(" TCP #")) || !line.contains(QLatin1String(" RX ")))
            continue;
        frames << QByteArray::fromHex(line.section(QLatin1String("| "), 1).toLatin1());
    }
    return frames;
}

// The function code of each logged request (byte 7 of the frame).
inline QList<int> loggedTcpFunctions(const QString &output)
{
    QList<int> functions;
    for (const QByteArray &frame : loggedTcpRequests(output))
        if (frame.size() > 7)
            functions << quint8(frame[7]);
    return functions;
}

// Every write request a --verbose simulator logged, over TCP or RTU, in order,
// as "unit:start" ("26:490" is object name 50). Writes are the functions 103,
// 104 and 109; the status poll's write-back (108) is left out.
inline QStringList loggedWrites(const QString &output)
{
    QStringList writes;
    for (const QString &line : output.split(QLatin1Char('\n'))) {
        if (!line.contains(QLatin1String(" RX unit=")))
            continue;
        const QStringList fields = line.split(QLatin1Char(' '));
        const auto field = [&fields](const QString &name) {
            for (const QString &f : fields)
                if (f.startsWith(name))
                    return f.mid(name.size());
            return QString();
        };
        const int fn = field(QStringLiteral("fn=")).toInt();
        if (fn == 103 || fn == 104 || fn == 109)
            writes << field(QStringLiteral("unit=")) + QLatin1Char(':') +
                          field(QStringLiteral("start="));
    }
    return writes;
}
