// The facade talks through the one transport chosen when a session opens and
// passes everything through; block calls use the register map's functions.

#include "ModBusTCPPro.h"
#include "RegisterAccess.h"
#include "ScriptedStream.h"
#include "SerialLink.h"
#include "VeskComms.h"

#include <QtTest>

class TestRegisterAccess : public QObject
{
    Q_OBJECT

private slots:
    void withoutTransportNothingIsSent();
    void networkSessionsUseTheTcpClientWithItsTimeout();
    void closingEndsTheTransportAndReleasesAnOwnedLink();
    void blockReadsZeroTheBufferAndUseTheMapsFunction();
    void blockWritesPickTheFrameByTheBlocksAccess();
};

namespace {

// A serial link that records being closed; it never opens a device.
class RecordingLink : public SerialLink
{
public:
    explicit RecordingLink(int *closes) : m_closes(closes) {}
    bool OpenPort(int) override { return true; }
    void ClosePort() override { ++*m_closes; }
    TVeskComms *comms() override { return &m_comms; }

private:
    int *m_closes;
    TVeskComms m_comms;
};

} // namespace

void TestRegisterAccess::withoutTransportNothingIsSent()
{
    RegisterAccess access;
    QVERIFY(access.viaComPort()); // the state before any session
    std::uint16_t v[2] = {5, 5};
    QCOMPARE(access.ReadRegisters(19, FnReadBlock, 20, 2, v), ResultFailure);
    QCOMPARE(access.WriteRegister(19, FnWriteWord, 29, 1), ResultFailure);
    QCOMPARE(access.WriteRegisters(20, FnWriteBlock, 7, 2, v), ResultFailure);
    QCOMPARE(v[0], std::uint16_t(5));

    ScriptedStream tcp;
    access.useTcp(tcp);
    access.closeTransport();
    QCOMPARE(access.ReadRegisters(19, FnReadBlock, 20, 2, v), ResultFailure);
    QVERIFY(tcp.sent.empty());
    QCOMPARE(tcp.waits, 0);
}

void TestRegisterAccess::networkSessionsUseTheTcpClientWithItsTimeout()
{
    ScriptedStream tcp;
    RegisterAccess access;
    access.useTcp(tcp);
    QVERIFY(!access.viaComPort());
    tcp.TransactionId = 7;
    tcp.queue({0, 7, 0, 0, 0, 7, 19, 107, 4, 0x14, 0x35, 0, 134});
    std::uint16_t v[2] = {};
    QCOMPARE(access.ReadRegisters(SystemUnitId, FnReadBlock, 20, 2, v), ResultGood);
    QCOMPARE(v[0], QuorixProductCode);
    QCOMPARE(v[1], std::uint16_t(134));
    QCOMPARE(tcp.lastWaitMs, 7000);

    // The timeout is read at every call, so a shortened one applies at once.
    access.tcpTimeout = 3;
    QCOMPARE(access.WriteRegister(SystemUnitId, FnWriteWord, RestartRegister, RestartCommandWord),
             ResultNoReply);
    QCOMPARE(tcp.lastWaitMs, 300);
    QCOMPARE(int(tcp.sent.size()), 24);
    QCOMPARE(int(tcp.sent[12 + 7]), int(FnWriteWord));
}

void TestRegisterAccess::closingEndsTheTransportAndReleasesAnOwnedLink()
{
    int closes = 0;
    {
        RegisterAccess access;
        access.useSerial(std::make_unique<RecordingLink>(&closes));
        QVERIFY(access.viaComPort());
        QVERIFY(access.serialLink());
        access.closeTransport();
        QCOMPARE(closes, 1);
        QVERIFY(!access.serialLink());
        QVERIFY(!access.hasTransport());
        access.closeTransport(); // a second close does not close the link again
        QCOMPARE(closes, 1);

        // Choosing another transport ends the previous one; so does the
        // facade going away.
        access.useSerial(std::make_unique<RecordingLink>(&closes));
        ScriptedStream tcp;
        access.useTcp(tcp);
        QCOMPARE(closes, 2);
        QVERIFY(!access.viaComPort());
        access.useSerial(std::make_unique<RecordingLink>(&closes));
    }
    QCOMPARE(closes, 3);
}

void TestRegisterAccess::blockReadsZeroTheBufferAndUseTheMapsFunction()
{
    ScriptedStream tcp;
    RegisterAccess access;
    access.useTcp(tcp);
    access.tcpTimeout = 1;
    std::uint16_t v[4] = {9, 9, 9, 9};
    // No reply: the registers of the block are zero, never stale values.
    QCOMPARE(access.ReadBlock(Blocks::G50Address, v), ResultNoReply);
    QCOMPARE(v[3], std::uint16_t(0));
    QCOMPARE(int(tcp.sent.size()), 12);
    QCOMPARE(int(tcp.sent[6]), NetworkUnitId);
    QCOMPARE(int(tcp.sent[7]), int(FnReadBlock));
    QCOMPARE(int(tcp.sent[9]), 19);
    QCOMPARE(int(tcp.sent[11]), 4);

    // A block that is never read fails without sending.
    tcp.sent.clear();
    QCOMPARE(access.ReadBlock(Blocks::Restart, v), ResultFailure);
    QVERIFY(tcp.sent.empty());
}

void TestRegisterAccess::blockWritesPickTheFrameByTheBlocksAccess()
{
    ScriptedStream tcp;
    RegisterAccess access;
    access.useTcp(tcp);
    access.tcpTimeout = 1;
    const std::uint16_t lock[1] = {ConfigLockedWord};
    QCOMPARE(access.WriteBlock(Blocks::ConfigLock, lock), ResultNoReply);
    // Write one register: function 103, register 32, value EFDC.
    QCOMPARE(int(tcp.sent.size()), 12);
    QCOMPARE(int(tcp.sent[7]), int(FnWriteWord));
    QCOMPARE(int(tcp.sent[9]), int(ConfigLockRegister));
    QCOMPARE(int(tcp.sent[10]), 0xEF);
    QCOMPARE(int(tcp.sent[11]), 0xDC);

    tcp.sent.clear();
    const std::uint16_t g50[4] = {10, 0, 0, 5};
    QCOMPARE(access.WriteBlock(Blocks::G50Address, g50), ResultNoReply);
    QCOMPARE(int(tcp.sent[7]), int(FnWriteBlock));
    QCOMPARE(int(tcp.sent.size()), 13 + 8);

    tcp.sent.clear();
    QCOMPARE(access.WriteBlock(Blocks::Identity, g50), ResultFailure);
    QVERIFY(tcp.sent.empty());
}

QTEST_GUILESS_MAIN(TestRegisterAccess)
#include "tst_registeraccess.moc"
