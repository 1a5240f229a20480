// ravelinctl bacnet discover on a network that has broadcasts, which loopback
// lacks. Run by run_in_netns.sh: the simulators sit in a namespace of their
// own at 10.77.0.2 and 10.77.0.3, the tool at 10.77.0.1 on the far end of a
// veth pair whose broadcast address is 10.77.0.255.

#include "CtlRun.h"
#include "SimProcess.h"

#include <QJsonArray>
#include <QtTest>

namespace {

const QString BroadcastLine = QStringLiteral("(and broadcasts to 10.77.0.255)");

// A unit on the standard BACnet port, ready once it says it also hears the
// subnet's broadcasts.
bool startUnit(SimProcess &sim, const QString &address)
{
    if (!sim.startWith({QStringLiteral("--listen"), address + QStringLiteral(":1502"),
                        QStringLiteral("--no-animate"), QStringLiteral("--bacnet-port"),
                        QStringLiteral("47808")}))
        return false;
    const QDeadlineTimer deadline(5000);
    while (!sim.output().contains(BroadcastLine))
        if (deadline.hasExpired() || !sim.running())
            return false;
        else
            QTest::qWait(10);
    return true;
}

QString interfaceName()
{
    return qEnvironmentVariable("RAVELIN_NETNS_IFACE");
}

} // namespace

class TstBacnetBroadcast : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void broadcastFindsUnit();
    void broadcastMarksDuplicates();
    void directedWhoIsAsksOneUnit();
};

void TstBacnetBroadcast::initTestCase()
{
    if (!interfaceName().isEmpty())
        return;
    const char *why = "not inside run_in_netns.sh (ctest runs it so)";
    if (qEnvironmentVariableIsSet("CI"))
        QFAIL(why);
    QTest::qSkip(why, __FILE__, __LINE__);
}

void TstBacnetBroadcast::broadcastFindsUnit()
{
    SimProcess unit;
    QVERIFY2(startUnit(unit, QStringLiteral("10.77.0.2")), qPrintable(unit.output()));
    const CtlRun run = runCtl(
        {"bacnet", "discover", "--broadcast", interfaceName(), "--seconds", "2", "--csv"});
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
    const CtlRun run = runCtl(
        {"--json", "bacnet", "discover", "--broadcast", interfaceName(), "--seconds", "2"});
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

QTEST_GUILESS_MAIN(TstBacnetBroadcast)
#include "tst_bacnetbroadcast.moc"
