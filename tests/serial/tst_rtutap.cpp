// The frame tap over Modbus RTU against a scripted peer on a pty: each
// verdict recorded with every byte the line delivered (noise included, never
// more), the reply decoded where the client found it, bytes dropped at the
// next send, and a closed component.

#include "FrameLog.h"
#include "ModBusPro.h"
#include "PtyPair.h"
#include "RtuPeer.h"
#include "RtuTestFrames.h"
#include "VeskComms.h"

#include <QtTest>

Q_DECLARE_METATYPE(FrameOutcome)

namespace {

QByteArray bytesOf(const FrameRecord &r)
{
    return QByteArray(reinterpret_cast<const char *>(r.bytes.data()), qsizetype(r.bytes.size()));
}

class KeepAll : public FrameRecorder
{
public:
    std::vector<FrameRecord> records;

protected:
    void record(const FrameRecord &r) override { records.push_back(r); }
};

} // namespace

class TstRtuTap : public QObject
{
    Q_OBJECT

private slots:
    void readVerdicts_data();
    void readVerdicts();
    void writeEchoAndClosedComponent();
    void bytesAfterAnExchangeAreDroppedAtTheNextSend();
};

void TstRtuTap::readVerdicts_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<int>("result");
    QTest::addColumn<FrameOutcome>("outcome");
    QTest::addColumn<int>("unit");
    QTest::addColumn<int>("function");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("exception");

    const QByteArray good = networkReply();
    QTest::newRow("good") << QList<QByteArray>{good} << 1 << FrameOutcome::Good << 20 << 107 << 12
                          << -1;
    QTest::newRow("split in three")
        << QList<QByteArray>{good.left(2), good.mid(2, 10), good.mid(12)} << 1 << FrameOutcome::Good
        << 20 << 107 << 12 << -1;
    // The reply is decoded where the client found it, after the noise.
    QTest::newRow("noise before") << QList<QByteArray>{hex("00ff13") + good} << 1
                                  << FrameOutcome::Good << 20 << 107 << 12 << -1;
    // Noise holding the unit id starts no reply of its own.
    QTest::newRow("noise with the unit id before") << QList<QByteArray>{hex("1499") + good} << 1
                                                   << FrameOutcome::Good << 20 << 107 << 12 << -1;
    QTest::newRow("exception after noise")
        << QList<QByteArray>{hex("1499") + withCrc(hex("14eb02"))} << 2 << FrameOutcome::Exception
        << 20 << 235 << -1 << 2;
    QTest::newRow("exception") << QList<QByteArray>{withCrc(hex("14eb02"))} << 2
                               << FrameOutcome::Exception << 20 << 235 << -1 << 2;
    QByteArray corrupt = good;
    corrupt[corrupt.size() - 1] = char(corrupt.at(corrupt.size() - 1) ^ 0x01);
    QTest::newRow("bad crc") << QList<QByteArray>{corrupt} << -1 << FrameOutcome::BadCrc << 20
                             << 107 << 12 << -1;
    // Decoded by position, the stray byte reads as the function code.
    QTest::newRow("stray byte between id and code")
        << QList<QByteArray>{good.left(1) + hex("77") + good.mid(1)} << -1
        << FrameOutcome::WrongLength << 20 << 0x77 << 0x6b / 2 << -1;
    QTest::newRow("byte count 2") << QList<QByteArray>{networkReply(2)} << -1
                                  << FrameOutcome::WrongLength << 20 << 107 << 1 << -1;
    // No rule matched: the bytes are shown, nothing is decoded from them.
    QTest::newRow("another unit's reply") << QList<QByteArray>{withCrc(hex("156b02000a"))} << 0
                                          << FrameOutcome::NoReply << -1 << -1 << -1 << -1;
}

void TstRtuTap::readVerdicts()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(int, result);
    Line line;
    QVERIFY(line.open());
    line.peer.script(ReadNetwork.size(), chunks);
    KeepAll tap;
    std::uint16_t values[12] = {};
    QCOMPARE(int(RtuReadRegisters(line.comms, 20, 107, 7, 12, result == 0 ? 3 : 5, values, &tap)),
             result);

    QCOMPARE(tap.records.size(), std::size_t(2));
    const FrameRecord &tx = tap.records[0];
    const FrameRecord &rx = tap.records[1];
    QCOMPARE(tx.link, FrameLink::Rtu);
    QCOMPARE(bytesOf(tx).toHex(' '), ReadNetwork.toHex(' '));
    QCOMPARE(tx.start, 7);
    QCOMPARE(tx.count, 12);
    QCOMPARE(tx.transaction, -1);
    QTEST(rx.outcome, "outcome");
    QCOMPARE(tx.outcome, rx.outcome);
    // Everything the line delivered for this exchange, and nothing else.
    QCOMPARE(bytesOf(rx).toHex(' '), chunks.join().toHex(' '));
    QCOMPARE(rx.length, std::size_t(chunks.join().size()));
    QTEST(rx.unit, "unit");
    QTEST(rx.function, "function");
    QTEST(rx.count, "count");
    QTEST(rx.exceptionCode, "exception");
    QVERIFY(rx.roundTripUs > 0);
}

void TstRtuTap::writeEchoAndClosedComponent()
{
    Line line;
    QVERIFY(line.open());
    const QByteArray request = withCrc(hex("1367001d1bc5"));
    line.peer.script(request.size(), {withCrc(hex("1367001d1bc4"))});
    KeepAll tap;
    QCOMPARE(RtuWriteRegister(line.comms, 19, 103, 29, 7109, 3, &tap), ResultFailure);
    QCOMPARE(tap.records.at(1).outcome, FrameOutcome::WrongEcho);
    QCOMPARE(tap.records.at(1).start, 29);
    QCOMPARE(tap.records.at(1).count, 1);

    // Closed, then closed again: the request is recorded, no byte came back.
    line.comms.ClosePort();
    QCOMPARE(RtuWriteRegister(line.comms, 19, 103, 29, 1, 50, &tap), ResultFailure);
    line.comms.ClosePort();
    QCOMPARE(RtuWriteRegister(line.comms, 19, 103, 29, 1, 50, &tap), ResultClosedTwice);
    QCOMPARE(tap.records.size(), std::size_t(6));
    for (std::size_t i : {std::size_t(3), std::size_t(5)}) {
        QCOMPARE(tap.records[i].outcome, FrameOutcome::LinkClosed);
        QCOMPARE(tap.records[i].length, std::size_t(0));
    }
}

void TstRtuTap::bytesAfterAnExchangeAreDroppedAtTheNextSend()
{
    Line line;
    QVERIFY(line.open());
    KeepAll tap;
    std::uint16_t values[12] = {};
    line.peer.script(ReadNetwork.size(), {networkReply()});
    QCOMPARE(RtuReadRegisters(line.comms, 20, 107, 7, 12, 5, values, &tap), ResultGood);
    // A tail the unit sent after its reply, stored while the line was idle.
    QVERIFY(line.pty.write(hex("aabbcc")));
    QTRY_COMPARE_WITH_TIMEOUT(int(line.comms.RxHead()), 3, 2000);

    line.peer.received.clear();
    line.peer.script(ReadNetwork.size(), {networkReply()});
    QCOMPARE(RtuReadRegisters(line.comms, 20, 107, 7, 12, 5, values, &tap), ResultGood);
    QCOMPARE(tap.records.size(), std::size_t(5));
    const FrameRecord &dropped = tap.records[2];
    QCOMPARE(dropped.direction, FrameDirection::Discarded);
    QCOMPARE(dropped.outcome, FrameOutcome::Stale);
    QCOMPARE(bytesOf(dropped), hex("aabbcc"));
    QCOMPARE(dropped.exchange, std::uint64_t(2));
    QCOMPARE(tap.records[3].exchange, std::uint64_t(2));
    // Nothing arrived after the second exchange: the buffer is left empty.
    QCOMPARE(int(line.comms.RxHead()), 0);
}

QTEST_GUILESS_MAIN(TstRtuTap)
#include "tst_rtutap.moc"
