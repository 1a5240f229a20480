// ravelinctl restart --wait against the simulator: the unit comes back where
// it was or at its new address, does not come back, or comes back holding
// other values than expected; each ends with its own exit status.

#include "CtlRun.h"
#include "SimProcess.h"

#include <QElapsedTimer>
#include <QtTest>

class TstCtlRestart : public QObject
{
    Q_OBJECT

private slots:
    void waitEndsWithItsStatus_data();
    void waitEndsWithItsStatus();
};

void TstCtlRestart::waitEndsWithItsStatus_data()
{
    QTest::addColumn<QStringList>("simArguments");
    QTest::addColumn<QString>("before"); // a command run first; empty: none
    QTest::addColumn<QString>("restart");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("said"); // lines of standard output or error

    const QStringList quick{"--no-animate", "--commands", "--restart-ms", "300"};
    // Written to the network registers: the unit moves there at its restart.
    const QString move = QStringLiteral("write 20 109 7 127 0 0 2");
    QTest::newRow("back where it was")
        << quick << QString() << "restart --wait 5" << 0
        << QStringList{"restart command sent", "the unit is back at 127.0.0.1 after"};
    QTest::newRow("back, values as expected")
        << quick << QString() << "restart --wait 5 --expect config=allowed --expect ip=192.0.2.10"
        << 0 << QStringList{"the unit is back at 127.0.0.1"};
    QTest::newRow("back, values differ")
        << quick << QString()
        << "restart --wait 5 --expect ip=192.0.2.11 --expect address=192.0.2.20 --expect "
           "ttl=0060"
        << 1
        << QStringList{"ip: expected 192.0.2.11, unit has 192.0.2.10",
                       "ttl: expected 60, unit has 1800"};
    QTest::newRow("back at the new host")
        << quick << move << "restart --wait 5 --new-host 127.0.0.2 --expect ip=127.0.0.2" << 0
        << QStringList{"the unit is back at 127.0.0.2"};
    QTest::newRow("moved, awaited at the old host")
        << quick << move << "restart --wait 2" << 69
        << QStringList{"the unit did not answer at 127.0.0.1 within 2 s"};
    QTest::newRow("never back") << QStringList{"--no-animate", "--restart-ms", "600000"}
                                << QString() << "restart --wait 2" << 69
                                << QStringList{"did not answer at 127.0.0.1 within 2 s"};
    QTest::newRow("no wait: leaves at once")
        << QStringList{"--no-animate", "--restart-ms", "600000"} << QString() << "restart" << 0
        << QStringList{"restart command sent"};
}

void TstCtlRestart::waitEndsWithItsStatus()
{
    QFETCH(QStringList, simArguments);
    QFETCH(QString, before);
    QFETCH(QString, restart);
    QFETCH(int, exitCode);
    QFETCH(QStringList, said);
    SimProcess sim;
    QVERIFY(sim.start(simArguments));
    const QStringList port{QStringLiteral("--tcp-port"), QString::number(sim.port())};
    if (!before.isEmpty())
        QCOMPARE(runCtl(port + before.split(QLatin1Char(' '))).exitCode, 0);
    QElapsedTimer clock;
    clock.start();
    const CtlRun run = runCtl(port + restart.split(QLatin1Char(' ')));
    const QString all = run.out + run.err;
    QVERIFY2(run.exitCode == exitCode, qPrintable(QString::number(run.exitCode) + ": " + all));
    for (const QString &line : said)
        QVERIFY2(all.contains(line), qPrintable(all));
    // Only the keys that differ are listed.
    QVERIFY2(!all.contains(QStringLiteral("address: expected")), qPrintable(all));
    if (exitCode == 69)
        QVERIFY2(clock.elapsed() >= 2000 && clock.elapsed() < 8000,
                 qPrintable(QString::number(clock.elapsed())));
}

QTEST_GUILESS_MAIN(TstCtlRestart)
#include "tst_ctlrestart.moc"
