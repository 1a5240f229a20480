// What the frame tap records against ravelin-sim and its fault options, over
// loopback TCP and over a socat pty pair: the verdict of every exchange and
// the bytes dropped before a request, in the order they happened.

#include "FrameFormat.h"
#include "FrameLog.h"
#include "RegisterAccess.h"
#include "SimProcess.h"
#include "SocatPair.h"
#include "TcpClient.h"
#include "VeskComms.h"

#include <QtTest>

namespace {

// The identity read (unit 19, registers 20 and 21) over whichever link.
struct Link
{
    SocatPair line;
    SimProcess sim;
    TTcpClient client;
    TVeskComms comms;
    RegisterAccess access;
    FrameLog log;

    bool start(bool serial, const QStringList &options)
    {
        if (serial) {
            comms.RxBufferSize = 200;
            comms.DevicePath = line.b();
            return line.start() &&
                   sim.startWith(QStringList{QStringLiteral("--serial"), line.a(),
                                             QStringLiteral("--no-animate")} +
                                 options) &&
                   comms.OpenPort() && (access.useSerial(comms), true);
        }
        if (!sim.start(QStringList{QStringLiteral("--no-animate")} + options))
            return false;
        client.setRemoteHost(sim.host());
        client.setRemotePort(sim.port());
        if (!client.open())
            return false;
        access.useTcp(client);
        return true;
    }
    // Waits until a late reply has arrived, without reading it.
    bool lateBytesArrived(bool serial)
    {
        if (!serial)
            return client.waitForData(10000);
        QDeadlineTimer deadline(10000);
        while (comms.RxHead() == 0 && !deadline.hasExpired())
            QTest::qWait(20);
        return comms.RxHead() > 0;
    }
    std::vector<FrameRecord> records() const
    {
        std::vector<FrameRecord> out;
        log.copySince(0, out);
        return out;
    }
};

} // namespace

class TstTapSim : public QObject
{
    Q_OBJECT

private slots:
    void verdicts_data();
    void verdicts();
};

void TstTapSim::verdicts_data()
{
    QTest::addColumn<bool>("serial");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("timeout");
    // Outcomes of the reply and discard records, in order.
    QTest::addColumn<QStringList>("expected");
    // Before the next exchange, wait for the late reply to the last one.
    QTest::addColumn<bool>("waitForLate");

    const QStringList good{QStringLiteral("good")};
    const QStringList exception{QStringLiteral("--exception"), QStringLiteral("19:20")};
    const QStringList silent{QStringLiteral("--silent")};
    const QStringList split{QStringLiteral("--split")};
    const QStringList late{QStringLiteral("--late")};
    const QStringList lateThenStale{QStringLiteral("no-reply"), QStringLiteral("stale"),
                                    QStringLiteral("no-reply")};
    for (const bool serial : {false, true}) {
        const char *link = serial ? "rtu " : "tcp ";
        const auto row = [link, serial](const char *name) -> QTestData & {
            return QTest::newRow((QByteArray(link) + name).constData()) << serial;
        };
        row("plain") << QStringList{} << 20 << good << false;
        row("exception") << exception << 20 << QStringList{QStringLiteral("exception")} << false;
        row("silent") << silent << 2 << QStringList{QStringLiteral("no-reply")} << false;
        row("split") << split << 20 << good << false;
        row("late") << late << 2 << lateThenStale << true;
    }
    QTest::newRow("rtu corrupt crc") << true << QStringList{QStringLiteral("--corrupt-crc")} << 20
                                     << QStringList{QStringLiteral("bad-crc")} << false;
    QTest::newRow("rtu noise") << true << QStringList{QStringLiteral("--noise")} << 20 << good
                               << false;
    // The reply to the first request arrives while the second one waits.
    QTest::newRow("tcp reply of the exchange before")
        << false << QStringList{QStringLiteral("--delay-ms"), QStringLiteral("500")} << 3
        << QStringList{QStringLiteral("no-reply"), QStringLiteral("wrong-transaction")} << false;
}

void TstTapSim::verdicts()
{
    QFETCH(bool, serial);
    QFETCH(QStringList, options);
    QFETCH(int, timeout);
    QFETCH(QStringList, expected);
    QFETCH(bool, waitForLate);

    Link link;
    QVERIFY2(link.start(serial, options), "the simulator or the line did not start");
    link.access.tcpTimeout = link.access.rtuTimeout = std::uint16_t(timeout);
    link.access.setFrameTap(&link.log);
    const int exchanges = int(expected.size() - expected.count(QStringLiteral("stale")));
    for (int i = 0; i < exchanges; ++i) {
        if (i > 0 && waitForLate)
            QVERIFY(link.lateBytesArrived(serial));
        std::uint16_t identity[2] = {};
        link.access.ReadRegisters(19, 107, 20, 2, identity);
    }
    link.sim.stop();

    const std::vector<FrameRecord> records = link.records();
    QStringList outcomes, lines;
    const FrameRecord *firstRequest = nullptr, *reply = nullptr, *dropped = nullptr;
    for (const FrameRecord &r : records) {
        lines << frameLine(r);
        QCOMPARE(r.link, serial ? FrameLink::Rtu : FrameLink::Tcp);
        if (r.direction == FrameDirection::Tx && !firstRequest)
            firstRequest = &r;
        if (r.direction == FrameDirection::Tx)
            continue;
        outcomes << QLatin1String(frameOutcomeToken(r.outcome));
        (r.direction == FrameDirection::Rx ? reply : dropped) = &r;
    }
    QVERIFY2(outcomes == expected, qPrintable(lines.join(QLatin1Char('\n'))));

    if (options.contains(QStringLiteral("--exception")))
        QCOMPARE(reply->exceptionCode, 4);
    if (expected == QStringList{QStringLiteral("good")}) {
        QCOMPARE(reply->unit, 19);
        QCOMPARE(reply->count, 2);
    }
    // The noise is part of what arrived; the reply is decoded behind it.
    if (options.contains(QStringLiteral("--noise")))
        QVERIFY(reply->length > 9);
    if (dropped) {
        // The late reply to the first request, dropped before the second.
        QVERIFY(dropped->bytes.size() >= 2);
        if (serial) {
            QCOMPARE(int(dropped->bytes[0]), 19);
            QCOMPARE(int(dropped->bytes[1]), 107);
        } else {
            QCOMPARE(dropped->bytes[0] << 8 | dropped->bytes[1], firstRequest->transaction);
        }
    }
}

QTEST_GUILESS_MAIN(TstTapSim)
#include "tst_tapsim.moc"
