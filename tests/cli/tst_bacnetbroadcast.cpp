// ravelinctl bacnet discover on a network that has broadcasts, which loopback
// lacks. Run by run_in_netns.sh: the simulators sit in a namespace of their
// own at 10.77.0.2 and 10.77.0.3, the tool at 10.77.0.1 on the far end of a
// veth pair whose broadcast address is 10.77.0.255.

#include "CtlRun.h"
#include "NetnsSim.h"

#include <QJsonArray>
#include <QtTest>

using NetnsSim::interfaceName;
using NetnsSim::startUnit;

class TstBacnetBroadcast : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void broadcastFindsUnit();
    void broadcastMarksDuplicates();
    void directedWhoIsAsksOneUnit();
    void unitBroadcastingIAmFound_data();
    void unitBroadcastingIAmFound();
    void loopbackIsNoBroadcastDomain();
};

void TstBacnetBroadcast::initTestCase()
{
    if (!NetnsSim::inside())
        return;
}

void TstBacnetBroadcast::broadcastFindsUnit()
{
    SimProcess unit;
    QVERIFY2(startUnit(unit, QStringLiteral("10.77.0.2")), qPrintable(unit.output()));
    const CtlRun run =
        runCtl({"bacnet", "discover", "--broadcast", interfaceName(), "--seconds", "2", "--csv"});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err + unit.output()));
    const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    // Found through the broadcast, answered from the unit's own address, and
    // its name read from there.
    const QStringList fields = lines[1].split(',');
    QCOMPARE(fields.value(0), QStringLiteral("5173"));
    QCOMPARE(fields.value(1), QStringLiteral("10.77.0.2:47808"));
    QCOMPARE(fields.value(5), QStringLiteral("Ravelin-5173"));
}

void TstBacnetBroadcast::broadcastMarksDuplicates()
{
    SimProcess a, b;
    QVERIFY2(startUnit(a, QStringLiteral("10.77.0.2")), qPrintable(a.output()));
    QVERIFY2(startUnit(b, QStringLiteral("10.77.0.3")), qPrintable(b.output()));
    const CtlRun run =
        runCtl({"--json", "bacnet", "discover", "--broadcast", interfaceName(), "--seconds", "2"});
    QCOMPARE(run.exitCode, 1); // duplicates found
    QStringList seen;
    for (const QJsonValue &d : run.json().value("devices").toArray()) {
        QCOMPARE(d["instance"].toInt(), 5173);
        QCOMPARE(d["name"].toString(), QStringLiteral("Ravelin-5173"));
        QVERIFY(d["duplicate"].toBool());
        seen << d["address"].toString();
    }
    seen.sort();
    QCOMPARE(seen, (QStringList{"10.77.0.2", "10.77.0.3"}));
}

// With both units hearing broadcasts, a Who-Is sent to one address is still
// answered by that unit alone.
void TstBacnetBroadcast::directedWhoIsAsksOneUnit()
{
    SimProcess a, b;
    QVERIFY2(startUnit(a, QStringLiteral("10.77.0.2")), qPrintable(a.output()));
    QVERIFY2(startUnit(b, QStringLiteral("10.77.0.3")), qPrintable(b.output()));
    const CtlRun run =
        runCtl({"--json", "bacnet", "discover", "--target", "10.77.0.3", "--seconds", "1"});
    QCOMPARE(run.exitCode, 0);
    const QJsonArray devices = run.json().value("devices").toArray();
    QCOMPARE(devices.size(), 1);
    QCOMPARE(devices[0]["address"].toString(), QStringLiteral("10.77.0.3"));
    QCOMPARE(devices[0]["name"].toString(), QStringLiteral("Ravelin-5173"));
    QVERIFY(!devices[0]["duplicate"].toBool());
}

void TstBacnetBroadcast::unitBroadcastingIAmFound_data()
{
    QTest::addColumn<QStringList>("whoIsTo");
    QTest::newRow("broadcast Who-Is") << QStringList{"--broadcast", interfaceName()};
    QTest::newRow("directed Who-Is") << QStringList{"--target", "10.77.0.2"};
}

// The unit answers with an I-Am broadcast to 10.77.0.255:47808, never to the
// tool's own port: the tool hears it on the BACnet port and reads the name
// from the unit's address.
void TstBacnetBroadcast::unitBroadcastingIAmFound()
{
    QFETCH(QStringList, whoIsTo);
    SimProcess unit;
    QVERIFY2(startUnit(unit, QStringLiteral("10.77.0.2"), {"--bacnet-iam-broadcast"}),
             qPrintable(unit.output()));
    QVERIFY2(unit.output().contains("I-Am broadcast to 10.77.0.255:47808"),
             qPrintable(unit.output()));
    const CtlRun run =
        runCtl(QStringList{"--json", "bacnet", "discover", "--seconds", "1"} + whoIsTo);
    QVERIFY2(run.exitCode == 0, qPrintable(run.err + unit.output()));
    QVERIFY2(run.err.isEmpty(), qPrintable(run.err));
    const QJsonArray devices = run.json().value("devices").toArray();
    QCOMPARE(devices.size(), 1);
    QCOMPARE(devices[0]["address"].toString(), QStringLiteral("10.77.0.2"));
    QCOMPARE(devices[0]["port"].toInt(), 47808);
    QCOMPARE(devices[0]["name"].toString(), QStringLiteral("Ravelin-5173"));
}

// Qt derives 127.255.255.255 for loopback from its netmask, but loopback
// cannot broadcast: the tool refuses it and a unit there listens on its
// unicast address alone.
void TstBacnetBroadcast::loopbackIsNoBroadcastDomain()
{
    const CtlRun run = runCtl({"bacnet", "discover", "--broadcast", "lo", "--seconds", "1"});
    QCOMPARE(run.exitCode, 64);
    QVERIFY2(run.err.contains("interface \"lo\" has no IPv4 broadcast address"),
             qPrintable(run.err));
    SimProcess unit;
    QVERIFY(unit.start({QStringLiteral("--bacnet-port"), QStringLiteral("47808")}));
    QTRY_VERIFY_WITH_TIMEOUT(unit.output().contains(QLatin1String("BACnet/IP on 127.0.0.1:")),
                             5000);
    QVERIFY2(!unit.output().contains(QLatin1String("broadcasts")), qPrintable(unit.output()));
}

QTEST_GUILESS_MAIN(TstBacnetBroadcast)
#include "tst_bacnetbroadcast.moc"
