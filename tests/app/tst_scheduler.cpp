// The request scheduler on its own, with stepped ticks: the priority order,
// which flags are lowered before and after their request, the poll's cadence,
// closing, and recovery from an error escaping a request.

#include "RequestScheduler.h"

#include <QSignalSpy>
#include <QtTest>

#include <stdexcept>

class TestScheduler : public QObject
{
    Q_OBJECT

private slots:
    void servesOneRequestPerTickInPriorityOrder();
    void pageFlagsStayRaisedWhileTheirRequestRuns();
    void aTickWhileStoppedDoesNothing();
    void pollCadence();
    void closeEndsTheSessionAndKeepsPendingFlags();
    void errorEscapingARequestIsRecovered();
    void realTimersTick();
};

namespace {

struct Recorder
{
    QList<Request> served;
    QList<bool> raisedWhileRunning;
    int enables = 0;
    int endSessions = 0;
    QStringList recovered;
};

void wire(RequestScheduler &s, Recorder &r)
{
    RequestScheduler::Hooks hooks;
    hooks.endSession = [&r] {
        ++r.endSessions;
    };
    hooks.enableControls = [&r] {
        ++r.enables;
    };
    hooks.recover = [&r](const QString &what) {
        r.recovered << what;
    };
    s.setHooks(hooks);
    for (const RequestRow &row : RequestTable) {
        const Request request = row.request;
        s.setHandler(request, [&s, &r, request] {
            r.served << request;
            r.raisedWhileRunning << s.isPending(request);
        });
    }
    s.setStepped(true);
}

} // namespace

void TestScheduler::servesOneRequestPerTickInPriorityOrder()
{
    RequestScheduler s;
    Recorder r;
    wire(s, r);
    s.startTimers();
    for (const RequestRow &row : RequestTable)
        s.setPending(row.request, true);
    for (std::size_t tick = 0; tick < RequestTable.size(); ++tick) {
        s.Timer2.fire();
        QCOMPARE(r.served.size(), int(tick) + 1);
        QVERIFY(s.Timer2.isActive()); // restarted after each request
    }
    const QList<Request> expected{Request::GetNetwork, Request::SendNetwork, Request::GetG50,
                                  Request::SendG50,    Request::GetBACnet,   Request::SendBACnet,
                                  Request::GetNames,   Request::SendNames,   Request::SaveConfig,
                                  Request::SaveReport, Request::Restart,     Request::MACDialog,
                                  Request::StatusPoll};
    QCOMPARE(r.served, expected);
    QVERIFY(!s.anyPending());
    // Only the eight page requests and the two whole-unit reads give the
    // controls back.
    QCOMPARE(r.enables, 10);
    s.Timer2.fire();
    QCOMPARE(r.served.size(), expected.size()); // nothing raised: nothing served
}

void TestScheduler::pageFlagsStayRaisedWhileTheirRequestRuns()
{
    RequestScheduler s;
    Recorder r;
    wire(s, r);
    s.startTimers();
    for (Request request :
         {Request::GetG50, Request::Restart, Request::MACDialog, Request::StatusPoll}) {
        s.setPending(request, true);
        s.Timer2.fire();
    }
    // A get keeps its flag while it fills the page (its change handling
    // ignores those values); restart and the MAC dialog lower theirs first.
    QCOMPARE(r.raisedWhileRunning, (QList<bool>{true, false, false, true}));
}

void TestScheduler::aTickWhileStoppedDoesNothing()
{
    RequestScheduler s;
    Recorder r;
    wire(s, r);
    s.setPending(Request::GetNetwork, true);
    s.Timer2.fire();
    s.Timer1.fire();
    QVERIFY(r.served.isEmpty());
    QVERIFY(!s.isPending(Request::StatusPoll));
}

void TestScheduler::pollCadence()
{
    RequestScheduler s;
    Recorder r;
    wire(s, r);
    s.startTimers();
    s.Timer1.fire();
    QVERIFY(s.isPending(Request::StatusPoll));
    QVERIFY(!s.Timer1.isActive()); // no second poll is requested while one is pending
    // A page request raised meanwhile goes first; the poll waits a tick.
    s.setPending(Request::GetBACnet, true);
    s.Timer2.fire();
    QCOMPARE(r.served.last(), Request::GetBACnet);
    QVERIFY(!s.Timer1.isActive());
    s.Timer2.fire();
    QCOMPARE(r.served.last(), Request::StatusPoll);
    QVERIFY(s.Timer1.isActive()); // the next poll two seconds after this one

    // A poll that starts closing the session does not re-arm Timer1.
    s.setHandler(Request::StatusPoll, [&s] { s.CloseRequested = true; });
    s.Timer1.fire();
    s.Timer2.fire();
    QVERIFY(!s.Timer1.isActive());
}

void TestScheduler::closeEndsTheSessionAndKeepsPendingFlags()
{
    RequestScheduler s;
    Recorder r;
    wire(s, r);
    s.startTimers();
    s.setPending(Request::StatusPoll, true);
    s.CloseRequested = true;
    s.Timer2.fire();
    QCOMPARE(r.endSessions, 1);
    QVERIFY(r.served.isEmpty());
    QVERIFY(!s.Timer2.isActive());
    // The poll flag stays raised and is served at the next session's first tick.
    QVERIFY(s.isPending(Request::StatusPoll));
}

void TestScheduler::errorEscapingARequestIsRecovered()
{
    RequestScheduler s;
    Recorder r;
    wire(s, r);
    s.setHandler(Request::SendNames, [] { throw std::runtime_error("disk on fire"); });
    s.setHandler(Request::StatusPoll, [] { throw 42; });
    s.startTimers();
    s.Timer1.stop();
    s.setPending(Request::SendNames, true);
    s.Timer2.fire();
    QCOMPARE(r.recovered, QStringList{QStringLiteral("disk on fire")});
    QVERIFY(!s.isPending(Request::SendNames)); // dropped, not retried every second
    QVERIFY(s.Timer2.isActive());

    s.setPending(Request::StatusPoll, true);
    s.Timer2.fire();
    QCOMPARE(r.recovered.last(), QStringLiteral("unknown error"));
    QVERIFY(s.Timer1.isActive()); // the link monitor keeps its cadence
}

void TestScheduler::realTimersTick()
{
    RequestScheduler s;
    Recorder r;
    wire(s, r);
    s.setStepped(false);
    QCOMPARE(s.Timer1.interval(), 2000);
    QCOMPARE(s.Timer2.interval(), 1000);
    s.setPending(Request::GetNames, true);
    QSignalSpy ticks(&s.Timer2, &SchedulerTimer::ticked);
    s.startTimers();
    QVERIFY(ticks.wait(5000));
    QCOMPARE(r.served, QList<Request>{Request::GetNames});
    s.stopTimers();
}

QTEST_GUILESS_MAIN(TestScheduler)
#include "tst_scheduler.moc"
