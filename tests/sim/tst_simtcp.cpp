// ravelin-sim end to end over loopback TCP, with frames built by hand on a
// plain socket (not the tool's client), so both sides are checked apart.

#include "SimProcess.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

QByteArray mbap(quint16 tid, quint8 unit, const QByteArray &pdu)
{
    QByteArray frame;
    frame.append(char(tid >> 8)).append(char(tid & 0xFF)).append('\0').append('\0');
    frame.append(char((pdu.size() + 1) >> 8)).append(char((pdu.size() + 1) & 0xFF));
    frame.append(char(unit));
    return frame + pdu;
}

// A raw Modbus TCP peer on a QTcpSocket, waiting on conditions only.
class RawClient
{
public:
    bool connectTo(quint16 port)
    {
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        return m_socket.waitForConnected(3000);
    }
    void send(const QByteArray &bytes)
    {
        m_socket.write(bytes);
        m_socket.waitForBytesWritten(1000);
    }
    // Collects bytes until `size` have arrived or the time is up.
    QByteArray receive(int size, int timeoutMs = 3000)
    {
        QElapsedTimer clock;
        clock.start();
        while (m_buffer.size() < size && clock.elapsed() < timeoutMs) {
            if (m_socket.bytesAvailable() == 0 &&
                !m_socket.waitForReadyRead(int(timeoutMs - clock.elapsed())))
                break;
            m_buffer += m_socket.readAll();
            ++m_reads;
        }
        const QByteArray taken = m_buffer.left(size);
        m_buffer.remove(0, taken.size());
        return taken;
    }
    // One exchange: the reply's PDU (after the 7-byte header), or empty.
    QByteArray exchange(quint8 unit, const QByteArray &pdu, quint16 tid = 1, int timeoutMs = 3000)
    {
        send(mbap(tid, unit, pdu));
        const QByteArray header = receive(7, timeoutMs);
        if (header.size() < 7)
            return {};
        const int length = quint8(header[4]) << 8 | quint8(header[5]);
        if (header.left(2) != mbap(tid, unit, {}).left(2) || quint8(header[6]) != unit)
            return QByteArray("bad header ") + header.toHex();
        return receive(length - 1, timeoutMs);
    }
    bool waitForClosed(int timeoutMs)
    {
        if (m_socket.state() == QAbstractSocket::UnconnectedState)
            return true;
        m_socket.waitForDisconnected(timeoutMs);
        return m_socket.state() == QAbstractSocket::UnconnectedState;
    }
    int reads() const { return m_reads; }

private:
    QTcpSocket m_socket;
    QByteArray m_buffer;
    int m_reads = 0;
};

const QByteArray ReadIdentity = hex("6b00140002");
const QByteArray IdentityReply = hex("6b0414350086");

} // namespace

class TstSimTcp : public QObject
{
    Q_OBJECT

private slots:
    void everyBlockAnswered_data();
    void everyBlockAnswered();
    void writesReadBack();
    void partialFramesAndPipelining();
    void garbageDropsOnlyThatConnection_data();
    void garbageDropsOnlyThatConnection();
    void twoClientsAtOnce();
    void stateSurvivesProcessRestart();
    void restartDropsRefusesAndReturns();
    void identityOverrides();
    void silentAndFailAfter();
    void injectedException();
    void delayedAndSplitReplies();
    void lateReplyMissesTheTimeout();
    void badOptionsAndCleanExit();
};

void TstSimTcp::everyBlockAnswered_data()
{
    QTest::addColumn<int>("unit");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("count");
    QTest::newRow("network addresses") << 20 << 7 << 12;
    QTest::newRow("product block") << 19 << 20 << 8;
    QTest::newRow("configuration lock") << 19 << 32 << 1;
    QTest::newRow("g50 address") << 20 << 19 << 4;
    QTest::newRow("device object id") << 22 << 0 << 3;
    QTest::newRow("device object name") << 22 << 3 << 11;
    QTest::newRow("bacnet options") << 21 << 4 << 7;
    QTest::newRow("status block") << 21 << 0 << 40;
    QTest::newRow("first object name") << 26 << 0 << 10;
    QTest::newRow("last object name") << 26 << 990 << 10;
}

void TstSimTcp::everyBlockAnswered()
{
    QFETCH(int, unit);
    QFETCH(int, start);
    QFETCH(int, count);
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--no-animate")}));
    RawClient client;
    QVERIFY(client.connectTo(sim.port()));
    QByteArray request = hex("6b");
    request.append(char(start >> 8)).append(char(start & 0xFF)).append('\0').append(char(count));
    const QByteArray reply = client.exchange(quint8(unit), request);
    QCOMPARE(reply.size(), 2 + 2 * count);
    QCOMPARE(quint8(reply[1]), quint8(2 * count));
}

void TstSimTcp::writesReadBack()
{
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--no-animate")}));
    RawClient client;
    QVERIFY(client.connectTo(sim.port()));
    QCOMPARE(client.exchange(20, hex("6d0013000408 00c0 0000 0002 004d"), 7), hex("6d00130004"));
    QCOMPARE(client.exchange(20, hex("6b00130004"), 8), hex("6b08 00c0 0000 0002 004d"));
    QCOMPARE(client.exchange(19, hex("670020efdc"), 9), hex("670020efdc"));
    QCOMPARE(client.exchange(19, hex("6b00200001"), 10), hex("6b02efdc"));
}

void TstSimTcp::partialFramesAndPipelining()
{
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--no-animate")}));
    RawClient client;
    QVERIFY(client.connectTo(sim.port()));
    const QByteArray first = mbap(0x0101, 19, ReadIdentity);
    const QByteArray second = mbap(0x0202, 19, ReadIdentity);
    // Half a frame, a pause, the rest together with a whole second frame.
    client.send(first.left(4));
    QTest::qWait(50);
    client.send(first.mid(4) + second);
    QCOMPARE(client.receive(13), hex("010100000007136b0414350086"));
    QCOMPARE(client.receive(13), hex("020200000007136b0414350086"));
}

void TstSimTcp::garbageDropsOnlyThatConnection_data()
{
    QTest::addColumn<QByteArray>("garbage");
    QTest::newRow("protocol id not zero") << hex("000100010006136b00140002");
    QTest::newRow("length field zero") << hex("00010000000013");
    QTest::newRow("length field too large") << hex("0001000001001300");
}

void TstSimTcp::garbageDropsOnlyThatConnection()
{
    QFETCH(QByteArray, garbage);
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--no-animate")}));
    RawClient bad;
    QVERIFY(bad.connectTo(sim.port()));
    bad.send(garbage);
    QVERIFY(bad.waitForClosed(3000));

    RawClient midFrame;
    QVERIFY(midFrame.connectTo(sim.port()));
    midFrame.send(mbap(1, 19, ReadIdentity).left(9)); // then goes away mid-frame
    midFrame.waitForClosed(50);

    RawClient good;
    QVERIFY(good.connectTo(sim.port()));
    QCOMPARE(good.exchange(19, ReadIdentity), IdentityReply);
}

void TstSimTcp::twoClientsAtOnce()
{
    SimProcess sim;
    QVERIFY(sim.start(
        {QStringLiteral("--no-animate"), QStringLiteral("--delay-ms"), QStringLiteral("300")}));
    RawClient a, b;
    QVERIFY(a.connectTo(sim.port()));
    QVERIFY(b.connectTo(sim.port()));
    QElapsedTimer clock;
    clock.start();
    a.send(mbap(1, 19, ReadIdentity));
    b.send(mbap(2, 19, ReadIdentity));
    QCOMPARE(a.receive(13).right(6), IdentityReply);
    QCOMPARE(b.receive(13).right(6), IdentityReply);
    // Both delays ran side by side: a blocking simulator would take 600 ms.
    QVERIFY2(clock.elapsed() < 550, qPrintable(QString::number(clock.elapsed())));
}

void TstSimTcp::stateSurvivesProcessRestart()
{
    QTemporaryDir dir;
    const QString state = dir.filePath(QStringLiteral("unit.json"));
    const QStringList args{QStringLiteral("--no-animate"), QStringLiteral("--state"), state};
    {
        SimProcess sim;
        QVERIFY(sim.start(args));
        RawClient client;
        QVERIFY(client.connectTo(sim.port()));
        QCOMPARE(client.exchange(22, hex("6d0000000306 0c04 0201 1170")), hex("6d00000003"));
    }
    SimProcess again;
    QVERIFY(again.start(args));
    RawClient client;
    QVERIFY(client.connectTo(again.port()));
    QCOMPARE(client.exchange(22, hex("6b00000003")), hex("6b06 0c04 0201 1170"));
}

void TstSimTcp::restartDropsRefusesAndReturns()
{
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--restart-ms"), QStringLiteral("1500")}));
    RawClient client;
    QVERIFY(client.connectTo(sim.port()));
    QCOMPARE(client.exchange(19, hex("67001d1bc5")), hex("67001d1bc5"));
    QVERIFY(client.waitForClosed(2000));

    RawClient refused;
    QVERIFY(!refused.connectTo(sim.port()));

    // Serving again within a bounded time, with the status animation started over.
    bool back = false;
    QElapsedTimer clock;
    clock.start();
    RawClient later;
    while (!back && clock.elapsed() < 5000) {
        back = later.connectTo(sim.port());
        if (!back)
            QTest::qWait(100);
    }
    QVERIFY(back);
    QVERIFY(clock.elapsed() >= 1000);
    QCOMPARE(later.exchange(21, hex("6b00030001")), hex("6b020000")); // G50 link not up yet
}

void TstSimTcp::identityOverrides()
{
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--product"), QStringLiteral("4242"),
                       QStringLiteral("--firmware"), QStringLiteral("120"),
                       QStringLiteral("--locked")}));
    RawClient client;
    QVERIFY(client.connectTo(sim.port()));
    QCOMPARE(client.exchange(19, ReadIdentity), hex("6b04 1092 0078"));
    QCOMPARE(client.exchange(19, hex("6b00200001")), hex("6b02efdc"));
}

void TstSimTcp::silentAndFailAfter()
{
    SimProcess silent;
    QVERIFY(silent.start({QStringLiteral("--silent")}));
    RawClient a;
    QVERIFY(a.connectTo(silent.port()));
    QVERIFY(a.exchange(19, ReadIdentity, 1, 500).isEmpty());

    SimProcess failing;
    QVERIFY(failing.start({QStringLiteral("--fail-after"), QStringLiteral("2")}));
    RawClient b;
    QVERIFY(b.connectTo(failing.port()));
    QCOMPARE(b.exchange(19, ReadIdentity, 1), IdentityReply);
    QCOMPARE(b.exchange(19, ReadIdentity, 2), IdentityReply);
    QVERIFY(b.exchange(19, ReadIdentity, 3, 500).isEmpty());
}

void TstSimTcp::injectedException()
{
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--exception"), QStringLiteral("20:7"),
                       QStringLiteral("--exception"), QStringLiteral("26:990")}));
    RawClient client;
    QVERIFY(client.connectTo(sim.port()));
    QCOMPARE(client.exchange(20, hex("6b0007000c")), hex("eb04"));
    QCOMPARE(client.exchange(26, hex("6b03de000a")), hex("eb04"));
    QCOMPARE(client.exchange(20, hex("6b00130001")).size(), 4);
}

void TstSimTcp::delayedAndSplitReplies()
{
    SimProcess sim;
    QVERIFY(sim.start(
        {QStringLiteral("--delay-ms"), QStringLiteral("400"), QStringLiteral("--split")}));
    RawClient client;
    QVERIFY(client.connectTo(sim.port()));
    QElapsedTimer clock;
    clock.start();
    client.send(mbap(5, 19, ReadIdentity));
    const QByteArray firstPiece = client.receive(6);
    QVERIFY(clock.elapsed() >= 390);
    QCOMPARE(firstPiece, hex("000500000007"));
    QCOMPARE(client.receive(7), hex("136b0414350086"));
    QVERIFY(client.reads() >= 2);
}

void TstSimTcp::lateReplyMissesTheTimeout()
{
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--late")}));
    RawClient client;
    QVERIFY(client.connectTo(sim.port()));
    // Nothing within a good part of the tool's 7 s timeout; the reply is queued, not lost.
    QVERIFY(client.exchange(19, ReadIdentity, 1, 1500).isEmpty());
}

void TstSimTcp::badOptionsAndCleanExit()
{
    for (const QStringList &args :
         {QStringList{QStringLiteral("--bogus")},
          QStringList{QStringLiteral("--listen"), QStringLiteral("nohost")},
          QStringList{QStringLiteral("--fail-after"), QStringLiteral("x")},
          QStringList{QStringLiteral("--exception"), QStringLiteral("20")}}) {
        QProcess process;
        process.start(SimProcess::simulatorPath(), args);
        QVERIFY(process.waitForFinished(5000));
        QCOMPARE(process.exitCode(), 64);
        QVERIFY(process.readAllStandardError().contains("Usage"));
    }
    SimProcess sim;
    QVERIFY(sim.start());
    sim.stop();
    QCOMPARE(sim.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TstSimTcp)
#include "tst_simtcp.moc"
