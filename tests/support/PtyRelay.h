#pragma once

// A serial cable that can be moved from one unit to another during a test:
// the tool's pty is joined to one of several units' ptys at a time, and what
// the units not joined send is dropped. Runs on the test's event loop, which
// the tool's serial waits keep serving.

#include "PtyPair.h"

#include <QObject>
#include <QSocketNotifier>

#include <memory>
#include <vector>

#include <unistd.h>

class PtyRelay : public QObject
{
public:
    explicit PtyRelay(int units)
    {
        watch(m_tool, -1);
        for (int i = 0; i < units; ++i) {
            m_units.push_back(std::make_unique<PtyPair>());
            watch(*m_units.back(), i);
        }
    }
    bool isOpen() const
    {
        for (const auto &unit : m_units)
            if (!unit->isOpen())
                return false;
        return m_tool.isOpen();
    }
    // The device the tool opens, and the one unit i's simulator serves.
    QString toolPath() const { return m_tool.slavePath(); }
    QString unitPath(int i) const { return m_units[std::size_t(i)]->slavePath(); }
    // Moves the cable to unit i.
    void joinTo(int i) { m_joined = i; }

private:
    void watch(PtyPair &pair, int unit)
    {
        if (!pair.isOpen())
            return;
        auto *notifier = new QSocketNotifier(pair.masterFd(), QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this, &pair, unit] {
            char chunk[512];
            const ssize_t n = ::read(pair.masterFd(), chunk, sizeof chunk);
            if (n <= 0)
                return;
            const QByteArray bytes(chunk, int(n));
            if (unit < 0)
                m_units[std::size_t(m_joined)]->write(bytes);
            else if (unit == m_joined)
                m_tool.write(bytes);
        });
    }

    PtyPair m_tool;
    std::vector<std::unique_ptr<PtyPair>> m_units;
    int m_joined = 0;
};
