// Reply conditions fed byte by byte: pattern modes, counters, minimums and
// the set's bookkeeping.

#include "RxCondition.h"

#include <QtTest>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// The two rules an RTU exchange installs: the good reply (unit id, then the
// function code, then goodTail bytes from the code on) and the exception reply.
void addRtuRules(TRxCondition &set, std::uint8_t unit, std::uint8_t fn, std::uint16_t goodTail)
{
    const std::uint8_t exception = fn | 0x80;
    set.AddItem(1, &unit, false, 1, &fn, false, 0, 1, goodTail);
    set.AddItem(1, &unit, false, 1, &exception, false, 0, 1, 4);
}

int firstComplete(const TRxCondition &set)
{
    for (int k = 1; k <= set.Count(); ++k) {
        if (set.IsComplete(k))
            return k;
    }
    return -1;
}

} // namespace

class TstRxCondition : public QObject
{
    Q_OBJECT

private slots:
    void rtuRules_data();
    void rtuRules();
    void sequencePatterns_data();
    void sequencePatterns();
    void setPatterns_data();
    void setPatterns();
    void checkCharStopsAtTheFirstMatchingRule();
    void countCharKeepsCountingAfterAMatch();
    void addItemLimits();
    void resetKeepsPatternsAndMinimums();
};

void TstRxCondition::rtuRules_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("goodTail");
    QTest::addColumn<int>("completesAt"); // index of the byte after which a rule is complete
    QTest::addColumn<int>("rule");
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("between");
    QTest::addColumn<int>("after");

    // Write reply: unit 19, function 103, 4 echo bytes, CRC.
    QTest::newRow("write reply") << hex("1367001d1bc5aaaa") << 7 << 7 << 1 << 0 << 1 << 7;
    QTest::newRow("exception reply") << hex("13e702aaaa") << 7 << 4 << 2 << 0 << 1 << 4;
    QTest::newRow("noise before the unit id")
        << hex("ff001367001d1bc5aaaa") << 7 << 9 << 1 << 2 << 1 << 7;
    QTest::newRow("stray byte between id and code")
        << hex("1399670000000000aa") << 7 << 8 << 1 << 0 << 2 << 7;
    // Read of 2 registers: count byte, 4 data bytes, CRC after the code.
    QTest::newRow("read reply") << hex("136704000b0001aaaa") << 8 << 8 << 1 << 0 << 1 << 8;
    QTest::newRow("short read reply never completes")
        << hex("136704000b00aaaa") << 8 << -1 << 1 << 0 << 1 << 7;
    QTest::newRow("code without unit id") << hex("67001d1bc5aaaa") << 7 << -1 << 1 << 7 << 0 << 0;
}

void TstRxCondition::rtuRules()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, goodTail);
    QFETCH(int, completesAt);
    QFETCH(int, rule);

    TRxCondition set;
    addRtuRules(set, 0x13, 0x67, std::uint16_t(goodTail));
    int matchedAt = -1;
    bool matched = false;
    for (int i = 0; i < bytes.size(); ++i) {
        // Once a rule has matched the component only counts.
        if (matched)
            set.CountChar();
        else
            matched = set.CheckChar(std::uint8_t(bytes[i])) >= 0;
        if (matchedAt < 0 && firstComplete(set) > 0)
            matchedAt = i;
    }
    QCOMPARE(matchedAt, completesAt);
    if (completesAt >= 0)
        QCOMPARE(firstComplete(set), rule);
    if (rule == 2)
        QVERIFY(!set.IsComplete(1));
    const TRxConditionItem *item = set.Item(rule);
    QVERIFY(item);
    QTEST(int(item->CountBefore), "before");
    QTEST(int(item->CountBetween), "between");
    QTEST(int(item->CountAfter), "after");
}

void TstRxCondition::sequencePatterns_data()
{
    QTest::addColumn<QByteArray>("pattern");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("completesAt");

    QTest::newRow("AB in order") << QByteArray("AB") << QByteArray("xAB") << 2;
    // The second A resets the position and is not tried as the first byte.
    QTest::newRow("AAB is not AB") << QByteArray("AB") << QByteArray("AAB") << -1;
    QTest::newRow("AAB then AB") << QByteArray("AB") << QByteArray("AABAB") << 4;
    QTest::newRow("interrupted") << QByteArray("ABC") << QByteArray("ABxABC") << 5;
    QTest::newRow("cut to five bytes") << QByteArray("ABCDEFG") << QByteArray("ABCDE") << 4;
}

void TstRxCondition::sequencePatterns()
{
    QFETCH(QByteArray, pattern);
    QFETCH(QByteArray, bytes);
    QFETCH(int, completesAt);

    TRxCondition set;
    set.AddItem(std::uint16_t(pattern.size()), pattern.constData(), true, 0, nullptr, false, 0, 0,
                0);
    int matchedAt = -1;
    for (int i = 0; i < bytes.size() && matchedAt < 0; ++i) {
        if (set.CheckChar(std::uint8_t(bytes[i])) == 0)
            matchedAt = i;
    }
    QCOMPARE(matchedAt, completesAt);
    QVERIFY(set.Item(1)->StartLen <= 5);
}

void TstRxCondition::setPatterns_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("complete");

    QTest::newRow("first of the set") << QByteArray("x") << true;
    QTest::newRow("last of the set") << QByteArray("z") << true;
    QTest::newRow("not in the set") << QByteArray("abc") << false;
    QTest::newRow("zero byte") << QByteArray(3, '\0') << false;
}

void TstRxCondition::setPatterns()
{
    QFETCH(QByteArray, bytes);
    TRxCondition set;
    // The pattern is copied up to its 0 byte even though the length says 5.
    set.AddItem(5, "xyz\0q", false, 0, nullptr, false, 0, 0, 0);
    for (char b : bytes)
        set.CheckChar(std::uint8_t(b));
    QTEST(set.IsComplete(1), "complete");
    QCOMPARE(set.Item(1)->StartStr[3], std::uint8_t(0));
    QCOMPARE(set.Item(1)->StartStr[4], std::uint8_t(0));
}

void TstRxCondition::checkCharStopsAtTheFirstMatchingRule()
{
    TRxCondition set;
    set.AddItem(1, "A", false, 0, nullptr, false, 0, 0, 0);
    set.AddItem(1, "A", false, 0, nullptr, false, 0, 0, 0);
    QCOMPARE(set.CheckChar('A'), 0);
    // Rule 2 never saw the byte on which rule 1 matched.
    QVERIFY(!set.Item(2)->StartFound);
    QCOMPARE(int(set.Item(2)->CountBefore), 0);
    // The byte that completes the start is not tried against the end.
    TRxCondition pair;
    pair.AddItem(1, "A", false, 1, "A", false, 0, 0, 0);
    QCOMPARE(pair.CheckChar('A'), -1);
    QCOMPARE(pair.CheckChar('A'), 0);
}

void TstRxCondition::countCharKeepsCountingAfterAMatch()
{
    TRxCondition set;
    addRtuRules(set, 0x13, 0x67, 3);
    set.CheckChar(0x13);
    set.CheckChar(0x67);
    QVERIFY(!set.IsComplete(1)); // CountAfter 1 of 3
    set.CountChar();
    QVERIFY(!set.IsComplete(1));
    set.CountChar();
    QVERIFY(set.IsComplete(1));
    // Rule 2 missed the byte on which rule 1 matched and, with CountChar, examines
    // nothing more: its end can no longer be found.
    QVERIFY(!set.Item(2)->EndFound);
    QCOMPARE(int(set.Item(2)->CountBetween), 3);
}

void TstRxCondition::addItemLimits()
{
    TRxCondition set;
    for (int i = 0; i < 11; ++i)
        set.AddItem(1, "A", false, 0, nullptr, false, 0, 0, std::uint16_t(i));
    QCOMPARE(int(set.Count()), 10);
    QCOMPARE(int(set.Item(10)->MinAfter), 9);
    QVERIFY(!set.Item(11));
    QVERIFY(!set.Item(0));
    QVERIFY(!set.IsComplete(11));
    set.Clear();
    QCOMPARE(int(set.Count()), 0);
}

void TstRxCondition::resetKeepsPatternsAndMinimums()
{
    TRxCondition set;
    set.AddItem(2, "AB", true, 1, "C", false, 1, 0, 2);
    for (char b : QByteArray("xABCC"))
        set.CheckChar(std::uint8_t(b));
    QVERIFY(set.IsComplete(1));
    set.Reset();
    const TRxConditionItem *item = set.Item(1);
    QVERIFY(!item->StartFound && !item->EndFound && !set.IsComplete(1));
    QCOMPARE(int(item->CountBefore + item->CountBetween + item->CountAfter), 0);
    QCOMPARE(int(item->StartPos), 0);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(item->StartStr)), QByteArray("AB"));
    QCOMPARE(int(item->MinAfter), 2);
    for (char b : QByteArray("xABCC"))
        set.CheckChar(std::uint8_t(b));
    QVERIFY(set.IsComplete(1));
}

QTEST_GUILESS_MAIN(TstRxCondition)
#include "tst_rxcondition.moc"
