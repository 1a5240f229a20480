// ravelinctl bacnet against simulators answering BACnet/IP on loopback
// addresses and, when installed, an independent BACnet stack playing a second
// device: duplicates marked, check after a Send, a unit announcing other
// values than its registers, and a silent BACnet side.

#include "CtlRun.h"
#include "SimProcess.h"
#include "WineLimits.h"

#include <QJsonArray>
#include <QUdpSocket>
#include <QtTest>

namespace {

// A UDP port free on every address given, so simulators on several loopback
// addresses share one BACnet port as a site does.
quint16 freeUdpPort(const QStringList &addresses)
{
    for (int attempt = 0; attempt < 20; ++attempt) {
        QUdpSocket probe;
        if (!probe.bind(QHostAddress(addresses.first()), 0))
            return 0;
        bool everywhere = true;
        for (const QString &address : addresses.mid(1)) {
            QUdpSocket other;
            everywhere = everywhere && other.bind(QHostAddress(address), probe.localPort());
        }
        if (everywhere)
            return probe.localPort();
    }
    return 0;
}

bool startSim(SimProcess &sim, const QString &host, quint16 bacnetPort)
{
    if (!sim.start({QStringLiteral("--no-animate"), QStringLiteral("--bacnet-port"),
                    QString::number(bacnetPort)},
                   host))
        return false;
    const QDeadlineTimer deadline(5000);
    while (!sim.output().contains(QLatin1String("BACnet/IP on")))
        if (deadline.hasExpired() || !sim.running())
            return false;
        else
            QTest::qWait(10);
    return true;
}

QString unitHost(const SimProcess &sim)
{
    return QStringLiteral("%1:%2").arg(sim.host()).arg(sim.port());
}

QString target(const QString &host, quint16 port)
{
    return QStringLiteral("%1:%2").arg(host).arg(port);
}

} // namespace

class TstCtlBacnet : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void discoverMarksDuplicates();
    void checkFollowsSend();
    void checkFindsOtherValues();
    void silentBacnetSide();
    void independentPeerAsSecondDevice();

private:
    const QStringList m_hosts{QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.3")};
    quint16 m_port = 0;
};

void TstCtlBacnet::initTestCase()
{
    // Every case here has units on 127.0.0.2 and .3 sharing one BACnet port.
    SKIP_UNDER_WINE_LOOPBACK_ALIASES();
    m_port = freeUdpPort(m_hosts + QStringList{QStringLiteral("127.0.0.4")});
    QVERIFY(m_port != 0);
}

void TstCtlBacnet::discoverMarksDuplicates()
{
    SimProcess a, b;
    QVERIFY(startSim(a, m_hosts[0], m_port));
    QVERIFY(startSim(b, m_hosts[1], m_port));
    const CtlRun run =
        runCtl({"--json", "bacnet", "discover", "--target", target(m_hosts[0], m_port), "--target",
                target(m_hosts[1], m_port), "--seconds", "1"});
    QCOMPARE(run.exitCode, 1); // duplicates found
    const QJsonArray devices = run.json().value("devices").toArray();
    QCOMPARE(devices.size(), 2);
    for (const QJsonValue &d : devices) {
        QCOMPARE(d["instance"].toInt(), 5173);
        QVERIFY(d["duplicate"].toBool());
        QVERIFY(!d["name"].toString().isEmpty());
    }
    // The same as CSV, one line per device.
    const CtlRun csv = runCtl({"bacnet", "discover", "--target", target(m_hosts[0], m_port),
                               "--target", target(m_hosts[1], m_port), "--seconds", "1", "--csv"});
    const QStringList lines = csv.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines[1].startsWith("5173,127.0.0.") && lines[1].endsWith(",duplicate instance"));
#ifndef Q_OS_WIN
    // The simulators hold the BACnet port without sharing it (Windows lets a
    // socket that asks to reuse a port share it anyway): said on stderr.
    QVERIFY2(
        csv.err.startsWith(QStringLiteral("ravelinctl: note: UDP port %1 is in use").arg(m_port)),
        qPrintable(csv.err));
#endif
}

// A Send through ravelinctl changes what the unit announces, and check sees it.
void TstCtlBacnet::checkFollowsSend()
{
    SimProcess sim;
    QVERIFY(startSim(sim, m_hosts[0], m_port));
    const QStringList check{
        "--host",        unitHost(sim),           "--json",    "bacnet", "check",
        "--bacnet-port", QString::number(m_port), "--seconds", "1"};
    CtlRun run = runCtl(check);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.json().value("announced_instance").toInt(), 5173);
    QCOMPARE(runCtl({"--host", unitHost(sim), "set", "bacnet", "instance=4242", "name=Boiler room"})
                 .exitCode,
             0);
    run = runCtl(check);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.json().value("announced_instance").toInt(), 4242);
    QCOMPARE(run.json().value("announced_name").toString(), QStringLiteral("Boiler room"));
}

// The Who-Is reaches a device that is not the unit the registers were read
// from: both differences are named and the check fails.
void TstCtlBacnet::checkFindsOtherValues()
{
    SimProcess a, b;
    QVERIFY(startSim(a, m_hosts[0], m_port));
    QVERIFY(startSim(b, m_hosts[1], m_port));
    QCOMPARE(runCtl({"--host", unitHost(a), "set", "bacnet", "instance=77", "name=Plant"}).exitCode,
             0);
    const CtlRun run = runCtl({"--host", unitHost(a), "bacnet", "check", "--target",
                               target(m_hosts[1], m_port), "--seconds", "1"});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains("instance: the unit announces 5173, its registers hold 77"),
             qPrintable(run.err));
    QVERIFY2(run.err.contains("its registers hold \"Plant\""), qPrintable(run.err));
}

void TstCtlBacnet::silentBacnetSide()
{
    SimProcess sim; // no BACnet side
    QVERIFY(sim.start({QStringLiteral("--no-animate")}, m_hosts[0]));
    QElapsedTimer clock;
    clock.start();
    const CtlRun run = runCtl({"--host", unitHost(sim), "bacnet", "check", "--bacnet-port",
                               QString::number(m_port), "--seconds", "1"});
    QCOMPARE(run.exitCode, 3);
    QVERIFY(run.err.contains("no I-Am from 127.0.0.2"));
    QVERIFY(clock.elapsed() < 10000);
}

// An independent BACnet stack answers the tool as a second device with the
// unit's instance: the tool lists it with its name and marks the duplicate.
void TstCtlBacnet::independentPeerAsSecondDevice()
{
    const QString node = QStringLiteral(RAVELIN_NODE);
    const QString peerDir = QStringLiteral(BACNET_PEER_DIR);
    if (node.isEmpty() ||
        !QFile::exists(peerDir + "/node_modules/@bacnet-js/client/package.json")) {
        const QByteArray why = "the BACnet peer is not installed (scripts/setup-deps installs it)";
        if (qEnvironmentVariableIsSet("CI"))
            QFAIL(why.constData());
        QTest::qSkip(why.constData(), __FILE__, __LINE__);
        return;
    }
    SimProcess sim;
    QVERIFY(startSim(sim, m_hosts[0], m_port));
    QProcess peer;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("BACNET_PEER_DIR", peerDir);
    peer.setProcessEnvironment(env);
    peer.start(node,
               {QStringLiteral(BACNET_PEER_SCRIPT), "device", "--address", "127.0.0.4", "--port",
                QString::number(m_port), "--instance", "5173", "--name", "Second unit"});
    QVERIFY(peer.waitForReadyRead(10000));
    QVERIFY(peer.readAllStandardOutput().contains("bacnet_peer: device"));
    const CtlRun run =
        runCtl({"--json", "bacnet", "discover", "--target", target(m_hosts[0], m_port), "--target",
                target("127.0.0.4", m_port), "--seconds", "2"});
    peer.terminate();
    if (!peer.waitForFinished(3000)) {
        peer.kill();
        peer.waitForFinished(3000);
    }
    QCOMPARE(run.exitCode, 1);
    const QJsonArray devices = run.json().value("devices").toArray();
    QCOMPARE(devices.size(), 2);
    QStringList names;
    for (const QJsonValue &d : devices) {
        QVERIFY(d["duplicate"].toBool());
        names << d["address"].toString() + " " + d["name"].toString();
    }
    QVERIFY2(names.contains("127.0.0.4 Second unit"), qPrintable(names.join(", ")));
}

QTEST_GUILESS_MAIN(TstCtlBacnet)
#include "tst_ctlbacnet.moc"
