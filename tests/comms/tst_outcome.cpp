// describe(): one line per outcome kind, and the detail that reaches it from
// the clients through the facade and the unit operations.

#include "Outcome.h"
#include "RegisterAccess.h"
#include "ScriptedStream.h"
#include "UnitOps.h"

#include <QtTest>

namespace {

ExchangeDetail sentDetail(FrameOutcome outcome, std::uint8_t code = 0, std::uint16_t tenths = 70,
                          FrameLink link = FrameLink::Tcp)
{
    ExchangeDetail d;
    d.outcome = outcome;
    d.exceptionCode = code;
    d.timeoutTenths = tenths;
    d.link = link;
    return d;
}

} // namespace

Q_DECLARE_METATYPE(OpResult)

class TstOutcome : public QObject
{
    Q_OBJECT

private slots:
    void describesEachKind_data();
    void describesEachKind();
    void detailReachesTheOperation();
};

void TstOutcome::describesEachKind_data()
{
    QTest::addColumn<OpResult>("op");
    QTest::addColumn<QString>("text");
    using O = FrameOutcome;
    const RegisterBlock options = Blocks::BACnetOptions;
    const auto op = [](RegisterResult r, std::optional<RegisterBlock> b, ExchangeDetail d) {
        return OpResult{r, b, d};
    };

    QTest::newRow("no reply") << op(ResultNoReply, options, sentDetail(O::NoReply, 0, 30))
                              << "BACnet options: no reply within 3.0 s";
    QTest::newRow("no reply, wait unknown")
        << op(ResultNoReply, options, sentDetail(O::NoReply, 0, 0))
        << "BACnet options: no reply in time";
    QTest::newRow("exception names its object name")
        << op(ResultException, objectNameBlock(7), sentDetail(O::Exception, 2))
        << "Object name 7: the unit answered with an exception (code 2: illegal data address)";
    QTest::newRow("exception code without a name")
        << op(ResultException, options, sentDetail(O::Exception, 0x0C))
        << "BACnet options: the unit answered with an exception (code 12)";
    QTest::newRow("exception cut before its code")
        << op(ResultException, options, sentDetail(O::Exception, 0))
        << "BACnet options: the unit answered with an exception";
    QTest::newRow("wrong CRC") << op(ResultFailure, Blocks::NetworkAddresses,
                                     sentDetail(O::BadCrc, 0, 50, FrameLink::Rtu))
                               << "Network addresses: invalid reply: wrong CRC";
    QTest::newRow("wrong echo") << op(ResultFailure, Blocks::ConfigLock, sentDetail(O::WrongEcho))
                                << "Network-configuration lock: invalid reply: the write was not "
                                   "echoed as sent";
    QTest::newRow("stale transaction")
        << op(ResultFailure, options, sentDetail(O::WrongTransaction))
        << "BACnet options: invalid reply: another exchange's transaction id";
    QTest::newRow("serial port closed")
        << op(ResultFailure, options, sentDetail(O::LinkClosed, 0, 50, FrameLink::Rtu))
        << "BACnet options: the serial port is not open or was closed";
    QTest::newRow("connection closed") << op(ResultFailure, options, sentDetail(O::LinkClosed))
                                       << "BACnet options: the connection was closed or failed";
    QTest::newRow("closed twice") << op(ResultClosedTwice, options,
                                        sentDetail(O::LinkClosed, 0, 50, FrameLink::Rtu))
                                  << "BACnet options: the serial port was closed twice";
    QTest::newRow("values refused")
        << op(ResultFailure, std::nullopt, refusedDetail(Refusal::Values))
        << "nothing sent: the values are out of range";
    QTest::newRow("count refused") << op(ResultFailure, options, refusedDetail(Refusal::Count))
                                   << "BACnet options: nothing sent: the register count is 0 or "
                                      "more than one frame carries";
    QTest::newRow("failure without a verdict")
        << op(ResultFailure, options, ExchangeDetail{})
        << "BACnet options: invalid reply or request refused";
}

void TstOutcome::describesEachKind()
{
    QFETCH(OpResult, op);
    QTEST(describe(op), "text");
}

void TstOutcome::detailReachesTheOperation()
{
    // Without a transport nothing is sent, and the operation says so.
    RegisterAccess access;
    std::optional<Octets4> g50;
    OpResult op = readG50Address(access, g50);
    QVERIFY(op.refusedBeforeSending());
    QCOMPARE(describe(op), QStringLiteral("G50 address: nothing sent: no connection is open"));

    ScriptedStream tcp;
    access.useTcp(tcp);
    access.tcpTimeout = 1;
    // A block without a read function is refused by the facade.
    std::uint16_t word[1];
    QCOMPARE(access.ReadBlock(Blocks::Restart, word), ResultFailure);
    QCOMPARE(access.lastExchange().refusal, Refusal::NoFunction);
    // A value the registers cannot carry is refused by the operation.
    op = writeG50Address(access, Octets4{10, 0, 0, 300});
    QVERIFY(op.refusedBeforeSending());
    QVERIFY(tcp.sent.empty());

    // The exception code and the wait travel from the client to the line.
    tcp.queue({0, 0, 0, 0, 0, 3, 22, 107 | 0x80, 3});
    BACnetReading bacnet;
    op = readBACnetSettings(access, bacnet);
    QCOMPARE(op.result, ResultException);
    QCOMPARE(int(op.detail.exceptionCode), 3);
    QCOMPARE(describe(op), QStringLiteral("Device object identifier: the unit answered with an "
                                          "exception (code 3: illegal data value)"));
    op = readBACnetSettings(access, bacnet);
    QCOMPARE(describe(op), QStringLiteral("Device object identifier: no reply within 0.1 s"));
    QVERIFY(!op.refusedBeforeSending());
}

QTEST_GUILESS_MAIN(TstOutcome)
#include "tst_outcome.moc"
