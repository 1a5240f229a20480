// The Modbus RTU client and the facade's serial branch against a scripted
// peer on a pty: golden request frames, reply kinds, CRC checks, stray bytes,
// split replies and the closed component.

#include "ModBusPro.h"
#include "PtyPair.h"
#include "RegisterAccess.h"
#include "RtuPeer.h"
#include "RtuTestFrames.h"
#include "VeskComms.h"

#include <QtTest>

namespace {

constexpr std::uint16_t Untouched = 0xEEEE;

} // namespace

class TstModbusRtu : public QObject
{
    Q_OBJECT

private slots:
    void readReplies_data();
    void readReplies();
    void writeReplies_data();
    void writeReplies();
    void blockWriteFrame();
    void noReply();
    void requestsWaitForLineSilence();
    void countsBeyondTheBuffersAreRefused();
    void closedComponent();
    void facadeSerialBranch();
};

void TstModbusRtu::readReplies_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("stored");

    const QByteArray good = networkReply();
    QTest::newRow("good") << QList<QByteArray>{good} << 1 << true;
    QTest::newRow("split in three")
        << QList<QByteArray>{good.left(2), good.mid(2, 10), good.mid(12)} << 1 << true;
    QTest::newRow("stray bytes before") << QList<QByteArray>{hex("00ff13") + good} << 1 << true;
    // Noise holding the unit id, and stray bytes in the reply's own burst: the
    // whole reply with its CRC is there and is taken.
    QTest::newRow("noise with the unit id before")
        << QList<QByteArray>{hex("1499") + good} << 1 << true;
    QTest::newRow("stray bytes after") << QList<QByteArray>{good + hex("aabb")} << 1 << true;
    QTest::newRow("exception") << QList<QByteArray>{withCrc(hex("14eb02"))} << 2 << false;
    // A wrong CRC is no good reply: the values would otherwise read as zeros.
    QByteArray corrupt = good;
    corrupt[corrupt.size() - 1] = char(corrupt.at(corrupt.size() - 1) ^ 0x01);
    QTest::newRow("bad crc") << QList<QByteArray>{corrupt} << -1 << false;
    QByteArray flipped = good;
    flipped[5] = char(flipped.at(5) ^ 0x40);
    QTest::newRow("corrupt data") << QList<QByteArray>{flipped} << -1 << false;
    QTest::newRow("stray byte between id and code")
        << QList<QByteArray>{good.left(1) + hex("77") + good.mid(1)} << -1 << false;
    // The frame carries 12 registers, the byte count says otherwise.
    QTest::newRow("byte count 2") << QList<QByteArray>{networkReply(2)} << -1 << false;
    QTest::newRow("byte count 0") << QList<QByteArray>{networkReply(0)} << -1 << false;
    QTest::newRow("byte count 250") << QList<QByteArray>{networkReply(char(250))} << -1 << false;
    // Line noise shaped like an exception reply is no exception reply.
    QByteArray noise = withCrc(hex("14eb02"));
    noise[4] = char(noise.at(4) ^ 0x20);
    QTest::newRow("exception with a bad crc") << QList<QByteArray>{noise} << -1 << false;
    QTest::newRow("another unit's reply")
        << QList<QByteArray>{withCrc(hex("156b02000a"))} << 0 << false;
}

void TstModbusRtu::readReplies()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(bool, stored);
    Line line;
    QVERIFY(line.open());
    line.peer.script(ReadNetwork.size(), chunks);
    std::uint16_t values[13];
    std::fill(std::begin(values), std::end(values), Untouched);
    QTEST(int(RtuReadRegisters(line.comms, 20, 107, 7, 12, 5, values)), "result");
    QCOMPARE(line.peer.received.toHex(' '), ReadNetwork.toHex(' '));
    if (stored) {
        QCOMPARE(values[0], std::uint16_t(192));
        QCOMPARE(values[3], std::uint16_t(10));
        QCOMPARE(values[11], std::uint16_t(0));
    } else {
        QCOMPARE(values[0], Untouched);
    }
    QCOMPARE(values[12], Untouched); // never beyond count
}

void TstModbusRtu::writeReplies_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("result");

    const QByteArray echo = withCrc(hex("1367001d1bc5"));
    QTest::newRow("echo") << echo << 1;
    QTest::newRow("exception") << withCrc(hex("13e704")) << 2;
    QByteArray corrupt = echo;
    corrupt[7] = char(corrupt.at(7) ^ 0x10);
    QTest::newRow("bad crc") << corrupt << -1;
    QTest::newRow("too short") << echo.left(7) << 0;
    QTest::newRow("echo of another register") << withCrc(hex("1367001e1bc5")) << -1;
    QTest::newRow("echo of another value") << withCrc(hex("1367001d1bc4")) << -1;
    QByteArray noise = withCrc(hex("13e704"));
    noise[3] = char(noise.at(3) ^ 0x01);
    QTest::newRow("exception with a bad crc") << noise << -1;
}

void TstModbusRtu::writeReplies()
{
    QFETCH(QByteArray, reply);
    Line line;
    QVERIFY(line.open());
    const QByteArray request = withCrc(hex("1367001d1bc5"));
    line.peer.script(request.size(), {reply});
    QTEST(int(RtuWriteRegister(line.comms, 19, 103, 29, 7109, 3)), "result");
    QCOMPARE(line.peer.received.toHex(' '), request.toHex(' '));
}

void TstModbusRtu::blockWriteFrame()
{
    Line line;
    QVERIFY(line.open());
    std::uint16_t values[12];
    QByteArray expected = hex("146d0007000c18");
    for (int i = 0; i < 12; ++i) {
        values[i] = std::uint16_t(0x0100 * i + 0xA0 + i);
        expected.append(char(values[i] >> 8)).append(char(values[i] & 0xFF));
    }
    expected = withCrc(expected);
    QCOMPARE(expected.size(), 33);
    line.peer.script(33, {withCrc(hex("146d0007000c"))});
    QCOMPARE(RtuWriteRegisters(line.comms, 20, 109, 7, 12, values, 5), ResultGood);
    QCOMPARE(line.peer.received.toHex(' '), expected.toHex(' '));
    // Only the echo of start and count confirms a block write.
    for (const char *echo : {"146d0008000c", "146d0007000b"}) {
        line.peer.received.clear();
        line.peer.script(33, {withCrc(hex(echo))});
        QCOMPARE(RtuWriteRegisters(line.comms, 20, 109, 7, 12, values, 5), ResultFailure);
    }
}

void TstModbusRtu::noReply()
{
    Line line;
    QVERIFY(line.open());
    std::uint16_t value = Untouched;
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(RtuReadRegisters(line.comms, 19, 107, 20, 1, 2, &value), ResultNoReply);
    QVERIFY(clock.elapsed() >= 280 && clock.elapsed() < 1000);
    QCOMPARE(value, Untouched);
    // A late reply is dropped at the next send and does not disturb it.
    QVERIFY(line.pty.write(withCrc(hex("136b021435"))));
    QTest::qWait(50);
    line.peer.script(8, {withCrc(hex("136b020086"))});
    QCOMPARE(RtuReadRegisters(line.comms, 19, 107, 21, 1, 5, &value), ResultGood);
    QCOMPARE(value, std::uint16_t(134));
}

void TstModbusRtu::requestsWaitForLineSilence()
{
    // The peer stamps a reply just before writing it, so no earlier than the
    // component could have received its last byte, and stamps a request once
    // its read has returned, so no earlier than the component wrote it. Every
    // delay of the pty and the scheduler therefore lies inside the gap the
    // peer measures: a gap can only look longer than the component's wait,
    // never shorter, and the silence must show in full in the smallest one.
    Line line;
    QVERIFY(line.open());
    constexpr int Exchanges = 6;
    std::uint16_t values[12];
    for (int i = 0; i < Exchanges; ++i) {
        line.peer.script(int(ReadNetwork.size()) * (i + 1), {networkReply()});
        QCOMPARE(RtuReadRegisters(line.comms, 20, 107, 7, 12, 5, values), ResultGood);
    }
    const auto &ended = line.peer.replyEnded;
    const auto &began = line.peer.requestBegan;
    QCOMPARE(int(ended.size()), Exchanges);
    QCOMPARE(int(began.size()), Exchanges);
    std::chrono::nanoseconds smallest = std::chrono::nanoseconds::max();
    for (int i = 1; i < Exchanges; ++i)
        smallest = std::min(smallest, std::chrono::nanoseconds(began[i] - ended[i - 1]));
    // 3.5 characters of 10 bits at 9600 baud.
    const std::chrono::nanoseconds silence(3'645'833);
    QVERIFY2(smallest >= silence,
             qPrintable(QString("smallest gap %1 us").arg(smallest.count() / 1000)));
}

void TstModbusRtu::countsBeyondTheBuffersAreRefused()
{
    Line line;
    QVERIFY(line.open());
    std::uint16_t values[100] = {};
    QCOMPARE(RtuReadRegisters(line.comms, 19, 107, 0, 98, 5, values), ResultFailure);
    QCOMPARE(RtuReadRegisters(line.comms, 19, 107, 0, 0, 5, values), ResultFailure);
    QCOMPARE(RtuWriteRegisters(line.comms, 19, 109, 0, 21, values, 5), ResultFailure);
    QCOMPARE(RtuWriteRegisters(line.comms, 19, 109, 0, 0, values, 5), ResultFailure);
    QVERIFY(line.pty.readFor(100).isEmpty()); // nothing was sent
    // The largest read still fits the 200-byte receive buffer: 5 + 2 x 97.
    QByteArray reply = hex("1a6bc2");
    for (int i = 0; i < 97; ++i)
        reply.append('\0').append(char(i));
    line.peer.script(8, {withCrc(reply)});
    QCOMPARE(RtuReadRegisters(line.comms, 26, 107, 0, 97, 5, values), ResultGood);
    QCOMPARE(values[96], std::uint16_t(96));
}

void TstModbusRtu::closedComponent()
{
    TVeskComms never;
    std::uint16_t value = Untouched;
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(RtuReadRegisters(never, 19, 107, 20, 1, 50, &value), ResultFailure);
    QCOMPARE(RtuWriteRegister(never, 19, 103, 29, 1, 50), ResultFailure);
    QVERIFY(clock.elapsed() < 1000);

    Line line;
    QVERIFY(line.open());
    line.comms.ClosePort();
    QCOMPARE(RtuWriteRegister(line.comms, 19, 103, 29, 1, 50), ResultFailure);
    line.comms.ClosePort();
    QCOMPARE(RtuReadRegisters(line.comms, 19, 107, 20, 1, 50, &value), ResultClosedTwice);
    QCOMPARE(value, Untouched);
}

void TstModbusRtu::facadeSerialBranch()
{
    RegisterAccess access;
    std::uint16_t values[12] = {};
    QCOMPARE(access.ReadRegisters(20, 107, 7, 12, values), ResultFailure); // no component

    Line line;
    QVERIFY(line.open());
    access.useSerial(line.comms);
    line.peer.script(ReadNetwork.size(), {networkReply()});
    QCOMPARE(access.ReadRegisters(NetworkUnitId, FnReadBlock, 7, 12, values), ResultGood);
    QCOMPARE(values[1], std::uint16_t(168));
    QCOMPARE(access.ReadRegisters(300, FnReadBlock, 7, 12, values), ResultFailure);
    // The facade's timeout reaches the client.
    access.rtuTimeout = 1;
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(access.WriteRegister(SystemUnitId, FnWriteWord, 29, 7109), ResultNoReply);
    QVERIFY(clock.elapsed() < 1000);
}

QTEST_GUILESS_MAIN(TstModbusRtu)
#include "tst_modbusrtu.moc"
