// ravelinctl over a serial line: --device and --com against ravelin-sim on
// the other end of a socat pty pair.

#include "CtlRun.h"
#include "SimProcess.h"
#include "SocatPair.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

namespace {

using Run = CtlRun;

Run ctl(const QStringList &args,
        const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    return runCtl(args, env);
}

QStringList args(const char *text)
{
    return splitArgs(text);
}

} // namespace

class TstCtlSerial : public QObject
{
    Q_OBJECT

private slots:
    void deviceAndComNumber();
    void serialFailures_data();
    void serialFailures();
    void serialLimitsRefusedBeforeOpening();
    void largestReadBehindStrayBytes();
    void restartWaitsOnTheSameLine();
};

void TstCtlSerial::deviceAndComNumber()
{
    SocatPair line;
    QVERIFY2(line.start(), "socat could not make a pty pair");
    SimProcess sim;
    QVERIFY(sim.startWith({QStringLiteral("--serial"), line.a(), QStringLiteral("--no-animate")}));

    const Run identify = ctl(QStringList{QStringLiteral("--device"), line.b()} + args("identify"));
    QCOMPARE(identify.exitCode, 0);
    QCOMPARE(identify.out, QStringLiteral("product 5173 firmware 1.34\n"));

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("RAVELIN_COM5"), line.b());
    QCOMPARE(ctl(args("--com 5 write 20 109 19 10 20 30 40"), env).exitCode, 0);
    const Run read = ctl(args("--com 5 --json read 20 107 19 4"), env);
    QCOMPARE(read.exitCode, 0);
    const QJsonArray values = QJsonDocument::fromJson(read.out.toUtf8())
                                  .object()
                                  .value(QStringLiteral("values"))
                                  .toArray();
    QCOMPARE(values, (QJsonArray{10, 20, 30, 40}));
    sim.stop();
}

void TstCtlSerial::serialFailures_data()
{
    QTest::addColumn<QStringList>("simOptions");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("exception") << QStringList{QStringLiteral("--exception"),
                                              QStringLiteral("19:20")}
                               << 2;
    QTest::newRow("no reply") << QStringList{QStringLiteral("--silent")} << 3;
    // A reply with a wrong CRC is an invalid reply, not a good one.
    QTest::newRow("corrupt crc") << QStringList{QStringLiteral("--corrupt-crc")} << 4;
    // Every reply's CRC is checked: noise that looks like an exception is none.
    QTest::newRow("corrupt crc on an exception")
        << QStringList{QStringLiteral("--corrupt-crc"), QStringLiteral("--exception"),
                       QStringLiteral("19:20")}
        << 4;
}

void TstCtlSerial::serialFailures()
{
    QFETCH(QStringList, simOptions);
    SocatPair line;
    QVERIFY2(line.start(), "socat could not make a pty pair");
    SimProcess sim;
    QVERIFY(sim.startWith(QStringList{QStringLiteral("--serial"), line.a()} + simOptions));
    const Run run =
        ctl(QStringList{QStringLiteral("--device"), line.b()} + args("--timeout 0.3 identify"));
    QTEST(run.exitCode, "exitCode");
    QVERIFY(run.out.isEmpty());
    QVERIFY(run.err.startsWith(QStringLiteral("ravelinctl: identity: ")));
    sim.stop();
}

void TstCtlSerial::serialLimitsRefusedBeforeOpening()
{
    // A missing device is a failure to open, reported with its name.
    const Run missing = ctl(args("--device /dev/ravelin-no-such-port identify"));
    QCOMPARE(missing.exitCode, 4);
    QVERIFY(missing.err.contains(QStringLiteral("/dev/ravelin-no-such-port")));
    const Run notTty = ctl(args("--device /dev/null identify"));
    QCOMPARE(notTty.exitCode, 4);
    QVERIFY(notTty.err.contains(QStringLiteral("File Handle is not a Comm Handle.")));
    // The serial frames hold 97 registers per read and 20 per write.
    QCOMPARE(ctl(args("--device /dev/null read 20 107 0 98")).exitCode, 64);
    QStringList write = args("--device /dev/null write 20 109 0");
    for (int i = 0; i < 21; ++i)
        write << QStringLiteral("1");
    QCOMPARE(ctl(write).exitCode, 64);
    QCOMPARE(ctl(args("--com 0 identify")).exitCode, 64);
    // A serial wait that never runs out is not on offer.
    QCOMPARE(ctl(args("--device /dev/null --timeout 6553.5 identify")).exitCode, 64);
}

void TstCtlSerial::largestReadBehindStrayBytes()
{
    // Three stray bytes ahead of the 199-byte reply of a 97-register read.
    SocatPair line;
    QVERIFY2(line.start(), "socat could not make a pty pair");
    SimProcess sim;
    QVERIFY(sim.startWith({QStringLiteral("--serial"), line.a(), QStringLiteral("--no-animate"),
                           QStringLiteral("--noise")}));
    const Run read =
        ctl(QStringList{QStringLiteral("--device"), line.b()} + args("--json read 26 107 0 97"));
    QCOMPARE(read.exitCode, 0);
    const QJsonArray values = read.json().value(QStringLiteral("values")).toArray();
    QCOMPARE(values.size(), 97);
    sim.stop();
}

void TstCtlSerial::restartWaitsOnTheSameLine()
{
    SocatPair line;
    QVERIFY2(line.start(), "socat could not make a pty pair");
    SimProcess sim;
    QVERIFY(sim.startWith({QStringLiteral("--serial"), line.a(), QStringLiteral("--no-animate"),
                           QStringLiteral("--restart-ms"), QStringLiteral("1500")}));
    // The line stays open across the restart; silent attempts end at the
    // reply timeout, and the unit is found once it answers again.
    const Run run = ctl(QStringList{QStringLiteral("--device"), line.b()} +
                        args("--timeout 0.3 restart --wait 10 --expect ip=192.0.2.10"));
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QVERIFY2(run.out.contains(QStringLiteral("the unit is back at ") + line.b()),
             qPrintable(run.out));
    QVERIFY(run.err.isEmpty());
    QCOMPARE(ctl(QStringList{QStringLiteral("--device"), line.b()} +
                 args("restart --new-host 127.0.0.2 --wait"))
                 .exitCode,
             64);
    sim.stop();
}

QTEST_GUILESS_MAIN(TstCtlSerial)
#include "tst_ctlserial.moc"
