#include "Reconnect.h"

#include <algorithm>

QString reconnectAddress(const QString &sessionAddress, const QString &sentIpAddress)
{
    return sentIpAddress.isEmpty() ? sessionAddress : sentIpAddress;
}

RestartWait::RestartWait(const ReconnectTiming &timing, Attempt attempt, QObject *parent)
    : QObject(parent), m_timing(timing), m_attempt(std::move(attempt))
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &RestartWait::tick);
}

void RestartWait::start()
{
    m_attempts = 0;
    m_running = true;
    m_clock.start();
    m_timer.start(m_timing.everyMs);
}

void RestartWait::cancel()
{
    if (m_running)
        end(Outcome::Cancelled);
}

void RestartWait::tick()
{
    if (!m_running)
        return;
    // The next tick is set after the attempt: one that takes longer than
    // the interval delays the next, never causes a burst of attempts.
    ++m_attempts;
    const bool back = m_attempt();
    // Cancelled while the attempt ran: its result no longer counts.
    if (!m_running)
        return;
    if (back)
        return end(Outcome::Back);
    const qint64 elapsed = m_clock.elapsed();
    if (elapsed >= m_timing.totalMs)
        return end(Outcome::TimedOut);
    // A modal progress window serves events while it updates: Cancel may
    // end the wait right here.
    emit progressed(elapsed);
    if (!m_running)
        return;
    // The last attempt falls at the end of the time, not an interval short of it.
    m_timer.start(int(std::min<qint64>(m_timing.everyMs, m_timing.totalMs - elapsed)));
}

void RestartWait::end(Outcome outcome)
{
    m_endedAtMs = m_clock.elapsed();
    m_running = false;
    m_timer.stop();
    emit ended(outcome);
}

RestartWaitWindow::RestartWaitWindow(const QString &where, const ReconnectTiming &timing,
                                     RestartWait::Attempt attempt, QWidget *parent)
    : QProgressDialog(parent), m_where(where), m_wait(timing, std::move(attempt))
{
    setObjectName(QStringLiteral("RestartWaitWindow"));
    setWindowTitle(QStringLiteral("Waiting For The Unit"));
    setWindowModality(Qt::WindowModal);
    setAutoClose(false);
    setAutoReset(false);
    setMinimumDuration(0);
    setRange(0, timing.totalMs);
    setCancelButtonText(QStringLiteral("Cancel"));
    // The Cancel button, and Escape or closing the window.
    connect(this, &QProgressDialog::canceled, &m_wait, &RestartWait::cancel);
    connect(this, &QDialog::rejected, &m_wait, &RestartWait::cancel);
    connect(&m_wait, &RestartWait::progressed, this, &RestartWaitWindow::showProgress);
    showProgress(0);
}

void RestartWaitWindow::showProgress(qint64 elapsedMs)
{
    const qint64 leftMs = std::max<qint64>(0, m_wait.timing().totalMs - elapsedMs);
    setLabelText(QStringLiteral("The unit is restarting.\nConnecting to %1 every %2 s; %3 s left.")
                     .arg(m_where)
                     .arg(double(m_wait.timing().everyMs) / 1000.0, 0, 'g', 3)
                     .arg((leftMs + 999) / 1000));
    setValue(int(elapsedMs));
}
