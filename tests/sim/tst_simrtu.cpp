// ravelin-sim over Modbus RTU on a pty: frames, CRC, resynchronisation, the
// RTU fault options and line-rate pacing, checked with hand-built frames.

#include "CraftedStream.h"
#include "PtyPair.h"
#include "RtuFrames.h"
#include "SimProcess.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QtTest>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

const QByteArray ReadNetwork = hex("146b0007000c9702"); // unit 20, registers 7 to 18
constexpr int ReadNetworkReplySize = 3 + 24 + 2;
const QByteArray NetworkReply =
    withRtuCrc(hex("146b18 00c0 0000 0002 000a 00c0 0000 0002 0001 00ff 00ff 00ff 0000"));

} // namespace

class TstSimRtu : public QObject
{
    Q_OBJECT

private slots:
    void answersGoodFrames();
    void ignoresWhatIsNotForIt_data();
    void ignoresWhatIsNotForIt();
    void resynchronises();
    void corruptCrcAndNoise();
    void splitReply();
    void lineRatePacing();
    void restartIgnoresRequests();
    void nonReadingPeerCostsNoCpu();
    void craftedStreamAnsweredPromptly();

private:
    bool startOn(SimProcess &sim, PtyPair &pty, const QStringList &extra = {})
    {
        return pty.isOpen() &&
               sim.startWith(QStringList{QStringLiteral("--serial"), pty.slavePath(),
                                         QStringLiteral("--no-animate")} +
                             extra);
    }
};

void TstSimRtu::answersGoodFrames()
{
    PtyPair pty;
    SimProcess sim;
    QVERIFY(startOn(sim, pty));
    QVERIFY(sim.output().contains(QStringLiteral("serving Modbus RTU on ") + pty.slavePath()));
    QVERIFY(pty.write(ReadNetwork));
    QCOMPARE(pty.read(ReadNetworkReplySize, 2000).toHex(' '), NetworkReply.toHex(' '));

    // A 12-register block write is 33 bytes and is echoed as start and count.
    QByteArray write = hex("146d0007000c18");
    for (int i = 0; i < 12; ++i)
        write.append('\0').append(char(i));
    write = withRtuCrc(write);
    QCOMPARE(write.size(), 33);
    QVERIFY(pty.write(write));
    QCOMPARE(pty.read(8, 2000), withRtuCrc(hex("146d0007000c")));
    QVERIFY(pty.write(withRtuCrc(hex("146b00070002"))));
    QCOMPARE(pty.read(9, 2000), withRtuCrc(hex("146b0400000001")));

    QVERIFY(pty.write(withRtuCrc(hex("136b003c0008")))); // outside the space
    QCOMPARE(pty.read(5, 2000), withRtuCrc(hex("13eb02")));
    // Frames whose length no function rule gives end at the line's silence
    // and are answered with their exception.
    QVERIFY(pty.write(withRtuCrc(hex("146d001300020200010002"))));
    QCOMPARE(pty.read(5, 2000), withRtuCrc(hex("14ed03")));
    QVERIFY(pty.write(withRtuCrc(hex("130300000001"))));
    QCOMPARE(pty.read(5, 2000), withRtuCrc(hex("138301")));
}

void TstSimRtu::ignoresWhatIsNotForIt_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("wrong crc") << hex("146b0007000c9703");
    QTest::newRow("another station") << withRtuCrc(hex("016b0007000c"));
}

void TstSimRtu::ignoresWhatIsNotForIt()
{
    QFETCH(QByteArray, frame);
    PtyPair pty;
    SimProcess sim;
    QVERIFY(startOn(sim, pty));
    QVERIFY(pty.write(frame));
    QVERIFY(pty.readFor(300).isEmpty());
    // and it still answers the next good frame
    QVERIFY(pty.write(ReadNetwork));
    QCOMPARE(pty.read(ReadNetworkReplySize, 2000), NetworkReply);
}

void TstSimRtu::resynchronises()
{
    PtyPair pty;
    SimProcess sim;
    QVERIFY(startOn(sim, pty));
    // Garbage, then a frame cut short, then a silence: the partial frame is
    // dropped and the next request is answered.
    QVERIFY(pty.write(hex("00ff1455") + ReadNetwork.left(5)));
    QVERIFY(pty.readFor(200).isEmpty());
    QVERIFY(pty.write(ReadNetwork));
    QCOMPARE(pty.read(ReadNetworkReplySize, 2000), NetworkReply);
}

void TstSimRtu::corruptCrcAndNoise()
{
    PtyPair pty;
    SimProcess sim;
    QVERIFY(startOn(sim, pty, {QStringLiteral("--corrupt-crc"), QStringLiteral("--noise")}));
    QVERIFY(pty.write(ReadNetwork));
    const QByteArray reply = pty.read(3 + ReadNetworkReplySize, 2000);
    QCOMPARE(reply.size(), 3 + ReadNetworkReplySize);
    QVERIFY(reply.left(3) != NetworkReply.left(3)); // stray bytes first
    QCOMPARE(reply.mid(3, ReadNetworkReplySize - 2), NetworkReply.left(ReadNetworkReplySize - 2));
    QVERIFY(reply.right(2) != NetworkReply.right(2));
}

void TstSimRtu::splitReply()
{
    PtyPair pty;
    SimProcess sim;
    QVERIFY(startOn(sim, pty, {QStringLiteral("--split")}));
    QVERIFY(pty.write(ReadNetwork));
    QCOMPARE(pty.read(ReadNetworkReplySize, 2000), NetworkReply);
    QVERIFY(pty.lastReadCount() >= 2);
}

void TstSimRtu::lineRatePacing()
{
    PtyPair pty;
    SimProcess sim;
    QVERIFY(startOn(sim, pty, {QStringLiteral("--line-rate"), QStringLiteral("9600")}));
    // Ten reads of ten registers: 8 + 25 characters and a 3.5-character gap
    // on the line each, at 1.0417 ms per character: about 38 ms an exchange.
    constexpr int Exchanges = 10;
    const QByteArray request = withRtuCrc(hex("1a6b0000000a"));
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < Exchanges; ++i) {
        QVERIFY(pty.write(request));
        QCOMPARE(pty.read(25, 2000).size(), 25);
    }
    const double perExchange = double(clock.elapsed()) / Exchanges;
    qInfo("%.1f ms per exchange", perExchange);
    QVERIFY2(perExchange >= 36.0 && perExchange < 80.0, qPrintable(QString::number(perExchange)));
}

void TstSimRtu::restartIgnoresRequests()
{
    PtyPair pty;
    SimProcess sim;
    QVERIFY(startOn(sim, pty, {QStringLiteral("--restart-ms"), QStringLiteral("800")}));
    const QByteArray restart = withRtuCrc(hex("1367001d1bc5"));
    QVERIFY(pty.write(restart));
    QCOMPARE(pty.read(8, 2000), restart);
    QVERIFY(pty.write(ReadNetwork));
    QVERIFY(pty.readFor(300).isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(
        (pty.write(ReadNetwork), pty.read(ReadNetworkReplySize, 200) == NetworkReply), 4000);
}

namespace {

// One Modbus TCP read of the identity on a fresh loopback connection, within
// timeoutMs: true when the right reply came.
bool tcpIdentityServed(quint16 port, int timeoutMs)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(hex("000100000006136b00140002"));
    QByteArray reply;
    QElapsedTimer clock;
    clock.start();
    while (reply.size() < 13 &&
           socket.waitForReadyRead(int(std::max<qint64>(1, timeoutMs - clock.elapsed()))))
        reply += socket.readAll();
    return reply == hex("000100000007136b0414350086");
}

} // namespace

void TstSimRtu::nonReadingPeerCostsNoCpu()
{
    PtyPair pty;
    SimProcess sim;
    QVERIFY(startOn(sim, pty, {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")}));
    QVERIFY(sim.port() != 0);
    // Ready once the line is open too (it is opened after the TCP listener).
    QTRY_VERIFY_WITH_TIMEOUT(sim.output().contains(QStringLiteral("serving Modbus RTU on")), 5000);
    // 1000 requests for the largest block of names: 255 KB of replies, far
    // more than the pty holds, and the test reads none of them.
    const QByteArray readNames = withRtuCrc(hex("1a6b0000007d"));
    QByteArray requests;
    for (int i = 0; i < 1000; ++i)
        requests += readNames;
    QVERIFY(pty.write(requests));
    QTest::qWait(300); // the line fills up

    const double before = sim.cpuSeconds();
    QVERIFY(before >= 0);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 1500) {
        QVERIFY(tcpIdentityServed(sim.port(), 1000));
        QTest::qWait(100);
    }
    const double used = sim.cpuSeconds() - before;
    qInfo("%.2f s of processor time in %.2f s", used, double(clock.elapsed()) / 1000);
    QVERIFY2(used < 0.5, qPrintable(QString::number(used)));

    // Reading again, the peer gets whole replies and then service as before.
    QByteArray drained;
    for (QByteArray got = pty.readFor(300); !got.isEmpty(); got = pty.readFor(300))
        drained += got;
    QVERIFY(drained.size() >= 255);
    QCOMPARE(drained.size() % 255, 0);
    QCOMPARE(drained.left(255), withRtuCrc(hex("1a6bfa") + drained.mid(3, 250)));
    QVERIFY(pty.write(ReadNetwork));
    QCOMPARE(pty.read(ReadNetworkReplySize, 2000), NetworkReply);
}

void TstSimRtu::craftedStreamAnsweredPromptly()
{
    PtyPair pty;
    SimProcess sim;
    QVERIFY(startOn(sim, pty));
    const QList<QByteArray> stream = crafted::chunks(100 * 1024, 64);
    QElapsedTimer clock;
    clock.start();
    for (const QByteArray &chunk : stream)
        QVERIFY(pty.write(chunk));
    QVERIFY(pty.write(ReadNetwork));
    // The tail of the stream may be answered as an odd frame; the good
    // request's reply must follow within a bounded time.
    QByteArray got;
    while (!got.contains(NetworkReply) && clock.elapsed() < 5000)
        got += pty.read(ReadNetworkReplySize, 200);
    qInfo("answered after %lld ms", clock.elapsed());
    QVERIFY2(got.contains(NetworkReply), qPrintable(got.toHex()));
}

QTEST_GUILESS_MAIN(TstSimRtu)
#include "tst_simrtu.moc"
