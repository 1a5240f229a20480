// The setting tables against the register map, the one IPv4 reader under each
// caller's rules with the one written form, and the time to live carried from
// its row into the configuration file and the report.

#include "ConfigFile.h"
#include "ConfigTransfer.h"
#include "ModBusTCPPro.h"
#include "PageRules.h"
#include "UnitOps.h"
#include "UnitReport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <set>
#include <string>

namespace {

// A row reduced to what the register map check needs.
struct RowPlace
{
    QString area;
    QString id;
    RegisterBlock block;
    int offset;
    int width;
    QString cliKey;
    QString fileKey;
};

template <typename S, std::size_t N>
void collect(QList<RowPlace> &places, const char *area, const SettingTable<S, N> &rows)
{
    for (const SettingRow<S> &row : rows)
        places << RowPlace{QLatin1String(area),
                           QLatin1String(row.id),
                           row.block,
                           row.offset,
                           codecWidth(row.codec),
                           row.cliKey ? QLatin1String(row.cliKey) : QString(),
                           row.fileKey ? QLatin1String(row.fileKey) : QString()};
}

QList<RowPlace> allRows()
{
    QList<RowPlace> places;
    collect(places, "network", NetworkRows);
    collect(places, "g50", G50Rows);
    collect(places, "bacnet", BACnetRows);
    collect(places, "names", NamesRows);
    collect(places, "status", StatusRows);
    collect(places, "identity", IdentityRows);
    return places;
}

bool sameBlock(const RegisterBlock &a, const RegisterBlock &b)
{
    return a.unitId == b.unitId && a.start == b.start && a.count == b.count &&
           std::string(a.name) == b.name;
}

bool inRegisterMap(const RegisterBlock &block)
{
    for (const RegisterBlock &b : FixedBlocks)
        if (sameBlock(b, block))
            return true;
    return sameBlock(objectNameBlock(1), block);
}

} // namespace

class TstSettingTables : public QObject
{
    Q_OBJECT

private slots:
    void rowLiesInItsBlock_data();
    void rowLiesInItsBlock();
    void keysUniquePerArea();
    void bacnetEntriesNameTheirRefusal();
    void addressRules_data();
    void addressRules();
    void timeToLiveInFileAndReport_data();
    void timeToLiveInFileAndReport();
};

void TstSettingTables::rowLiesInItsBlock_data()
{
    QTest::addColumn<int>("index");
    const QList<RowPlace> places = allRows();
    for (int i = 0; i < places.size(); ++i)
        QTest::newRow(qPrintable(places[i].area + QLatin1Char('.') + places[i].id)) << i;
}

void TstSettingTables::rowLiesInItsBlock()
{
    QFETCH(int, index);
    const QList<RowPlace> places = allRows();
    const RowPlace &row = places[index];
    QVERIFY2(inRegisterMap(row.block), row.block.name);
    QVERIFY(row.width > 0);
    QVERIFY2(row.offset + row.width <= row.block.count,
             qPrintable(QStringLiteral("registers %1 to %2 of a %3-register block")
                            .arg(row.offset)
                            .arg(row.offset + row.width - 1)
                            .arg(row.block.count)));
    // No two rows of one block share a register.
    for (int j = 0; j < places.size(); ++j) {
        const RowPlace &other = places[j];
        if (j == index || !sameBlock(other.block, row.block))
            continue;
        const bool apart =
            other.offset + other.width <= row.offset || row.offset + row.width <= other.offset;
        QVERIFY2(apart, qPrintable(other.id));
    }
}

void TstSettingTables::keysUniquePerArea()
{
    std::set<QString> cli;
    std::set<QString> file;
    for (const RowPlace &row : allRows()) {
        if (!row.cliKey.isEmpty())
            QVERIFY2(cli.insert(row.area + QLatin1Char('/') + row.cliKey).second,
                     qPrintable(row.cliKey));
        if (!row.fileKey.isEmpty())
            QVERIFY2(file.insert(row.area + QLatin1Char('/') + row.fileKey).second,
                     qPrintable(row.fileKey));
    }
    QVERIFY(cli.size() >= 12);
    QVERIFY(file.size() >= 15);
}

namespace {
// A value of `codec` other than its zero value.
SettingValue numberOrText(Codec codec)
{
    switch (codec) {
    case Codec::Octets:
        return Octets4{10, 0, 0, 7};
    case Codec::Instance:
        return std::uint32_t(4242);
    case Codec::DeviceName:
    case Codec::ObjectName:
        return QByteArray("Plant");
    default:
        return std::uint16_t(600);
    }
}
} // namespace

// A BACnet entry that can be refused must say which message refuses it;
// one that did not would let a refused entry pass as accepted.
void TstSettingTables::bacnetEntriesNameTheirRefusal()
{
    for (const SettingRow<BACnetSettings> &row : BACnetRows) {
        const bool isSwitch = row.codec == Codec::BoolAsOne;
        QVERIFY2(isSwitch || row.rule.refusal != BACnetEntry::None, row.id);
    }
    // Every row takes its entry from BACnetEntries: an entry set for a row
    // reaches the settings checked from it.
    for (const SettingRow<BACnetSettings> &row : BACnetRows) {
        BACnetSettings changed{};
        changed.options.timeToLive = DefaultTimeToLive; // usable while registering
        if (row.codec == Codec::BoolAsOne)
            row.set(changed, true);
        else
            row.set(changed, numberOrText(row.codec));
        const BACnetSettings sent = withGatesApplied(BACnetRows, changed);
        const BACnetEntryCheck check = checkBACnetEntries(bacnetEntriesFor(changed));
        QVERIFY2(check.ok(), row.id);
        QVERIFY2(row.get(check.settings) == row.get(sent), row.id);
    }
}

// One text read under each caller's rule: the connection settings' strict
// reader, the number-entry rule of the pages and ravelinctl, the file's.
void TstSettingTables::addressRules_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("strict");
    QTest::addColumn<bool>("entry");
    QTest::addColumn<int>("file"); // DottedQuadResult
    QTest::addColumn<QList<int>>("octets");
    QTest::addColumn<QString>("written");
    const int good = int(DottedQuadResult::Good);
    const int malformed = int(DottedQuadResult::Malformed);
    const int outOfRange = int(DottedQuadResult::OutOfRange);
    const QList<int> doc{192, 0, 2, 10};
    QTest::newRow("plain") << "192.0.2.10" << true << true << good << doc << "192.0.2.10";
    QTest::newRow("zero-filled is decimal")
        << "192.000.002.010" << true << true << good << doc << "192.0.2.10";
    QTest::newRow("leading spaces")
        << "  192.0.2.10" << true << true << malformed << doc << "192.0.2.10";
    QTest::newRow("space before a part")
        << "192. 0.2.10" << true << true << malformed << doc << "192.0.2.10";
    QTest::newRow("four digits") << "0192.0.2.10" << true << true << malformed << doc
                                 << "192.0.2.10";
    QTest::newRow("sign") << "+192.0.2.10" << false << true << malformed << doc << "192.0.2.10";
    QTest::newRow("minus zero") << "192.-0.2.10" << false << true << malformed << doc
                                << "192.0.2.10";
    QTest::newRow("hexadecimal") << "0xC0.$0.x2.10" << false << true << malformed << doc
                                 << "192.0.2.10";
    QTest::newRow("trailing space")
        << "192.0.2.10 " << false << false << malformed << QList<int>{} << QString();
    QTest::newRow("trailing line feed") << "192.0.2.10\n"
                                        << false << false << malformed << QList<int>{} << QString();
    QTest::newRow("empty part") << "192..2.10" << false << false << malformed << QList<int>{}
                                << QString();
    QTest::newRow("three parts") << "192.0.2" << false << false << malformed << QList<int>{}
                                 << QString();
    QTest::newRow("five parts") << "192.0.2.10.1" << false << false << malformed << QList<int>{}
                                << QString();
    QTest::newRow("256") << "192.0.2.256" << false << false << outOfRange << QList<int>{}
                         << QString();
    QTest::newRow("form judged before range")
        << "300.x.2.10" << false << false << malformed << QList<int>{} << QString();
    QTest::newRow("negative") << "192.0.2.-1" << false << false << malformed << QList<int>{}
                              << QString();
    QTest::newRow("beyond 32 bits")
        << "192.0.2.4294967306" << false << false << malformed << QList<int>{} << QString();
    QTest::newRow("non-ASCII digit") << QString::fromUtf8("192.0.2.\xd9\xa1") << false << false
                                     << malformed << QList<int>{} << QString();
}

void TstSettingTables::addressRules()
{
    QFETCH(QString, text);
    QFETCH(bool, strict);
    QFETCH(bool, entry);
    QFETCH(int, file);
    QFETCH(QList<int>, octets);
    QFETCH(QString, written);

    int parsed[4] = {-7, -7, -7, -7};
    QCOMPARE(ParseIPAddress(text, parsed), strict);
    if (strict)
        QCOMPARE((QList<int>{parsed[0], parsed[1], parsed[2], parsed[3]}), octets);
    else
        QCOMPARE(parsed[0], -7); // left alone when refused

    const std::optional<Octets4> typed = dottedOctets(text);
    QCOMPARE(typed.has_value(), entry);
    if (typed) {
        QCOMPARE((QList<int>{(*typed)[0], (*typed)[1], (*typed)[2], (*typed)[3]}), octets);
        QCOMPARE(dottedText(typed->data()), written);
    }

    DottedQuadResult result = DottedQuadResult::Good;
    const std::optional<Octets4> fromFile = fileAddress(text, &result);
    QCOMPARE(int(result), file);
    QCOMPARE(fromFile.has_value(), file == int(DottedQuadResult::Good));
    if (fromFile)
        QCOMPARE(dottedText(fromFile->data()), written);
}

// The time to live goes into the file under its row's key, is read back
// under its rule (1 to 65535 while registering, 0 allowed otherwise) and is
// reported in seconds.
void TstSettingTables::timeToLiveInFileAndReport_data()
{
    QTest::addColumn<bool>("foreign");
    QTest::addColumn<int>("ttl");
    QTest::addColumn<bool>("readBack");
    QTest::addColumn<int>("restored"); // what a restore sends
    QTest::newRow("registering, 1") << true << 1 << true << 1;
    QTest::newRow("registering, 65535") << true << 65535 << true << 65535;
    QTest::newRow("registering, 0 refused") << true << 0 << false << 0;
    QTest::newRow("not registering, 0") << false << 0 << true << 1800;
    QTest::newRow("not registering, 300") << false << 300 << true << 300;
}

void TstSettingTables::timeToLiveInFileAndReport()
{
    QFETCH(bool, foreign);
    QFETCH(int, ttl);
    QFETCH(bool, readBack);
    QFETCH(int, restored);

    BACnetSettings b;
    b.instance = 5173;
    b.name = "Ravelin-5173";
    b.options.foreignDevice = foreign;
    b.options.timeToLive = std::uint16_t(ttl);
    UnitConfig config;
    config.bacnet = b;
    const QByteArray text = serializeUnitConfig(config);
    const QJsonObject section =
        QJsonDocument::fromJson(text).object().value(QStringLiteral("bacnet")).toObject();
    QCOMPARE(section.value(QLatin1String(TimeToLiveRow.fileKey)).toInt(-1), ttl);

    ConfigError error;
    const std::optional<UnitConfig> parsed = parseUnitConfig(text, &error);
    QCOMPARE(parsed.has_value(), readBack);
    if (parsed)
        QCOMPARE(int(parsed->bacnet->options.timeToLive), ttl);
    else
        QVERIFY2(error.text().contains(QStringLiteral("bacnet.timeToLive: 0 is out of range (1 "
                                                      "to 65535)")),
                 qPrintable(error.text()));

    bool planned = false;
    for (const BlockChange &change : planRestore(UnitConfig{}, config, RestoreOptions{}))
        if (change.block == QLatin1String(Blocks::BACnetOptions.name))
            planned = change.after.endsWith(QStringLiteral("TTL %1 s").arg(restored));
    QVERIFY(planned);

    UnitReport report;
    report.config = config;
    QVERIFY(
        unitReportHtml(report).contains(QStringLiteral("<tr><th>%1</th><td>%2 seconds</td></tr>")
                                            .arg(QLatin1String(TimeToLiveRow.reportLabel))
                                            .arg(ttl)));
}

QTEST_GUILESS_MAIN(TstSettingTables)
#include "tst_settingtables.moc"
