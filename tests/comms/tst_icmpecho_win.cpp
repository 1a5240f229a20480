// The Windows echo backend, through the system's asynchronous echo call:
// chosen first, answered by the loopback address, cancellable, and a bad
// address is a failure with a reason rather than a silent wait.

#include "IcmpEcho.h"

#include <QSignalSpy>
#include <QtTest>

class TestIcmpEchoWin : public QObject
{
    Q_OBJECT
private slots:
    void systemBackendAnswersLoopback();
    void cancelledRequestStaysSilent();
    void unparsableAddressFails();
};

void TestIcmpEchoWin::systemBackendAnswersLoopback()
{
    auto client = createEchoClient();
    QCOMPARE(client->backend(), EchoBackend::System);
    QSignalSpy finished(client.get(), &EchoClient::finished);
    for (int round = 0; round < 3; ++round) {
        client->send(QStringLiteral("127.0.0.1"), 2000);
        QCOMPARE(finished.size(), round); // never before send() returns
        QVERIFY(finished.wait(5000));
        const auto outcome = finished.last().at(0).value<EchoOutcome>();
        QVERIFY2(outcome.status == EchoStatus::Reply, qPrintable(outcome.detail));
    }
}

void TestIcmpEchoWin::cancelledRequestStaysSilent()
{
    auto client = createEchoClient(EchoBackend::System);
    QVERIFY(client);
    QSignalSpy finished(client.get(), &EchoClient::finished);
    client->send(QStringLiteral("127.0.0.1"), 2000);
    client->cancel();
    QTest::qWait(500);
    QCOMPARE(finished.size(), 0);
    // The client is usable again after a cancel.
    client->send(QStringLiteral("127.0.0.1"), 2000);
    QVERIFY(finished.wait(5000));
    QCOMPARE(finished.last().at(0).value<EchoOutcome>().status, EchoStatus::Reply);
}

void TestIcmpEchoWin::unparsableAddressFails()
{
    auto client = createEchoClient(EchoBackend::System);
    QSignalSpy finished(client.get(), &EchoClient::finished);
    client->send(QStringLiteral("127.0.0"), 1000);
    QVERIFY(finished.wait(3000));
    const auto outcome = finished.last().at(0).value<EchoOutcome>();
    QCOMPARE(outcome.status, EchoStatus::Failed);
    QVERIFY(!outcome.detail.isEmpty());
}

QTEST_GUILESS_MAIN(TestIcmpEchoWin)
#include "tst_icmpecho_win.moc"
