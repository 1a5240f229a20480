// The facade picks its transport by ViaComPort and passes everything through.

#include "ModBusTCPPro.h"
#include "RegisterAccess.h"
#include "ScriptedStream.h"

#include <QtTest>

class TestRegisterAccess : public QObject
{
    Q_OBJECT

private slots:
    void serialSessionsNeverTouchTheTcpClient();
    void networkSessionsUseTheTcpClientWithItsTimeout();
};

void TestRegisterAccess::serialSessionsNeverTouchTheTcpClient()
{
    ScriptedStream tcp;
    RegisterAccess access(tcp);
    access.ViaComPort = true;
    std::uint16_t v[2] = {5, 5};
    QVERIFY(access.ReadRegisters(19, FnReadBlock, 20, 2, v) != ResultGood);
    QVERIFY(access.WriteRegister(19, FnWriteWord, 29, 1) != ResultGood);
    QVERIFY(access.WriteRegisters(20, FnWriteBlock, 7, 2, v) != ResultGood);
    QVERIFY(tcp.sent.empty());
    QCOMPARE(tcp.waits, 0);
    QCOMPARE(v[0], std::uint16_t(5));
}

void TestRegisterAccess::networkSessionsUseTheTcpClientWithItsTimeout()
{
    ScriptedStream tcp;
    RegisterAccess access(tcp);
    access.ViaComPort = false;
    TransactionId = 7;
    tcp.queue({0, 7, 0, 0, 0, 7, 19, 107, 4, 0x14, 0x35, 0, 134});
    std::uint16_t v[2] = {};
    QCOMPARE(access.ReadRegisters(SystemUnitId, FnReadBlock, 20, 2, v), ResultGood);
    QCOMPARE(v[0], QuorixProductCode);
    QCOMPARE(v[1], std::uint16_t(134));
    QCOMPARE(tcp.lastWaitMs, 7000);

    access.tcpTimeout = 3;
    QCOMPARE(access.WriteRegister(SystemUnitId, FnWriteWord, RestartRegister, RestartCommandWord),
             ResultNoReply);
    QCOMPARE(tcp.lastWaitMs, 300);
    QCOMPARE(int(tcp.sent.size()), 24);
    QCOMPARE(int(tcp.sent[12 + 7]), int(FnWriteWord));
}

QTEST_GUILESS_MAIN(TestRegisterAccess)
#include "tst_registeraccess.moc"
