// Discovery against devices played by the test on loopback addresses: what
// is found, the duplicate instance marked, a device that will not give its
// name, floods of replies that must stay bounded, and I-Ams sent to the
// BACnet port rather than back to the tool.

#include "BacnetDiscovery.h"
#include "BacnetFakeDevice.h"
#include "WineLimits.h"

#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtTest>

#include <memory>

using namespace Bacnet;

using namespace BacnetTest;

namespace {

DiscoveryTarget at(const QString &address, std::uint16_t port)
{
    return DiscoveryTarget{QHostAddress(address), port, false};
}

} // namespace

class TstBacnetDiscovery : public QObject
{
    Q_OBJECT
private slots:
    void findsDeviceAndName();
    void duplicatesMarked();
    void nameRefused();
    void silentTarget();
    void floodBounded();
    void duplicateMeansAnotherOrigin();
    void iAmOnBacnetPort_data();
    void iAmOnBacnetPort();
    void bacnetPortHeld();
};

void TstBacnetDiscovery::findsDeviceAndName()
{
    SKIP_UNDER_WINE_LOOPBACK_ALIASES();
    FakeDevice device(QStringLiteral("127.0.0.2"), 1234, "Plant room");
    const DiscoveryResult r = Discovery::run({at("127.0.0.2", device.port())}, {}, 800);
    QVERIFY(r.error.isEmpty());
    QCOMPARE(r.devices.size(), std::size_t(1));
    const FoundDevice &d = r.devices.front();
    QCOMPARE(d.iam.device.instance, 1234u);
    QCOMPARE(d.iam.vendorId, 260u);
    QCOMPARE(d.address.toString(), QStringLiteral("127.0.0.2"));
    QCOMPARE(d.name, QStringLiteral("Plant room"));
    QVERIFY(!d.duplicate);
}

// Two devices on a site announce one instance: both are marked, a third is
// not; all three are asked in one discovery.
void TstBacnetDiscovery::duplicatesMarked()
{
    FakeDevice a(QStringLiteral("127.0.0.2"), 77, "A");
    FakeDevice b(QStringLiteral("127.0.0.3"), 77, "B");
    FakeDevice c(QStringLiteral("127.0.0.4"), 78, "C");
    // A device repeating its I-Am is still one device.
    a.extra = {iAm(77)};
    const DiscoveryResult r = Discovery::run(
        {at("127.0.0.2", a.port()), at("127.0.0.3", b.port()), at("127.0.0.4", c.port())}, {}, 800);
    QCOMPARE(r.devices.size(), std::size_t(3));
    QStringList seen;
    for (const FoundDevice &d : r.devices)
        seen << QStringLiteral("%1 %2 %3").arg(d.name).arg(d.iam.device.instance).arg(d.duplicate);
    seen.sort();
    QCOMPARE(seen, (QStringList{"A 77 1", "B 77 1", "C 78 0"}));
}

void TstBacnetDiscovery::nameRefused()
{
    FakeDevice device(QStringLiteral("127.0.0.2"), 9, QByteArray());
    const DiscoveryResult r = Discovery::run({at("127.0.0.2", device.port())}, {}, 600);
    QCOMPARE(r.devices.size(), std::size_t(1));
    QVERIFY(r.devices.front().name.isEmpty());
    QCOMPARE(r.devices.front().nameProblem, QStringLiteral("unknown-property (property)"));
}

void TstBacnetDiscovery::silentTarget()
{
    QUdpSocket silent;
    QVERIFY(silent.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0));
    QElapsedTimer clock;
    clock.start();
    const DiscoveryResult r = Discovery::run({at("127.0.0.2", silent.localPort())}, {}, 300);
    QVERIFY(r.error.isEmpty());
    QVERIFY(r.devices.empty());
    QVERIFY(clock.elapsed() < 5000);
}

// A burst of I-Ams with distinct instances and damaged datagrams: the list
// stops at its limit, the rest is counted, and the run still ends on time.
void TstBacnetDiscovery::floodBounded()
{
    FakeDevice device(QStringLiteral("127.0.0.2"), 1, "flood");
    for (std::uint32_t i = 2; i < 200; ++i)
        device.extra << iAm(i);
    for (int i = 0; i < 50; ++i)
        device.extra << QByteArray::fromHex("810a00ff 0100 1000");
    QElapsedTimer clock;
    clock.start();
    const DiscoveryResult r = Discovery::run({at("127.0.0.2", device.port())}, {}, 1500, 40);
    QVERIFY(clock.elapsed() < 10000);
    QCOMPARE(int(r.devices.size()), 40);
    QVERIFY(r.dropped > 0);
    QVERIFY(r.malformed > 0);
}

// One device listed twice is no duplicate; the same instance from another
// address or another port is.
void TstBacnetDiscovery::duplicateMeansAnotherOrigin()
{
    const auto device = [](const char *address, std::uint16_t port) {
        FoundDevice d;
        d.iam.device = {DeviceObjectType, 5};
        d.address = QHostAddress(QString::fromLatin1(address));
        d.port = port;
        return d;
    };
    const struct
    {
        std::vector<FoundDevice> devices;
        bool duplicate;
    } cases[] = {
        {{device("10.0.0.2", 47808), device("10.0.0.2", 47808)}, false},
        {{device("10.0.0.2", 47808), device("10.0.0.2", 47809)}, true},
        {{device("10.0.0.2", 47808), device("10.0.0.2", 47808), device("10.0.0.3", 47808)}, true},
    };
    for (auto c : cases) {
        markDuplicates(c.devices);
        for (const FoundDevice &d : c.devices)
            QCOMPARE(d.duplicate, c.duplicate);
    }
}

void TstBacnetDiscovery::iAmOnBacnetPort_data()
{
    QTest::addColumn<bool>("toAskerToo");
    QTest::newRow("to the BACnet port only") << false;
    QTest::newRow("to both ports") << true;
}

// The device sends its I-Am to the BACnet port (its own port here, where the
// tool listens too): it is listed once, with the name read from it. Other
// traffic on that port, another device's I-Am among it, is left alone.
void TstBacnetDiscovery::iAmOnBacnetPort()
{
    QFETCH(bool, toAskerToo);
    SKIP_UNDER_WINE_LOOPBACK_ALIASES();
    // Sharing its port, as the tool's listening socket does.
    FakeDevice device(QStringLiteral("127.0.0.2"), 1234, "Plant room",
                      QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint);
    device.iAmTo = QHostAddress(QStringLiteral("127.0.0.1"));
    device.iAmToAskerToo = toAskerToo;
    QUdpSocket other;
    QVERIFY(other.bind(QHostAddress(QStringLiteral("127.0.0.3")), 0));
    Discovery discovery;
    QSignalSpy finished(&discovery, &Discovery::finished);
    discovery.start({at("127.0.0.2", device.port())}, {}, 800);
    const QHostAddress bacnetPort(QStringLiteral("127.0.0.1"));
    other.writeDatagram(iAm(99, true), bacnetPort, device.port());
    other.writeDatagram(QByteArray::fromHex("810b0008 0100 1008"), bacnetPort, device.port());
    other.writeDatagram(QByteArray::fromHex("810a00ff 0100"), bacnetPort, device.port());
    QVERIFY(finished.wait(5000));
    const DiscoveryResult &r = discovery.result();
    QVERIFY(r.error.isEmpty());
    QVERIFY2(r.note.isEmpty(), qPrintable(r.note));
    QCOMPARE(r.devices.size(), std::size_t(1));
    QCOMPARE(r.devices.front().iam.device.instance, 1234u);
    QCOMPARE(r.devices.front().name, QStringLiteral("Plant room"));
    QVERIFY(!r.devices.front().duplicate);
    QCOMPARE(device.asked, 1);
    QCOMPARE(r.malformed, 0);
    QVERIFY(!other.hasPendingDatagrams()); // never asked for its name
}

// Another program holds the BACnet port without sharing it: the devices that
// answer the tool directly are still found, and the result says what was
// missed.
void TstBacnetDiscovery::bacnetPortHeld()
{
    FakeDevice device(QStringLiteral("127.0.0.2"), 1234, "Plant room",
                      QAbstractSocket::DontShareAddress);
    const DiscoveryResult r = Discovery::run({at("127.0.0.2", device.port())}, {}, 600);
    QVERIFY(r.error.isEmpty());
    QCOMPARE(r.devices.size(), std::size_t(1));
    QCOMPARE(r.devices.front().name, QStringLiteral("Plant room"));
    QVERIFY2(r.note.contains(QStringLiteral("UDP port %1 is in use").arg(device.port())),
             qPrintable(r.note));
}

QTEST_GUILESS_MAIN(TstBacnetDiscovery)
#include "tst_bacnetdiscovery.moc"
