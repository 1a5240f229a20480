#pragma once

// The request scheduler: every exchange with the unit during a session is one
// request, raised as a pending flag and served one per tick of Timer2 in a
// fixed priority order. Timer1 raises the status poll. Pages register the
// handler of each request; the table below holds everything else about it.

#include <QObject>
#include <QString>

#include <array>
#include <functional>

class QTimer;

enum class Request
{
    GetNetwork,
    SendNetwork,
    GetG50,
    SendG50,
    GetBACnet,
    SendBACnet,
    GetNames,
    SendNames,
    SaveConfig,
    SaveReport,
    Restart,
    MACDialog,
    StatusPoll,
};

// One request: its flag's name, the busy text shown when it is raised (none
// for the MAC dialog and the poll), whether raising it disables the controls,
// and how the scheduler serves it. Page gets and sends keep their flag raised
// while they run and re-enable the controls afterwards; the restart and the
// MAC dialog lower theirs first; the status poll re-arms Timer1 instead.
struct RequestRow
{
    Request request;
    const char *flagName;
    const char *busyText;
    bool disablesControls;
    bool clearBefore;
    bool enableAfter;
};

// Priority order: the first raised flag in this table is served.
inline constexpr std::array<RequestRow, 13> RequestTable{{
    {Request::GetNetwork, "PendingGetNetwork", "Retrieving Network Settings....", true, false,
     true},
    {Request::SendNetwork, "PendingSendNetwork", "Transmitting New Network Settings....", true,
     false, true},
    {Request::GetG50, "PendingGetG50", "Retrieving G50 Settings....", true, false, true},
    {Request::SendG50, "PendingSendG50", "Transmitting New G50 Settings....", true, false, true},
    {Request::GetBACnet, "PendingGetBACnet", "Retrieving BACnet Settings....", true, false, true},
    {Request::SendBACnet, "PendingSendBACnet", "Transmitting BACnet Settings....", true, false,
     true},
    {Request::GetNames, "PendingGetNames", "Retrieving Object Names....", true, false, true},
    {Request::SendNames, "PendingSendNames", "Transmitting Object Names....", true, false, true},
    {Request::SaveConfig, "PendingSaveConfig", "Retrieving Unit Configuration....", true, false,
     true},
    {Request::SaveReport, "PendingSaveReport", "Retrieving Unit Report....", true, false, true},
    {Request::Restart, "PendingRestart", "Transmitting Restart Command....", false, true, false},
    {Request::MACDialog, "PendingMACDialog", nullptr, false, true, false},
    {Request::StatusPoll, "PendingStatusPoll", nullptr, false, false, false},
}};

constexpr bool requestTableIndexed()
{
    for (std::size_t i = 0; i < RequestTable.size(); ++i)
        if (std::size_t(RequestTable[i].request) != i)
            return false;
    return true;
}
static_assert(requestTableIndexed(), "RequestTable rows follow the Request enumeration");

constexpr const RequestRow &requestRow(Request request)
{
    return RequestTable[std::size_t(request)];
}

// A timer whose running state is its own: a tick that arrives while it is
// stopped does nothing. In stepped mode the underlying QTimer never runs and
// tests call fire() to deliver a tick.
class SchedulerTimer : public QObject
{
    Q_OBJECT
public:
    SchedulerTimer(const QString &name, int intervalMs, QObject *parent);
    void start();
    void stop();
    bool isActive() const { return m_running; }
    int interval() const;
    void setStepped(bool stepped);
    // Delivers one tick, as the timer's timeout does.
    void fire();

signals:
    void ticked();

private:
    QTimer *m_timer = nullptr;
    bool m_running = false;
    bool m_stepped = false;
};

class RequestScheduler : public QObject
{
    Q_OBJECT
public:
    explicit RequestScheduler(QObject *parent = nullptr);

    SchedulerTimer Timer1{QStringLiteral("Timer1"), 2000, this};
    SchedulerTimer Timer2{QStringLiteral("Timer2"), 1000, this};
    bool CloseRequested = false;

    bool isPending(Request request) const { return m_pending[std::size_t(request)]; }
    void setPending(Request request, bool raised) { m_pending[std::size_t(request)] = raised; }
    bool anyPending() const;
    // Lowers every flag: what a session had asked for ends with it, so no
    // request raised in one session is ever served in another.
    void dropPending()
    {
        m_pending.fill(false);
        emit pendingDropped();
    }

    using Handler = std::function<void()>;
    void setHandler(Request request, Handler handler);

    // What the scheduler needs of the window around the requests.
    struct Hooks
    {
        Handler endSession;     // CloseRequested seen at a tick
        Handler enableControls; // after a page request
        // An error escaped a request: put the window back and report it.
        std::function<void(const QString &what)> recover;
        // Called with each request just before it runs (tests record the order).
        std::function<void(Request)> observer;
        // The window's own part around a request: just before its handler
        // runs, and once it has ended (its flag lowered, the controls back).
        std::function<void(Request)> starting;
        std::function<void(Request)> served;
    };
    void setHooks(Hooks hooks) { m_hooks = std::move(hooks); }
    void setRequestObserver(std::function<void(Request)> observer)
    {
        m_hooks.observer = std::move(observer);
    }

    // Both timers together: started when a unit is accepted, stopped when a
    // session ends.
    void startTimers();
    void stopTimers();
    // Stepped ticks for tests: neither timer runs by itself.
    void setStepped(bool stepped);

    void Timer1Timer();
    void Timer2Timer();
    void DispatchRequest();

signals:
    // Every flag was lowered (a session opened or is closing).
    void pendingDropped();

private:
    void serve(const RequestRow &row);
    void recover(const RequestRow &row, const QString &what);

    std::array<bool, RequestTable.size()> m_pending{};
    std::array<Handler, RequestTable.size()> m_handlers{};
    Hooks m_hooks;
};
