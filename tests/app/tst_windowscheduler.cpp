// The request scheduler as the main window wires it: what a page button does
// before anything is sent, one request per tick in priority order, the poll's
// cadence, closing while a poll is pending, the controls around a request,
// unsent changes and recovery. Ticks are stepped, not waited for.

#include "AppTestKit.h"
#include "BACnetPage.h"
#include "G50Page.h"
#include "MacDialog.h"
#include "MsgFrm.h"
#include "NamesPage.h"
#include "NetworkPage.h"

#include <QAction>
#include <QGuiApplication>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <stdexcept>

namespace {

// A session as far as the scheduler is concerned: timers running (stepped),
// Close enabled.
void startScheduling(TMainForm &form)
{
    form.scheduler().setStepped(true);
    form.CloseConnection1->setEnabled(true);
    form.scheduler().startTimers();
}

} // namespace

class TestWindowScheduler : public QObject
{
    Q_OBJECT
private slots:
    void pageRequestServedAtNextTick_data();
    void pageRequestServedAtNextTick();
    void flagLoweredBeforeOrAfterOperation_data();
    void flagLoweredBeforeOrAfterOperation();
    void pageRequestBeforePendingPoll();
    void closeDropsPendingRequests();
    void timer1RaisesPollAndIsRearmedAfterIt();
    void enableControlsHonoursHighlights();
    void getDoesNotMarkPageButUserEditDoes();
    void errorInRequestIsRecovered();
};

void TestWindowScheduler::pageRequestServedAtNextTick_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("request");
    QTest::addColumn<QString>("busyText");
    QTest::newRow("Button1") << "Button1" << int(Request::GetNetwork)
                             << "Retrieving Network Settings....";
    QTest::newRow("Button2") << "Button2" << int(Request::SendNetwork)
                             << "Transmitting New Network Settings....";
    QTest::newRow("Button5") << "Button5" << int(Request::GetG50) << "Retrieving G50 Settings....";
    QTest::newRow("Button6") << "Button6" << int(Request::SendG50)
                             << "Transmitting New G50 Settings....";
    QTest::newRow("Button3") << "Button3" << int(Request::GetBACnet)
                             << "Retrieving BACnet Settings....";
    QTest::newRow("Button4") << "Button4" << int(Request::SendBACnet)
                             << "Transmitting BACnet Settings....";
    QTest::newRow("Button9") << "Button9" << int(Request::GetNames)
                             << "Retrieving Object Names....";
    QTest::newRow("Button10") << "Button10" << int(Request::SendNames)
                              << "Transmitting Object Names....";
}

void TestWindowScheduler::pageRequestServedAtNextTick()
{
    QFETCH(QString, button);
    QFETCH(int, request);
    QFETCH(QString, busyText);
    WorkingFolder folder;
    MessageRecorder messages;
    auto form = makeMainForm();
    QList<Request> served;
    form->scheduler().setRequestObserver([&](Request r) { served << r; });
    startScheduling(*form);
    auto *b = named<QPushButton>(form.get(), button);
    b->setEnabled(true);
    b->click();
    // Nothing is sent at the click: controls off, busy text, hourglass, flag.
    QVERIFY(served.isEmpty());
    QVERIFY(form->scheduler().isPending(Request(request)));
    QVERIFY(!form->isEnabled());
    QVERIFY(!form->pageControl()->isEnabled());
    QVERIFY(!b->isEnabled());
    QVERIFY(form->busyWindow()->isVisible());
    QCOMPARE(form->busyWindow()->text(), busyText);
    QVERIFY(QGuiApplication::overrideCursor());
    form->Timer2->fire();
    QCOMPARE(served, QList<Request>{Request(request)});
    QVERIFY(form->isEnabled());
    QVERIFY(!form->scheduler().isPending(Request(request)));
    QVERIFY(!form->busyWindow()->isVisible());
    QVERIFY(!QGuiApplication::overrideCursor());
    QVERIFY(form->Timer2->isActive());
}

void TestWindowScheduler::flagLoweredBeforeOrAfterOperation_data()
{
    QTest::addColumn<int>("request");
    QTest::addColumn<bool>("raisedDuring");
    for (const RequestRow &row : RequestTable)
        QTest::newRow(row.flagName) << int(row.request) << !row.clearBefore;
}

void TestWindowScheduler::flagLoweredBeforeOrAfterOperation()
{
    QFETCH(int, request);
    QFETCH(bool, raisedDuring);
    WorkingFolder folder;
    MessageRecorder messages;
    auto form = makeMainForm();
    bool seen = false;
    bool raised = false;
    form->scheduler().setRequestObserver([&](Request r) {
        seen = r == Request(request);
        raised = form->scheduler().isPending(r);
        // The MAC dialog is modal: close it as soon as it runs.
        if (r == Request::MACDialog)
            QTimer::singleShot(0, form->macDialog(), &QDialog::reject);
    });
    startScheduling(*form);
    form->scheduler().setPending(Request(request), true);
    form->Timer2->fire();
    QVERIFY(seen);
    QCOMPARE(raised, raisedDuring);
    QVERIFY(!form->scheduler().isPending(Request(request)));
    QVERIFY(form->Timer2->isActive());
}

void TestWindowScheduler::pageRequestBeforePendingPoll()
{
    WorkingFolder folder;
    MessageRecorder messages;
    auto form = makeMainForm();
    QList<Request> served;
    form->scheduler().setRequestObserver([&](Request r) { served << r; });
    startScheduling(*form);
    form->Timer1->fire();
    QVERIFY(pending(*form, Request::StatusPoll));
    form->g50Page()->Button5Click();
    // One request per tick: the page request first, the poll at the next tick.
    form->Timer2->fire();
    QCOMPARE(served, QList<Request>{Request::GetG50});
    form->Timer2->fire();
    QCOMPARE(served, (QList<Request>{Request::GetG50, Request::StatusPoll}));
}

void TestWindowScheduler::closeDropsPendingRequests()
{
    WorkingFolder folder;
    MessageRecorder messages;
    auto form = makeMainForm();
    QList<Request> served;
    form->scheduler().setRequestObserver([&](Request r) { served << r; });
    startScheduling(*form);
    for (Request request : {Request::StatusPoll, Request::SendNames, Request::Restart})
        form->scheduler().setPending(request, true);
    form->CloseConnection1Click();
    QVERIFY(messages.messages.isEmpty()); // nothing unsent: no question
    QVERIFY(form->scheduler().CloseRequested);
    QVERIFY(!form->Timer1->isActive());
    QCOMPARE(form->busyWindow()->text(), QStringLiteral("Closing Connection...."));
    form->Timer2->fire();
    QVERIFY(!form->CloseConnection1->isEnabled());
    QVERIFY(served.isEmpty());
    // Nothing the session asked for is left to be served in the next one.
    QVERIFY(!form->scheduler().anyPending());
    QVERIFY(!form->Timer1->isActive());
    QVERIFY(!form->Timer2->isActive());
    QVERIFY(form->isEnabled());
    QVERIFY(!form->busyWindow()->isVisible());
    QCOMPARE(visibleTabs(*form), QStringList{QStringLiteral("Choose Connection")});
    form->Timer2->fire(); // a tick after the end does nothing
    QVERIFY(served.isEmpty());
}

void TestWindowScheduler::timer1RaisesPollAndIsRearmedAfterIt()
{
    WorkingFolder folder;
    MessageRecorder messages;
    auto form = makeMainForm();
    QList<Request> served;
    bool timer1RunningDuringPoll = true;
    form->scheduler().setRequestObserver([&](Request r) {
        served << r;
        timer1RunningDuringPoll = form->Timer1->isActive();
    });
    startScheduling(*form);
    QCOMPARE(form->Timer1->interval(), 2000);
    QCOMPARE(form->Timer2->interval(), 1000);
    form->Timer2->fire();
    QVERIFY(served.isEmpty()); // the first poll is requested by Timer1 only
    form->Timer1->fire();
    QVERIFY(pending(*form, Request::StatusPoll));
    QVERIFY(!form->Timer1->isActive());
    form->Timer2->fire();
    QCOMPARE(served, QList<Request>{Request::StatusPoll});
    QVERIFY(!timer1RunningDuringPoll); // no second poll is requested while one is pending
    QVERIFY(form->Timer1->isActive());
    QVERIFY(!pending(*form, Request::StatusPoll));
}

void TestWindowScheduler::enableControlsHonoursHighlights()
{
    WorkingFolder folder;
    auto form = makeMainForm();
    form->setTabHighlighted(TMainForm::Tab::BACnet, true);
    form->setTabHighlighted(TMainForm::Tab::Names, true);
    form->DisableControls();
    for (QPushButton *b :
         {form->networkPage()->Button1, form->bacnetPage()->Button4, form->namesPage()->BitBtn3})
        QVERIFY(!b->isEnabled());
    QVERIFY(!form->isEnabled());
    form->EnableControls();
    QVERIFY(form->isEnabled());
    QVERIFY(form->networkPage()->Button1->isEnabled());
    QVERIFY(form->g50Page()->Button5->isEnabled());
    QVERIFY(form->bacnetPage()->Button4->isEnabled());
    QVERIFY(form->namesPage()->Button10->isEnabled());
    QVERIFY(!form->networkPage()->Button2->isEnabled());
    QVERIFY(!form->g50Page()->Button6->isEnabled());
    QVERIFY(form->hasUnsentChanges());
}

void TestWindowScheduler::getDoesNotMarkPageButUserEditDoes()
{
    WorkingFolder folder;
    MessageRecorder messages;
    auto form = makeMainForm();
    // A get that fills the boxes while it loads the page.
    form->scheduler().setRequestObserver([&](Request r) {
        if (r == Request::GetNetwork) {
            const SessionPage::Loading loading(*form->networkPage());
            editBox(*form, 1)->setText(QStringLiteral("010"));
        }
    });
    startScheduling(*form);
    form->networkPage()->Button1Click();
    form->Timer2->fire();
    QCOMPARE(editBox(*form, 1)->text(), QStringLiteral("010"));
    QVERIFY(!form->isTabHighlighted(TMainForm::Tab::Network));
    QVERIFY(!form->networkPage()->Button2->isEnabled());
    // The same change made by the user marks the page.
    editBox(*form, 1)->setText(QStringLiteral("011"));
    QVERIFY(form->isTabHighlighted(TMainForm::Tab::Network));
    QVERIFY(form->networkPage()->Button2->isEnabled());
    // ResetDisplays clears the mark and does not set it again while clearing.
    form->ResetDisplays();
    QVERIFY(!form->isTabHighlighted(TMainForm::Tab::Network));
    QVERIFY(!form->networkPage()->Button2->isEnabled());
    QVERIFY(!form->hasUnsentChanges());
}

void TestWindowScheduler::errorInRequestIsRecovered()
{
    WorkingFolder folder;
    MessageRecorder messages;
    auto form = makeMainForm();
    QList<Request> served;
    form->scheduler().setRequestObserver([&](Request r) {
        served << r;
        if (r == Request::GetBACnet)
            throw std::runtime_error("bad block");
    });
    startScheduling(*form);
    form->bacnetPage()->Button3Click();
    form->Timer2->fire();
    QCOMPARE(messages.messages.size(), 1);
    QVERIFY(messages.messages.first().text.contains(QStringLiteral("bad block")));
    QCOMPARE(messages.messages.first().kind, MsgKind::Error);
    QVERIFY(form->isEnabled());
    QVERIFY(form->bacnetPage()->Button3->isEnabled());
    QVERIFY(!form->busyWindow()->isVisible());
    QVERIFY(!QGuiApplication::overrideCursor());
    QVERIFY(!pending(*form, Request::GetBACnet));
    QVERIFY(form->Timer2->isActive());
    // The scheduler keeps serving.
    form->g50Page()->Button5Click();
    form->Timer2->fire();
    QVERIFY(served.contains(Request::GetG50));
}

QTEST_MAIN(TestWindowScheduler)
#include "tst_windowscheduler.moc"
