#pragma once

// What the file-command tests share: ravelinctl against a simulator's port,
// the simulator's registers read and written directly (not through the
// command under test), and the requests a --verbose simulator logged.

#include "CtlRun.h"
#include "SimProcess.h"
#include "SimTrace.h"

#include "Codecs.h"
#include "RegisterAccess.h"
#include "RegisterMap.h"
#include "TcpClient.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QVector>

#include <initializer_list>

inline CtlRun ctlAt(quint16 port, const QStringList &args)
{
    return runCtl(QStringList{QStringLiteral("--tcp-port"), QString::number(port)} + args);
}

// A direct line to a simulator for setting up and checking its registers.
class SimLine
{
public:
    explicit SimLine(quint16 port)
    {
        m_client.setRemoteHost(QStringLiteral("127.0.0.1"));
        m_client.setRemotePort(port);
        m_open = m_client.open();
        m_access.useTcp(m_client);
        m_access.tcpTimeout = 30;
    }
    bool open() const { return m_open; }

    // The whole of an address space, or an empty list when a read failed.
    QVector<quint16> space(int unit, int count)
    {
        QVector<quint16> values(count, 0);
        for (int start = 0; start < count; start += 100) {
            const int n = std::min(100, count - start);
            if (m_access.ReadRegisters(unit, FnReadBlock, std::uint16_t(start), std::uint16_t(n),
                                       values.data() + start) != ResultGood)
                return {};
        }
        return values;
    }
    bool write(int unit, std::uint8_t fn, int start, const QVector<quint16> &values)
    {
        return m_access.WriteRegisters(unit, fn, std::uint16_t(start), std::uint16_t(values.size()),
                                       values.data()) == ResultGood;
    }
    template <std::size_t N>
    bool write(int unit, int start, const std::array<std::uint16_t, N> &values)
    {
        return write(unit, FnWriteBlock, start, QVector<quint16>(values.begin(), values.end()));
    }
    bool writeName(int n, const QByteArray &name)
    {
        return write(NamesUnitId, (n - 1) * ObjectNameRegisters, encodeObjectName(name));
    }

private:
    TTcpClient m_client;
    RegisterAccess m_access;
    bool m_open = false;
};

// Every space a configuration lives in, as one map of "unit:register" to
// value, leaving out the registers listed in `except` (unit, first, last).
struct Range
{
    int unit, first, last;
};
inline QMap<QString, int> unitState(quint16 port, std::initializer_list<Range> except = {})
{
    SimLine line(port);
    QMap<QString, int> state;
    const std::pair<int, int> spaces[] = {{SystemUnitId, 64},
                                          {NetworkUnitId, 64},
                                          {StatusUnitId, 40},
                                          {BACnetUnitId, 16},
                                          {NamesUnitId, 1000}};
    for (const auto &[unit, count] : spaces) {
        const QVector<quint16> values = line.space(unit, count);
        if (values.isEmpty())
            return {};
        for (int r = 0; r < count; ++r) {
            // Of the live status block only the BACnet options are configuration.
            if (unit == StatusUnitId && (r < 4 || r > 10))
                continue;
            bool skipped = false;
            for (const Range &x : except)
                skipped = skipped || (x.unit == unit && r >= x.first && r <= x.last);
            if (!skipped)
                state.insert(QStringLiteral("%1:%2").arg(unit).arg(r), values[r]);
        }
    }
    return state;
}

// What the simulator has logged once its log stops growing: its output
// reaches this process only while the event loop runs.
inline QString settledOutput(SimProcess &sim)
{
    QString text = sim.output();
    for (int i = 0; i < 50; ++i) {
        QTest::qWait(20);
        const QString now = sim.output();
        if (now.size() == text.size())
            break;
        text = now;
    }
    return text;
}

// Function codes of the requests a --verbose simulator has received so far.
inline QList<int> requestFunctions(SimProcess &sim)
{
    return loggedTcpFunctions(settledOutput(sim));
}

inline QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &content)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
    return path;
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
