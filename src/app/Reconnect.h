#pragma once

// Waiting for the unit after its restart: one connect-and-identify attempt
// per interval until it answers, the time is up or the engineer cancels.
// RestartWait holds the logic without widgets; RestartWaitWindow shows it
// with a Cancel button.

#include <QElapsedTimer>
#include <QObject>
#include <QProgressDialog>
#include <QString>
#include <QTimer>

#include <functional>

struct ReconnectTiming
{
    int totalMs = 60000; // how long the unit is awaited
    int everyMs = 1000;  // one attempt per interval, the first after one interval
};

// Where the unit is awaited over the network: at the IP address sent to it
// in the session that restarted it, else where that session reached it.
QString reconnectAddress(const QString &sessionAddress, const QString &sentIpAddress);

class RestartWait : public QObject
{
    Q_OBJECT
public:
    enum class Outcome
    {
        Back,     // an attempt found the unit
        TimedOut, // no attempt did within the time
        Cancelled
    };
    Q_ENUM(Outcome)
    // attempt: true when the unit answered; it may block for a while.
    using Attempt = std::function<bool()>;

    RestartWait(const ReconnectTiming &timing, Attempt attempt, QObject *parent = nullptr);

    void start();
    // Stops the wait; an attempt running meanwhile is not counted.
    void cancel();
    bool running() const { return m_running; }
    int attempts() const { return m_attempts; }
    qint64 elapsedMs() const { return m_running ? m_clock.elapsed() : m_endedAtMs; }
    const ReconnectTiming &timing() const { return m_timing; }

signals:
    void progressed(qint64 elapsedMs);
    void ended(RestartWait::Outcome outcome);

private:
    void tick();
    void end(Outcome outcome);

    ReconnectTiming m_timing;
    Attempt m_attempt;
    QTimer m_timer;
    QElapsedTimer m_clock;
    bool m_running = false;
    int m_attempts = 0;
    qint64 m_endedAtMs = 0;
};

// The progress window: where the unit is awaited, the time left, Cancel.
class RestartWaitWindow : public QProgressDialog
{
    Q_OBJECT
public:
    RestartWaitWindow(const QString &where, const ReconnectTiming &timing,
                      RestartWait::Attempt attempt, QWidget *parent);
    RestartWait &wait() { return m_wait; }

private:
    void showProgress(qint64 elapsedMs);

    QString m_where;
    RestartWait m_wait;
};
