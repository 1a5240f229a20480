// The blocking TCP client and the Modbus TCP operations over real loopback
// sockets: bounded connect, closed peers, late and split replies.

#include "LoopbackPeer.h"
#include "ModBusTCPPro.h"
#include "TcpClient.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QtTest>

using Step = LoopbackPeer::Step;

namespace {

QByteArray readReply(std::uint16_t transaction, int count)
{
    QByteArray b;
    b += char(transaction >> 8);
    b += char(transaction & 0xFF);
    b += QByteArray::fromHex("0000");
    b += char(0);
    b += char(2 * count + 3);
    b += char(21);
    b += char(107);
    b += char(2 * count);
    for (int i = 0; i < count; ++i) {
        b += char(0x10);
        b += char(i);
    }
    return b;
}

bool connectTo(TTcpClient &client, const LoopbackPeer &peer)
{
    client.setRemoteHost(QStringLiteral("127.0.0.1"));
    client.setRemotePort(peer.port());
    return client.open();
}

} // namespace

// A client whose transaction counter starts at 100.
class Client : public TTcpClient
{
public:
    Client() { TransactionId = 100; }
};

class TestTcpClient : public QObject
{
    Q_OBJECT

private slots:
    void refusedConnectFailsAtOnce();
    void changingHostOrPortClosesTheConnection();
    void exchangeWithARealPeer();
    void lateReplyDoesNotShiftLaterExchanges();
    void replySplitAcrossSegments();
    void peerClosingMidReplyFailsPromptly();
    void peerClosingWithoutReplyIsNoReply();
    void sendingToAClosedPeerDoesNotKillTheProcess();
};

void TestTcpClient::refusedConnectFailsAtOnce()
{
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 port = probe.serverPort();
    probe.close(); // nothing listens there any more

    Client client;
    client.setRemoteHost(QStringLiteral("127.0.0.1"));
    client.setRemotePort(port);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!client.open());
    QVERIFY(clock.elapsed() < 1000);
    QVERIFY(!client.connected());
    QVERIFY(!client.lastError().isEmpty());

    std::uint16_t v[1] = {9};
    QCOMPARE(TcpReadRegisters(client, 19, 107, 20, 1, 1, v), ResultNoReply);
    QCOMPARE(v[0], std::uint16_t(9));
}

void TestTcpClient::changingHostOrPortClosesTheConnection()
{
    LoopbackPeer peer;
    peer.play({{Step::Receive, 1}});
    Client client;
    QVERIFY(connectTo(client, peer));
    client.setRemotePort(peer.port()); // same port: stays open
    QVERIFY(client.connected());
    client.setRemotePort(std::uint16_t(peer.port() + 1));
    QVERIFY(!client.connected());
    QVERIFY(connectTo(client, peer) || true); // reconnect attempt is harmless
}

void TestTcpClient::exchangeWithARealPeer()
{
    LoopbackPeer peer;
    peer.play({{Step::Receive, 12}, {Step::Send, 0, readReply(100, 40)}});
    Client client;
    QVERIFY(connectTo(client, peer));
    std::uint16_t v[40] = {};
    QCOMPARE(TcpReadRegisters(client, 21, 107, 0, 40, 20, v), ResultGood);
    QCOMPARE(v[39], std::uint16_t(0x1027));
    QVERIFY(peer.finished(2000));
    QCOMPARE(peer.received(), QByteArray::fromHex("0064 0000 0006 15 6B 0000 0028"));
}

void TestTcpClient::lateReplyDoesNotShiftLaterExchanges()
{
    LoopbackPeer peer;
    peer.play({{Step::Receive, 12},
               {Step::Pause, 400},
               {Step::Send, 0, readReply(100, 2)},
               {Step::Receive, 12},
               {Step::Send, 0, readReply(101, 2)}});
    Client client;
    QVERIFY(connectTo(client, peer));
    std::uint16_t v[2] = {};
    QCOMPARE(TcpReadRegisters(client, 21, 107, 0, 2, 2, v), ResultNoReply); // gives up after 200 ms
    QVERIFY(!client.connectionLost());                          // slow, not gone
    QVERIFY(client.waitForData(3000));                          // the late reply is now waiting
    QVERIFY(!client.connectionLost());                          // unread bytes are no end of stream
    QCOMPARE(TcpReadRegisters(client, 21, 107, 0, 2, 20, v), ResultGood);
    QCOMPARE(client.TransactionId, std::uint16_t(102));
}

void TestTcpClient::replySplitAcrossSegments()
{
    const QByteArray reply = readReply(100, 12);
    LoopbackPeer peer;
    peer.play({{Step::Receive, 12},
               {Step::Send, 0, reply.left(5)},
               {Step::Pause, 60},
               {Step::Send, 0, reply.mid(5, 10)},
               {Step::Pause, 60},
               {Step::Send, 0, reply.mid(15)}});
    Client client;
    QVERIFY(connectTo(client, peer));
    std::uint16_t v[12] = {};
    QCOMPARE(TcpReadRegisters(client, 21, 107, 0, 12, 20, v), ResultGood);
    QCOMPARE(v[11], std::uint16_t(0x100B));
}

void TestTcpClient::peerClosingMidReplyFailsPromptly()
{
    LoopbackPeer peer;
    peer.play({{Step::Receive, 12}, {Step::Send, 0, readReply(100, 12).left(15)}, {Step::Close}});
    Client client;
    QVERIFY(connectTo(client, peer));
    std::uint16_t v[12] = {};
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(TcpReadRegisters(client, 21, 107, 0, 12, 50, v), ResultFailure);
    QVERIFY(clock.elapsed() < 2000);
    QCOMPARE(v[0], std::uint16_t(0));
}

void TestTcpClient::peerClosingWithoutReplyIsNoReply()
{
    LoopbackPeer peer;
    peer.play({{Step::Receive, 12}, {Step::Close}});
    Client client;
    QVERIFY(connectTo(client, peer));
    std::uint16_t v[1] = {};
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(TcpReadRegisters(client, 19, 107, 20, 1, 50, v), ResultNoReply);
    QVERIFY(clock.elapsed() < 2000);
    // The caller can tell this "no reply" from a slow unit.
    QVERIFY(client.connectionLost());
}

void TestTcpClient::sendingToAClosedPeerDoesNotKillTheProcess()
{
    LoopbackPeer peer;
    peer.play({{Step::Close}});
    Client client;
    QVERIFY(connectTo(client, peer));
    QVERIFY(peer.finished(2000));
    for (int i = 0; i < 3; ++i)
        QVERIFY(int(TcpWriteRegister(client, 19, 103, 29, 1, 1)) <= 0);
}

QTEST_GUILESS_MAIN(TestTcpClient)
#include "tst_tcpclient.moc"
