// The pure parts of the RTU client: CRC, frame check and value extraction.

#include "ModBusPro.h"

#include <QtTest>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

const std::uint8_t *bytes(const QByteArray &a)
{
    return reinterpret_cast<const std::uint8_t *>(a.constData());
}

QByteArray withCrc(QByteArray frame)
{
    const std::uint16_t crc = ModbusCrc16(bytes(frame), 0, std::uint16_t(frame.size() - 1));
    return frame.append(char(crc >> 8)).append(char(crc & 0xFF));
}

} // namespace

class TstRtuFrames : public QObject
{
    Q_OBJECT

private slots:
    void crc_data();
    void crc();
    void crcMatches_data();
    void crcMatches();
    void storeReadValues_data();
    void storeReadValues();
    void findReply_data();
    void findReply();
};

void TstRtuFrames::crc_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    QTest::addColumn<int>("expected");

    QTest::newRow("check value") << QByteArray("123456789") << 0 << 8 << 0x374B;
    QTest::newRow("read request") << hex("146b0007000c") << 0 << 5 << 0x9702;
    QTest::newRow("inner range") << QByteArray("xx123456789y") << 2 << 10 << 0x374B;
    QTest::newRow("single byte") << hex("01") << 0 << 0 << 0x7E80;
    QTest::newRow("last below first") << QByteArray("123") << 2 << 1 << 0xFFFF;
}

void TstRtuFrames::crc()
{
    QFETCH(QByteArray, data);
    QFETCH(int, first);
    QFETCH(int, last);
    QTEST(int(ModbusCrc16(bytes(data), std::uint16_t(first), std::uint16_t(last))), "expected");
}

void TstRtuFrames::crcMatches_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<bool>("matches");

    QTest::newRow("read request") << hex("146b0007000c9702") << true;
    QTest::newRow("bytes swapped") << hex("146b0007000c0297") << false;
    QTest::newRow("one data bit") << hex("146b0007000d9702") << false;
    QTest::newRow("too short") << hex("ffff") << false;
    QTest::newRow("empty") << QByteArray() << false;
}

void TstRtuFrames::crcMatches()
{
    QFETCH(QByteArray, frame);
    QTEST(RtuFrame::crcMatches(bytes(frame), std::uint16_t(frame.size())), "matches");
}

void TstRtuFrames::storeReadValues_data()
{
    QTest::addColumn<QByteArray>("frame"); // CRC bytes are not examined here
    QTest::addColumn<int>("count");
    QTest::addColumn<QList<int>>("expected"); // 4 entries, preset to 0xEEEE

    const int e = 0xEEEE;
    QTest::newRow("two registers") << hex("136b0400010203aaaa") << 2 << QList<int>{1, 0x203, e, e};
    QTest::newRow("more announced than asked")
        << hex("136b0600010002000300aaaa") << 2 << QList<int>{1, 2, e, e};
    QTest::newRow("fewer announced than asked")
        << hex("136b0200010002aaaa") << 3 << QList<int>{1, e, e, e};
    // A zero byte count still yields one entry, taken from the data position.
    QTest::newRow("zero byte count") << hex("136b0000070000aaaa") << 3 << QList<int>{7, e, e, e};
    // Never beyond the bytes that arrived, whatever the byte count claims.
    QTest::newRow("byte count beyond the frame")
        << hex("136bfa00050006aaaa") << 4 << QList<int>{5, 6, e, e};
}

void TstRtuFrames::storeReadValues()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, count);
    QFETCH(QList<int>, expected);
    std::uint16_t values[4] = {0xEEEE, 0xEEEE, 0xEEEE, 0xEEEE};
    RtuFrame::storeReadValues(bytes(frame), std::uint16_t(frame.size()), std::uint16_t(count),
                              values);
    QList<int> got;
    for (std::uint16_t v : values)
        got.append(v);
    QCOMPARE(got, expected);
}

void TstRtuFrames::findReply_data()
{
    // Replies to a read of 2 registers at unit 20 (function 107): the good
    // reply is 9 bytes, 6 of them from the function code on before the CRC.
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<int>("at"); // -1: no reply found
    QTest::addColumn<bool>("exception");

    const QByteArray good = withCrc(hex("146b0400c000a8"));
    const QByteArray exception = withCrc(hex("14eb02"));
    QByteArray badCrc = good;
    badCrc[8] = char(badCrc.at(8) ^ 0x01);
    QTest::newRow("alone") << good << 0 << false;
    QTest::newRow("noise with the unit id before") << hex("1499") + good << 2 << false;
    QTest::newRow("stray bytes after") << good + hex("aabb") << 0 << false;
    QTest::newRow("noise then a bad crc") << hex("1499") + badCrc << -1 << false;
    QTest::newRow("two partial frames") << good.left(5) + good.left(6) << -1 << false;
    QTest::newRow("partial then whole") << good.left(5) + good << 5 << false;
    QTest::newRow("exception after noise") << hex("1499") + exception << 2 << true;
    // The CRC agrees but the byte count announces another length.
    QTest::newRow("wrong byte count") << withCrc(hex("146b0200c000a8")) << -1 << false;
    QTest::newRow("another unit") << withCrc(hex("156b0400c000a8")) << -1 << false;
    QTest::newRow("another function") << withCrc(hex("146c0400c000a8")) << -1 << false;
    QTest::newRow("cut short") << good.left(8) << -1 << false;
    // Far behind the start, the sliding CRC must still agree with the frame's.
    QByteArray longNoise;
    for (int i = 0; i < 300; ++i)
        longNoise.append(char(i % 3 == 0 ? 0x14 : (i * 37) & 0xFF));
    QTest::newRow("after long noise") << longNoise + good + hex("14") << 300 << false;
    QTest::newRow("exception before a good reply") << exception + good << 0 << true;
}

void TstRtuFrames::findReply()
{
    QFETCH(QByteArray, received);
    QFETCH(int, at);
    QFETCH(bool, exception);
    const RtuFrame::ReplySpan span =
        RtuFrame::findReply(bytes(received), std::size_t(received.size()), 20, 107, 8, 4);
    QCOMPARE(span.at, long(at));
    if (at >= 0) {
        QCOMPARE(span.exception, exception);
        QCOMPARE(int(span.length), exception ? 5 : 9);
    }
}

QTEST_GUILESS_MAIN(TstRtuFrames)
#include "tst_rtuframes.moc"
