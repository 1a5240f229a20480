#pragma once

// A pseudo-terminal pair for serial tests: the test holds the master end and
// hands the slave's path to the program under test, which sees a serial line.

#include <QByteArray>
#include <QString>

class PtyPair
{
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool isOpen() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }
    int masterFd() const { return m_master; }

    bool write(const QByteArray &bytes);
    // Collects bytes until `size` have arrived or timeoutMs has passed.
    QByteArray read(int size, int timeoutMs);
    // Everything that arrives within timeoutMs.
    QByteArray readFor(int timeoutMs);
    // Number of separate reads the last read() needed.
    int lastReadCount() const { return m_reads; }

private:
    int m_master = -1;
    int m_slaveKeeper = -1; // keeps the slave end alive between its users
    QString m_slavePath;
    int m_reads = 0;
};
