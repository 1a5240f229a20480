// The register operations against the simulator over Modbus TCP: what reaches
// the unit (checked with raw reads and the simulator's request log), in which
// order, where a chain stops, and what a failure leaves behind.

#include "Codecs.h"
#include "SimProcess.h"
#include "TcpClient.h"
#include "UnitOps.h"

#include <QDeadlineTimer>
#include <QtTest>

#include <utility>

Q_DECLARE_METATYPE(BACnetSettings)

namespace {

using Regs = QList<quint16>;

template <typename Container> Regs regs(const Container &values)
{
    return Regs(values.begin(), values.end());
}

// A simulated unit with a connected facade, and the requests it received.
class SimUnit
{
    TTcpClient m_client; // before the facade that refers to it

public:
    RegisterAccess access;

    bool start(const QStringList &extra = {})
    {
        m_client.close();
        m_seenLines = 0;
        if (!m_sim.start(QStringList{QStringLiteral("--no-animate"), QStringLiteral("--verbose")} +
                         extra))
            return false;
        m_client.setRemoteHost(m_sim.host());
        m_client.setRemotePort(m_sim.port());
        access.useTcp(m_client);
        access.tcpTimeout = 30;
        return m_client.open();
    }
    void stop() { m_sim.stop(); }

    Regs raw(int unit, int start, int count)
    {
        std::vector<std::uint16_t> values(std::size_t(count), 0);
        if (access.ReadRegisters(unit, FnReadBlock, std::uint16_t(start), std::uint16_t(count),
                                 values.data()) != ResultGood)
            return {};
        return regs(values);
    }
    // The block's registers, read from a neighbouring start register so that
    // this works where the simulator answers the block's own start with an
    // exception (a block at register 0 comes without its first register).
    Regs probe(const RegisterBlock &b)
    {
        return b.start > 0 ? raw(b.unitId, b.start - 1, b.count + 1).mid(1)
                           : raw(b.unitId, b.start + 1, b.count - 1);
    }

    // Requests logged since the last take, as "unit:function:start:word" (the
    // word is the count, or the value of a one-register write). A marker read
    // makes sure everything sent before it has been logged.
    QStringList takeRequests()
    {
        static const QString marker = QStringLiteral("19:107:63:1");
        std::uint16_t value = 0;
        if (access.ReadRegisters(SystemUnitId, FnReadBlock, 63, 1, &value) != ResultGood)
            return {QStringLiteral("marker read failed")};
        const QDeadlineTimer deadline(5000);
        QStringList seen = loggedRequests();
        while (!seen.contains(marker) && !deadline.hasExpired()) {
            QTest::qWait(5);
            seen = loggedRequests();
        }
        const int at = int(seen.indexOf(marker));
        m_seenLines += at + 1;
        return seen.mid(0, at);
    }

    // Requests logged so far and not yet taken, without a marker.
    QStringList loggedRequests()
    {
        QStringList requests;
        const QStringList lines = m_sim.output().split(QLatin1Char('\n'));
        for (const QString &line : lines) {
            if (!line.contains(QLatin1String(" TCP #")) || !line.contains(QLatin1String(" RX ")))
                continue;
            const QStringList bytes = line.section(QLatin1String("| "), 1).split(QLatin1Char(' '));
            auto byte = [&bytes](int i) {
                return bytes.value(i).toInt(nullptr, 16);
            };
            requests << QStringLiteral("%1:%2:%3:%4")
                            .arg(byte(6))
                            .arg(byte(7))
                            .arg(byte(8) << 8 | byte(9))
                            .arg(byte(10) << 8 | byte(11));
        }
        return requests.mid(m_seenLines);
    }

private:
    SimProcess m_sim;
    int m_seenLines = 0;
};

QString readOf(const RegisterBlock &b)
{
    return QStringLiteral("%1:%2:%3:%4")
        .arg(b.unitId)
        .arg(b.readFunction)
        .arg(b.start)
        .arg(b.count);
}

bool sameBlock(const std::optional<RegisterBlock> &failed, int unit, int start)
{
    return failed && failed->unitId == unit && failed->start == start;
}

const NetworkAddresses NewAddresses{10, 0, 0, 5, 10, 0, 0, 1, 255, 255, 0, 0};
const Octets4 NewG50{192, 168, 7, 9};

} // namespace

class TestUnitOps : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { m_unit.stop(); }

    void networkRoundTrip_data();
    void networkRoundTrip();
    void g50KeepsToItsOwnBlock();
    void bacnetRoundTrip_data();
    void bacnetRoundTrip();
    void optionFlagsReadOnlyOneAsOn();
    void objectNamesRoundTrip();
    void singleRegisterWritesAndStatus();

    void readChainsStopAtTheFailedBlock_data();
    void readChainsStopAtTheFailedBlock();
    void writeChainsStopAtTheFailedBlock_data();
    void writeChainsStopAtTheFailedBlock();
    void namesStopAtTheFailedName();
    void failedReadsKeepOldValues();
    void refusedInputsSendNothing();

private:
    SimUnit m_unit;
};

void TestUnitOps::networkRoundTrip_data()
{
    QTest::addColumn<bool>("allow");
    QTest::addColumn<quint16>("lockWord");
    QTest::newRow("forbidden") << false << quint16(61404);
    QTest::newRow("allowed") << true << quint16(0);
}

void TestUnitOps::networkRoundTrip()
{
    QFETCH(bool, allow);
    QFETCH(quint16, lockWord);
    QVERIFY(m_unit.start());
    RegisterAccess &a = m_unit.access;
    // The lock starts at the opposite value, so the write has to change it.
    QCOMPARE(a.WriteRegister(SystemUnitId, FnWriteWord, 32, lockWord ? 0 : 1), ResultGood);
    m_unit.takeRequests();

    QVERIFY(writeNetworkSettings(a, NewAddresses, allow).ok());
    QCOMPARE(m_unit.takeRequests(), (QStringList{QStringLiteral("20:109:7:12"),
                                                 QStringLiteral("19:103:32:%1").arg(lockWord)}));
    QCOMPARE(m_unit.raw(20, 7, 12), regs(NewAddresses));
    QCOMPARE(m_unit.raw(19, 32, 1), Regs{lockWord});
    m_unit.takeRequests();

    NetworkReading r;
    QVERIFY(readNetworkSettings(a, r).ok());
    QCOMPARE(m_unit.takeRequests(),
             (QStringList{readOf(Blocks::NetworkAddresses), readOf(Blocks::Product),
                          readOf(Blocks::ConfigLock)}));
    QVERIFY(r.addresses && r.product && r.lockWord);
    QCOMPARE(*r.addresses, NewAddresses);
    QCOMPARE(r.product->productCode, QuorixProductCode);
    QCOMPARE(r.product->firmware, std::uint16_t(134));
    QCOMPARE(regs(r.product->mac), (Regs{0x02, 0x7A, 0x1C, 0x05, 0x17, 0x3A}));
    QCOMPARE(*r.lockWord, lockWord);
    QCOMPARE(configViaNetworkAllowed(*r.lockWord), allow);
}

void TestUnitOps::g50KeepsToItsOwnBlock()
{
    QVERIFY(m_unit.start());
    const Regs unitAddresses = m_unit.raw(20, 7, 12);
    QVERIFY(writeG50Address(m_unit.access, NewG50).ok());
    QCOMPARE(m_unit.raw(20, 19, 4), regs(NewG50));
    QCOMPARE(m_unit.raw(20, 7, 12), unitAddresses);
    std::optional<Octets4> g50;
    QVERIFY(readG50Address(m_unit.access, g50).ok());
    QCOMPARE(g50, std::optional<Octets4>(NewG50));
}

void TestUnitOps::bacnetRoundTrip_data()
{
    QTest::addColumn<BACnetSettings>("settings");
    QTest::addColumn<Regs>("id");
    QTest::addColumn<Regs>("name");
    QTest::addColumn<Regs>("options");
    QTest::newRow("largest instance, BBMD on")
        << BACnetSettings{4194302, "AB", {true, true, {10, 1, 2, 3}, 600}} << Regs{3076, 575, 65534}
        << Regs{1795, 65, 16896, 0, 0, 0, 0, 0, 0, 0, 0} << Regs{1, 1, 10, 1, 2, 3, 600};
    QTest::newRow("instance 70000, empty name")
        << BACnetSettings{70000, "", {false, false, {0, 0, 0, 0}, 1800}} << Regs{3076, 513, 4464}
        << Regs{1793, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0} << Regs{0, 0, 0, 0, 0, 0, 1800};
    QTest::newRow("instance 0, name of 19 bytes")
        << BACnetSettings{0, "ABCDEFGHIJKLMNOPQRS", {true, false, {0, 0, 0, 0}, 65535}}
        << Regs{3076, 512, 0}
        << Regs{1812, 65, 16963, 17477, 17991, 18505, 19019, 19533, 20047, 20561, 21075}
        << Regs{1, 0, 0, 0, 0, 0, 65535};
}

void TestUnitOps::bacnetRoundTrip()
{
    QFETCH(BACnetSettings, settings);
    QFETCH(Regs, id);
    QFETCH(Regs, name);
    QFETCH(Regs, options);
    QVERIFY(m_unit.start());
    m_unit.takeRequests();
    QVERIFY(writeBACnetSettings(m_unit.access, settings).ok());
    QCOMPARE(m_unit.takeRequests(),
             (QStringList{QStringLiteral("22:109:0:3"), QStringLiteral("22:109:3:11"),
                          QStringLiteral("21:109:4:7")}));
    QCOMPARE(m_unit.raw(22, 0, 3), id);
    QCOMPARE(m_unit.raw(22, 3, 11), name);
    QCOMPARE(m_unit.raw(21, 4, 7), options);
    m_unit.takeRequests();

    BACnetReading r;
    QVERIFY(readBACnetSettings(m_unit.access, r).ok());
    QCOMPARE(m_unit.takeRequests(),
             (QStringList{QStringLiteral("22:107:0:3"), QStringLiteral("22:107:3:11"),
                          QStringLiteral("21:107:4:7")}));
    QCOMPARE(r.instance, std::optional<std::uint32_t>(settings.instance));
    QCOMPARE(r.name, std::optional<QByteArray>(settings.name));
    QVERIFY(r.options);
    QCOMPARE(r.options->newSettingComparison, settings.options.newSettingComparison);
    QCOMPARE(r.options->foreignDevice, settings.options.foreignDevice);
    QCOMPARE(r.options->bbmd, settings.options.bbmd);
    QCOMPARE(r.options->timeToLive, settings.options.timeToLive);
}

void TestUnitOps::optionFlagsReadOnlyOneAsOn()
{
    QVERIFY(m_unit.start());
    const std::uint16_t stored[][2] = {{2, 1}, {1, 65535}};
    for (const auto &flags : stored) {
        QCOMPARE(m_unit.access.WriteRegisters(StatusUnitId, FnWriteBlock, 4, 2, flags), ResultGood);
        BACnetReading r;
        QVERIFY(readBACnetSettings(m_unit.access, r).ok());
        QCOMPARE(r.options->newSettingComparison, flags[0] == 1);
        QCOMPARE(r.options->foreignDevice, flags[1] == 1);
    }
}

void TestUnitOps::objectNamesRoundTrip()
{
    QVERIFY(m_unit.start());
    ObjectNameList names;
    for (int n = 1; n <= ObjectNameCount; ++n)
        names[std::size_t(n - 1)] = "Name " + QByteArray::number(n);
    names[0] = "Hall 3";
    names[1] = "";
    names[99] = "nineteen characters";
    QList<int> progress;
    QVERIFY(writeObjectNames(m_unit.access, names, [&](int n) { progress << n; }).ok());
    QCOMPARE(progress.size(), ObjectNameCount);
    QCOMPARE(progress.first(), 1);
    QCOMPARE(progress.last(), 100);
    QCOMPARE(m_unit.raw(26, 0, 10), (Regs{0x0648, 0x616C, 0x6C20, 0x3300, 0, 0, 0, 0, 0, 0}));
    QCOMPARE(m_unit.raw(26, 10, 10), Regs(10, 0));
    QCOMPARE(m_unit.raw(26, 990, 1), Regs{quint16(19 << 8 | 'n')});

    ObjectNameList back;
    progress.clear();
    QVERIFY(readObjectNames(m_unit.access, back, [&](int n) { progress << n; }).ok());
    QCOMPARE(progress.size(), ObjectNameCount);
    QVERIFY(back == names);

    QVERIFY(writeObjectName(m_unit.access, 50, "Fifty").ok());
    QCOMPARE(m_unit.raw(26, 490, 3), (Regs{0x0546, 0x6966, 0x7479}));
    QByteArray one;
    QVERIFY(readObjectName(m_unit.access, 50, one).ok());
    QCOMPARE(one, QByteArray("Fifty"));
}

void TestUnitOps::singleRegisterWritesAndStatus()
{
    QVERIFY(m_unit.start({QStringLiteral("--restart-ms"), QStringLiteral("200")}));
    RegisterAccess &a = m_unit.access;
    m_unit.takeRequests();

    const std::array<std::uint16_t, 6> mac{0xA0, 0x0B, 0x08, 0x12, 0x34, 0x56};
    QVERIFY(writeMacAddress(a, mac).ok());
    QVERIFY(writeStatusPollWriteBack(a).ok());
    StatusBlock status;
    QVERIFY(readStatusBlock(a, status).ok());
    QCOMPARE(m_unit.takeRequests(),
             (QStringList{QStringLiteral("19:104:22:6"), QStringLiteral("20:108:29:65535"),
                          QStringLiteral("21:107:0:40")}));
    QCOMPARE(m_unit.raw(20, 29, 1), Regs{65535});
    ProductInfo product;
    QVERIFY(readProductInfo(a, product).ok());
    QCOMPARE(product.mac, mac);

    QCOMPARE(status.G50ProcessFlags, std::uint16_t(0x1F)); // the simulator's frozen status
    m_unit.takeRequests();

    // The restart drops the connection, so its request is checked in the log alone.
    QVERIFY(sendRestartCommand(a).ok());
    QTRY_COMPARE(m_unit.loggedRequests(), QStringList{QStringLiteral("19:103:29:7109")});
}

void TestUnitOps::readChainsStopAtTheFailedBlock_data()
{
    QTest::addColumn<bool>("bacnet");
    QTest::addColumn<int>("unit");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("delivered"); // parts read before the failure
    QTest::newRow("network: addresses") << false << 20 << 7 << 0;
    QTest::newRow("network: product block") << false << 19 << 20 << 1;
    QTest::newRow("network: lock") << false << 19 << 32 << 2;
    QTest::newRow("BACnet: identifier") << true << 22 << 0 << 0;
    QTest::newRow("BACnet: name") << true << 22 << 3 << 1;
    QTest::newRow("BACnet: options") << true << 21 << 4 << 2;
}

void TestUnitOps::readChainsStopAtTheFailedBlock()
{
    QFETCH(bool, bacnet);
    QFETCH(int, unit);
    QFETCH(int, start);
    QFETCH(int, delivered);
    QVERIFY(m_unit.start(
        {QStringLiteral("--exception"), QStringLiteral("%1:%2").arg(unit).arg(start)}));
    m_unit.takeRequests();

    // Stale values from an earlier read must not survive as if read now.
    OpResult op;
    QList<bool> present;
    QStringList order;
    if (bacnet) {
        BACnetReading r{1, QByteArray("stale"), BACnetOptions{}};
        op = readBACnetSettings(m_unit.access, r);
        present = {r.instance.has_value(), r.name.has_value(), r.options.has_value()};
        order = {readOf(Blocks::DeviceObjectId), readOf(Blocks::DeviceObjectName),
                 readOf(Blocks::BACnetOptions)};
        if (r.name)
            QCOMPARE(*r.name, QByteArray("Ravelin-5173"));
    } else {
        NetworkReading r{NetworkAddresses{}, ProductInfo{}, std::uint16_t(7)};
        op = readNetworkSettings(m_unit.access, r);
        present = {r.addresses.has_value(), r.product.has_value(), r.lockWord.has_value()};
        order = {readOf(Blocks::NetworkAddresses), readOf(Blocks::Product),
                 readOf(Blocks::ConfigLock)};
        if (r.product)
            QCOMPARE(r.product->productCode, QuorixProductCode);
    }
    QCOMPARE(op.result, ResultException);
    QVERIFY(sameBlock(op.failedBlock, unit, start));
    QCOMPARE(present, (QList<bool>{delivered > 0, delivered > 1, false}));
    QCOMPARE(m_unit.takeRequests(), order.mid(0, delivered + 1));
}

void TestUnitOps::writeChainsStopAtTheFailedBlock_data()
{
    QTest::addColumn<bool>("bacnet");
    QTest::addColumn<QString>("exception");
    QTest::addColumn<int>("failAt");
    QTest::newRow("network: addresses") << false << "20:7" << 0;
    QTest::newRow("network: lock") << false << "19:32" << 1;
    QTest::newRow("BACnet: identifier") << true << "22:0" << 0;
    QTest::newRow("BACnet: name") << true << "22:3" << 1;
    QTest::newRow("BACnet: options") << true << "21:4" << 2;
}

void TestUnitOps::writeChainsStopAtTheFailedBlock()
{
    QFETCH(bool, bacnet);
    QFETCH(QString, exception);
    QFETCH(int, failAt);
    QVERIFY(m_unit.start({QStringLiteral("--exception"), exception}));

    // Each block of the chain with what a good write leaves in it (all of
    // them differ from the simulator's factory values).
    struct Step
    {
        RegisterBlock block;
        Regs written;
    };
    const QList<Step> steps =
        bacnet ? QList<Step>{{Blocks::DeviceObjectId, {3076, 513, 4464}},
                             {Blocks::DeviceObjectName, {1795, 65, 16896, 0, 0, 0, 0, 0, 0, 0, 0}},
                             {Blocks::BACnetOptions, {0, 1, 10, 1, 2, 3, 600}}}
               : QList<Step>{{Blocks::NetworkAddresses, regs(NewAddresses)},
                             {Blocks::ConfigLock, {61404}}};
    QList<Regs> before;
    for (const Step &s : steps)
        before << m_unit.probe(s.block);
    m_unit.takeRequests();

    const OpResult op =
        bacnet
            ? writeBACnetSettings(m_unit.access, {70000, "AB", {false, true, {10, 1, 2, 3}, 600}})
            : writeNetworkSettings(m_unit.access, NewAddresses, false);
    QCOMPARE(op.result, ResultException);
    QVERIFY(sameBlock(op.failedBlock, steps[failAt].block.unitId, steps[failAt].block.start));
    QCOMPARE(m_unit.takeRequests().size(), failAt + 1);
    for (int i = 0; i < steps.size(); ++i) {
        const RegisterBlock &b = steps[i].block;
        if (i < failAt)
            QCOMPARE(m_unit.raw(b.unitId, b.start, b.count), steps[i].written);
        else
            QCOMPARE(m_unit.probe(b), before[i]);
    }
}

void TestUnitOps::namesStopAtTheFailedName()
{
    QVERIFY(m_unit.start({QStringLiteral("--exception"), QStringLiteral("26:390")}));
    ObjectNameList names;
    names.fill("old");
    QList<int> progress;
    OpResult op = readObjectNames(m_unit.access, names, [&](int n) { progress << n; });
    QCOMPARE(op.result, ResultException);
    QVERIFY(sameBlock(op.failedBlock, NamesUnitId, 390));
    QCOMPARE(progress.size(), 40);
    QCOMPARE(progress.last(), 40);
    QCOMPARE(names[0], QByteArray("Unit001"));
    QCOMPARE(names[38], QByteArray("Unit039"));
    for (std::size_t i = 39; i < names.size(); ++i)
        QCOMPARE(names[i], QByteArray("old"));

    ObjectNameList sent;
    for (int n = 1; n <= ObjectNameCount; ++n)
        sent[std::size_t(n - 1)] = "Sent" + QByteArray::number(n);
    progress.clear();
    m_unit.takeRequests();
    op = writeObjectNames(m_unit.access, sent, [&](int n) { progress << n; });
    QCOMPARE(op.result, ResultException);
    QVERIFY(sameBlock(op.failedBlock, NamesUnitId, 390));
    QCOMPARE(progress.size(), 40);
    QCOMPARE(m_unit.takeRequests().size(), 40);
    for (int n = 1; n <= ObjectNameCount; ++n) {
        if (n == 40)
            continue; // its start register answers with an exception
        const QByteArray expected = n < 40 ? sent[std::size_t(n - 1)]
                                           : "Unit" + QByteArray::number(n).rightJustified(3, '0');
        QCOMPARE(m_unit.raw(NamesUnitId, (n - 1) * 10, 10), regs(encodeObjectName(expected)));
    }
}

void TestUnitOps::failedReadsKeepOldValues()
{
    QVERIFY(m_unit.start({QStringLiteral("--exception"), QStringLiteral("19:20"),
                          QStringLiteral("--exception"), QStringLiteral("21:0"),
                          QStringLiteral("--exception"), QStringLiteral("26:0"),
                          QStringLiteral("--exception"), QStringLiteral("20:19")}));
    RegisterAccess &a = m_unit.access;

    ProductInfo product{1, 2, {3, 4, 5, 6, 7, 8}};
    OpResult op = readProductInfo(a, product);
    QVERIFY(!op.ok() && sameBlock(op.failedBlock, SystemUnitId, 20));
    QCOMPARE(product.productCode, std::uint16_t(1));
    QCOMPARE(product.mac[5], std::uint16_t(8));

    StatusBlock status;
    status.MnetState = 7;
    status.TxBufferState[3] = 9;
    op = readStatusBlock(a, status);
    QVERIFY(!op.ok() && sameBlock(op.failedBlock, StatusUnitId, 0));
    QCOMPARE(status.MnetState, std::uint16_t(7));
    QCOMPARE(status.TxBufferState[3], std::uint16_t(9));

    QByteArray name("keep");
    QCOMPARE(readObjectName(a, 1, name).result, ResultException);
    QCOMPARE(name, QByteArray("keep"));

    // An optional output says whether this read delivered it.
    std::optional<Octets4> g50 = Octets4{1, 2, 3, 4};
    op = readG50Address(a, g50);
    QVERIFY(!op.ok() && sameBlock(op.failedBlock, NetworkUnitId, 19));
    QVERIFY(!g50);
}

void TestUnitOps::refusedInputsSendNothing()
{
    QVERIFY(m_unit.start());
    RegisterAccess &a = m_unit.access;
    const QByteArray tooLong(20, 'x');
    ObjectNameList names;
    names.fill("ok");
    names[99] = tooLong;
    NetworkAddresses addresses = NewAddresses;
    addresses[11] = 256;
    QByteArray name;
    bool progressed = false;
    m_unit.takeRequests();
    const std::pair<const char *, OpResult> attempts[] = {
        {"device name of 20 bytes", writeBACnetSettings(a, {100, tooLong, {}})},
        {"instance 4194303", writeBACnetSettings(a, {4194303, "ok", {}})},
        {"BBMD octet 256", writeBACnetSettings(a, {100, "ok", {false, true, {10, 0, 256, 1}, 60}})},
        {"address octet 256", writeNetworkSettings(a, addresses, true)},
        {"G50 octet 300", writeG50Address(a, {300, 0, 2, 20})},
        {"MAC octet 256", writeMacAddress(a, {2, 0x7A, 0x1C, 256, 0, 0})},
        {"object name of 20 bytes", writeObjectName(a, 5, tooLong)},
        {"last of 100 names too long", writeObjectNames(a, names, [&](int) { progressed = true; })},
        {"name number 0", writeObjectName(a, 0, "ok")},
        {"name number 101", readObjectName(a, 101, name)},
    };
    for (const auto &[what, op] : attempts)
        QVERIFY2(op.result == ResultFailure && !op.failedBlock, what);
    QVERIFY(!progressed);
    QCOMPARE(m_unit.takeRequests(), QStringList{});
}

QTEST_GUILESS_MAIN(TestUnitOps)
#include "tst_unitops.moc"
