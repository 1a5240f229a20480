// The frame tap over Modbus TCP against a scripted peer: every verdict the
// client can reach recorded with exactly the bytes that arrived, discarded
// bytes, the ring's bound, and nothing done (nor allocated) without a tap.

#include "FrameFormat.h"
#include "FrameLog.h"
#include "ModBusTCPPro.h"
#include "RegisterAccess.h"
#include "ScriptedStream.h"

#include <QRegularExpression>
#include <QtTest>

#include <atomic>
#include <cstdlib>
#include <new>
#include <stdexcept>

// Counts every allocation of the test process, to show that an exchange
// allocates nothing without a tap, nor with a ring that has filled.
namespace {
std::atomic<long> allocations{0};
}

void *operator new(std::size_t size)
{
    ++allocations;
    if (void *p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void *p) noexcept
{
    std::free(p);
}
void operator delete(void *p, std::size_t) noexcept
{
    std::free(p);
}

using Bytes = ScriptedStream::Bytes;
Q_DECLARE_METATYPE(Bytes)
Q_DECLARE_METATYPE(FrameOutcome)

namespace {

Bytes hex(const char *text)
{
    const QByteArray raw = QByteArray::fromHex(QByteArray(text));
    return Bytes(raw.begin(), raw.end());
}

// A log that keeps every record it is given, for inspection.
class KeepAll : public FrameRecorder
{
public:
    std::vector<FrameRecord> records;
    const FrameRecord &rx() const
    {
        for (const FrameRecord &r : records)
            if (r.direction == FrameDirection::Rx)
                return r;
        throw std::logic_error("no reply record");
    }

protected:
    void record(const FrameRecord &r) override { records.push_back(r); }
};

// A peer that closes the connection once data has been announced.
class ClosingStream : public ScriptedStream
{
public:
    bool waitForData(int) override { return true; }
    int receive(std::uint8_t *, int) override { return 0; }
};

// A scripted peer whose stream's transaction counter starts at 0x1234.
class Stream : public ScriptedStream
{
public:
    Stream() { TransactionId = 0x1234; }
};

// Answers every read with a good reply from a fixed buffer: exchanges over it
// allocate nothing of their own.
class ReadPeer : public TcpStream
{
public:
    bool send(const std::uint8_t *data, std::size_t) override
    {
        const int count = data[11];
        std::memcpy(m_reply, data, 8);
        m_reply[4] = 0;
        m_reply[5] = std::uint8_t(2 * count + 3);
        m_reply[8] = std::uint8_t(2 * count);
        std::memset(m_reply + 9, 0x11, std::size_t(2 * count));
        m_length = 9 + 2 * count;
        m_at = 0;
        return true;
    }
    bool waitForData(int) override { return m_at < m_length; }
    int receive(std::uint8_t *buffer, int maxLength) override
    {
        const int n = std::min(maxLength, m_length - m_at);
        std::memcpy(buffer, m_reply + m_at, std::size_t(n));
        m_at += n;
        return n;
    }
    std::size_t discardPending(std::uint8_t *, std::size_t) override { return 0; }

private:
    std::uint8_t m_reply[256] = {};
    int m_length = 0;
    int m_at = 0;
};

FrameExchange syntheticExchange(const std::uint8_t *request, const std::uint8_t *reply)
{
    FrameExchange x;
    x.request = request;
    x.requestLength = 12;
    x.reply = reply;
    x.replyLength = 13;
    x.replyAt = 0;
    x.outcome = FrameOutcome::Good;
    x.sent = std::chrono::system_clock::now();
    return x;
}

} // namespace

class TestFrameTap : public QObject
{
    Q_OBJECT

private slots:
    void tcpVerdicts_data();
    void tcpVerdicts();
    void requestsDecodedByKind();
    void discardedBytesBeforeTheRequest();
    void facadeReportsToItsTapAcrossTransports();
    void nothingAllocatedWithoutATapNorOnceTheRingIsFull();
    void ringKeepsTheNewest();
    void lineFormRoundTrips();
    void longNoiseIsCutNotOverread();
};

void TestFrameTap::tcpVerdicts_data()
{
    QTest::addColumn<QList<Bytes>>("chunks");
    QTest::addColumn<int>("result");
    QTest::addColumn<FrameOutcome>("outcome");
    QTest::addColumn<int>("replyLength");
    QTest::addColumn<int>("function");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("exception");

    // Every row answers a read of 2 registers from 20 at unit 19, function
    // 107, transaction 0x1234.
    const Bytes good = hex("123400000007136b0401000101");
    QTest::newRow("good") << QList<Bytes>{good} << 1 << FrameOutcome::Good << 13 << 107 << 2 << -1;
    QTest::newRow("exception") << QList<Bytes>{hex("12340000000313eb02")} << 2
                               << FrameOutcome::Exception << 9 << 235 << -1 << 2;
    QTest::newRow("exception code in a later segment")
        << QList<Bytes>{hex("12340000000313eb"), hex("04")} << 2 << FrameOutcome::Exception << 9
        << 235 << -1 << 4;
    QTest::newRow("no reply") << QList<Bytes>{} << 0 << FrameOutcome::NoReply << 0 << -1 << -1
                              << -1;
    QTest::newRow("wrong transaction") << QList<Bytes>{hex("123300000007136b0401000101")} << -1
                                       << FrameOutcome::WrongTransaction << 13 << 107 << 2 << -1;
    QTest::newRow("wrong protocol") << QList<Bytes>{hex("123400010007136b0401000101")} << -1
                                    << FrameOutcome::WrongProtocol << 13 << 107 << 2 << -1;
    QTest::newRow("wrong unit") << QList<Bytes>{hex("123400000007146b0401000101")} << -1
                                << FrameOutcome::WrongUnit << 13 << 107 << 2 << -1;
    QTest::newRow("wrong function") << QList<Bytes>{hex("123400000007136d0401000101")} << -1
                                    << FrameOutcome::WrongFunction << 13 << 109 << 2 << -1;
    QTest::newRow("wrong length field") << QList<Bytes>{hex("123400000008136b0401000101")} << -1
                                        << FrameOutcome::WrongLength << 13 << 107 << 2 << -1;
    QTest::newRow("wrong byte count") << QList<Bytes>{hex("123400000007136b0201000101")} << -1
                                      << FrameOutcome::WrongLength << 13 << 107 << 1 << -1;
    // The length field promises 13 bytes; 11 arrive and the peer goes quiet.
    QTest::newRow("short reply") << QList<Bytes>{hex("123400000007136b040100")} << -1
                                 << FrameOutcome::ShortReply << 11 << 107 << 2 << -1;
    QTest::newRow("five bytes of header")
        << QList<Bytes>{hex("1234000000")} << -1 << FrameOutcome::ShortReply << 5 << -1 << -1 << -1;
}

void TestFrameTap::tcpVerdicts()
{
    QFETCH(QList<Bytes>, chunks);
    QFETCH(int, replyLength);
    Stream peer;
    Bytes arrived;
    for (const Bytes &chunk : chunks) {
        peer.queue(chunk);
        arrived.insert(arrived.end(), chunk.begin(), chunk.end());
    }
    KeepAll tap;
    std::uint16_t values[2] = {};
    QTEST(int(TcpReadRegisters(peer, 19, 107, 20, 2, 1, values, &tap)), "result");

    QCOMPARE(tap.records.size(), std::size_t(2));
    const FrameRecord &tx = tap.records[0];
    const FrameRecord &rx = tap.records[1];
    QCOMPARE(tx.direction, FrameDirection::Tx);
    QCOMPARE(tx.exchange, rx.exchange);
    QTEST(tx.outcome, "outcome");
    QTEST(rx.outcome, "outcome");
    // The reply record holds what arrived and nothing beyond it.
    QCOMPARE(int(rx.length), replyLength);
    QCOMPARE(rx.bytes, Bytes(arrived.begin(), arrived.begin() + replyLength));
    QTEST(rx.function, "function");
    QTEST(rx.count, "count");
    QTEST(rx.exceptionCode, "exception");
    QCOMPARE(rx.unit, replyLength >= 7 ? int(arrived[6]) : -1);
    QCOMPARE(rx.transaction, replyLength >= 2 ? arrived[0] << 8 | arrived[1] : -1);
    QVERIFY(rx.roundTripUs >= 0);
    QVERIFY(rx.time >= tx.time);
}

void TestFrameTap::requestsDecodedByKind()
{
    KeepAll tap;
    ScriptedStream peer;
    peer.queue(hex("0007000000061467000a0005"));
    peer.TransactionId = 7;
    QCOMPARE(TcpWriteRegister(peer, 20, 103, 10, 5, 1, &tap), ResultGood);
    ScriptedStream blockPeer;
    blockPeer.TransactionId = peer.TransactionId;
    blockPeer.queue(hex("0008000000061466000a0003"));
    const std::uint16_t values[3] = {1, 2, 3};
    QCOMPARE(TcpWriteRegisters(blockPeer, 20, 102, 10, 3, values, 1, &tap), ResultGood);

    QCOMPARE(tap.records.size(), std::size_t(4));
    // A single write's second word is its value: the record shows one register.
    const FrameRecord &single = tap.records[0];
    QCOMPARE(single.start, 10);
    QCOMPARE(single.count, 1);
    QCOMPARE(single.transaction, 7);
    QCOMPARE(tap.records[1].start, 10);
    QCOMPARE(tap.records[1].count, 1);
    const FrameRecord &block = tap.records[2];
    QCOMPARE(block.length, std::size_t(19));
    QCOMPARE(block.function, 102);
    QCOMPARE(block.count, 3);
    // Its reply echoes start and count.
    QCOMPARE(tap.records[3].start, 10);
    QCOMPARE(tap.records[3].count, 3);
    QCOMPARE(tap.records[3].exchange, std::uint64_t(2));

    // A write whose reply echoes another value is refused as such.
    KeepAll echo;
    ScriptedStream wrongEcho;
    wrongEcho.queue(hex("0009000000061467000a0006"));
    wrongEcho.TransactionId = 9;
    QCOMPARE(TcpWriteRegister(wrongEcho, 20, 103, 10, 5, 1, &echo), ResultFailure);
    QCOMPARE(echo.rx().outcome, FrameOutcome::WrongEcho);

    KeepAll closed;
    ClosingStream closing;
    QCOMPARE(TcpReadRegisters(closing, 19, 107, 20, 2, 1, nullptr, &closed), ResultFailure);
    QCOMPARE(closed.rx().outcome, FrameOutcome::LinkClosed);
    QCOMPARE(closed.rx().length, std::size_t(0));
}

void TestFrameTap::discardedBytesBeforeTheRequest()
{
    KeepAll tap;
    Stream peer;
    peer.pending = hex("123300000007136b0401000101"); // the late reply of the exchange before
    peer.queue(hex("123400000007136b0401000101"));
    std::uint16_t values[2];
    QCOMPARE(TcpReadRegisters(peer, 19, 107, 20, 2, 1, values, &tap), ResultGood);
    QCOMPARE(tap.records.size(), std::size_t(3));
    const FrameRecord &dropped = tap.records[0];
    QCOMPARE(dropped.direction, FrameDirection::Discarded);
    QCOMPARE(dropped.outcome, FrameOutcome::Stale);
    QCOMPARE(dropped.bytes, hex("123300000007136b0401000101"));
    // Discarded before exchange 1's request: it carries that number and comes first.
    QCOMPARE(dropped.exchange, std::uint64_t(1));
    QCOMPARE(tap.records[1].direction, FrameDirection::Tx);
    QVERIFY(dropped.time <= tap.records[1].time);
    QCOMPARE(tap.records[2].outcome, FrameOutcome::Good);
}

void TestFrameTap::facadeReportsToItsTapAcrossTransports()
{
    FrameLog log;
    RegisterAccess access;
    ReadPeer first, second;
    std::uint16_t values[4];
    access.useTcp(first);
    QCOMPARE(access.ReadRegisters(21, 107, 0, 4, values), ResultGood);
    QCOMPARE(log.size(), std::size_t(0));

    access.setFrameTap(&log);
    QCOMPARE(access.ReadRegisters(21, 107, 0, 4, values), ResultGood);
    QCOMPARE(log.size(), std::size_t(2));
    // A new transport (the next session) reports to the same tap.
    access.closeTransport();
    access.useTcp(second);
    QCOMPARE(access.ReadRegisters(21, 107, 0, 4, values), ResultGood);
    QCOMPARE(log.size(), std::size_t(4));

    access.setFrameTap(nullptr);
    QCOMPARE(access.ReadRegisters(21, 107, 0, 4, values), ResultGood);
    QCOMPARE(log.size(), std::size_t(4));
}

void TestFrameTap::nothingAllocatedWithoutATapNorOnceTheRingIsFull()
{
    ReadPeer peer;
    std::uint16_t values[40];
    const long before = allocations;
    for (int i = 0; i < 200; ++i)
        QVERIFY(TcpReadRegisters(peer, 21, 107, 0, 40, 1, values) == ResultGood);
    QCOMPARE(allocations - before, 0L);

    // A poll of 20 different reads into a ring of odd capacity, so that each
    // slot takes requests and replies of every size in turn. Once every slot
    // has held the largest frame it will see, recording reuses the storage.
    FrameLog log(7);
    for (int i = 0; i < 280; ++i)
        QVERIFY(TcpReadRegisters(peer, 21, 107, 0, std::uint16_t(1 + i % 20), 1, values, &log) ==
                ResultGood);
    const long warmed = allocations;
    for (int i = 0; i < 200; ++i)
        QVERIFY(TcpReadRegisters(peer, 21, 107, 0, std::uint16_t(1 + i % 20), 1, values, &log) ==
                ResultGood);
    QCOMPARE(allocations - warmed, 0L);
    QCOMPARE(log.size(), std::size_t(7));
}

void TestFrameTap::ringKeepsTheNewest()
{
    const std::uint8_t request[12] = {0, 1, 0, 0, 0, 6, 21, 107, 0, 0, 0, 2};
    const std::uint8_t reply[13] = {0, 1, 0, 0, 0, 7, 21, 107, 4, 0, 1, 0, 2};
    FrameLog log(5);
    for (int i = 0; i < 20; ++i)
        log.exchanged(syntheticExchange(request, reply));
    QCOMPARE(log.size(), std::size_t(5));
    QCOMPARE(log.lastSequence(), std::uint64_t(40));
    std::vector<FrameRecord> out;
    log.copySince(0, out);
    QCOMPARE(out.size(), std::size_t(5));
    for (std::size_t i = 0; i < out.size(); ++i)
        QCOMPARE(out[i].sequence, std::uint64_t(36 + i));
    out.clear();
    log.copySince(38, out);
    QCOMPARE(out.size(), std::size_t(2));
    QCOMPARE(out.front().sequence, std::uint64_t(39));

    // Shrinking a wrapped ring keeps the newest, in order; growing keeps all.
    log.setCapacity(3);
    out.clear();
    log.copySince(0, out);
    QCOMPARE(out.size(), std::size_t(3));
    QCOMPARE(out.front().sequence, std::uint64_t(38));
    log.setCapacity(10);
    log.exchanged(syntheticExchange(request, reply));
    out.clear();
    log.copySince(0, out);
    QCOMPARE(out.size(), std::size_t(5));
    QCOMPARE(out.back().sequence, std::uint64_t(42));
    QCOMPARE(out.back().exchange, std::uint64_t(21));

    log.clear();
    QCOMPARE(log.size(), std::size_t(0));
    log.exchanged(syntheticExchange(request, reply));
    out.clear();
    log.copySince(0, out);
    QCOMPARE(out.front().sequence, std::uint64_t(43)); // numbers go on after a clear
    QCOMPARE(FrameLog(0).capacity(), std::size_t(1));
}

void TestFrameTap::lineFormRoundTrips()
{
    KeepAll tap;
    Stream peer;
    peer.queue(hex("12340000000313eb02"));
    std::uint16_t values[2];
    QCOMPARE(TcpReadRegisters(peer, 19, 107, 20, 2, 1, values, &tap), ResultException);

    // The documented form: time, link, exchange, direction, key=value fields,
    // then the bytes after a bar.
    static const QRegularExpression form(QStringLiteral(
        R"(^(\d\d:\d\d:\d\d\.\d\d\d) (TCP|RTU) #(\d+) (TX|RX|DROP) unit=(\S+) fn=(\S+) )"
        R"(start=(\S+) count=(\S+) tid=(\S+) exc=(\S+) outcome=(\S+) rtt=(\S+) len=(\d+) \|(.*)$)"));
    const auto tx = form.match(frameLine(tap.records[0]));
    const auto rx = form.match(frameLine(tap.records[1]));
    QVERIFY2(tx.hasMatch(), qPrintable(frameLine(tap.records[0])));
    QVERIFY2(rx.hasMatch(), qPrintable(frameLine(tap.records[1])));
    QCOMPARE(tx.captured(4), QStringLiteral("TX"));
    QCOMPARE(tx.captured(5), QStringLiteral("19"));
    QCOMPARE(tx.captured(7), QStringLiteral("20"));
    QCOMPARE(tx.captured(8), QStringLiteral("2"));
    QCOMPARE(tx.captured(9), QStringLiteral("4660"));
    QCOMPARE(tx.captured(12), QStringLiteral("-"));
    QCOMPARE(tx.captured(14), QStringLiteral(" 12 34 00 00 00 06 13 6B 00 14 00 02"));
    QCOMPARE(rx.captured(3), tx.captured(3));
    QCOMPARE(rx.captured(6), QStringLiteral("235"));
    QCOMPARE(rx.captured(7), QStringLiteral("-"));
    QCOMPARE(rx.captured(10), QStringLiteral("2:illegal-data-address"));
    QCOMPARE(rx.captured(11), QStringLiteral("exception"));
    QVERIFY(rx.captured(12).endsWith(QLatin1String("ms")));
    QCOMPARE(rx.captured(13), QStringLiteral("9"));
}

void TestFrameTap::longNoiseIsCutNotOverread()
{
    // A long run of noise: the record keeps its first bytes and its length,
    // and the hex says that it was cut.
    KeepAll tap;
    std::vector<std::uint8_t> noise(5000, 0xA5);
    tap.discarded(FrameLink::Rtu, noise.data(), noise.size(), noise.size());
    // A tap told of fewer kept bytes than the total never reads beyond them.
    std::vector<std::uint8_t> few(3, 0x5A);
    tap.discarded(FrameLink::Rtu, few.data(), few.size(), 900);
    const FrameRecord &cut = tap.records[0];
    QCOMPARE(cut.length, std::size_t(5000));
    QCOMPARE(cut.bytes.size(), FrameMaxKeptBytes);
    QVERIFY(frameHex(cut).endsWith(QLatin1String("A5 ...")));
    QVERIFY(frameLine(cut).contains(QLatin1String(" DROP ")));
    QCOMPARE(tap.records[1].bytes.size(), std::size_t(3));
    QCOMPARE(tap.records[1].length, std::size_t(900));
}

QTEST_GUILESS_MAIN(TestFrameTap)
#include "tst_frametap.moc"
