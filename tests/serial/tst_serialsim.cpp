// The serial path end to end: the facade over the RTU client and the serial
// component, opened by COM number through the naming layer, against
// ravelin-sim on the other end of a socat pty pair.

#include "ModBusPro.h"
#include "RegisterAccess.h"
#include "SimProcess.h"
#include "SocatPair.h"
#include "VeskComms.h"

#include <QtTest>

class TstSerialSim : public QObject
{
    Q_OBJECT

private slots:
    void session_data();
    void session();
    void writeAndReadBack();
};

void TstSerialSim::session_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("result");

    QTest::newRow("plain") << QStringList{} << 1;
    QTest::newRow("split replies") << QStringList{QStringLiteral("--split")} << 1;
    QTest::newRow("line rate 9600")
        << QStringList{QStringLiteral("--line-rate"), QStringLiteral("9600")} << 1;
    QTest::newRow("noise before replies") << QStringList{QStringLiteral("--noise")} << 1;
    QTest::newRow("corrupt crc") << QStringList{QStringLiteral("--corrupt-crc")} << -1;
    QTest::newRow("exception") << QStringList{QStringLiteral("--exception"),
                                              QStringLiteral("19:20")}
                               << 2;
    QTest::newRow("silent") << QStringList{QStringLiteral("--silent")} << 0;
}

void TstSerialSim::session()
{
    QFETCH(QStringList, options);
    QFETCH(int, result);
    SocatPair line;
    QVERIFY2(line.start(), "socat could not make a pty pair");
    SimProcess sim;
    QVERIFY(sim.startWith(
        QStringList{QStringLiteral("--serial"), line.a(), QStringLiteral("--no-animate")} +
        options));

    // COM7 means the other end of the pair for this test.
    qputenv("RAVELIN_COM7", QFile::encodeName(line.b()));
    TVeskComms comms;
    comms.CommPort = 6;
    comms.RxBufferSize = 200;
    QCOMPARE(comms.DeviceName(), line.b());
    const bool opened = comms.OpenPort();
    qunsetenv("RAVELIN_COM7");
    QVERIFY(opened);

    RegisterAccess access;
    access.useSerial(comms);
    access.rtuTimeout = result == 0 ? 3 : RtuTimeout;
    std::uint16_t identity[2] = {};
    QCOMPARE(int(access.ReadRegisters(SystemUnitId, FnReadBlock, 20, 2, identity)), result);
    if (result == 1) {
        QCOMPARE(identity[0], QuorixProductCode);
        QCOMPARE(identity[1], std::uint16_t(134));
        std::uint16_t status[40] = {};
        QCOMPARE(access.ReadRegisters(StatusUnitId, FnReadBlock, 0, 40, status), ResultGood);
    } else {
        QCOMPARE(identity[0], std::uint16_t(0));
    }
    comms.ClosePort();
    sim.stop();
}

void TstSerialSim::writeAndReadBack()
{
    SocatPair line;
    QVERIFY2(line.start(), "socat could not make a pty pair");
    SimProcess sim;
    QVERIFY(sim.startWith({QStringLiteral("--serial"), line.a(), QStringLiteral("--no-animate")}));
    TVeskComms comms;
    comms.DevicePath = line.b();
    comms.RxBufferSize = 200;
    QVERIFY(comms.OpenPort());
    RegisterAccess access;
    access.useSerial(comms);

    const std::uint16_t address[12] = {10, 1, 2, 3, 10, 1, 2, 254, 255, 255, 255, 0};
    QCOMPARE(access.WriteRegisters(NetworkUnitId, FnWriteBlock, 7, 12, address), ResultGood);
    std::uint16_t back[12] = {};
    QCOMPARE(access.ReadRegisters(NetworkUnitId, FnReadBlock, 7, 12, back), ResultGood);
    QVERIFY(std::equal(std::begin(address), std::end(address), std::begin(back)));
    QCOMPARE(access.WriteRegister(SystemUnitId, FnWriteWord, 32, ConfigLockedWord), ResultGood);
    std::uint16_t lock = 0;
    QCOMPARE(access.ReadRegisters(SystemUnitId, FnReadBlock, 32, 1, &lock), ResultGood);
    QCOMPARE(lock, ConfigLockedWord);
    // The MAC block goes only over the serial line, with its own function code.
    const std::uint16_t mac[6] = {0, 0x50, 0xC2, 1, 2, 3};
    QCOMPARE(access.WriteRegisters(SystemUnitId, FnWriteMacBlock, 22, 6, mac), ResultGood);
    comms.ClosePort();
    sim.stop();
}

QTEST_GUILESS_MAIN(TstSerialSim)
#include "tst_serialsim.moc"
