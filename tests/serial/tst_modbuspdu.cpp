// The PDU layer judged three ways from one table of replies: as a bare PDU,
// wrapped in the MBAP header through the TCP client, and wrapped in unit id
// and CRC through the RTU client on a pty. The framings add their own rules
// (TCP checks the length field, RTU recognises a reply only once its rule is
// complete), so each row says what each way must come to.

#include "ModBusPro.h"
#include "ModBusTCPPro.h"
#include "ModbusPdu.h"
#include "RtuTestFrames.h"
#include "ScriptedStream.h"

#include <QtTest>

namespace {

enum class Op
{
    Read,      // 3 registers from 7 at unit 20, function 107
    WriteOne,  // 7109 to register 29 at unit 19, function 103
    WriteMany, // 1 register from 19 at unit 20, function 109
};

constexpr std::uint16_t ReadCount = 3;
constexpr std::uint16_t WriteValue = 7109;

struct Request
{
    std::uint8_t unit;
    FrameKind kind;
    std::uint8_t pdu[16];
    std::size_t pduLength;
};

Request requestOf(Op op)
{
    Request r{};
    const std::uint16_t one[1] = {192};
    switch (op) {
    case Op::Read:
        r = {20, FrameKind::Read, {}, 0};
        r.pduLength = ModbusPdu::buildRead(r.pdu, 107, 7, ReadCount);
        break;
    case Op::WriteOne:
        r = {19, FrameKind::WriteOne, {}, 0};
        r.pduLength = ModbusPdu::buildWriteOne(r.pdu, 103, 29, WriteValue);
        break;
    case Op::WriteMany:
        r = {20, FrameKind::WriteMany, {}, 0};
        r.pduLength = ModbusPdu::buildWriteMany(r.pdu, 109, 19, 1, one);
        break;
    }
    return r;
}

RegisterResult resultOf(FrameOutcome outcome)
{
    if (outcome == FrameOutcome::Good)
        return ResultGood;
    if (outcome == FrameOutcome::Exception)
        return ResultException;
    return outcome == FrameOutcome::NoReply ? ResultNoReply : ResultFailure;
}

// Runs the operation through either client; the values read land in `values`.
template <typename Client, typename ReadFn, typename WriteOneFn, typename WriteManyFn>
RegisterResult perform(Op op, Client &client, std::uint16_t timeout, std::uint16_t *values,
                       ExchangeDetail &detail, ReadFn read, WriteOneFn writeOne,
                       WriteManyFn writeMany)
{
    const std::uint16_t one[1] = {192};
    switch (op) {
    case Op::Read:
        return read(client, 20, 107, 7, ReadCount, timeout, values, nullptr, &detail);
    case Op::WriteOne:
        return writeOne(client, 19, 103, 29, WriteValue, timeout, nullptr, &detail);
    case Op::WriteMany:
        return writeMany(client, 20, 109, 19, 1, one, timeout, nullptr, &detail);
    }
    return ResultFailure;
}

} // namespace

Q_DECLARE_METATYPE(Op)
Q_DECLARE_METATYPE(FrameOutcome)

class TstModbusPdu : public QObject
{
    Q_OBJECT

private slots:
    void replies_data();
    void judgedAsPdu_data() { replies_data(); }
    void judgedAsPdu();
    void judgedThroughTcp_data() { replies_data(); }
    void judgedThroughTcp();
    void judgedThroughRtu_data() { replies_data(); }
    void judgedThroughRtu();
    void requestPdus();
    void countZeroIsRefusedByBothFramings();
};

void TstModbusPdu::replies_data()
{
    QTest::addColumn<Op>("op");
    QTest::addColumn<QByteArray>("reply"); // the reply PDU
    QTest::addColumn<FrameOutcome>("pdu");
    QTest::addColumn<int>("code");
    QTest::addColumn<FrameOutcome>("tcp");
    QTest::addColumn<FrameOutcome>("rtu");
    using O = FrameOutcome;

    QTest::newRow("good read") << Op::Read << hex("6b0600c000a80001") << O::Good << 0 << O::Good
                               << O::Good;
    QTest::newRow("exception with its code")
        << Op::Read << hex("eb02") << O::Exception << 2 << O::Exception << O::Exception;
    QTest::newRow("exception with a code of no name")
        << Op::WriteOne << hex("e70c") << O::Exception << 12 << O::Exception << O::Exception;
    // The exception form is known by its function code; over RTU the rule
    // waits for the code and the CRC, which never come.
    QTest::newRow("exception cut after its function code")
        << Op::Read << hex("eb") << O::Exception << 0 << O::Exception << O::NoReply;
    QTest::newRow("another function code")
        << Op::Read << hex("6c0600c000a80001") << O::WrongFunction << 0 << O::WrongFunction
        << O::NoReply;
    QTest::newRow("byte count of two registers")
        << Op::Read << hex("6b0400c000a80001") << O::WrongLength << 0 << O::WrongLength
        << O::WrongLength;
    // A short read with an honest length field: TCP refuses the length
    // field, RTU never completes its rule.
    QTest::newRow("read stopped short")
        << Op::Read << hex("6b0600c000a8") << O::ShortReply << 0 << O::WrongLength << O::NoReply;
    QTest::newRow("good single write")
        << Op::WriteOne << hex("67001d1bc5") << O::Good << 0 << O::Good << O::Good;
    QTest::newRow("single write echoes another value")
        << Op::WriteOne << hex("67001d0000") << O::WrongEcho << 0 << O::WrongEcho << O::WrongEcho;
    QTest::newRow("single write echoes another register")
        << Op::WriteOne << hex("67001c1bc5") << O::WrongEcho << 0 << O::WrongEcho << O::WrongEcho;
    QTest::newRow("block write echoes another count")
        << Op::WriteMany << hex("6d00130002") << O::WrongEcho << 0 << O::WrongEcho << O::WrongEcho;
    QTest::newRow("good block write")
        << Op::WriteMany << hex("6d00130001") << O::Good << 0 << O::Good << O::Good;
}

void TstModbusPdu::judgedAsPdu()
{
    QFETCH(Op, op);
    QFETCH(QByteArray, reply);
    QFETCH(FrameOutcome, pdu);
    QFETCH(int, code);
    const Request rq = requestOf(op);
    const ModbusPdu::Verdict v = ModbusPdu::judgeReply(
        rq.kind, rq.pdu, reinterpret_cast<const std::uint8_t *>(reply.constData()),
        std::size_t(reply.size()));
    QCOMPARE(v.outcome, pdu);
    QCOMPARE(int(v.exceptionCode), code);
}

void TstModbusPdu::judgedThroughTcp()
{
    QFETCH(Op, op);
    QFETCH(QByteArray, reply);
    QFETCH(int, code);
    QFETCH(FrameOutcome, tcp);
    ScriptedStream stream;
    stream.TransactionId = 0x0102;
    const Request rq = requestOf(op);
    ScriptedStream::Bytes frame{1, 2, 0, 0, 0, std::uint8_t(reply.size() + 1), rq.unit};
    frame.insert(frame.end(), reply.begin(), reply.end());
    stream.queue(frame);

    std::uint16_t values[ReadCount + 1] = {0xEEEE, 0xEEEE, 0xEEEE, 0xEEEE};
    ExchangeDetail detail;
    const RegisterResult result = perform(op, static_cast<TcpStream &>(stream), 1, values, detail,
                                          TcpReadRegisters, TcpWriteRegister, TcpWriteRegisters);
    QCOMPARE(result, resultOf(tcp));
    QCOMPARE(detail.outcome, tcp);
    QCOMPARE(int(detail.exceptionCode), tcp == FrameOutcome::Exception ? code : 0);
    QCOMPARE(detail.link, FrameLink::Tcp);
    QVERIFY(detail.sent());
    QCOMPARE(stream.TransactionId, std::uint16_t(0x0103));
    // The request is the header and the PDU the layer builds.
    QCOMPARE(stream.sent.size(), 7 + rq.pduLength);
    QVERIFY(std::equal(rq.pdu, rq.pdu + rq.pduLength, stream.sent.begin() + 7));
    const bool stored = result == ResultGood && op == Op::Read;
    QCOMPARE(values[0], stored ? std::uint16_t(192) : std::uint16_t(0xEEEE));
    QCOMPARE(values[2], stored ? std::uint16_t(1) : std::uint16_t(0xEEEE));
    QCOMPARE(values[3], std::uint16_t(0xEEEE));
}

void TstModbusPdu::judgedThroughRtu()
{
    QFETCH(Op, op);
    QFETCH(QByteArray, reply);
    QFETCH(int, code);
    QFETCH(FrameOutcome, rtu);
    Line line;
    QVERIFY(line.open());
    const Request rq = requestOf(op);
    const QByteArray request =
        withCrc(QByteArray(1, char(rq.unit)) +
                QByteArray(reinterpret_cast<const char *>(rq.pdu), int(rq.pduLength)));
    line.peer.script(int(request.size()), {withCrc(QByteArray(1, char(rq.unit)) + reply)});

    std::uint16_t values[ReadCount + 1] = {0xEEEE, 0xEEEE, 0xEEEE, 0xEEEE};
    ExchangeDetail detail;
    const RegisterResult result = perform(op, line.comms, 2, values, detail, RtuReadRegisters,
                                          RtuWriteRegister, RtuWriteRegisters);
    QCOMPARE(result, resultOf(rtu));
    QCOMPARE(detail.outcome, rtu);
    QCOMPARE(int(detail.exceptionCode), rtu == FrameOutcome::Exception ? code : 0);
    QCOMPARE(detail.link, FrameLink::Rtu);
    QCOMPARE(line.peer.received, request);
    const bool stored = result == ResultGood && op == Op::Read;
    QCOMPARE(values[0], stored ? std::uint16_t(192) : std::uint16_t(0xEEEE));
    QCOMPARE(values[2], stored ? std::uint16_t(1) : std::uint16_t(0xEEEE));
    QCOMPARE(values[3], std::uint16_t(0xEEEE));
    line.comms.ClosePort();
}

void TstModbusPdu::requestPdus()
{
    // Golden requests: the read of the network addresses and a block write of
    // two registers, as both framings carry them.
    std::uint8_t pdu[16] = {};
    QCOMPARE(ModbusPdu::buildRead(pdu, 107, 7, 12), std::size_t(5));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(pdu), 5), hex("6b0007000c"));
    const std::uint16_t two[2] = {0x1234, 0xABCD};
    QCOMPARE(ModbusPdu::buildWriteMany(pdu, 109, 19, 2, two), std::size_t(10));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(pdu), 10), hex("6d0013000204"
                                                                      "1234abcd"));
}

void TstModbusPdu::countZeroIsRefusedByBothFramings()
{
    ScriptedStream stream;
    std::uint16_t v[1] = {0xEEEE};
    ExchangeDetail detail;
    QCOMPARE(TcpReadRegisters(stream, 20, 107, 7, 0, 1, v, nullptr, &detail), ResultFailure);
    QCOMPARE(detail.refusal, Refusal::Count);
    QCOMPARE(TcpWriteRegisters(stream, 20, 109, 7, 0, v, 1, nullptr, &detail), ResultFailure);
    QCOMPARE(detail.refusal, Refusal::Count);
    QVERIFY(stream.sent.empty());
    QCOMPARE(stream.waits, 0);
    // Refused requests still use up their transaction id.
    QCOMPARE(stream.TransactionId, std::uint16_t(2));

    Line line;
    QVERIFY(line.open());
    detail = {};
    QCOMPARE(RtuReadRegisters(line.comms, 20, 107, 7, 0, 1, v, nullptr, &detail), ResultFailure);
    QCOMPARE(detail.refusal, Refusal::Count);
    QCOMPARE(RtuWriteRegisters(line.comms, 20, 109, 7, 0, v, 1, nullptr, &detail), ResultFailure);
    QCOMPARE(detail.refusal, Refusal::Count);
    QCOMPARE(v[0], std::uint16_t(0xEEEE));
    // The next exchange's request is the first thing on the line.
    const QByteArray read = withCrc(hex("146b00070003"));
    line.peer.script(int(read.size()), {withCrc(hex("146b0600c000a80001"))});
    std::uint16_t three[ReadCount] = {};
    QCOMPARE(RtuReadRegisters(line.comms, 20, 107, 7, ReadCount, 20, three), ResultGood);
    QCOMPARE(line.peer.received, read);
    line.comms.ClosePort();
}

QTEST_GUILESS_MAIN(TstModbusPdu)
#include "tst_modbuspdu.moc"
