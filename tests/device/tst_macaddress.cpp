// The MAC dialog's arithmetic: serial number to the last three octets as the
// boxes show them, the reverse shown when the dialog opens, and which box
// texts a send accepts.

#include "MacAddress.h"

#include <QtTest>

class TestMacAddress : public QObject
{
    Q_OBJECT
private slots:
    void serialNumberToBoxes_data();
    void serialNumberToBoxes();
    void boxesToSerialNumber_data();
    void boxesToSerialNumber();
    void octetOnSend_data();
    void octetOnSend();
};

void TestMacAddress::serialNumberToBoxes_data()
{
    QTest::addColumn<QString>("serialText");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<bool>("sendable"); // all three boxes accepted on send
    QTest::newRow("1193046") << "1193046" << QStringList{"12", "34", "56"} << true;
    QTest::newRow("zero") << "0" << QStringList{"00", "00", "00"} << true;
    QTest::newRow("not a number") << "12ab" << QStringList{"00", "00", "00"} << true;
    QTest::newRow("hexadecimal prefix is not decimal")
        << "$10" << QStringList{"00", "00", "00"} << true;
    QTest::newRow("largest 24-bit") << "16777215" << QStringList{"FF", "FF", "FF"} << true;
    // Octet 4 is shown whole, never cut to two digits, and refused on send.
    QTest::newRow("16777216") << "16777216" << QStringList{"100", "00", "00"} << false;
    // Truncation toward zero: the high octet of a small negative number is 0.
    QTest::newRow("-1") << "-1" << QStringList{"00", "FF", "FF"} << true;
    QTest::newRow("-65537") << "-65537" << QStringList{"FFFFFFFF", "FF", "FF"} << false;
    QTest::newRow("most negative") << "-2147483648" << QStringList{"FFFF8000", "00", "00"} << false;
    QTest::newRow("above the 32-bit range")
        << "2147483648" << QStringList{"00", "00", "00"} << true;
}

void TestMacAddress::serialNumberToBoxes()
{
    QFETCH(QString, serialText);
    QFETCH(QStringList, boxes);
    QFETCH(bool, sendable);
    const std::array<int, 3> octets = serialNumberOctets(serialNumberValue(serialText));
    QStringList shown;
    bool accepted = true;
    for (int octet : octets) {
        shown << macOctetText(octet);
        accepted = accepted && macOctetValue(shown.last()).has_value();
    }
    QCOMPARE(shown, boxes);
    QCOMPARE(accepted, sendable);
}

void TestMacAddress::boxesToSerialNumber_data()
{
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<int>("serial");
    QTest::newRow("12 34 56") << QStringList{"12", "34", "56"} << 1193046;
    QTest::newRow("lower case") << QStringList{"0a", "bc", "de"} << 703710;
    // The texts are joined, so short boxes shift the digits.
    QTest::newRow("one digit each") << QStringList{"1", "2", "3"} << 0x123;
    QTest::newRow("an empty box") << QStringList{"12", "", "56"} << 0x1256;
    QTest::newRow("all empty") << QStringList{"", "", ""} << 0;
    QTest::newRow("not hexadecimal") << QStringList{"12", "G4", "56"} << 0;
    QTest::newRow("three digits") << QStringList{"100", "00", "00"} << 16777216;
    QTest::newRow("too large") << QStringList{"FFFFFFFF", "FF", "FF"} << 0;
}

void TestMacAddress::boxesToSerialNumber()
{
    QFETCH(QStringList, boxes);
    QFETCH(int, serial);
    QCOMPARE(int(serialNumberFromOctetTexts(boxes[0], boxes[1], boxes[2])), serial);
}

void TestMacAddress::octetOnSend_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value"); // -1: refused
    QTest::newRow("00") << "00" << 0;
    QTest::newRow("lower case") << "a0" << 160;
    QTest::newRow("one digit") << "7" << 7;
    QTest::newRow("empty") << "" << -1;
    QTest::newRow("three digits") << "100" << -1;
    QTest::newRow("leading zeros") << "00FF" << 255;
    QTest::newRow("not hexadecimal") << "G1" << -1;
    QTest::newRow("sign") << "-1" << -1;
}

void TestMacAddress::octetOnSend()
{
    QFETCH(QString, text);
    QFETCH(int, value);
    const std::optional<std::uint16_t> octet = macOctetValue(text);
    QCOMPARE(octet ? int(*octet) : -1, value);
}

QTEST_GUILESS_MAIN(TestMacAddress)
#include "tst_macaddress.moc"
