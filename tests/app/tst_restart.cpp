// Restart and return: the wait for the unit after a restart (its timing,
// Cancel), the reconnect at the address sent in the session, the check of
// the sent values and the pages read again; and the end at the connection
// page when the unit does not come back.

#include "NetworkPage.h"
#include "Reconnect.h"
#include "SentSettings.h"
#include "SimProcess.h"
#include "SimSession.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

Q_DECLARE_METATYPE(Request)

namespace {

// Served requests until none of the four page reads is pending, bounded.
void serveReads(TMainForm &form)
{
    for (int tick = 0; tick < 8; ++tick) {
        if (!pending(form, Request::GetNetwork) && !pending(form, Request::GetG50) &&
            !pending(form, Request::GetBACnet) && !pending(form, Request::GetNames))
            return;
        form.Timer2->fire();
    }
}

// "Restart Unit", its question answered Yes, the command sent, the session
// ended: the wait for the unit has begun.
void restartUnit(TMainForm &form)
{
    form.networkPage()->Button7->click();
    QVERIFY(pending(form, Request::Restart));
    form.Timer2->fire(); // the restart command: the session closes
    form.Timer2->fire(); // the session ends, the wait begins
    QVERIFY(!form.sessionOpen());
    QVERIFY(form.restartWaitWindow());
    QVERIFY(form.restartWaitWindow()->wait().running());
}

} // namespace

class TestRestart : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { dropRaiseWarnings(); }
    void init() { qunsetenv("RAVELIN_TCP_PORT"); }
    void waitEnds_data();
    void waitEnds();
    void ledgerKeepsTheLastValueSent();
    void everySendOffersRestartNow_data();
    void everySendOffersRestartNow();
    void restartNowFollowsTheSentAddress();
    void unitNotBackEndsAtTheConnectionPage_data();
    void unitNotBackEndsAtTheConnectionPage();
};

void TestRestart::waitEnds_data()
{
    QTest::addColumn<int>("backAt");   // the attempt that finds the unit; 0: none
    QTest::addColumn<int>("cancelAt"); // the attempt during which Cancel is pressed; 0: none
    QTest::addColumn<RestartWait::Outcome>("outcome");
    QTest::addColumn<int>("attempts");
    QTest::newRow("back at the third attempt") << 3 << 0 << RestartWait::Outcome::Back << 3;
    QTest::newRow("never back: attempts until the time is up")
        << 0 << 0 << RestartWait::Outcome::TimedOut << 8;
    QTest::newRow("answer during Cancel is not taken")
        << 2 << 2 << RestartWait::Outcome::Cancelled << 2;
    QTest::newRow("cancelled: no more attempts") << 0 << 1 << RestartWait::Outcome::Cancelled << 1;
}

void TestRestart::waitEnds()
{
    QFETCH(int, backAt);
    QFETCH(int, cancelAt);
    QFETCH(RestartWait::Outcome, outcome);
    QFETCH(int, attempts);
    const ReconnectTiming timing{800, 100};
    RestartWait *self = nullptr;
    int made = 0;
    RestartWait wait(timing, [&] {
        ++made;
        if (made == cancelAt)
            self->cancel();
        return made == backAt;
    });
    self = &wait;
    QSignalSpy ended(&wait, &RestartWait::ended);
    wait.start();
    QVERIFY(ended.wait(5000));
    QCOMPARE(ended.count(), 1);
    QCOMPARE(ended.first().first().value<RestartWait::Outcome>(), outcome);
    QTest::qWait(250); // no attempt after the end
    QCOMPARE(made, wait.attempts());
    if (outcome == RestartWait::Outcome::TimedOut) {
        // Not given up early; a loaded machine may fit fewer attempts in.
        QVERIFY2(wait.elapsedMs() >= timing.totalMs, qPrintable(QString::number(wait.elapsedMs())));
        QVERIFY2(made >= 3 && made <= attempts, qPrintable(QString::number(made)));
    } else {
        QCOMPARE(made, attempts);
    }
}

void TestRestart::ledgerKeepsTheLastValueSent()
{
    NetworkConfig first{{127, 0, 0, 2, 127, 0, 0, 1, 255, 0, 0, 0}, true};
    NetworkConfig second = first;
    second.addresses[3] = 3;
    SentLedger ledger;
    QCOMPARE(reconnectAddress(QStringLiteral("127.0.0.1"), ledger.sentIpAddress()),
             QStringLiteral("127.0.0.1"));
    ledger.add(sentNetworkSettings(first, true, false));
    ledger.add(sentG50Settings({192, 0, 2, 30}));
    ledger.add(sentNetworkSettings(second, true, true));
    const QStringList keys{"ip", "gateway", "mask", "address", "config"};
    QStringList got;
    for (const SentSetting &s : ledger.settings())
        got << s.key;
    QCOMPARE(got, keys);
    QCOMPARE(ledger.sentIpAddress(), QStringLiteral("127.0.0.3"));
    QCOMPARE(reconnectAddress(QStringLiteral("127.0.0.1"), ledger.sentIpAddress()),
             QStringLiteral("127.0.0.3"));
    // Only the blocks a send wrote are listed.
    QCOMPARE(sentNetworkSettings(first, false, true).size(), 1);
    QCOMPARE(sentBACnetSettings({}, BACnetParts{false, false, false}).size(), 0);

    const SentSetting ip{"ip", "IP address", "127.0.0.2"};
    const QStringList lines = describeChecks({{ip, "127.0.0.2"}, {ip, "127.0.0.1"}, {ip, ""}});
    QCOMPARE(lines, (QStringList{"IP address: sent 127.0.0.2, unit has 127.0.0.2 (taken)",
                                 "IP address: sent 127.0.0.2, unit has 127.0.0.1 (NOT taken)",
                                 "IP address: sent 127.0.0.2, could not be read back"}));
}

void TestRestart::everySendOffersRestartNow_data()
{
    QTest::addColumn<Request>("get");
    QTest::addColumn<Request>("send");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("sentKeys");
    QTest::newRow("Network") << Request::GetNetwork << Request::SendNetwork
                             << "Network Settings Transmitted OK."
                             << QStringList{"ip", "gateway", "mask", "config"};
    QTest::newRow("G50") << Request::GetG50 << Request::SendG50 << "G50 Settings Transmitted OK."
                         << QStringList{"address"};
    QTest::newRow("BACnet") << Request::GetBACnet << Request::SendBACnet
                            << "BACnet Settings Transmitted OK."
                            << QStringList{"instance", "name", "comparison",
                                           "foreign",  "bbmd", "ttl"};
}

void TestRestart::everySendOffersRestartNow()
{
    QFETCH(Request, get);
    QFETCH(Request, send);
    QFETCH(QString, message);
    QFETCH(QStringList, sentKeys);
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--no-animate")}));
    WorkingFolder folder;
    MessageRecorder messages;
    auto form = tcpSessionForm(sim.port());
    QVERIFY(form->sessionOpen());
    form->raiseRequest(get);
    form->Timer2->fire();
    // OK: the message stays as it was, nothing is restarted.
    form->raiseRequest(send);
    form->Timer2->fire();
    QCOMPARE(messages.messages.size(), 1);
    QVERIFY2(messages.texts().first().startsWith(message + "\nPlease restart the unit for these "
                                                           "changes to take effect."),
             qPrintable(messages.texts().first()));
    QCOMPARE(messages.messages.first().buttons, MsgButtons::OkRestartNow);
    QVERIFY(!pending(*form, Request::Restart));
    QStringList keys;
    for (const SentSetting &s : form->sentSettings().settings())
        keys << s.key;
    QCOMPARE(keys, sentKeys);
    // "Restart Now": the restart's own question, then the restart is raised.
    messages.answers = {MsgAnswer::RestartNow, MsgAnswer::Yes};
    form->raiseRequest(send);
    form->Timer2->fire();
    QCOMPARE(messages.messages.size(), 3);
    QVERIFY(messages.texts().last().startsWith(QStringLiteral("Restarting The Unit Will Close")));
    QVERIFY(pending(*form, Request::Restart));
}

void TestRestart::restartNowFollowsTheSentAddress()
{
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--no-animate"), QStringLiteral("--commands"),
                       QStringLiteral("--restart-ms"), QStringLiteral("300")}));
    WorkingFolder folder;
    MessageRecorder messages;
    auto form = tcpSessionForm(sim.port());
    QVERIFY(form->sessionOpen());
    form->setReconnectTiming({10000, 200});
    NetworkPage *page = form->networkPage();
    page->Button1->click();
    form->Timer2->fire();
    QCOMPARE(editBox(*form, 1)->text(), QStringLiteral("192"));
    const QStringList octets{"127", "0", "0", "2"};
    for (int i = 0; i < 4; ++i)
        editBox(*form, 1 + i)->setText(octets[i]);
    messages.answers = {MsgAnswer::RestartNow};
    page->Button2->click();
    form->Timer2->fire(); // the send; "Restart Now" on its message asks, then raises the restart
    QCOMPARE(messages.messages.first().buttons, MsgButtons::OkRestartNow);
    QVERIFY(messages.texts().first().startsWith(
        QStringLiteral("Network Settings Transmitted OK.\nPlease restart the unit for these "
                       "changes to take effect.")));
    QVERIFY(pending(*form, Request::Restart));
    form->Timer2->fire();
    form->Timer2->fire();
    QVERIFY(form->restartWaitWindow());
    QVERIFY(form->restartWaitWindow()->labelText().contains(QStringLiteral("127.0.0.2")));
    QTRY_VERIFY_WITH_TIMEOUT(form->sessionOpen(), 10000);

    QCOMPARE(form->IPAddress, QStringLiteral("127.0.0.2"));
    QCOMPARE(form->portStatus(), QStringLiteral(" IP Address: 127.0.0.2"));
    QVERIFY(folder.readIni().contains("IP_Address=127.0.0.2"));
    const QString result = messages.texts().last();
    QVERIFY2(result.contains(QStringLiteral("back at 127.0.0.2")), qPrintable(result));
    QVERIFY2(result.contains(QStringLiteral("IP address: sent 127.0.0.2, unit has 127.0.0.2 "
                                            "(taken)")),
             qPrintable(result));
    QVERIFY2(result.contains(QStringLiteral("Gateway address: sent 192.0.2.1, unit has 192.0.2.1 "
                                            "(taken)")),
             qPrintable(result));
    QCOMPARE(messages.messages.last().kind, MsgKind::Information);
    // The pages are read again from the unit at its new address.
    for (int i = 0; i < 4; ++i)
        editBox(*form, 1 + i)->clear();
    serveReads(*form);
    QCOMPARE(editBox(*form, 1)->text().toInt(), 127);
    QCOMPARE(editBox(*form, 4)->text().toInt(), 2);
    QVERIFY(!page->hasUnsentChanges());
    form->CloseConnection1Click();
    form->Timer2->fire();
    QVERIFY(!form->sessionOpen());
}

void TestRestart::unitNotBackEndsAtTheConnectionPage_data()
{
    QTest::addColumn<bool>("cancel");
    QTest::newRow("simulator killed: the time runs out") << false;
    QTest::newRow("Cancel") << true;
}

void TestRestart::unitNotBackEndsAtTheConnectionPage()
{
    QFETCH(bool, cancel);
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--no-animate"), QStringLiteral("--restart-ms"),
                       QStringLiteral("600000")}));
    WorkingFolder folder;
    MessageRecorder messages;
    auto form = tcpSessionForm(sim.port());
    QVERIFY(form->sessionOpen());
    // Cancel is pressed long before the time would run out.
    form->setReconnectTiming({cancel ? 60000 : 1500, 200});
    restartUnit(*form);
    sim.stop(); // by its pid: the unit is gone for good
    RestartWait &wait = form->restartWaitWindow()->wait();
    if (cancel) {
        QTRY_VERIFY_WITH_TIMEOUT(wait.attempts() >= 1, 5000);
        auto *cancelButton = form->restartWaitWindow()->findChild<QPushButton *>();
        QVERIFY(cancelButton);
        QCOMPARE(cancelButton->text(), QStringLiteral("Cancel"));
        cancelButton->click();
    }
    QTRY_VERIFY_WITH_TIMEOUT(!wait.running(), 5000);
    QVERIFY(!form->restartWaitWindow()->isVisible());
    QVERIFY(!form->sessionOpen());
    QCOMPARE(visibleTabs(*form), QStringList{QStringLiteral("Choose Connection")});
    QVERIFY(form->isEnabled());
    const bool toldTimedOut =
        messages.texts()
            .join(QLatin1Char('|'))
            .contains(QStringLiteral("did not come back at 127.0.0.1 within 1 seconds"));
    QCOMPARE(toldTimedOut, !cancel);
    if (cancel)
        QVERIFY2(wait.elapsedMs() < 5000, qPrintable(QString::number(wait.elapsedMs())));
}

QTEST_MAIN(TestRestart)
#include "tst_restart.moc"
