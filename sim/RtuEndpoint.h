#pragma once

// Modbus RTU endpoint on a tty or pty (POSIX), 9600 8N1 raw. Replies are
// scheduled on timers; with a line rate the pty is paced like a real line.
// When the peer stops reading, the endpoint waits for the line to take bytes
// again and drops replies beyond a bound, as a line with nobody listening
// would lose them.

#include "RtuFrames.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <deque>

class QSocketNotifier;
class SimCore;

class RtuEndpoint : public QObject
{
    Q_OBJECT
public:
    RtuEndpoint(const QString &device, SimCore &core, QObject *parent = nullptr);
    ~RtuEndpoint() override;

    bool open(QString *error);
    QString readyLine() const;

private:
    struct Outgoing
    {
        char byte;
        qint64 dueUs;
        bool restartAfter;
        // For the log: the request it answers, where the reply frame starts
        // counted from this byte (-1: this byte starts no reply), the outcome.
        int exchange;
        int frameAt;
        const char *outcome;
    };
    struct ReplyLog
    {
        int exchange;
        int frameAt; // of the first byte queued
        const char *outcome;
    };

    void readIncoming();
    void takeFrames();
    void answer(const QByteArray &frame);
    void queueBytes(const QByteArray &bytes, qint64 firstDueUs, bool restartAfter,
                    const ReplyLog &log);
    void sendDue();
    void writeUnsent();
    qint64 nowUs() const { return m_clock.nsecsElapsed() / 1000; }
    qint64 characterUs() const;

    QString m_device;
    SimCore &m_core;
    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr; // on while the line takes no more bytes
    RtuFrameReader m_reader;
    QTimer m_silence;   // discards a partial frame after a quiet line
    QTimer m_handle;    // line rate: a request counts once it has crossed the line
    QTimer m_sendTimer; // next reply byte due
    QElapsedTimer m_clock;
    qint64 m_firstByteUs = -1; // when the request now arriving began
    std::deque<Outgoing> m_outgoing;
    QByteArray m_unsent; // due bytes the line has not taken yet
};
