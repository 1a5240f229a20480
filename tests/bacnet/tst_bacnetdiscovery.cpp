// Discovery against devices played by the test on loopback addresses: what
// is found, the duplicate instance marked, a device that will not give its
// name, and floods of replies that must stay bounded.

#include "BacnetDiscovery.h"

#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtTest>

#include <memory>

using namespace Bacnet;

namespace {

QByteArray withLength(QByteArray datagram)
{
    datagram[2] = char(datagram.size() >> 8);
    datagram[3] = char(datagram.size() & 0xff);
    return datagram;
}

QByteArray iAm(std::uint32_t instance)
{
    QByteArray d = QByteArray::fromHex("810a0000 0100 1000 c4");
    const std::uint32_t word = (DeviceObjectType << 22) | instance;
    for (int i = 3; i >= 0; --i)
        d.append(char(word >> (8 * i)));
    d.append(QByteArray::fromHex("2205c4 9103 220104"));
    return withLength(d);
}

// A device the test plays: answers a Who-Is with its I-Am (and `extra`
// datagrams first), and a name request with its name or, when `name` is
// empty, with unknown-property.
class FakeDevice : public QObject
{
public:
    FakeDevice(const QString &address, std::uint32_t instance, const QByteArray &name)
        : m_instance(instance), m_name(name)
    {
        QVERIFY(m_socket.bind(QHostAddress(address), 0));
        connect(&m_socket, &QUdpSocket::readyRead, this, &FakeDevice::answer);
    }
    std::uint16_t port() const { return m_socket.localPort(); }
    QList<QByteArray> extra;
    int asked = 0;

private:
    void answer()
    {
        while (m_socket.hasPendingDatagrams()) {
            const QNetworkDatagram in = m_socket.receiveDatagram();
            const QByteArray d = in.data();
            if (d.size() >= 8 && d[6] == char(0x10) && d[7] == char(0x08)) {
                for (const QByteArray &x : std::as_const(extra))
                    m_socket.writeDatagram(x, in.senderAddress(), quint16(in.senderPort()));
                m_socket.writeDatagram(iAm(m_instance), in.senderAddress(),
                                       quint16(in.senderPort()));
            } else if (d.size() >= 10 && d[6] == char(0x00)) {
                ++asked;
                const char invokeId = d[8];
                QByteArray reply = QByteArray::fromHex("810a0000 0100 30");
                reply.append(invokeId);
                if (m_name.isEmpty()) {
                    reply = QByteArray::fromHex("810a0000 0100 50");
                    reply.append(invokeId);
                    reply.append(QByteArray::fromHex("0c 9102 9120"));
                } else {
                    reply.append(char(0x0c));
                    reply.append(d.mid(10, 5)); // the object identifier asked for
                    reply.append(QByteArray::fromHex("194d 3e 75"));
                    reply.append(char(m_name.size() + 1));
                    reply.append(char(0));
                    reply.append(m_name);
                    reply.append(char(0x3f));
                }
                m_socket.writeDatagram(withLength(reply), in.senderAddress(),
                                       quint16(in.senderPort()));
            }
        }
    }

    QUdpSocket m_socket;
    std::uint32_t m_instance;
    QByteArray m_name;
};

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
};

void TstBacnetDiscovery::findsDeviceAndName()
{
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
        {at("127.0.0.2", a.port()), at("127.0.0.3", b.port()), at("127.0.0.4", c.port())}, {},
        800);
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

QTEST_GUILESS_MAIN(TstBacnetDiscovery)
#include "tst_bacnetdiscovery.moc"
