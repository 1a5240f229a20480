// The recent units list and its place in the settings file, the address
// entry parser, and the reason lines under a failed connect: pure logic.

#include "AppSettings.h"
#include "ConnectReasons.h"
#include "ConnectionPage.h"
#include "RecentUnits.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

Q_DECLARE_METATYPE(RecentUnit)

namespace {

RecentUnit tcpUnit(const QString &address, quint16 port, int minute = 0)
{
    RecentUnit unit;
    unit.address = address;
    unit.tcpPort = port;
    unit.reached = QDateTime(QDate(2026, 3, 1), QTime(10, minute), Qt::UTC);
    return unit;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The lines of the file outside its [Recent] section.
QList<QByteArray> linesOutsideRecent(const QByteArray &content)
{
    QList<QByteArray> kept;
    bool inRecent = false;
    QList<QByteArray> lines = content.split('\n');
    lines.removeLast(); // what follows the last line break
    for (const QByteArray &line : lines) {
        if (line.trimmed().startsWith('['))
            inRecent = line.trimmed() == "[Recent]";
        if (!inRecent)
            kept << line;
    }
    return kept;
}

} // namespace

class TestRecentUnits : public QObject
{
    Q_OBJECT
private slots:
    void entryRoundTrip_data();
    void entryRoundTrip();
    void badEntriesRefused_data();
    void badEntriesRefused();
    void newestFirstCappedAndRemovable();
    void sameUnitKeepsItsBACnetIdentity_data();
    void sameUnitKeepsItsBACnetIdentity();
    void settingsFileKeepsStatedLines();
    void tcpPortKey_data();
    void tcpPortKey();
    void addressEntry_data();
    void addressEntry();
    void reasons_data();
    void reasons();
};

void TestRecentUnits::entryRoundTrip_data()
{
    QTest::addColumn<RecentUnit>("unit");
    RecentUnit full = tcpUnit(QStringLiteral("127.0.0.1"), 1502);
    full.firmware = 134;
    full.mac = {0xA0, 0x0B, 0x08, 0x12, 0x34, 0x56};
    full.instance = 0;
    full.deviceName = QStringLiteral("Plant, 100% \"west\" = ok");
    QTest::newRow("network, everything known") << full;
    QTest::newRow("network, nothing read") << tcpUnit(QStringLiteral("127.0.0.2"), 502);
    RecentUnit serial;
    serial.comPort = 12;
    serial.firmware = 121;
    serial.instance = MaxDeviceInstance;
    serial.deviceName = QStringLiteral("Gebäude Süd");
    serial.reached = QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5), Qt::UTC);
    QTest::newRow("serial, non-ASCII name") << serial;
}

void TestRecentUnits::entryRoundTrip()
{
    QFETCH(RecentUnit, unit);
    const QString entry = unit.entry();
    QVERIFY2(!entry.contains(QLatin1Char(' ')) && !entry.contains(QLatin1Char('\n')),
             qPrintable(entry));
    const std::optional<RecentUnit> back = RecentUnit::fromEntry(entry);
    QVERIFY(back);
    QCOMPARE(back->location(), unit.location());
    QCOMPARE(back->firmware, unit.firmware);
    QCOMPARE(back->mac, unit.mac);
    QCOMPARE(back->instance, unit.instance);
    QCOMPARE(back->deviceName, unit.deviceName);
    QCOMPARE(back->reached, unit.reached);
}

void TestRecentUnits::badEntriesRefused_data()
{
    QTest::addColumn<QString>("entry");
    const QString when = QStringLiteral("2026-03-01T10:00:00Z");
    QTest::newRow("too few fields") << QStringLiteral("tcp,127.0.0.1,502,%1").arg(when);
    QTest::newRow("unknown kind") << QStringLiteral("udp,127.0.0.1,502,%1,,,,").arg(when);
    QTest::newRow("octet above 255") << QStringLiteral("tcp,127.0.0.256,502,%1,,,,").arg(when);
    QTest::newRow("three octets") << QStringLiteral("tcp,127.0.1,502,%1,,,,").arg(when);
    QTest::newRow("port 0") << QStringLiteral("tcp,127.0.0.1,0,%1,,,,").arg(when);
    QTest::newRow("port 65536") << QStringLiteral("tcp,127.0.0.1,65536,%1,,,,").arg(when);
    QTest::newRow("COM 0") << QStringLiteral("com,0,,%1,,,,").arg(when);
    QTest::newRow("no time") << QStringLiteral("tcp,127.0.0.1,502,,,,,");
    QTest::newRow("no instance") << QStringLiteral("tcp,127.0.0.1,502,%1,,,4194303,").arg(when);
    QTest::newRow("short MAC") << QStringLiteral("tcp,127.0.0.1,502,%1,,A0%3A0B,,").arg(when);
}

void TestRecentUnits::badEntriesRefused()
{
    QFETCH(QString, entry);
    QVERIFY(!RecentUnit::fromEntry(entry));
    RecentUnits list;
    list.setEntries({entry, tcpUnit(QStringLiteral("127.0.0.9"), 502).entry()});
    QCOMPARE(list.size(), 1); // the good entry stays
}

void TestRecentUnits::newestFirstCappedAndRemovable()
{
    RecentUnits list;
    for (int i = 1; i <= RecentUnits::MaxUnits + 5; ++i)
        list.reached(tcpUnit(QStringLiteral("127.0.0.%1").arg(i), 502, i));
    QCOMPARE(list.size(), RecentUnits::MaxUnits);
    QCOMPARE(list.units().front().address, QStringLiteral("127.0.0.25"));
    QCOMPARE(list.units().back().address, QStringLiteral("127.0.0.6"));

    // Reaching a listed location again moves it up instead of adding it.
    list.reached(tcpUnit(QStringLiteral("127.0.0.10"), 502, 40));
    QCOMPARE(list.size(), RecentUnits::MaxUnits);
    QCOMPARE(list.units().front().address, QStringLiteral("127.0.0.10"));
    QCOMPARE(list.units().at(1).address, QStringLiteral("127.0.0.25"));
    // Another port is another location.
    list.reached(tcpUnit(QStringLiteral("127.0.0.10"), 1502, 41));
    QCOMPARE(list.units().at(1).location(), QStringLiteral("127.0.0.10:502"));

    // The order survives the settings file; doubles and extras do not.
    QStringList entries = list.entries();
    entries.insert(1, entries.front());
    entries << tcpUnit(QStringLiteral("127.0.1.1"), 502).entry();
    RecentUnits again;
    again.setEntries(entries);
    QCOMPARE(again.entries(), list.entries());

    QVERIFY(!list.removeAt(-1));
    QVERIFY(!list.removeAt(list.size()));
    QVERIFY(list.removeAt(0));
    QCOMPARE(list.units().front().location(), QStringLiteral("127.0.0.10:502"));
    QCOMPARE(list.size(), RecentUnits::MaxUnits - 1);
}

void TestRecentUnits::sameUnitKeepsItsBACnetIdentity_data()
{
    QTest::addColumn<int>("macLast"); // of the unit reached the second time
    QTest::addColumn<bool>("kept");
    QTest::newRow("same MAC") << 0x56 << true;
    QTest::newRow("other MAC") << 0x57 << false;
    QTest::newRow("MAC not read") << -1 << false;
}

void TestRecentUnits::sameUnitKeepsItsBACnetIdentity()
{
    QFETCH(int, macLast);
    QFETCH(bool, kept);
    RecentUnits list;
    RecentUnit first = tcpUnit(QStringLiteral("127.0.0.1"), 502);
    first.mac = {1, 2, 3, 4, 5, 0x56};
    list.reached(first);
    QVERIFY(list.setBACnetIdentity(first, 1234u, QStringLiteral("Hall")));
    QVERIFY(!list.setBACnetIdentity(tcpUnit(QStringLiteral("127.0.0.2"), 502), 1, QString()));
    RecentUnit second = tcpUnit(QStringLiteral("127.0.0.1"), 502, 5);
    if (macLast >= 0)
        second.mac = {1, 2, 3, 4, 5, std::uint16_t(macLast)};
    list.reached(second);
    QCOMPARE(list.size(), 1);
    QCOMPARE(list.units().front().instance,
             kept ? std::optional<std::uint32_t>(1234u) : std::optional<std::uint32_t>());
    QCOMPARE(list.units().front().deviceName, kept ? QStringLiteral("Hall") : QString());
}

void TestRecentUnits::settingsFileKeepsStatedLines()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("QuorixIPB_Cfg.Ini"));
    const QByteArray seeded("; kept\r\n[Options]\r\nComms_Port=4\r\nIP_Address=127.0.0.2\r\n"
                            "\r\n[Other]\r\nkey = value\r\n");
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(seeded);
    }
    RecentUnits list;
    list.reached(tcpUnit(QStringLiteral("127.0.0.1"), 1502));
    list.reached(tcpUnit(QStringLiteral("127.0.0.3"), 502, 1));
    QVERIFY(saveRecentUnits(path, list.entries()));
    QByteArray content = readAll(path);
    QVERIFY(content.startsWith(seeded));
    QVERIFY(content.contains("[Recent]\r\nUnit1=tcp,127.0.0.3,502,"));
    AppSettings loaded = loadSettings(path);
    QCOMPARE(loaded.recentUnits, list.entries());
    QCOMPARE(loaded.ipAddress, QStringLiteral("127.0.0.2"));
    QCOMPARE(loaded.comPort, 4);

    // Rewriting the list, the stated keys and the other section stay byte
    // for byte, and no old entry is left behind.
    QVERIFY(saveSettings(path, 5, QStringLiteral("127.0.0.1")));
    QVERIFY(list.removeAt(0));
    QVERIFY(saveRecentUnits(path, list.entries()));
    content = readAll(path);
    QCOMPARE(linesOutsideRecent(content),
             linesOutsideRecent("; kept\r\n[Options]\r\nComms_Port=5\r\nIP_Address=127.0.0.1\r\n"
                                "\r\n[Other]\r\nkey = value\r\n"));
    QCOMPARE(loadSettings(path).recentUnits, list.entries());
    QVERIFY(saveRecentUnits(path, {}));
    QVERIFY(loadSettings(path).recentUnits.isEmpty());
    QVERIFY(!readAll(path).contains("Unit"));
}

void TestRecentUnits::tcpPortKey_data()
{
    QTest::addColumn<QByteArray>("seeded");
    QTest::addColumn<int>("port");
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<int>("readBack");
    const QByteArray stated("[Options]\nComms_Port=1\nIP_Address=127.0.0.1\n");
    QTest::newRow("502 adds nothing") << stated << 502 << stated << 502;
    QTest::newRow("port forward") << stated << 1502 << stated + "IP_Port=1502\n" << 1502;
    QTest::newRow("back to 502 kept") << stated + "IP_Port=1502\n"
                                      << 502 << stated + "IP_Port=502\n"
                                      << 502;
    QTest::newRow("garbled reads 502") << stated + "IP_Port=70000\n"
                                       << 1502 << stated + "IP_Port=1502\n"
                                       << 1502;
}

void TestRecentUnits::tcpPortKey()
{
    QFETCH(QByteArray, seeded);
    QFETCH(int, port);
    QFETCH(QByteArray, written);
    QFETCH(int, readBack);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("QuorixIPB_Cfg.Ini"));
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(seeded);
    }
    if (seeded.contains("70000"))
        QCOMPARE(loadSettings(path).tcpPort, quint16(502));
    QVERIFY(saveSettings(path, 1, QStringLiteral("127.0.0.1"), quint16(port)));
    QCOMPARE(readAll(path), written);
    QCOMPARE(int(loadSettings(path).tcpPort), readBack);
}

void TestRecentUnits::addressEntry_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("octets"); // empty: refused
    QTest::addColumn<int>("port");       // 0: none given
    QTest::newRow("address") << "127.0.0.1"
                             << "127.0.0.1" << 0;
    QTest::newRow("address and port") << " 127.0.0.2:1502 "
                                      << "127.0.0.2" << 1502;
    QTest::newRow("leading zeros") << "010.000.000.001"
                                   << "10.0.0.1" << 0;
    QTest::newRow("highest port") << "127.0.0.1:65535"
                                  << "127.0.0.1" << 65535;
    QTest::newRow("port 0") << "127.0.0.1:0"
                            << "" << 0;
    QTest::newRow("port too high") << "127.0.0.1:65536"
                                   << "" << 0;
    QTest::newRow("empty port") << "127.0.0.1:"
                                << "" << 0;
    QTest::newRow("signed port") << "127.0.0.1:+80"
                                 << "" << 0;
    QTest::newRow("three parts") << "127.0.1"
                                 << "" << 0;
    QTest::newRow("octet 256") << "127.0.0.256"
                               << "" << 0;
    QTest::newRow("words") << "unit.local"
                           << "" << 0;
    QTest::newRow("hexadecimal") << "0x7f.0.0.1"
                                 << "" << 0;
}

void TestRecentUnits::addressEntry()
{
    QFETCH(QString, text);
    QFETCH(QString, octets);
    QFETCH(int, port);
    const std::optional<AddressEntry> entry = parseAddressEntry(text);
    QCOMPARE(bool(entry), !octets.isEmpty());
    if (!entry)
        return;
    QCOMPARE(QStringLiteral("%1.%2.%3.%4")
                 .arg(entry->octets[0])
                 .arg(entry->octets[1])
                 .arg(entry->octets[2])
                 .arg(entry->octets[3]),
             octets);
    QCOMPARE(entry->port.value_or(0), port);
}

// The cases the window tests cannot reach: no rights (they run as root) and
// a COM number without a device. The others are checked there, end to end.
void TestRecentUnits::reasons_data()
{
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("expected");
    QTest::newRow("no device") << serialOpenReason(40, QString(), {})
                               << "cannot open COM40: no device stands for it on this system";
    QTest::newRow("no rights")
        << serialOpenReason(3, "/dev/ttyUSB0", {true, false, "dialout"})
        << "cannot open /dev/ttyUSB0: not permitted; join the group \"dialout\" and log in again";
    QTest::newRow("no rights, group unknown")
        << serialOpenReason(3, "/dev/ttyUSB0", {true, false, {}})
        << "cannot open /dev/ttyUSB0: not permitted";
}

void TestRecentUnits::reasons()
{
    QFETCH(QString, reason);
    QFETCH(QString, expected);
    QCOMPARE(reason, expected);
}

QTEST_GUILESS_MAIN(TestRecentUnits)
#include "tst_recentunits.moc"
