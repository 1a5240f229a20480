// Conversions between registers and what the engineer sees or types, checked
// against the unit's documented examples.

#include "Codecs.h"
#include "RegisterMap.h"
#include "StatusBlock.h"

#include <QtTest>

using Registers = QList<int>;

namespace {

template <std::size_t N> Registers toList(const std::array<std::uint16_t, N> &a)
{
    return Registers(a.begin(), a.end());
}

template <std::size_t N> std::array<std::uint16_t, N> fromList(const Registers &list)
{
    std::array<std::uint16_t, N> a{};
    for (std::size_t i = 0; i < N && i < std::size_t(list.size()); ++i)
        a[i] = std::uint16_t(list[qsizetype(i)]);
    return a;
}

} // namespace

class TestCodecs : public QObject
{
    Q_OBJECT

private slots:
    void numberEntry_data();
    void numberEntry();
    void displayFormats();
    void deviceObjectId_data();
    void deviceObjectId();
    void deviceNameEncoding_data();
    void deviceNameEncoding();
    void deviceNameDecoding_data();
    void deviceNameDecoding();
    void objectNameRecords_data();
    void objectNameRecords();
    void objectNameLengthByteIsBounded();
    void statusBlockDecoding();
    void receiveBufferUsage_data();
    void receiveBufferUsage();
    void objectNameBlocksTileTheNameSpace();
    void namesRoundTripEveryByte();
    void entryChecksStopAtTheFirstRefusedText();
};

void TestCodecs::numberEntry_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");

    QTest::newRow("plain") << "7" << 7;
    QTest::newRow("leading zeros") << "007" << 7;
    QTest::newRow("leading spaces") << "  12" << 12;
    QTest::newRow("plus sign") << "+12" << 12;
    QTest::newRow("minus sign") << "-5" << -5;
    QTest::newRow("dollar hex") << "$1F" << 31;
    QTest::newRow("x hex") << "x1f" << 31;
    QTest::newRow("0x hex") << "0x1F" << 31;
    QTest::newRow("0X hex") << "0XfF" << 255;
    QTest::newRow("negative hex") << "-$10" << -16;
    QTest::newRow("empty") << "" << -1;
    QTest::newRow("only spaces") << "   " << -1;
    QTest::newRow("only a sign") << "-" << -1;
    QTest::newRow("prefix without digits") << "0x" << -1;
    QTest::newRow("trailing space") << "12 " << -1;
    QTest::newRow("decimal point") << "1.2" << -1;
    QTest::newRow("letters") << "12a" << -1;
    QTest::newRow("hex digit without prefix") << "1F" << -1;
    QTest::newRow("tab is not a blank") << "\t1" << -1;
    QTest::newRow("largest int") << "2147483647" << 2147483647;
    QTest::newRow("smallest int") << "-2147483648" << int(-2147483648LL);
    QTest::newRow("beyond int") << "2147483648" << -1;
    QTest::newRow("far beyond int") << "99999999999999999999" << -1;
    QTest::newRow("hex beyond int") << "$FFFFFFFF" << -1;
    QTest::newRow("non-ascii digit") << QString::fromUtf8("\xd9\xa4") << -1;
}

void TestCodecs::numberEntry()
{
    QFETCH(QString, text);
    QFETCH(int, value);
    QCOMPARE(parseEntryNumber(text), value);
}

void TestCodecs::displayFormats()
{
    QCOMPARE(octetText(1), QStringLiteral("001"));
    QCOMPARE(octetText(10), QStringLiteral("010"));
    QCOMPARE(octetText(192), QStringLiteral("192"));
    QCOMPARE(octetText(300), QStringLiteral("300"));

    QCOMPARE(firmwareLabel(5173, 134), QStringLiteral("QX5173 v1.34"));
    QCOMPARE(firmwareLabel(12, 5), QStringLiteral("QX0012 v0.05"));
    QCOMPARE(firmwareLabel(65535, 65535), QStringLiteral("QX65535 v655.35"));
    QCOMPARE(firmwareVersionText(134), QStringLiteral("1.34"));
    QCOMPARE(firmwareVersionText(1200), QStringLiteral("12.00"));

    const std::uint16_t mac[6] = {160, 11, 8, 18, 52, 86};
    QCOMPARE(macLabel(mac), QStringLiteral("A0:0B:08:12:34:56"));
    const std::uint16_t wide[6] = {0x100, 0, 0, 0, 0, 0xFF};
    QCOMPARE(macLabel(wide), QStringLiteral("100:00:00:00:00:FF"));
}

void TestCodecs::deviceObjectId_data()
{
    QTest::addColumn<int>("instance");
    QTest::addColumn<Registers>("registers");
    QTest::newRow("zero") << 0 << Registers{3076, 512, 0};
    QTest::newRow("70000") << 70000 << Registers{3076, 513, 4464};
    QTest::newRow("largest valid") << 4194302 << Registers{3076, 575, 65534};
}

void TestCodecs::deviceObjectId()
{
    QFETCH(int, instance);
    QFETCH(Registers, registers);
    QCOMPARE(toList(encodeDeviceObjectId(std::uint32_t(instance))), registers);
    const auto regs = fromList<3>(registers);
    QCOMPARE(decodeDeviceInstance(regs.data()), std::uint32_t(instance));

    // Reading ignores the tag word and the object type bits.
    const std::uint16_t foreign[3] = {0, std::uint16_t(0xFFC0 | (regs[1] & 63)), regs[2]};
    QCOMPARE(decodeDeviceInstance(foreign), std::uint32_t(instance));
}

void TestCodecs::deviceNameEncoding_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<Registers>("registers");
    QTest::newRow("AB") << QByteArray("AB") << Registers{1795, 65, 16896, 0, 0, 0, 0, 0, 0, 0, 0};
    QTest::newRow("empty") << QByteArray() << Registers{1793, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    QTest::newRow("nineteen characters")
        << QByteArray("ABCDEFGHIJKLMNOPQRS")
        << Registers{0x0714, 0x0041, 0x4243, 0x4445, 0x4647, 0x4849,
                     0x4A4B, 0x4C4D, 0x4E4F, 0x5051, 0x5253};
    QTest::newRow("twenty characters are cut to nineteen")
        << QByteArray("ABCDEFGHIJKLMNOPQRST")
        << Registers{0x0714, 0x0041, 0x4243, 0x4445, 0x4647, 0x4849,
                     0x4A4B, 0x4C4D, 0x4E4F, 0x5051, 0x5253};
}

void TestCodecs::deviceNameEncoding()
{
    QFETCH(QByteArray, name);
    QFETCH(Registers, registers);
    QCOMPARE(toList(encodeDeviceName(name)), registers);
}

void TestCodecs::deviceNameDecoding_data()
{
    QTest::addColumn<int>("lengthByte");
    QTest::addColumn<QByteArray>("name");
    QTest::newRow("length byte 0") << 0 << QByteArray();
    QTest::newRow("length byte 1") << 1 << QByteArray();
    QTest::newRow("length byte 3") << 3 << QByteArray("AB");
    QTest::newRow("length byte 20") << 20 << QByteArray("ABCDEFGHIJKLMNOPQRS");
    QTest::newRow("length byte 200") << 200 << QByteArray("ABCDEFGHIJKLMNOPQRS");
}

void TestCodecs::deviceNameDecoding()
{
    QFETCH(int, lengthByte);
    QFETCH(QByteArray, name);
    auto regs = encodeDeviceName("ABCDEFGHIJKLMNOPQRS");
    regs[0] = std::uint16_t(0x0700 | lengthByte);
    QCOMPARE(decodeDeviceName(regs.data()), name);
}

void TestCodecs::objectNameRecords_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<Registers>("registers");
    QTest::newRow("Hall 3") << QByteArray("Hall 3")
                            << Registers{0x0648, 0x616C, 0x6C20, 0x3300, 0, 0, 0, 0, 0, 0};
    QTest::newRow("empty") << QByteArray() << Registers{0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    QTest::newRow("8-bit characters")
        << QByteArray("\xE9t\xE9") << Registers{0x03E9, 0x74E9, 0, 0, 0, 0, 0, 0, 0, 0};
}

void TestCodecs::objectNameRecords()
{
    QFETCH(QByteArray, name);
    QFETCH(Registers, registers);
    const auto encoded = encodeObjectName(name);
    QCOMPARE(toList(encoded), registers);
    QCOMPARE(decodeObjectName(encoded.data()), name);
}

void TestCodecs::objectNameLengthByteIsBounded()
{
    auto regs = encodeObjectName("ABCDEFGHIJKLMNOPQRS");
    regs[0] = std::uint16_t(25 << 8 | (regs[0] & 0xFF));
    QCOMPARE(decodeObjectName(regs.data()), QByteArray("ABCDEFGHIJKLMNOPQRS"));
}

void TestCodecs::statusBlockDecoding()
{
    std::uint16_t regs[StatusBlockSize];
    for (int i = 0; i < StatusBlockSize; ++i)
        regs[i] = std::uint16_t(1000 + i);
    regs[15] = 0x000C; // registration bits without foreign-device registration
    const StatusBlock s = decodeStatusBlock(regs);
    QCOMPARE(s.MnetState, std::uint16_t(1000));
    QCOMPARE(s.G50LinkState, std::uint16_t(1003));
    QCOMPARE(s.G50ProcessFlags, std::uint16_t(1014));
    QCOMPARE(s.BACnetProcessFlags, std::uint16_t(0));
    QCOMPARE(s.RxPacketsPending, std::uint16_t(1018));
    QCOMPARE(s.RxWritePos, std::uint16_t(1019));
    QCOMPARE(s.RxBoundary, std::uint16_t(1020));
    QCOMPARE(s.NicRevision, std::uint16_t(1021));
    QCOMPARE(s.TxBufferCount, std::uint16_t(1022));
    QCOMPARE(s.TxBufferState[0], std::uint16_t(1023));
    QCOMPARE(s.TxBufferState[14], std::uint16_t(1037));
    QCOMPARE(s.G50PollProgress, std::uint16_t(1038));
    QCOMPARE(s.BitSwitches, std::uint16_t(1039));

    QCOMPARE(maskBACnetProcessFlags(0x000E), std::uint16_t(0x000E));
    QCOMPARE(maskBACnetProcessFlags(0xFFFD), std::uint16_t(0xFFF1));
}

void TestCodecs::receiveBufferUsage_data()
{
    QTest::addColumn<int>("writePos");
    QTest::addColumn<int>("boundary");
    QTest::addColumn<int>("usage");
    QTest::newRow("equal positions") << 500 << 500 << 0;
    QTest::newRow("one above") << 501 << 500 << 0;
    QTest::newRow("wrapped ring") << 100 << 4000 << 10;
    QTest::newRow("nearly full") << 4351 << 0 << 99;
    QTest::newRow("just behind the boundary") << 499 << 500 << 99;
}

void TestCodecs::receiveBufferUsage()
{
    QFETCH(int, writePos);
    QFETCH(int, boundary);
    QFETCH(int, usage);
    QCOMPARE(::receiveBufferUsage(std::uint16_t(writePos), std::uint16_t(boundary)), usage);
}

void TestCodecs::objectNameBlocksTileTheNameSpace()
{
    QCOMPARE(int(objectNameBlock(1).start), 0);
    QCOMPARE(int(objectNameBlock(40).start), 390);
    QCOMPARE(int(objectNameBlock(100).start), 990);
    QCOMPARE(int(objectNameBlock(100).count), 10);
}

void TestCodecs::namesRoundTripEveryByte()
{
    // Whatever bytes a unit holds come back unchanged after being shown.
    QByteArray all;
    for (int b = 1; b < 256; ++b)
        all.append(char(b));
    QCOMPARE(nameBytes(nameText(all)).value(), all);
    QCOMPARE(nameText(QByteArray("Caf\xe9", 4)), QStringLiteral("Caf\u00e9"));
    // A character without a byte of its own is refused, never replaced.
    QVERIFY(!nameBytes(QStringLiteral("Hall \u20ac")));
    QVERIFY(!nameBytes(QStringLiteral("\u0100")));
}

void TestCodecs::entryChecksStopAtTheFirstRefusedText()
{
    const EntryCheck good = checkEntryNumbers({"7", "007", "$FF"}, 0, 255);
    QVERIFY(good.ok());
    QCOMPARE(good.values, (std::vector<int>{7, 7, 255}));
    const EntryCheck bad = checkEntryNumbers({"1", "256", "x"}, 0, 255);
    QCOMPARE(bad.firstInvalid, 1);
    QVERIFY(bad.values.empty());
    QCOMPARE(checkEntryNumbers({"0"}, 1, 65535).firstInvalid, 0);
    QCOMPARE(checkEntryNumbers({"65535"}, 1, 65535).values, std::vector<int>{65535});
    QCOMPARE(entryNumberInRange(QStringLiteral("4194302"), 0, 4194302),
             std::optional<int>(4194302));
    QVERIFY(!entryNumberInRange(QStringLiteral("4194303"), 0, 4194302));
    QVERIFY(!entryNumberInRange(QStringLiteral("12a"), 0, 4194302));
}

QTEST_GUILESS_MAIN(TestCodecs)
#include "tst_codecs.moc"
