// The configuration file: what a good file yields, that every bad one is
// refused with its line and key while the caller's values stay as they were,
// that unknown keys survive a rewrite, and what a restore plans to change.

#include "Codecs.h"
#include "ConfigFile.h"
#include "ConfigTransfer.h"
#include "JsonLocator.h"

#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A file as a person might keep it, with every section.
QByteArray goodFile()
{
    QByteArray names;
    for (int n = 1; n <= 100; ++n)
        names +=
            (n > 1 ? ",\n    \"" : "    \"") + QByteArray("Room ") + QByteArray::number(n) + '"';
    return "{\n"
           "  \"format\": \"ravelin-unit-config\",\n"
           "  \"formatVersion\": 1,\n"
           "  \"savedBy\": { \"tool\": \"ravelinctl\", \"version\": \"1.0.0\" },\n"
           "  \"savedAt\": \"2024-05-01T09:30:00Z\",\n"
           "  \"identity\": {\n"
           "    \"productCode\": 5173,\n"
           "    \"firmware\": \"1.34\",\n"
           "    \"mac\": \"02:7A:1C:05:17:3A\"\n"
           "  },\n"
           "  \"network\": {\n"
           "    \"ipAddress\": \"192.0.2.10\",\n"
           "    \"gateway\": \"192.0.2.1\",\n"
           "    \"subnetMask\": \"255.255.255.0\",\n"
           "    \"allowConfigViaNetwork\": false\n"
           "  },\n"
           "  \"g50\": { \"ipAddress\": \"192.0.2.20\" },\n"
           "  \"bacnet\": {\n"
           "    \"deviceInstance\": 70000,\n"
           "    \"deviceName\": \"Caf\\u00e9 Nord\",\n"
           "    \"newSettingComparison\": true,\n"
           "    \"foreignDevice\": true,\n"
           "    \"bbmdAddress\": \"192.0.2.99\",\n"
           "    \"timeToLive\": 600\n"
           "  },\n"
           "  \"objectNames\": [\n" +
           names +
           "\n  ]\n"
           "}\n";
}

// The line (from 1) on which `marker` first occurs in text.
int lineOf(const QByteArray &text, const QByteArray &marker)
{
    const qsizetype at = text.indexOf(marker);
    return at < 0 ? -1 : int(text.left(at).count('\n')) + 1;
}

} // namespace

class TestConfigFile : public QObject
{
    Q_OBJECT

private slots:
    void goodFileYieldsEveryValue();
    void sectionsMayBeLeftOut();
    void writtenFileReadsBackTheSame();
    void unknownKeysSurviveARewrite();
    void refused_data();
    void refused();
    void refusedFileLeavesTheCallerAlone();
    void locatorFollowsNestingAndEscapes();
    void nestingIsBounded_data();
    void nestingIsBounded();
    void quotedTextIsCut_data();
    void quotedTextIsCut();
    void sendingFollowsTheBACnetPage();
    void restorePlanBlockByBlock();
};

void TestConfigFile::goodFileYieldsEveryValue()
{
    ConfigError error;
    const std::optional<UnitConfig> c = parseUnitConfig(goodFile(), &error);
    QVERIFY2(c, qPrintable(error.text()));
    QCOMPARE(c->toolName, QStringLiteral("ravelinctl"));
    QCOMPARE(c->savedAt, QDateTime(QDate(2024, 5, 1), QTime(9, 30), Qt::UTC));
    QCOMPARE(c->identity->productCode, 5173);
    QCOMPARE(c->identity->firmware, 134);
    QCOMPARE(c->identity->mac, (std::array<std::uint16_t, 6>{0x02, 0x7A, 0x1C, 0x05, 0x17, 0x3A}));
    QCOMPARE(c->network->addresses,
             (NetworkAddresses{192, 0, 2, 10, 192, 0, 2, 1, 255, 255, 255, 0}));
    QCOMPARE(c->network->allowConfigViaNetwork, false);
    QCOMPARE(*c->g50, (Octets4{192, 0, 2, 20}));
    QCOMPARE(c->bacnet->instance, 70000u);
    QCOMPARE(c->bacnet->name, QByteArray("Caf\xE9 Nord")); // one Latin-1 byte for the é
    QVERIFY(c->bacnet->options.newSettingComparison && c->bacnet->options.foreignDevice);
    QCOMPARE(c->bacnet->options.bbmd, (Octets4{192, 0, 2, 99}));
    QCOMPARE(c->bacnet->options.timeToLive, 600);
    QCOMPARE((*c->objectNames)[0], QByteArray("Room 1"));
    QCOMPARE((*c->objectNames)[99], QByteArray("Room 100"));
}

void TestConfigFile::sectionsMayBeLeftOut()
{
    const QByteArray text = "{\"format\":\"ravelin-unit-config\",\"formatVersion\":1,"
                            "\"g50\":{\"ipAddress\":\"10.0.0.5\"}}";
    const std::optional<UnitConfig> c = parseUnitConfig(text, nullptr);
    QVERIFY(c);
    QVERIFY(c->g50 && !c->network && !c->bacnet && !c->objectNames && !c->identity);
    QVERIFY(!c->savedAt.isValid());
}

void TestConfigFile::writtenFileReadsBackTheSame()
{
    UnitConfig c = *parseUnitConfig(goodFile(), nullptr);
    // Every byte a name can hold, control characters and the top half included.
    ObjectNameList names = *c.objectNames;
    for (int n = 0; n < 100; ++n)
        for (int k = 0; k < 3; ++k)
            names[std::size_t(n)] += char((n * 3 + k) % 256);
    c.objectNames = names;
    c.bacnet->instance = MaxDeviceInstance;
    c.savedAt = QDateTime(QDate(2030, 1, 2), QTime(3, 4, 5), Qt::UTC);

    const QByteArray text = serializeUnitConfig(c);
    ConfigError error;
    const std::optional<UnitConfig> back = parseUnitConfig(text, &error);
    QVERIFY2(back, qPrintable(error.text()));
    QCOMPARE(*back->objectNames, names);
    QCOMPARE(back->bacnet->instance, MaxDeviceInstance);
    QCOMPARE(back->bacnet->name, c.bacnet->name);
    QCOMPARE(back->network->addresses, c.network->addresses);
    QCOMPARE(back->identity->mac, c.identity->mac);
    QCOMPARE(back->savedAt, c.savedAt);
    QCOMPARE(serializeUnitConfig(*back), text);
}

void TestConfigFile::unknownKeysSurviveARewrite()
{
    QByteArray text = goodFile();
    text.replace("\"formatVersion\": 1,",
                 "\"formatVersion\": 1, \"site\": {\"building\": \"B2\", \"floor\": 3},");
    text.replace("\"gateway\": \"192.0.2.1\",", "\"gateway\": \"192.0.2.1\", \"vlan\": 12,");
    UnitConfig c = *parseUnitConfig(text, nullptr);
    c.g50 = Octets4{10, 0, 0, 7};
    c.network.reset(); // a section the rewrite leaves out goes, with its unknown keys

    const QJsonObject back = QJsonDocument::fromJson(serializeUnitConfig(c)).object();
    QCOMPARE(back.value("site").toObject().value("building").toString(), QStringLiteral("B2"));
    QCOMPARE(back.value("site").toObject().value("floor").toInt(), 3);
    QCOMPARE(back.value("g50").toObject().value("ipAddress").toString(),
             QStringLiteral("10.0.0.7"));
    QVERIFY(!back.contains("network"));

    c.network = NetworkConfig{};
    const QJsonObject withNetwork = QJsonDocument::fromJson(serializeUnitConfig(c)).object();
    QCOMPARE(withNetwork.value("network").toObject().value("vlan").toInt(), 12);
    QCOMPARE(withNetwork.value("network").toObject().value("ipAddress").toString(),
             QStringLiteral("0.0.0.0"));
}

void TestConfigFile::refused_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("says");

    const QByteArray good = goodFile();
    const auto replaced = [&good](const char *from, const char *to) {
        QByteArray text = good;
        Q_ASSERT(text.contains(from));
        return text.replace(from, to);
    };
    const auto row = [&](const char *name, const QByteArray &text, const QByteArray &marker,
                         const char *key, const char *says) {
        QTest::newRow(name) << text << lineOf(text, marker) << QString::fromLatin1(key)
                            << QString::fromLatin1(says);
    };

    const QByteArray truncated = good.left(good.indexOf("Room 40"));
    QTest::newRow("truncated") << truncated << int(truncated.count('\n')) + 1
                               << QStringLiteral("objectNames[39]") << QStringLiteral("ends early");
    QTest::newRow("not JSON") << QByteArray("address,name\n1,Hall\n") << 1 << QString()
                              << QStringLiteral("not valid JSON");
    QTest::newRow("empty") << QByteArray(" \n") << 0 << QString() << QStringLiteral("empty");
    QTest::newRow("list at the top")
        << QByteArray("[1, 2]") << 1 << QString() << QStringLiteral("no JSON object");
    const QByteArray missingComma = replaced("\"Room 7\",", "\"Room 7\"");
    row("missing comma", missingComma, "Room 8", "objectNames[6]", "not valid JSON");
    row("string for a number", replaced("70000", "\"70000\""), "deviceInstance",
        "bacnet.deviceInstance", "expected a whole number, found a string");
    row("fraction", replaced("70000", "70000.5"), "deviceInstance", "bacnet.deviceInstance",
        "expected a whole number");
    row("instance out of range", replaced("70000", "4194303"), "deviceInstance",
        "bacnet.deviceInstance", "4194303 is out of range (0 to 4194302)");
    row("huge number", replaced("70000", "1e300"), "deviceInstance", "bacnet.deviceInstance",
        "out of range");
    row("octet out of range", replaced("192.0.2.1\"", "192.0.300.1\""), "gateway",
        "network.gateway", "out of range (0 to 255)");
    row("not an address", replaced("192.0.2.20", "192.0.2"), "192.0.2\"", "g50.ipAddress",
        "not an address");
    row("time to live 0 while registering", replaced("600", "0"), "timeToLive", "bacnet.timeToLive",
        "0 is out of range (1 to 65535)");
    row("flag as text",
        replaced("\"allowConfigViaNetwork\": false", "\"allowConfigViaNetwork\": \"no\""),
        "allowConfigViaNetwork", "network.allowConfigViaNetwork", "expected true or false");
    row("device name too long", replaced("Caf\\u00e9 Nord", "ABCDEFGHIJKLMNOPQRST"), "deviceName",
        "bacnet.deviceName", "20 characters, at most 19");
    row("object name too long", replaced("\"Room 5\"", "\"Room 5 on the north side\""),
        "north side", "objectNames[4]", "24 characters, at most 19");
    row("character without a byte", replaced("\"Room 8\"", "\"Room 8 \\u20ac\""), "Room 8",
        "objectNames[7]", "cannot store");
    row("99 names", replaced(",\n    \"Room 100\"", ""), "objectNames", "objectNames",
        "holds 99 names");
    row("missing key", replaced("    \"gateway\": \"192.0.2.1\",\n", ""), "\"network\"",
        "network.gateway", "missing");
    row("newer format", replaced("\"formatVersion\": 1", "\"formatVersion\": 2"), "formatVersion",
        "formatVersion", "newer than this tool reads");
    row("another kind of file", replaced("ravelin-unit-config", "spreadsheet"), "\"format\"",
        "format", "not a unit configuration");
    row("key twice",
        replaced("\"g50\": { \"ipAddress\": \"192.0.2.20\" }",
                 "\"g50\": { \"ipAddress\": \"192.0.2.20\", \"ipAddress\": \"1.2.3.4\" }"),
        "\"g50\"", "g50.ipAddress", "occurs twice");
    row("section of the wrong type",
        replaced("\"g50\": { \"ipAddress\": \"192.0.2.20\" }", "\"g50\": \"192.0.2.20\""),
        "\"g50\"", "g50", "expected an object");
    row("MAC address", replaced("02:7A:1C:05:17:3A", "02:7A:1C:05:17"), "\"mac\"", "identity.mac",
        "not a MAC address");
    row("firmware", replaced("\"1.34\"", "\"1.3\""), "firmware", "identity.firmware",
        "not a firmware version");
    row("date", replaced("2024-05-01T09:30:00Z", "yesterday"), "savedAt", "savedAt", "not a date");
    QTest::newRow("far too large") << QByteArray(MaxConfigFileSize + 1, ' ') << 0 << QString()
                                   << QStringLiteral("larger than");
}

void TestConfigFile::refused()
{
    QFETCH(QByteArray, text);
    QFETCH(int, line);
    QFETCH(QString, key);
    QFETCH(QString, says);
    ConfigError error;
    QVERIFY(!parseUnitConfig(text, &error));
    QVERIFY2(error.message.contains(says), qPrintable(error.text()));
    QCOMPARE(error.key, key);
    QCOMPARE(error.line, line);
    if (line > 0)
        QVERIFY(error.text().startsWith(QStringLiteral("line %1").arg(line)));
}

void TestConfigFile::refusedFileLeavesTheCallerAlone()
{
    QTemporaryDir dir;
    const QString good = dir.filePath("good.json");
    const QString bad = dir.filePath("bad.json");
    QFile g(good), b(bad);
    QVERIFY(g.open(QIODevice::WriteOnly) && g.write(goodFile()) > 0);
    QVERIFY(b.open(QIODevice::WriteOnly) && b.write(goodFile().replace("600", "0")) > 0);
    g.close();
    b.close();

    UnitConfig config;
    ConfigError error;
    QVERIFY(loadUnitConfig(good, config, &error));
    const QByteArray before = serializeUnitConfig(config);
    QVERIFY(!loadUnitConfig(bad, config, &error));
    QCOMPARE(error.key, QStringLiteral("bacnet.timeToLive"));
    QVERIFY(!loadUnitConfig(dir.filePath("missing.json"), config, &error));
    QVERIFY(error.message.contains(QStringLiteral("cannot read")));
    QCOMPARE(serializeUnitConfig(config), before);
}

void TestConfigFile::locatorFollowsNestingAndEscapes()
{
    const QByteArray text = "{\"a\": {\n"
                            "  \"b\\\"c\": [1,\n"
                            "    {\"d\": \"x}\"},\n"
                            "    [true]]},\n"
                            " \"e\": null}";
    const JsonLocator l(text);
    QCOMPARE(l.lineOf("a"), 1);
    QCOMPARE(l.lineOf("a.b\"c"), 2);
    QCOMPARE(l.lineOf("a.b\"c[0]"), 2);
    QCOMPARE(l.lineOf("a.b\"c[1].d"), 3);
    QCOMPARE(l.lineOf("a.b\"c[2][0]"), 4);
    QCOMPARE(l.lineOf("e"), 5);
    QCOMPARE(l.lineOf("f"), 0);
    QVERIFY(!l.hasDuplicateKey());
    // Broken text: what was read before the fault is still placed.
    const JsonLocator broken("{\"a\": 1,\n \"b\": [1,\n 2 oops");
    QCOMPARE(broken.lastPathBefore(1000), QStringLiteral("b[1]"));
}

// Nesting is refused past MaxConfigNesting levels before the text is parsed,
// whatever its depth: 100 000 levels used to take gigabytes and abort.
void TestConfigFile::nestingIsBounded_data()
{
    QTest::addColumn<QByteArray>("extra"); // a key added on line 2 of a good file
    QTest::addColumn<bool>("accepted");
    const auto nested = [](int levels, const char *open, const char *close) {
        return "\"extra\": " + QByteArray(open).repeated(levels) + "1" +
               QByteArray(close).repeated(levels) + ",\n";
    };
    // The top-level object is the first level.
    QTest::newRow("lists at the limit") << nested(MaxConfigNesting - 1, "[", "]") << true;
    QTest::newRow("lists one above") << nested(MaxConfigNesting, "[", "]") << false;
    QTest::newRow("objects one above") << nested(MaxConfigNesting, "{\"a\": ", "}") << false;
    QTest::newRow("brackets inside a string")
        << "\"extra\": \"\\\"" + QByteArray(1000, '[') + "\",\n"
        << true;
    QTest::newRow("100 000 levels, never closed")
        << "\"extra\": " + QByteArray(100000, '[') << false;
}

void TestConfigFile::nestingIsBounded()
{
    QFETCH(QByteArray, extra);
    QFETCH(bool, accepted);
    const QByteArray text = "{\n" + extra + goodFile().mid(2);
    ConfigError error;
    const std::optional<UnitConfig> config = parseUnitConfig(text, &error);
    QVERIFY2(config.has_value() == accepted, qPrintable(error.text()));
    if (!accepted) {
        QCOMPARE(error.line, 2);
        QVERIFY2(error.message.contains(
                     QStringLiteral("nested more than %1 levels").arg(MaxConfigNesting)),
                 qPrintable(error.message));
    }
}

// Whatever the file holds, a refusal quotes at most MaxQuotedLength
// characters of it: a key or value of thousands used to fill the message.
void TestConfigFile::quotedTextIsCut_data()
{
    QTest::addColumn<QByteArray>("text");
    const QByteArray longKey = '"' + QByteArray(5000, 'k') + '"';
    const QByteArray good = goodFile();
    QTest::newRow("key twice") << "{\n" + longKey + ": 1, " + longKey + ": 2,\n" + good.mid(2);
    QTest::newRow("syntax error after a key") << "{\n" + longKey + ": ]";
    QByteArray format = good;
    format.replace("ravelin-unit-config", QByteArray(100, 'x')); // the longest name read
    QTest::newRow("format name") << format;
}

void TestConfigFile::quotedTextIsCut()
{
    QFETCH(QByteArray, text);
    ConfigError error;
    QVERIFY(!parseUnitConfig(text, &error));
    const QString shown = error.text();
    QVERIFY2(shown.size() < 2 * MaxQuotedLength + 80, qPrintable(shown.left(300)));
    QVERIFY2(shown.contains(QChar(0x2026)), qPrintable(shown));
}

void TestConfigFile::sendingFollowsTheBACnetPage()
{
    BACnetSettings s{100, "Plant", {true, false, Octets4{10, 0, 0, 1}, 0}};
    BACnetSettings sent = bacnetSettingsToSend(s);
    QCOMPARE(sent.options.bbmd, Octets4{}); // not registering: the BBMD goes as zeros
    QCOMPARE(sent.options.timeToLive, DefaultTimeToLive);
    s.options.timeToLive = 90;
    QCOMPARE(bacnetSettingsToSend(s).options.timeToLive, 90);
    s.options.foreignDevice = true;
    QCOMPARE(bacnetSettingsToSend(s).options.bbmd, (Octets4{10, 0, 0, 1}));
}

void TestConfigFile::restorePlanBlockByBlock()
{
    const UnitConfig target = *parseUnitConfig(goodFile(), nullptr);
    UnitConfig current = target;
    current.g50 = Octets4{192, 0, 2, 21};
    (*current.objectNames)[41] = "Old name";
    current.network->allowConfigViaNetwork = true;

    const auto kinds = [](const std::vector<BlockChange> &plan) {
        QMap<QString, int> byBlock;
        for (const BlockChange &c : plan)
            byBlock.insert(c.block, c.kind);
        return byBlock;
    };
    const std::vector<BlockChange> plan = planRestore(current, target, RestoreOptions{});
    const QMap<QString, int> k = kinds(plan);
    QCOMPARE(k.value("G50 address"), int(BlockChange::Changed));
    QCOMPARE(k.value("Device object name"), int(BlockChange::Unchanged));
    QCOMPARE(k.value("Object name 42"), int(BlockChange::Changed));
    QVERIFY(!k.contains("Object name 41"));
    QCOMPARE(k.value("Object names"), int(BlockChange::Unchanged));
    QCOMPARE(k.value("Network-configuration lock"), int(BlockChange::Skipped));
    QCOMPARE(k.value("MAC address"), int(BlockChange::Skipped));
    QCOMPARE(plan.front().before, QStringLiteral("192.0.2.21"));
    QCOMPARE(plan.front().after, QStringLiteral("192.0.2.20"));

    const QMap<QString, int> withNetwork = kinds(planRestore(current, target, {true}));
    QCOMPARE(withNetwork.value("Network-configuration lock"), int(BlockChange::Changed));
    QCOMPARE(withNetwork.value("Network addresses"), int(BlockChange::Unchanged));
    QCOMPARE(withNetwork.value("MAC address"), int(BlockChange::Skipped));

    UnitConfig namesOnly;
    namesOnly.objectNames = target.objectNames;
    const QMap<QString, int> partial = kinds(planRestore(current, namesOnly, {true}));
    QCOMPARE(partial.value("G50 address"), int(BlockChange::NotInFile));
    QCOMPARE(partial.value("BACnet options"), int(BlockChange::NotInFile));
    QCOMPARE(partial.value("Network addresses"), int(BlockChange::NotInFile));
}

QTEST_GUILESS_MAIN(TestConfigFile)
#include "tst_configfile.moc"
