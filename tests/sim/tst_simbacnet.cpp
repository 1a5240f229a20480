// ravelin-sim's BACnet/IP side end to end over loopback UDP, with datagrams
// written out byte by byte here (not built by any BACnet code of the project),
// and the Device object's identity changed over raw Modbus TCP.

#include "SimProcess.h"
#include "WineLimits.h"

#include <QDeadlineTimer>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QtTest>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// BACnet/IP Original-Unicast-NPDU around an NPDU and APDU given in hex.
QByteArray bip(const char *npduAndApdu)
{
    const QByteArray body = hex(npduAndApdu);
    const int size = 4 + int(body.size());
    return hex("810a") + char(size >> 8) + char(size & 0xFF) + body;
}

// ReadProperty request, invoke id 1, of the Device 5173 (the factory instance).
QByteArray askDevice(const char *propertyTag)
{
    return bip(QByteArray("0104 0005 01 0c 0c02001435 ").append(propertyTag).constData());
}

const QByteArray WhoIs = bip("0100 1008");
const QByteArray FactoryIAm = hex("810a0015 0100 1000 c402001435 2205c4 9103 2203e7");

// A UDP port free on every one of these loopback addresses right now.
quint16 freeUdpPort(const QStringList &addresses)
{
    for (int attempt = 0; attempt < 20; ++attempt) {
        QUdpSocket probe;
        if (!probe.bind(QHostAddress(addresses.first()), 0))
            return 0;
        const quint16 port = probe.localPort();
        bool everywhere = true;
        for (const QString &address : addresses.mid(1)) {
            QUdpSocket other;
            everywhere = everywhere && other.bind(QHostAddress(address), port);
        }
        if (everywhere)
            return port;
    }
    return 0;
}

// Waits until the simulator has said that its BACnet side is bound.
bool waitForBacnet(SimProcess &sim)
{
    const QDeadlineTimer deadline(5000);
    while (!sim.output().contains(QLatin1String("BACnet/IP on"))) {
        if (deadline.hasExpired() || !sim.running())
            return false;
        QTest::qWait(10);
    }
    return true;
}

bool startSim(SimProcess &sim, quint16 bacnetPort,
              const QString &host = QStringLiteral("127.0.0.1"), const QStringList &extra = {})
{
    return sim.start(QStringList{QStringLiteral("--no-animate"), QStringLiteral("--bacnet-port"),
                                 QString::number(bacnetPort)} +
                         extra,
                     host) &&
           waitForBacnet(sim);
}

// A BACnet/IP peer on an ephemeral loopback port.
class Peer
{
public:
    explicit Peer(const QString &address = QStringLiteral("127.0.0.1"))
    {
        m_socket.bind(QHostAddress(address), 0);
    }
    void send(const QByteArray &datagram, const QString &to, quint16 port)
    {
        m_socket.writeDatagram(datagram, QHostAddress(to), port);
    }
    // The next datagram, or empty when none came within timeoutMs.
    QByteArray receive(int timeoutMs = 2000)
    {
        if (!m_socket.hasPendingDatagrams() && !m_socket.waitForReadyRead(timeoutMs))
            return {};
        QByteArray datagram(int(m_socket.pendingDatagramSize()), '\0');
        m_socket.readDatagram(datagram.data(), datagram.size());
        return datagram;
    }
    QByteArray exchange(const QByteArray &datagram, quint16 port, int timeoutMs = 2000,
                        const QString &to = QStringLiteral("127.0.0.1"))
    {
        while (m_socket.hasPendingDatagrams())
            receive(0);
        send(datagram, to, port);
        return receive(timeoutMs);
    }
    QUdpSocket &socket() { return m_socket; }

private:
    QUdpSocket m_socket;
};

// One Modbus TCP request answered (the reply's PDU), on a plain socket.
QByteArray modbus(quint16 port, quint8 unit, const QByteArray &pdu)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(3000))
        return {};
    const int length = int(pdu.size()) + 1;
    socket.write(hex("00070000") + char(length >> 8) + char(length & 0xFF) + char(unit) + pdu);
    QByteArray reply;
    const QDeadlineTimer deadline(3000);
    while (reply.size() < 7 || reply.size() < 6 + (quint8(reply[4]) << 8 | quint8(reply[5]))) {
        if (deadline.hasExpired() || !socket.waitForReadyRead(int(deadline.remainingTime())))
            return {};
        reply += socket.readAll();
    }
    return reply.mid(7);
}

} // namespace

class TstSimBacnet : public QObject
{
    Q_OBJECT

private slots:
    void whoIsRange_data();
    void whoIsRange();
    void readProperty_data();
    void readProperty();
    void identityFollowsModbusWrites();
    void silentWhileRestarting();
    void malformedDropped_data();
    void malformedDropped();
    void floodLeavesItAnswering();
    void duplicateInstanceOnTwoAddresses();
    void unusablePortRefused_data();
    void unusablePortRefused();
};

void TstSimBacnet::whoIsRange_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<bool>("answered");
    QTest::newRow("no range") << WhoIs << true;
    QTest::newRow("broadcast bvlc") << hex("810b0008 0100 1008") << true;
    QTest::newRow("global broadcast destination") << bip("0120ffff00ff 1008") << true;
    QTest::newRow("everything") << bip("0100 1008 0900 1b3fffff") << true;
    QTest::newRow("exactly 5173") << bip("0100 1008 0a1435 1a1435") << true;
    QTest::newRow("5173 as four octets") << bip("0100 1008 0c00001435 1c00001435") << true;
    QTest::newRow("ends below") << bip("0100 1008 0900 1a1434") << false;
    QTest::newRow("starts above") << bip("0100 1008 0a1436 1b3fffff") << false;
    QTest::newRow("upside down") << bip("0100 1008 0a1436 1a1434") << false;
}

void TstSimBacnet::whoIsRange()
{
    QFETCH(QByteArray, request);
    QFETCH(bool, answered);
    SimProcess sim;
    const quint16 port = freeUdpPort({QStringLiteral("127.0.0.1")});
    QVERIFY(startSim(sim, port));
    Peer peer;
    QCOMPARE(peer.exchange(request, port, answered ? 2000 : 300),
             answered ? FactoryIAm : QByteArray());
}

void TstSimBacnet::readProperty_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");
    // Complex-ACK: 30 invoke 0c, object id, property, 3e value 3f.
    QTest::newRow("object-identifier")
        << askDevice("194b") << hex("810a0017 0100 30010c 0c02001435 194b 3e c402001435 3f");
    QTest::newRow("object-name")
        << askDevice("194d")
        << hex("810a0021 0100 30010c 0c02001435 194d 3e 750d00 526176656c696e2d35313733 3f");
    QTest::newRow("object-type") << askDevice("194f")
                                 << hex("810a0014 0100 30010c 0c02001435 194f 3e 9108 3f");
    QTest::newRow("vendor-identifier")
        << askDevice("1978") << hex("810a0015 0100 30010c 0c02001435 1978 3e 2203e7 3f");
    QTest::newRow("model-name") << askDevice("1946")
                                << hex("810a0026 0100 30010c 0c02001435 1946 3e 751200 "
                                       "526176656c696e2073696d756c61746f72 3f");
    QTest::newRow("protocol-version")
        << askDevice("1962") << hex("810a0014 0100 30010c 0c02001435 1962 3e 2101 3f");
    QTest::newRow("protocol-revision")
        << askDevice("198b") << hex("810a0014 0100 30010c 0c02001435 198b 3e 210e 3f");
    QTest::newRow("max-apdu-length-accepted")
        << askDevice("193e") << hex("810a0015 0100 30010c 0c02001435 193e 3e 2205c4 3f");
    QTest::newRow("segmentation-supported")
        << askDevice("196b") << hex("810a0014 0100 30010c 0c02001435 196b 3e 9103 3f");
    QTest::newRow("property id on two octets")
        << askDevice("1a004d")
        << hex("810a0021 0100 30010c 0c02001435 194d 3e 750d00 526176656c696e2d35313733 3f");
    QTest::newRow("wildcard instance, segmented reply accepted, invoke 0x7f")
        << bip("0104 02057f0c 0c023fffff 194b")
        << hex("810a0017 0100 307f0c 0c02001435 194b 3e c402001435 3f");
    // Error-PDU: 50 invoke 0c, error class, error code.
    QTest::newRow("another device instance")
        << bip("0104 0005090c 0c02001436 194d") << hex("810a000d 0100 50090c 9101 911f");
    QTest::newRow("another object type")
        << bip("0104 0005090c 0c00001435 194d") << hex("810a000d 0100 50090c 9101 911f");
    QTest::newRow("present-value of the device")
        << bip("0104 0005090c 0c02001435 1955") << hex("810a000d 0100 50090c 9102 9120");
    QTest::newRow("object-name with an array index")
        << bip("0104 0005090c 0c02001435 194d 2901") << hex("810a000d 0100 50090c 9102 9132");
}

void TstSimBacnet::readProperty()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    SimProcess sim;
    const quint16 port = freeUdpPort({QStringLiteral("127.0.0.1")});
    QVERIFY(startSim(sim, port));
    Peer peer;
    QCOMPARE(peer.exchange(request, port).toHex(' '), reply.toHex(' '));
}

// A Send through the tool writes these registers; the BACnet side announces
// the new identity at once.
void TstSimBacnet::identityFollowsModbusWrites()
{
    SimProcess sim;
    const quint16 port = freeUdpPort({QStringLiteral("127.0.0.1")});
    QVERIFY(startSim(sim, port));
    // Instance 70000 (0x11170), name "Site-B".
    QCOMPARE(modbus(sim.port(), 22, hex("6d0000000306 0c04 0201 1170")), hex("6d00000003"));
    QCOMPARE(
        modbus(sim.port(), 22, hex("6d000300 0b16 070700 536974652d42 00000000000000000000000000")),
        hex("6d0003000b"));
    Peer peer;
    QCOMPARE(peer.exchange(WhoIs, port), hex("810a0015 0100 1000 c402011170 2205c4 9103 2203e7"));
    QCOMPARE(peer.exchange(bip("0104 0005020c 0c02011170 194d"), port),
             hex("810a001b 0100 30020c 0c02011170 194d 3e 750700 536974652d42 3f"));
    // The old instance is another device now.
    QCOMPARE(peer.exchange(askDevice("194d"), port), hex("810a000d 0100 50010c 9101 911f"));
}

void TstSimBacnet::silentWhileRestarting()
{
    SimProcess sim;
    const quint16 port = freeUdpPort({QStringLiteral("127.0.0.1")});
    QVERIFY(startSim(
        sim, port, QStringLiteral("127.0.0.1"),
        {QStringLiteral("--commands"), QStringLiteral("--restart-ms"), QStringLiteral("1500")}));
    Peer peer;
    QCOMPARE(peer.exchange(WhoIs, port), FactoryIAm);
    QCOMPARE(sim.command(QStringLiteral("restart")), QStringLiteral("ok restart"));
    QCOMPARE(peer.exchange(WhoIs, port, 300), QByteArray());
    QCOMPARE(peer.exchange(askDevice("194d"), port, 300), QByteArray());
    // Back after the restart: asked again until it answers, bounded.
    const QDeadlineTimer deadline(6000);
    QByteArray reply;
    while (reply.isEmpty() && !deadline.hasExpired())
        reply = peer.exchange(WhoIs, port, 200);
    QCOMPARE(reply, FactoryIAm);
}

void TstSimBacnet::malformedDropped_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::newRow("three bytes") << hex("810a00");
    QTest::newRow("not bvlc type 81") << hex("820a0008 0100 1008");
    QTest::newRow("bvlc length too large") << hex("810a0009 0100 1008");
    QTest::newRow("bvlc length too small") << hex("810a0007 0100 1008");
    QTest::newRow("forwarded-npdu") << hex("810400 0e 7f000001bac0 0100 1008");
    QTest::newRow("bvlc-result") << hex("81000006 0000");
    QTest::newRow("npdu version 2") << bip("0200 1008");
    QTest::newRow("bvlc only") << bip("");
    QTest::newRow("npdu without apdu") << bip("0100");
    QTest::newRow("network-layer message") << bip("0180 00");
    QTest::newRow("routed from another network") << bip("0108 000501 07 1008");
    QTest::newRow("destination another network") << bip("0120 0005 00 ff 1008");
    QTest::newRow("destination cut short") << bip("0120 ff");
    QTest::newRow("destination address past the end") << bip("0120 ffff 06 0102");
    QTest::newRow("who-is low limit only") << bip("0100 1008 0900");
    QTest::newRow("who-is limits swapped tags") << bip("0100 1008 1900 0900");
    QTest::newRow("who-is limit of five octets") << bip("0100 1008 0d0500000000 1900");
    QTest::newRow("who-is limit cut short") << bip("0100 1008 0900 1b3fff");
    QTest::newRow("who-is limit above 4194303") << bip("0100 1008 0900 1b400000");
    QTest::newRow("who-is trailing byte") << bip("0100 1008 00");
    QTest::newRow("i-am of another device") << bip("0100 1000 c402000001 2205c4 9103 2203e7");
    QTest::newRow("who-has") << bip("0100 1007 3d0400414243");
    QTest::newRow("unconfirmed without service") << bip("0100 10");
    QTest::newRow("segmented request") << bip("0104 0805010000 0c 0c02001435 194d");
    QTest::newRow("write-property") << bip("0104 0005010f 0c02001435 194d 3e 7500 3f");
    QTest::newRow("read-property header cut short") << bip("0104 0005");
    QTest::newRow("object id cut short") << bip("0104 0005010c 0c020014");
    QTest::newRow("object id not context 0") << bip("0104 0005010c c402001435 194d");
    QTest::newRow("no property") << bip("0104 0005010c 0c02001435");
    QTest::newRow("property of zero octets") << bip("0104 0005010c 0c02001435 18");
    QTest::newRow("property cut short") << bip("0104 0005010c 0c02001435 1a00");
    QTest::newRow("array index cut short") << bip("0104 0005010c 0c02001435 194d 2a00");
    QTest::newRow("read-property trailing byte") << bip("0104 0005010c 0c02001435 194d 00");
    QTest::newRow("simple-ack") << bip("0100 20010c");
    QTest::newRow("complex-ack") << hex("810a0017 0100 30010c 0c02001435 194b 3e c402001435 3f");
    QTest::newRow("abort") << bip("0100 700105");
    QByteArray tooLong = hex("810a05da 0100 1008");
    tooLong.append(1498 - tooLong.size(), '\0');
    QTest::newRow("1498 bytes") << tooLong;
}

void TstSimBacnet::malformedDropped()
{
    QFETCH(QByteArray, datagram);
    SimProcess sim;
    const quint16 port = freeUdpPort({QStringLiteral("127.0.0.1")});
    QVERIFY(startSim(sim, port, QStringLiteral("127.0.0.1"), {QStringLiteral("--verbose")}));
    Peer peer;
    QCOMPARE(peer.exchange(datagram, port, 300).toHex(' '), QByteArray());
    QVERIFY(sim.running());
    QCOMPARE(peer.exchange(WhoIs, port), FactoryIAm);
    QVERIFY(sim.output().contains(QLatin1String("BACnet DROP")));
}

// Thousands of datagrams as fast as the socket takes them, most of them bad
// and none of the replies read: the simulator keeps answering and its memory
// does not grow with the count.
void TstSimBacnet::floodLeavesItAnswering()
{
    // Under AddressSanitizer freed memory is held back in a quarantine: a
    // small one, so that what is measured is what the simulator holds.
    const QByteArray asanOptions = qgetenv("ASAN_OPTIONS");
    qputenv("ASAN_OPTIONS", asanOptions + (asanOptions.isEmpty() ? "" : ":") +
                                "quarantine_size_mb=1:thread_local_quarantine_size_kb=64");
    SimProcess sim;
    const quint16 port = freeUdpPort({QStringLiteral("127.0.0.1")});
    const bool started = startSim(sim, port);
    if (asanOptions.isNull())
        qunsetenv("ASAN_OPTIONS");
    else
        qputenv("ASAN_OPTIONS", asanOptions);
    QVERIFY(started);
    Peer peer;
    QCOMPARE(peer.exchange(WhoIs, port), FactoryIAm);
    const qint64 before = sim.residentKiB();
    const QList<QByteArray> mix{WhoIs,
                                askDevice("194d"),
                                hex("810a00ff 0100 1008"),
                                bip("0104 0805010000 0c 0c02001435 194d"),
                                bip("0180 00"),
                                QByteArray(1400, '\x81')};
    Peer flooder;
    for (int i = 0; i < 30000; ++i)
        flooder.send(mix[i % mix.size()], QStringLiteral("127.0.0.1"), quint16(port));
    QByteArray reply;
    const QDeadlineTimer deadline(10000);
    while (reply.isEmpty() && !deadline.hasExpired())
        reply = peer.exchange(WhoIs, port, 500);
    QCOMPARE(reply, FactoryIAm);
    QVERIFY(sim.running());
    const qint64 after = sim.residentKiB();
    qInfo("resident memory from %lld KiB to %lld KiB", before, after);
    if (before > 0 && after > 0)
        QVERIFY2(after - before < 8192,
                 qPrintable(QStringLiteral("grew from %1 KiB to %2 KiB").arg(before).arg(after)));
}

// Two units that were given the same instance both answer a Who-Is: the tool
// is the one to notice the duplicate.
void TstSimBacnet::duplicateInstanceOnTwoAddresses()
{
    SKIP_UNDER_WINE_LOOPBACK_ALIASES();
    const QStringList hosts{QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.3")};
    const quint16 port = freeUdpPort(hosts);
    QVERIFY(port != 0);
    SimProcess first;
    SimProcess second;
    QVERIFY(startSim(first, port, hosts[0]));
    QVERIFY(startSim(second, port, hosts[1]));
    Peer peer;
    for (const QString &host : hosts) {
        peer.send(WhoIs, host, port);
        QHostAddress from;
        QByteArray reply(64, '\0');
        QVERIFY(peer.socket().waitForReadyRead(2000) || peer.socket().hasPendingDatagrams());
        reply.resize(peer.socket().readDatagram(reply.data(), reply.size(), &from));
        QCOMPARE(from.toString(), host);
        QCOMPARE(reply, FactoryIAm);
    }
}

void TstSimBacnet::unusablePortRefused_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("above 65535") << QStringLiteral("65536") << 64;
    QTest::newRow("negative") << QStringLiteral("-1") << 64;
    QTest::newRow("not a number") << QStringLiteral("47808x") << 64;
    QTest::newRow("taken by another socket") << QString() << 69;
}

// A BACnet side that cannot be had is a start failure, not a simulator that
// quietly serves Modbus only.
void TstSimBacnet::unusablePortRefused()
{
    QFETCH(QString, port);
    QFETCH(int, exitCode);
    QUdpSocket holder;
    if (port.isEmpty()) {
        QVERIFY(holder.bind(QHostAddress::LocalHost, 0));
        port = QString::number(holder.localPort());
    }
    SimProcess sim;
    QVERIFY(!sim.start({QStringLiteral("--bacnet-port"), port}) || !waitForBacnet(sim));
    const QDeadlineTimer deadline(5000);
    while (sim.running() && !deadline.hasExpired())
        QTest::qWait(10);
    QCOMPARE(sim.exitCode(), exitCode);
    QVERIFY(!sim.output().contains(QLatin1String("BACnet/IP on")));
}

QTEST_GUILESS_MAIN(TstSimBacnet)
#include "tst_simbacnet.moc"
