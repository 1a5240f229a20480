#include "RequestScheduler.h"

#include <QTimer>

#include <algorithm>
#include <exception>

SchedulerTimer::SchedulerTimer(const QString &name, int intervalMs, QObject *parent)
    : QObject(parent), m_timer(new QTimer(this))
{
    setObjectName(name);
    m_timer->setObjectName(name);
    m_timer->setInterval(intervalMs);
    connect(m_timer, &QTimer::timeout, this, &SchedulerTimer::fire);
}

void SchedulerTimer::start()
{
    m_running = true;
    if (!m_stepped)
        m_timer->start(); // a restart begins the interval afresh
}

void SchedulerTimer::stop()
{
    m_running = false;
    m_timer->stop();
}

int SchedulerTimer::interval() const
{
    return m_timer->interval();
}

void SchedulerTimer::setStepped(bool stepped)
{
    m_stepped = stepped;
    if (stepped)
        m_timer->stop();
    else if (m_running)
        m_timer->start();
}

void SchedulerTimer::fire()
{
    if (m_running)
        emit ticked();
}

RequestScheduler::RequestScheduler(QObject *parent) : QObject(parent)
{
    connect(&Timer1, &SchedulerTimer::ticked, this, &RequestScheduler::Timer1Timer);
    connect(&Timer2, &SchedulerTimer::ticked, this, &RequestScheduler::Timer2Timer);
}

bool RequestScheduler::anyPending() const
{
    return std::any_of(m_pending.begin(), m_pending.end(), [](bool raised) { return raised; });
}

void RequestScheduler::setHandler(Request request, Handler handler)
{
    m_handlers[std::size_t(request)] = std::move(handler);
}

void RequestScheduler::startTimers()
{
    Timer1.start();
    Timer2.start();
}

void RequestScheduler::stopTimers()
{
    Timer1.stop();
    Timer2.stop();
}

void RequestScheduler::setStepped(bool stepped)
{
    Timer1.setStepped(stepped);
    Timer2.setStepped(stepped);
}

void RequestScheduler::Timer1Timer()
{
    if (!Timer1.isActive())
        return;
    Timer1.stop();
    setPending(Request::StatusPoll, true);
}

void RequestScheduler::Timer2Timer()
{
    if (Timer2.isActive())
        DispatchRequest();
}

void RequestScheduler::DispatchRequest()
{
    Timer2.stop();
    if (CloseRequested) {
        if (m_hooks.endSession)
            m_hooks.endSession();
        return;
    }
    const auto raised =
        std::find_if(RequestTable.begin(), RequestTable.end(),
                     [this](const RequestRow &row) { return isPending(row.request); });
    if (raised != RequestTable.end()) {
        try {
            serve(*raised);
        } catch (const std::exception &error) {
            recover(*raised, QString::fromLocal8Bit(error.what()));
        } catch (...) {
            recover(*raised, QStringLiteral("unknown error"));
        }
    }
    Timer2.start();
}

void RequestScheduler::serve(const RequestRow &row)
{
    if (row.clearBefore)
        setPending(row.request, false);
    if (m_hooks.observer)
        m_hooks.observer(row.request);
    if (m_hooks.starting)
        m_hooks.starting(row.request);
    if (const Handler &handler = m_handlers[std::size_t(row.request)])
        handler();
    if (!row.clearBefore)
        setPending(row.request, false);
    // A request that began closing the session leaves the window to the close.
    if (row.enableAfter && !CloseRequested && m_hooks.enableControls)
        m_hooks.enableControls();
    // The next poll is requested two seconds after this one, unless the poll
    // itself has started closing the session.
    if (row.request == Request::StatusPoll && !CloseRequested)
        Timer1.start();
    if (m_hooks.served)
        m_hooks.served(row.request);
}

// An error escaping a request would otherwise leave the window disabled, the
// busy box up and the scheduler stopped. The request is dropped (a retry
// would fail the same way every second), the poll keeps its cadence and the
// window is told to come back and report what failed.
void RequestScheduler::recover(const RequestRow &row, const QString &what)
{
    setPending(row.request, false);
    if (row.request == Request::StatusPoll && !CloseRequested)
        Timer1.start();
    if (m_hooks.recover)
        m_hooks.recover(what);
    if (m_hooks.served)
        m_hooks.served(row.request);
}
