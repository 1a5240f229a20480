// Modbus TCP register operations judged byte for byte against a scripted peer:
// request frames, every rejection rule, the transaction counter, and the
// handling of late, split and short replies.

#include "ModBusTCPPro.h"
#include "ScriptedStream.h"

#include <QtTest>

#include <stdexcept>

using Bytes = ScriptedStream::Bytes;
Q_DECLARE_METATYPE(Bytes)

namespace {

Bytes hex(const char *text)
{
    const QByteArray raw = QByteArray::fromHex(QByteArray(text).replace(' ', ""));
    return Bytes(raw.begin(), raw.end());
}

// A good read reply of `count` registers holding 0x0100 + i, for transaction t.
Bytes readReply(std::uint16_t t, std::uint8_t unit, std::uint8_t fn, int count,
                int lengthField = -1, int byteCount = -1)
{
    Bytes b{std::uint8_t(t >> 8), std::uint8_t(t), 0, 0};
    const int len = lengthField < 0 ? 2 * count + 3 : lengthField;
    b.push_back(std::uint8_t(len >> 8));
    b.push_back(std::uint8_t(len));
    b.push_back(unit);
    b.push_back(fn);
    b.push_back(std::uint8_t(byteCount < 0 ? 2 * count : byteCount));
    for (int i = 0; i < count; ++i) {
        b.push_back(1);
        b.push_back(std::uint8_t(i));
    }
    return b;
}

// A stream whose send fails loudly, as a platform error escaping the exchange.
// A scripted peer whose stream's transaction counter starts at 0x1234.
class Stream : public ScriptedStream
{
public:
    Stream() { TransactionId = 0x1234; }
};

class ThrowingStream : public Stream
{
public:
    bool send(const std::uint8_t *, std::size_t) override { throw std::runtime_error("send"); }
};

} // namespace

class TestModbusTcp : public QObject
{
    Q_OBJECT

private slots:
    void requestFrames();
    void readReplyJudging_data();
    void readReplyJudging();
    void writeReplyJudging_data();
    void writeReplyJudging();
    void noReplyWaitsTheTimeoutAndAdvancesTheCounter();
    void counterWrapsAndEveryOutcomeAdvancesIt();
    void countersArePerClient();
    void counterAdvancesWhenAnErrorEscapes();
    void lateReplyIsDiscardedBeforeTheNextRequest();
    void splitReplyIsGathered();
    void shortReplyFailsWithoutReadingPastIt();
    void countsBeyondTheBuffersAreRefused();
    void byteCountMustBeTheCountAskedFor_data();
    void byteCountMustBeTheCountAskedFor();
    void parseIPAddress_data();
    void parseIPAddress();
};

void TestModbusTcp::requestFrames()
{
    Stream s;
    std::uint16_t values[12] = {};
    TcpReadRegisters(s, 20, 107, 7, 12, 1, values);
    QCOMPARE(s.sent, hex("1234 0000 0006 14 6B 0007 000C"));

    s.sent.clear();
    TcpWriteRegister(s, 19, 103, 29, 7109, 1);
    QCOMPARE(s.sent, hex("1235 0000 0006 13 67 001D 1BC5"));

    s.sent.clear();
    const std::uint16_t block[3] = {3076, 575, 65534};
    TcpWriteRegisters(s, 22, 109, 0, 3, block, 1);
    QCOMPARE(s.sent, hex("1236 0000 000D 16 6D 0000 0003 06 0C04 023F FFFE"));

    // A 12-register block write: 13 + 24 bytes, length field 2n + 7 = 31.
    s.sent.clear();
    std::uint16_t twelve[12];
    for (int i = 0; i < 12; ++i)
        twelve[i] = std::uint16_t(i);
    TcpWriteRegisters(s, 20, 109, 7, 12, twelve, 1);
    QCOMPARE(int(s.sent.size()), 37);
    QCOMPARE(int(s.sent[5]), 31);
    QCOMPARE(int(s.sent[12]), 24);
    QCOMPARE(int(s.sent[35]), 0);
    QCOMPARE(int(s.sent[36]), 11);

    // Unit ids are sent as their low byte.
    s.sent.clear();
    TcpReadRegisters(s, 0x113, 107, 0, 1, 1, values);
    QCOMPARE(int(s.sent[6]), 0x13);
}

void TestModbusTcp::readReplyJudging_data()
{
    QTest::addColumn<Bytes>("reply");
    QTest::addColumn<int>("unit");
    QTest::addColumn<int>("expected");

    const std::uint16_t t = 0x1234;
    QTest::newRow("good, length field 27") << readReply(t, 20, 107, 12) << 20 << 1;
    QTest::newRow("length field 26") << readReply(t, 20, 107, 12, 26) << 20 << -1;
    QTest::newRow("length field 28") << readReply(t, 20, 107, 12, 28) << 20 << -1;
    QTest::newRow("older transaction") << readReply(t - 1, 20, 107, 12) << 20 << -1;
    Bytes protocol = readReply(t, 20, 107, 12);
    protocol[3] = 1;
    QTest::newRow("protocol id 1") << protocol << 20 << -1;
    QTest::newRow("other unit id") << readReply(t, 21, 107, 12) << 20 << -1;
    QTest::newRow("unit id above 255 never matches") << readReply(t, 19, 107, 12) << 0x113 << -1;
    QTest::newRow("other function") << readReply(t, 20, 109, 12) << 20 << -1;
    QTest::newRow("exception 235") << hex("1234 0000 0003 14 EB 02") << 20 << 2;
    QTest::newRow("exception, any length field") << hex("1234 0000 0063 14 EB 02") << 20 << 2;
    QTest::newRow("exception without its code") << hex("1234 0000 0003 14 EB") << 20 << 2;
    QTest::newRow("exception of another unit") << hex("1234 0000 0003 15 EB 02") << 20 << -1;
    QTest::newRow("seven bytes") << hex("1234 0000 0006 14") << 20 << -1;
    QTest::newRow("one byte") << hex("12") << 20 << -1;
}

void TestModbusTcp::readReplyJudging()
{
    QFETCH(Bytes, reply);
    QFETCH(int, unit);
    QFETCH(int, expected);

    Stream s;
    s.queue(reply);
    std::uint16_t values[12];
    std::fill(std::begin(values), std::end(values), 0xDEAD);
    QCOMPARE(int(TcpReadRegisters(s, unit, 107, 7, 12, 5, values)), expected);
    QCOMPARE(s.TransactionId, std::uint16_t(0x1235));
    for (int i = 0; i < 12; ++i)
        QCOMPARE(values[i], expected == 1 ? std::uint16_t(0x0100 + i) : std::uint16_t(0xDEAD));
}

void TestModbusTcp::writeReplyJudging_data()
{
    QTest::addColumn<bool>("block"); // write of registers 29 and 30, else 7109 to register 29
    QTest::addColumn<Bytes>("reply");
    QTest::addColumn<int>("expected");

    QTest::newRow("one: echo") << false << hex("1234 0000 0006 13 67 001D 1BC5") << 1;
    QTest::newRow("one: echo of another register")
        << false << hex("1234 0000 0006 13 67 001E 1BC5") << -1;
    QTest::newRow("one: echo of another value")
        << false << hex("1234 0000 0006 13 67 001D 1BC4") << -1;
    QTest::newRow("one: length field 5") << false << hex("1234 0000 0005 13 67 001D 1BC5") << -1;
    QTest::newRow("one: exception") << false << hex("1234 0000 0003 13 E7 04") << 2;
    QTest::newRow("one: read reply to a write")
        << false << hex("1234 0000 0006 13 6B 001D 1BC5") << -1;
    QTest::newRow("block: echo") << true << hex("1234 0000 0006 13 6D 001D 0002") << 1;
    QTest::newRow("block: echo of another start")
        << true << hex("1234 0000 0006 13 6D 001C 0002") << -1;
    QTest::newRow("block: echo of another count")
        << true << hex("1234 0000 0006 13 6D 001D 0001") << -1;
    QTest::newRow("block: length field 5") << true << hex("1234 0000 0005 13 6D 001D 0002") << -1;
    QTest::newRow("block: exception") << true << hex("1234 0000 0003 13 ED 04") << 2;
}

void TestModbusTcp::writeReplyJudging()
{
    QFETCH(bool, block);
    QFETCH(Bytes, reply);
    QFETCH(int, expected);

    Stream s;
    s.queue(reply);
    const std::uint16_t values[2] = {1, 2};
    if (block)
        QCOMPARE(int(TcpWriteRegisters(s, 19, 109, 29, 2, values, 5)), expected);
    else
        QCOMPARE(int(TcpWriteRegister(s, 19, 103, 29, 7109, 5)), expected);
    QCOMPARE(s.TransactionId, std::uint16_t(0x1235));
}

void TestModbusTcp::noReplyWaitsTheTimeoutAndAdvancesTheCounter()
{
    Stream s;
    std::uint16_t values[2] = {7, 7};
    QCOMPARE(TcpReadRegisters(s, 19, 107, 20, 2, 70, values), ResultNoReply);
    QCOMPARE(s.lastWaitMs, 7000);
    QCOMPARE(s.TransactionId, std::uint16_t(0x1235));
    QCOMPARE(values[0], std::uint16_t(7));

    s.open = false; // a closed connection is "no reply" too
    QCOMPARE(TcpWriteRegister(s, 19, 103, 29, 1, 70), ResultNoReply);
}

void TestModbusTcp::counterWrapsAndEveryOutcomeAdvancesIt()
{
    ScriptedStream s;
    s.TransactionId = 0xFFFF;
    s.queue(hex("FFFF 0000 0006 13 67 001D 1BC5"));
    QCOMPARE(TcpWriteRegister(s, 19, 103, 29, 7109, 1), ResultGood);
    QCOMPARE(int(s.sent[0]), 0xFF);
    QCOMPARE(int(s.sent[1]), 0xFF);
    QCOMPARE(s.TransactionId, std::uint16_t(0));

    // Two timeouts, then a good exchange: consecutive ids on the wire.
    ScriptedStream t;
    std::uint16_t v[1];
    TcpReadRegisters(t, 19, 107, 20, 1, 1, v);
    TcpReadRegisters(t, 19, 107, 20, 1, 1, v);
    t.queue(readReply(2, 19, 107, 1));
    QCOMPARE(TcpReadRegisters(t, 19, 107, 20, 1, 1, v), ResultGood);
    QCOMPARE(t.sent.size(), std::size_t(36));
    QCOMPARE(int(t.sent[1]), 0);
    QCOMPARE(int(t.sent[13]), 1);
    QCOMPARE(int(t.sent[25]), 2);
}

void TestModbusTcp::countersArePerClient()
{
    // Two clients, as the site survey's threads hold: each exchange carries
    // its own client's id and moves only that client's counter, whatever
    // the outcome.
    ScriptedStream a;
    ScriptedStream b;
    a.TransactionId = 10;
    b.TransactionId = 500;
    std::uint16_t v[1];
    a.queue(readReply(10, 19, 107, 1));
    QCOMPARE(TcpReadRegisters(a, 19, 107, 20, 1, 1, v), ResultGood);
    QCOMPARE(TcpReadRegisters(b, 19, 107, 20, 1, 1, v), ResultNoReply);
    b.queue(readReply(501, 19, 107, 1));
    QCOMPARE(TcpReadRegisters(b, 19, 107, 20, 1, 1, v), ResultGood);
    a.queue(readReply(11, 19, 107, 1));
    QCOMPARE(TcpReadRegisters(a, 19, 107, 20, 1, 1, v), ResultGood);
    QCOMPARE(a.TransactionId, std::uint16_t(12));
    QCOMPARE(b.TransactionId, std::uint16_t(502));
    QCOMPARE(int(a.sent[12 + 1]), 11);
    QCOMPARE(int(b.sent[12]), 501 >> 8);
    QCOMPARE(int(b.sent[12 + 1]), 501 & 0xFF);
}

void TestModbusTcp::counterAdvancesWhenAnErrorEscapes()
{
    ThrowingStream s;
    std::uint16_t v[1];
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, TcpReadRegisters(s, 19, 107, 20, 1, 1, v));
    QCOMPARE(s.TransactionId, std::uint16_t(0x1235));
}

void TestModbusTcp::lateReplyIsDiscardedBeforeTheNextRequest()
{
    // The reply to an exchange that already gave up sits unread in the socket;
    // it must not be taken for the next exchange's reply.
    Stream s;
    s.pending = readReply(0x1233, 19, 107, 2);
    s.queue(readReply(0x1234, 19, 107, 2));
    std::uint16_t v[2] = {};
    QCOMPARE(TcpReadRegisters(s, 19, 107, 20, 2, 1, v), ResultGood);
    QCOMPARE(s.discardedBytes, 13);
    QCOMPARE(v[1], std::uint16_t(0x0101));

    // A stale id that arrives during the exchange is still refused.
    Stream during;
    during.TransactionId = s.TransactionId;
    during.queue(readReply(0x1234, 19, 107, 2));
    QCOMPARE(TcpReadRegisters(during, 19, 107, 20, 2, 1, v), ResultFailure);
}

void TestModbusTcp::splitReplyIsGathered()
{
    const Bytes whole = readReply(0x1234, 20, 107, 12);
    for (std::size_t cut : {std::size_t(1), std::size_t(7), std::size_t(8), std::size_t(20)}) {
        Stream s;
        s.queue(Bytes(whole.begin(), whole.begin() + long(cut)));
        s.queue(Bytes(whole.begin() + long(cut), whole.end()));
        std::uint16_t v[12] = {};
        QCOMPARE(TcpReadRegisters(s, 20, 107, 7, 12, 5, v), ResultGood);
        QCOMPARE(v[11], std::uint16_t(0x010B));
    }
}

void TestModbusTcp::shortReplyFailsWithoutReadingPastIt()
{
    // Header and length field promise 12 registers, only 5 arrive.
    Bytes whole = readReply(0x1234, 20, 107, 12);
    whole.resize(9 + 10);
    Stream s;
    s.queue(whole);
    std::uint16_t v[12];
    std::fill(std::begin(v), std::end(v), 0xDEAD);
    QCOMPARE(TcpReadRegisters(s, 20, 107, 7, 12, 5, v), ResultFailure);
    QCOMPARE(v[0], std::uint16_t(0xDEAD));
}

void TestModbusTcp::countsBeyondTheBuffersAreRefused()
{
    Stream s;
    std::vector<std::uint16_t> v(200, 0);
    QCOMPARE(TcpReadRegisters(s, 21, 107, 0, TcpMaxReadCount + 1, 1, v.data()), ResultFailure);
    QCOMPARE(TcpWriteRegisters(s, 21, 109, 0, TcpMaxWriteCount + 1, v.data(), 1), ResultFailure);
    QVERIFY(s.sent.empty());
    QCOMPARE(s.TransactionId, std::uint16_t(0x1236));

    // The largest counts that fit are sent.
    TcpReadRegisters(s, 21, 107, 0, TcpMaxReadCount, 1, v.data());
    TcpWriteRegisters(s, 21, 109, 0, TcpMaxWriteCount, v.data(), 1);
    QCOMPARE(s.sent.size(), std::size_t(12 + 13 + 2 * TcpMaxWriteCount));
}

void TestModbusTcp::byteCountMustBeTheCountAskedFor_data()
{
    // Length field and frame are those of 12 registers; only the byte count varies.
    QTest::addColumn<int>("byteCount");
    QTest::addColumn<int>("expected");
    QTest::newRow("B 24") << 24 << 1;
    QTest::newRow("B 0") << 0 << -1;
    QTest::newRow("B 2") << 2 << -1;
    QTest::newRow("B 23") << 23 << -1;
    QTest::newRow("B 26") << 26 << -1;
    QTest::newRow("B 250") << 250 << -1;
}

void TestModbusTcp::byteCountMustBeTheCountAskedFor()
{
    QFETCH(int, byteCount);
    QFETCH(int, expected);
    Stream s;
    s.queue(readReply(0x1234, 20, 107, 12, -1, byteCount));
    std::uint16_t v[13];
    std::fill(std::begin(v), std::end(v), 0xDEAD);
    QCOMPARE(int(TcpReadRegisters(s, 20, 107, 7, 12, 5, v)), expected);
    for (int i = 0; i < 13; ++i)
        QCOMPARE(v[i], expected == 1 && i < 12 ? std::uint16_t(0x0100 + i) : std::uint16_t(0xDEAD));
}

void TestModbusTcp::parseIPAddress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QList<int>>("octets");

    QTest::newRow("plain") << "192.168.1.1" << true << QList<int>{192, 168, 1, 1};
    QTest::newRow("leading spaces") << "  10.0.0.1" << true << QList<int>{10, 0, 0, 1};
    QTest::newRow("space after a dot") << "1. 2.3.4" << true << QList<int>{1, 2, 3, 4};
    QTest::newRow("zeros") << "0.0.0.0" << true << QList<int>{0, 0, 0, 0};
    QTest::newRow("leading zeros") << "010.001.000.255" << true << QList<int>{10, 1, 0, 255};
    QTest::newRow("six characters") << "1.2.34" << false << QList<int>{};
    QTest::newRow("two-digit last part") << "1.2.3.45" << true << QList<int>{1, 2, 3, 45};
    QTest::newRow("missing part") << "11.22.33" << false << QList<int>{};
    QTest::newRow("five characters") << "1.2.3" << false << QList<int>{};
    QTest::newRow("octet 256") << "1.2.3.256" << false << QList<int>{};
    QTest::newRow("octet 300 in the middle") << "10.0.300.1" << false << QList<int>{};
    QTest::newRow("five parts") << "1.2.3.4.5" << false << QList<int>{};
    QTest::newRow("trailing space") << "1.2.3.4 " << false << QList<int>{};
    QTest::newRow("space between digits") << "1.2.3 3.4" << false << QList<int>{};
    QTest::newRow("empty part") << "1..2.3" << false << QList<int>{};
    QTest::newRow("blank part") << "1.  .2.3" << false << QList<int>{};
    QTest::newRow("letter") << "1.2.3.x" << false << QList<int>{};
    QTest::newRow("sign") << "1.2.3.+4" << false << QList<int>{};
    QTest::newRow("huge part") << "1.2.3.99999999999999999999" << false << QList<int>{};
    QTest::newRow("non-ascii digit")
        << QString::fromUtf8("1.2.3.\xd9\xa4") << false << QList<int>{};
}

void TestModbusTcp::parseIPAddress()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(QList<int>, octets);
    int parsed[4] = {-7, -7, -7, -7};
    QCOMPARE(ParseIPAddress(text, parsed), valid);
    if (valid)
        QCOMPARE((QList<int>{parsed[0], parsed[1], parsed[2], parsed[3]}), octets);
}

QTEST_GUILESS_MAIN(TestModbusTcp)
#include "tst_modbustcp.moc"
