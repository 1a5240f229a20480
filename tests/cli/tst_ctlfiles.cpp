// ravelinctl backup, restore, names --csv and set-names against simulators:
// a unit's configuration carried into a factory-fresh unit, a dry run that
// sends no write, refused files that send nothing at all, and a restore that
// stops at the block the unit refuses.

#include "FileTestKit.h"
#include "SpecialFiles.h"

#include <QJsonArray>
#include <QtTest>

namespace {

const QByteArray PlantName = "Plant Caf\xE9";
const QByteArray Name57 = "Caf\xE9 \"Nord\"";

// Gives a simulator a configuration unlike its factory one in every block.
bool customise(quint16 port)
{
    SimLine line(port);
    return line.open() &&
           line.write(NetworkUnitId, 19, std::array<std::uint16_t, 4>{10, 20, 30, 40}) &&
           line.write(NetworkUnitId, 7,
                      std::array<std::uint16_t, 12>{10, 0, 0, 5, 10, 0, 0, 1, 255, 255, 0, 0}) &&
           line.write(SystemUnitId, FnWriteBlock, ConfigLockRegister, {ConfigLockedWord}) &&
           line.write(SystemUnitId, FnWriteMacBlock, MacFirstRegister,
                      {0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F}) &&
           line.write(BACnetUnitId, 0, encodeDeviceObjectId(123456)) &&
           line.write(BACnetUnitId, 3, encodeDeviceName(PlantName)) &&
           line.write(StatusUnitId, 4, std::array<std::uint16_t, 7>{0, 1, 10, 20, 30, 41, 600}) &&
           line.writeName(1, "Boiler, west") && line.writeName(57, Name57) &&
           line.writeName(100, "1234567890123456789");
}

int lineOf(const QByteArray &text, const QByteArray &marker)
{
    return int(text.left(text.indexOf(marker)).count('\n')) + 1;
}

// The blocks a --verbose simulator received writes for, in order, by the
// names the tool reports them under ("G50 address", "Object name 5").
QStringList writtenBlocks(SimProcess &sim)
{
    QStringList blocks;
    for (const QByteArray &frame : loggedTcpRequests(settledOutput(sim))) {
        const int fn = frame.size() > 9 ? quint8(frame[7]) : 0;
        if (fn != FnWriteBlock && fn != FnWriteWord && fn != FnWriteWordAlt &&
            fn != FnWriteMacBlock)
            continue;
        const int unit = quint8(frame[6]);
        const int start = quint8(frame[8]) * 256 + quint8(frame[9]);
        QString name = QStringLiteral("%1:%2").arg(unit).arg(start);
        if (unit == NamesUnitId)
            name = QStringLiteral("Object name %1").arg(start / ObjectNameRegisters + 1);
        for (const RegisterBlock &b : FixedBlocks)
            if (b.writeFunction == fn && b.unitId == unit && b.start == start)
                name = QLatin1String(b.name);
        blocks << name;
    }
    return blocks;
}

QStringList jsonStrings(const QJsonValue &value)
{
    QStringList list;
    for (const QJsonValue v : value.toArray())
        list << (v.isString() ? v.toString() : QString::number(v.toInt()));
    return list;
}

// "  written: X" lines of a restore's text output.
QStringList writtenLines(const QString &out)
{
    QStringList written;
    for (const QString &line : out.split(QLatin1Char('\n')))
        if (line.startsWith(QLatin1String("  written: ")))
            written << line.mid(11);
    return written;
}

const Range Mac{SystemUnitId, 22, 27};
const Range NetworkAddresses{NetworkUnitId, 7, 18};
const Range Lock{SystemUnitId, ConfigLockRegister, ConfigLockRegister};

} // namespace

class TstCtlFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void backupThenRestoreIntoAFactoryUnit();
    void dryRunSendsNoWrite();
    void badFileSendsNothing_data();
    void badFileSendsNothing();
    void restoreStopsAtTheRefusedBlock_data();
    void restoreStopsAtTheRefusedBlock();
    void onlyRavelinUnitsAreWritten();
    void writingCommandsIdentifyTheUnit_data();
    void writingCommandsIdentifyTheUnit();
    void identityGoesToAnotherUnitOnlyOnRequest_data();
    void identityGoesToAnotherUnitOnlyOnRequest();
    void failedRestoreReportsTheBlocksWritten_data();
    void failedRestoreReportsTheBlocksWritten();
    void setNamesReportsTheAddressesWritten_data();
    void setNamesReportsTheAddressesWritten();
    void namesTravelAsCsv();
    void partialReorderedCsvSetsOnlyItsNames();
    void badCsvIsReportedByLineAndSendsNothing();
    void inputsThatAreNotFilesAreRefused_data();
    void inputsThatAreNotFilesAreRefused();
    void outputsThatAreNotFilesAreLeftAlone_data();
    void outputsThatAreNotFilesAreLeftAlone();

private:
    QTemporaryDir m_dir;
    SimProcess m_source; // the customised unit
    SimProcess m_watch;  // a --verbose unit that refused files must not reach
    QString m_backup;
};

void TstCtlFiles::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(m_source.start({QStringLiteral("--no-animate")}));
    QVERIFY(customise(m_source.port()));
    QVERIFY(m_watch.start({QStringLiteral("--no-animate"), QStringLiteral("--verbose")}));
    m_backup = m_dir.filePath(QStringLiteral("source.json"));
    const CtlRun backup = ctlAt(m_source.port(), {QStringLiteral("backup"), m_backup});
    QCOMPARE(backup.exitCode, 0);
    QVERIFY(backup.out.contains(QStringLiteral("MAC 0A:0B:0C:0D:0E:0F")));
}

void TstCtlFiles::backupThenRestoreIntoAFactoryUnit()
{
    SimProcess fresh;
    QVERIFY(fresh.start({QStringLiteral("--no-animate")}));
    const QMap<QString, int> factory = unitState(fresh.port());

    // The file comes from another unit: its BACnet identity only on request.
    const CtlRun restore = ctlAt(
        fresh.port(), {QStringLiteral("restore"), m_backup, QStringLiteral("--include-identity")});
    QVERIFY2(restore.exitCode == 0, qPrintable(restore.err));
    QCOMPARE(unitState(fresh.port(), {Mac, NetworkAddresses, Lock}),
             unitState(m_source.port(), {Mac, NetworkAddresses, Lock}));
    // Without --include-network the network block stays the factory's.
    const QMap<QString, int> after = unitState(fresh.port());
    for (const QString &reg : {QStringLiteral("20:7"), QStringLiteral("20:18"),
                               QStringLiteral("19:32"), QStringLiteral("19:22")})
        QCOMPARE(after.value(reg), factory.value(reg));

    const CtlRun withNetwork = ctlAt(fresh.port(), {QStringLiteral("restore"), m_backup,
                                                    QStringLiteral("--include-network"),
                                                    QStringLiteral("--include-identity")});
    QVERIFY2(withNetwork.exitCode == 0, qPrintable(withNetwork.err));
    QCOMPARE(unitState(fresh.port(), {Mac}), unitState(m_source.port(), {Mac}));
    // The MAC address is never restored.
    QCOMPARE(unitState(fresh.port()).value("19:22"), factory.value("19:22"));
}

void TstCtlFiles::dryRunSendsNoWrite()
{
    const QMap<QString, int> before = unitState(m_watch.port());
    const CtlRun dry =
        ctlAt(m_watch.port(),
              {QStringLiteral("restore"), m_backup, QStringLiteral("--dry-run"),
               QStringLiteral("--include-network"), QStringLiteral("--include-identity")});
    QVERIFY2(dry.exitCode == 0, qPrintable(dry.err));
    for (const char *line :
         {"G50 address: 192.0.2.20 -> 10.20.30.40", "Device object identifier: 5173 -> 123456",
          "Object name 57: \"Unit057\" -> \"Caf\xC3\xA9 \"Nord\"\"",
          "Network-configuration lock: configuration via network allowed -> "
          "configuration via network forbidden",
          "MAC address: never restored", "nothing was sent"})
        QVERIFY2(dry.out.contains(QString::fromUtf8(line)), line);
    QVERIFY(dry.out.contains(QStringLiteral("Object names: unchanged (97 of 100")));

    QVERIFY(!requestFunctions(m_watch).isEmpty());
    for (const int fn : requestFunctions(m_watch))
        QCOMPARE(fn, int(FnReadBlock));
    QCOMPARE(unitState(m_watch.port()), before);
}

void TstCtlFiles::badFileSendsNothing_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("where");
    QTest::addColumn<QString>("says");

    const QByteArray good = readFile(m_backup);
    QVERIFY(good.contains("\"deviceInstance\": 123456"));
    const auto row = [&good](const char *name, const char *from, const char *to,
                             const QByteArray &marker, const char *key, const char *says) {
        QVERIFY2(good.contains(from), from);
        QByteArray text = good;
        text.replace(from, to);
        QTest::newRow(name) << text
                            << QStringLiteral("line %1, %2").arg(lineOf(text, marker)).arg(key)
                            << QString::fromLatin1(says);
    };
    const QByteArray truncated = good.left(good.indexOf("Unit050"));
    QTest::newRow("truncated")
        << truncated << QStringLiteral("line %1, objectNames[49]").arg(truncated.count('\n') + 1)
        << QStringLiteral("ends early");
    QTest::newRow("not JSON") << QByteArray("address,name\n1,Hall\n") << QStringLiteral("line 1")
                              << QStringLiteral("not valid JSON");
    row("wrong type", "\"deviceInstance\": 123456", "\"deviceInstance\": \"123456\"",
        "deviceInstance", "bacnet.deviceInstance", "found a string");
    row("out of range", "10.20.30.40", "10.20.300.40", "10.20.300.40", "g50.ipAddress",
        "out of range (0 to 255)");
    row("over-long", "Plant Caf\xC3\xA9", "Plant Cafe North Wing", "Plant Cafe",
        "bacnet.deviceName", "21 characters, at most 19");
    row("newer format", "\"formatVersion\": 1", "\"formatVersion\": 2", "formatVersion",
        "formatVersion", "newer than this tool reads");
    QVERIFY(good.contains("\"productCode\": 5173"));
    QByteArray otherProduct = good;
    otherProduct.replace("\"productCode\": 5173", "\"productCode\": 9999");
    QTest::newRow("another product's file")
        << otherProduct << QStringLiteral("product code 9999") << QStringLiteral("--force");
    QTest::newRow("nested too deep")
        << QByteArray("{\n\"extra\":\n" + QByteArray(100000, '[')) << QStringLiteral("line 3")
        << QStringLiteral("nested more than 32 levels");
}

void TstCtlFiles::badFileSendsNothing()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, where);
    QFETCH(QString, says);
    const QString path = writeFile(m_dir, QStringLiteral("bad.json"), text);
    const int before = int(requestFunctions(m_watch).size());
    for (const QStringList &extra : {QStringList{}, QStringList{QStringLiteral("--dry-run")}}) {
        const CtlRun run =
            ctlAt(m_watch.port(), QStringList{QStringLiteral("restore"), path} + extra);
        QCOMPARE(run.exitCode, 5);
        QVERIFY2(run.err.contains(where) && run.err.contains(says), qPrintable(run.err));
        QVERIFY(run.err.contains(QStringLiteral("nothing was sent")));
    }
    QCOMPARE(int(requestFunctions(m_watch).size()), before); // not even a read
}

void TstCtlFiles::restoreStopsAtTheRefusedBlock_data()
{
    QTest::addColumn<QString>("exception");
    QTest::addColumn<bool>("network");
    QTest::addColumn<QString>("block");
    QTest::addColumn<QStringList>("written");   // registers that took the file's values
    QTest::addColumn<QStringList>("untouched"); // registers still at the factory's values

    QTest::newRow("device name") << "22:3" << false << "Device object name"
                                 << QStringList{"20:19", "22:2"}
                                 << QStringList{"22:4", "21:5", "26:0"};
    QTest::newRow("fifth object name")
        << "26:40" << false << "Object name 5" << QStringList{"22:2", "21:5", "26:0"}
        << QStringList{"26:990"};
    QTest::newRow("lock") << "19:32" << true << "Network-configuration lock"
                          << QStringList{"26:990", "20:7"} << QStringList{"19:32"};
}

void TstCtlFiles::restoreStopsAtTheRefusedBlock()
{
    QFETCH(QString, exception);
    QFETCH(bool, network);
    QFETCH(QString, block);
    QFETCH(QStringList, written);
    QFETCH(QStringList, untouched);

    SimProcess unit;
    QVERIFY(unit.start({QStringLiteral("--no-animate"), QStringLiteral("--exception"), exception}));
    const QMap<QString, int> factory = unitState(unit.port());
    QStringList args{QStringLiteral("restore"), m_backup, QStringLiteral("--include-identity")};
    if (network)
        args << QStringLiteral("--include-network");
    const CtlRun run = ctlAt(unit.port(), args);
    QCOMPARE(run.exitCode, 2); // the unit's exception reply
    QVERIFY2(run.err.contains(QStringLiteral("restore stopped at %1: the unit answered with an "
                                             "exception")
                                  .arg(block)),
             qPrintable(run.err));

    const QMap<QString, int> source = unitState(m_source.port());
    const QMap<QString, int> after = unitState(unit.port());
    for (const QString &reg : written)
        QVERIFY2(after.value(reg) == source.value(reg) && after.value(reg) != factory.value(reg),
                 qPrintable(reg));
    for (const QString &reg : untouched)
        QVERIFY2(after.value(reg) == factory.value(reg), qPrintable(reg));
}

void TstCtlFiles::onlyRavelinUnitsAreWritten()
{
    SimProcess other;
    QVERIFY(other.start({QStringLiteral("--no-animate"), QStringLiteral("--verbose"),
                         QStringLiteral("--product"), QStringLiteral("4242")}));
    const QString csv = writeFile(m_dir, QStringLiteral("one.csv"), "address,name\n1,x\n");
    for (const QStringList &args : {QStringList{QStringLiteral("restore"), m_backup},
                                    QStringList{QStringLiteral("set-names"), csv}}) {
        const CtlRun run = ctlAt(other.port(), args);
        QCOMPARE(run.exitCode, 4);
        QVERIFY(run.err.contains(QStringLiteral("product code 4242, not a Quorix Ravelin unit")));
    }
    for (const int fn : requestFunctions(other))
        QCOMPARE(fn, int(FnReadBlock));
}

void TstCtlFiles::writingCommandsIdentifyTheUnit_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("reg"); // forced: a register the write sets ("unit:register")
    QTest::addColumn<int>("value");   // and the value it gets

    const QString csv = writeFile(m_dir, QStringLiteral("other.csv"), "address,name\n1,x\n");
    const auto refused = [](const char *name, const QStringList &args) {
        QTest::newRow(name) << args << QString() << 0;
    };
    refused("set g50", {"set", "g50", "address=10.0.0.9"});
    refused("set bacnet", {"set", "bacnet", "instance=70000"});
    refused("set network", {"set", "network", "config=forbidden"});
    refused("restart", {"restart"});
    refused("write", {"write", "20", "109", "19", "10", "0", "0", "9"});
    refused("write1", {"write1", "19", "103", "32", "61404"});
    refused("restore", {"restore", m_backup, "--include-network"});
    refused("set-names", {"set-names", csv});
    QTest::newRow("write --force")
        << QStringList{"write", "--force", "20", "109", "19", "10", "0", "0", "9"} << "20:19" << 10;
    QTest::newRow("write1 --force")
        << QStringList{"write1", "19", "103", "32", "61404", "--force"} << "19:32" << 61404;
}

void TstCtlFiles::writingCommandsIdentifyTheUnit()
{
    QFETCH(QStringList, args);
    QFETCH(QString, reg);
    QFETCH(int, value);

    SimProcess other;
    QVERIFY(other.start({QStringLiteral("--no-animate"), QStringLiteral("--verbose"),
                         QStringLiteral("--product"), QStringLiteral("1234")}));
    const QMap<QString, int> before = unitState(other.port());
    const CtlRun run = ctlAt(other.port(), args);
    if (reg.isEmpty()) {
        QCOMPARE(run.exitCode, 4);
        QVERIFY2(run.err.contains(QStringLiteral("product code 1234, not a Quorix Ravelin unit")),
                 qPrintable(run.err));
        QCOMPARE(writtenBlocks(other), QStringList());
        QCOMPARE(unitState(other.port()), before);
    } else {
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QCOMPARE(writtenBlocks(other).size(), 1);
        QCOMPARE(unitState(other.port()).value(reg), value);
    }
}

void TstCtlFiles::identityGoesToAnotherUnitOnlyOnRequest_data()
{
    QTest::addColumn<bool>("sameMac");  // the unit has the MAC the file records
    QTest::addColumn<bool>("askedFor"); // --include-identity
    QTest::addColumn<bool>("identityWritten");
    QTest::addColumn<QString>("says");

    QTest::newRow("another unit") << false << false << false
                                  << "the file comes from MAC 0A:0B:0C:0D:0E:0F, this unit has "
                                     "MAC 02:7A:1C:05:17:3A: the Device instance and name are "
                                     "left alone (--include-identity writes them)";
    QTest::newRow("another unit, asked for") << false << true << true << QString();
    QTest::newRow("the same unit") << true << false << true << QString();
}

void TstCtlFiles::identityGoesToAnotherUnitOnlyOnRequest()
{
    QFETCH(bool, sameMac);
    QFETCH(bool, askedFor);
    QFETCH(bool, identityWritten);
    QFETCH(QString, says);

    SimProcess unit;
    QVERIFY(unit.start({QStringLiteral("--no-animate")}));
    if (sameMac)
        QVERIFY(SimLine(unit.port())
                    .write(SystemUnitId, FnWriteMacBlock, MacFirstRegister,
                           {0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F}));
    const QMap<QString, int> factory = unitState(unit.port());
    QStringList args{QStringLiteral("restore"), m_backup};
    if (askedFor)
        args << QStringLiteral("--include-identity");
    const CtlRun run = ctlAt(unit.port(), args);
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    if (says.isEmpty())
        QVERIFY2(!run.out.contains(QStringLiteral("left alone")), qPrintable(run.out));
    else
        QVERIFY2(run.out.contains(says), qPrintable(run.out));

    const QMap<QString, int> source = unitState(m_source.port());
    const QMap<QString, int> after = unitState(unit.port());
    QVERIFY(source.value("22:2") != factory.value("22:2")); // the instances differ
    for (int r = 0; r <= 13; ++r) {                         // Device object identifier and name
        const QString key = QStringLiteral("22:%1").arg(r);
        QCOMPARE(after.value(key), (identityWritten ? source : factory).value(key));
    }
    for (int r = 4; r <= 10; ++r) { // the BACnet options go in every case
        const QString key = QStringLiteral("21:%1").arg(r);
        QCOMPARE(after.value(key), source.value(key));
    }
}

void TstCtlFiles::failedRestoreReportsTheBlocksWritten_data()
{
    QTest::addColumn<QString>("exception");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("failed");
    QTest::addColumn<QStringList>("text"); // the "written:" lines

    QTest::newRow("device name") << "22:3" << QStringList{"--include-identity"}
                                 << "Device object name"
                                 << QStringList{"G50 address", "Device object identifier"};
    // The network block comes last: a failure before it leaves it alone.
    QTest::newRow("name 50, network asked for")
        << "26:490" << QStringList{"--include-identity", "--include-network"} << "Object name 50"
        << QStringList{"G50 address", "Device object identifier", "Device object name",
                       "BACnet options", "Object names 1 to 49"};
    QTest::newRow("lock, identity left alone")
        << "19:32" << QStringList{"--include-network"} << "Network-configuration lock"
        << QStringList{"G50 address", "BACnet options", "Object names 1 to 100",
                       "Network addresses"};
}

void TstCtlFiles::failedRestoreReportsTheBlocksWritten()
{
    QFETCH(QString, exception);
    QFETCH(QStringList, options);
    QFETCH(QString, failed);
    QFETCH(QStringList, text);

    QStringList textRunReceived; // the text run goes first: its report is the literal `text`
    for (const bool json : {false, true}) {
        SimProcess unit;
        QVERIFY(unit.start({QStringLiteral("--no-animate"), QStringLiteral("--verbose"),
                            QStringLiteral("--exception"), exception}));
        QStringList args = QStringList{QStringLiteral("restore"), m_backup} + options;
        if (json)
            args.prepend(QStringLiteral("--json"));
        const CtlRun run = ctlAt(unit.port(), args);
        QCOMPARE(run.exitCode, 2);

        // What the unit received: the blocks it took, then the one it refused.
        QStringList received = writtenBlocks(unit);
        QVERIFY(!received.isEmpty());
        QCOMPARE(received.takeLast(), failed);
        QVERIFY(!received.contains(QLatin1String(Blocks::NetworkAddresses.name)) ||
                failed == QLatin1String(Blocks::ConfigLock.name));
        if (json) {
            const QJsonObject o = run.json();
            QCOMPARE(jsonStrings(o.value(QStringLiteral("written_blocks"))), received);
            QCOMPARE(received, textRunReceived);
            QCOMPARE(o.value(QStringLiteral("failed")).toString(), failed);
        } else {
            QCOMPARE(writtenLines(run.out), text);
            QVERIFY2(run.err.contains(QStringLiteral("restore stopped at %1").arg(failed)),
                     qPrintable(run.err));
            QVERIFY2(
                run.err.contains(
                    QStringLiteral("written before it: %1").arg(text.join(QLatin1String(", ")))),
                qPrintable(run.err));
            textRunReceived = received;
        }
    }
}

void TstCtlFiles::setNamesReportsTheAddressesWritten_data()
{
    QTest::addColumn<QString>("exception"); // empty: none
    QTest::addColumn<QList<int>>("written");
    QTest::addColumn<int>("failed"); // 0: none
    QTest::addColumn<QString>("text");

    QTest::newRow("all") << QString() << QList<int>{3, 12, 57, 80} << 0
                         << "wrote 4 object name(s): addresses 3, 12, 57, 80";
    QTest::newRow("stopped at 57")
        << "26:560" << QList<int>{3, 12} << 57 << "written before it: addresses 3, 12";
    QTest::newRow("stopped at the first")
        << "26:20" << QList<int>{} << 3 << "no name was written before it";
}

void TstCtlFiles::setNamesReportsTheAddressesWritten()
{
    QFETCH(QString, exception);
    QFETCH(QList<int>, written);
    QFETCH(int, failed);
    QFETCH(QString, text);

    // Listed out of address order; written in address order.
    const QString csv = writeFile(m_dir, QStringLiteral("unordered.csv"),
                                  "address,name\n80,Eighty\n57,Late\n3,Early\n12,Twelve\n");
    QStringList expected;
    for (const int n : written)
        expected << QStringLiteral("Object name %1").arg(n);
    if (failed)
        expected << QStringLiteral("Object name %1").arg(failed);

    for (const bool json : {false, true}) {
        SimProcess unit;
        QStringList simArgs{QStringLiteral("--no-animate"), QStringLiteral("--verbose")};
        if (!exception.isEmpty())
            simArgs << QStringLiteral("--exception") << exception;
        QVERIFY(unit.start(simArgs));
        QStringList args{QStringLiteral("set-names"), csv};
        if (json)
            args.prepend(QStringLiteral("--json"));
        const CtlRun run = ctlAt(unit.port(), args);
        QCOMPARE(run.exitCode, failed ? 2 : 0);
        QCOMPARE(writtenBlocks(unit), expected);
        if (json) {
            const QJsonObject o = run.json();
            QStringList reported;
            for (const int n : written)
                reported << QString::number(n);
            QCOMPARE(jsonStrings(o.value(QStringLiteral("written_addresses"))), reported);
            QCOMPARE(o.value(QStringLiteral("failed_address")).toInt(), failed);
        } else {
            QVERIFY2((failed ? run.err : run.out).contains(text), qPrintable(run.out + run.err));
            if (failed)
                QVERIFY(run.err.contains(QStringLiteral("Object name %1: ").arg(failed)));
        }
    }
}

void TstCtlFiles::namesTravelAsCsv()
{
    const CtlRun csv = ctlAt(m_source.port(), {QStringLiteral("names"), QStringLiteral("--csv")});
    QCOMPARE(csv.exitCode, 0);
    QVERIFY(csv.out.startsWith(QStringLiteral("address,name\r\n1,\"Boiler, west\"\r\n")));
    const QString path = writeFile(m_dir, QStringLiteral("names.csv"), csv.out.toUtf8());

    SimProcess fresh;
    QVERIFY(fresh.start({QStringLiteral("--no-animate")}));
    const CtlRun set = ctlAt(fresh.port(), {QStringLiteral("set-names"), path});
    QVERIFY2(set.exitCode == 0, qPrintable(set.err));
    QVERIFY(set.out.contains(QStringLiteral("wrote 100 object name(s)")));
    QCOMPARE(SimLine(fresh.port()).space(NamesUnitId, 1000),
             SimLine(m_source.port()).space(NamesUnitId, 1000));
}

void TstCtlFiles::partialReorderedCsvSetsOnlyItsNames()
{
    SimProcess unit;
    QVERIFY(unit.start({QStringLiteral("--no-animate")}));
    const QString path = writeFile(m_dir, QStringLiteral("some.csv"),
                                   "name;address\r\nLate;57\r\n\"Early; first\";003\r\n");
    const QVector<quint16> before = SimLine(unit.port()).space(NamesUnitId, 1000);
    const CtlRun set = ctlAt(unit.port(), {QStringLiteral("set-names"), path});
    QVERIFY2(set.exitCode == 0, qPrintable(set.err));

    QVector<quint16> expected = before;
    const auto put = [&expected](int n, const QByteArray &name) {
        const auto record = encodeObjectName(name);
        std::copy(record.begin(), record.end(), expected.begin() + (n - 1) * 10);
    };
    put(3, "Early; first");
    put(57, "Late");
    QCOMPARE(SimLine(unit.port()).space(NamesUnitId, 1000), expected);
}

void TstCtlFiles::badCsvIsReportedByLineAndSendsNothing()
{
    const QString path = writeFile(m_dir, QStringLiteral("bad.csv"),
                                   "address,name\n1,fine\n2,Hall number two on the left\n"
                                   "3,fine\n4,Kitchen \xE2\x82\xAC\n");
    const int before = int(requestFunctions(m_watch).size());
    const CtlRun run = ctlAt(m_watch.port(), {QStringLiteral("set-names"), path});
    QCOMPARE(run.exitCode, 5);
    QVERIFY2(run.err.contains(QStringLiteral("line 3: the name of address 2 has 27 characters")),
             qPrintable(run.err));
    QVERIFY(run.err.contains(QStringLiteral("line 5: the name of address 4 holds \"\u20AC\"")));
    QCOMPARE(int(requestFunctions(m_watch).size()), before);
}

// Every file ravelinctl reads, given something that is not a regular file:
// refused at once with the reason, nothing sent to the unit. A FIFO without a
// writer used to block the command for ever (the watchdog releases it).
void TstCtlFiles::inputsThatAreNotFilesAreRefused_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("kind");
    for (const char *command : {"restore", "set-names", "survey --hosts"})
        for (const char *kind : {"fifo", "device", "directory"})
            QTest::addRow("%s, %s", command, kind) << command << kind;
}

void TstCtlFiles::inputsThatAreNotFilesAreRefused()
{
    QFETCH(QString, command);
    QFETCH(QString, kind);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("input"));
    MAKE_NODE(path, kind);

    const int before = int(requestFunctions(m_watch).size());
    FifoWatchdog watchdog(path);
    const CtlRun run = ctlAt(m_watch.port(), command.split(QLatin1Char(' ')) + QStringList{path});
    watchdog.done();
    QVERIFY2(!watchdog.fired(), "ravelinctl blocked on the file");
    QCOMPARE(run.exitCode, 5);
    QVERIFY2(run.err.contains(path + QStringLiteral(": cannot read it: not a regular file")) ||
                 run.err.contains(path + QStringLiteral(": not a regular file")),
             qPrintable(run.err));
    QVERIFY(run.err.contains(QStringLiteral("nothing was sent")));
    QCOMPARE(int(requestFunctions(m_watch).size()), before);
    QCOMPARE(nodeType(path), kind);
}

// Every file ravelinctl writes, aimed at something that is not a regular
// file: refused with the reason and left as it was. A backup onto a device
// node used to replace it with a regular file, and onto a FIFO to block.
void TstCtlFiles::outputsThatAreNotFilesAreLeftAlone_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("viaLink"); // the path is a symbolic link to the node
    const std::pair<const char *, const char *> commands[] = {
        {"backup", "unit.json"}, {"report", "report.html"}, {"report", "report.pdf"}};
    for (const auto &[command, name] : commands)
        for (const char *kind : {"fifo", "device"})
            QTest::addRow("%s %s, %s", command, name, kind) << command << name << kind << false;
    QTest::newRow("backup, link to a fifo") << "backup"
                                            << "unit.json"
                                            << "fifo" << true;
}

void TstCtlFiles::outputsThatAreNotFilesAreLeftAlone()
{
    QFETCH(QString, command);
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(bool, viaLink);
    QTemporaryDir dir;
    const QString node = dir.filePath(name);
    MAKE_NODE(node, kind);
    const QString path = viaLink ? dir.filePath(QStringLiteral("link-") + name) : node;
    if (viaLink)
        QVERIFY(QFile::link(node, path));

    FifoWatchdog watchdog(node);
    const CtlRun run = ctlAt(m_source.port(), {command, path});
    watchdog.done();
    QVERIFY2(!watchdog.fired(), "ravelinctl blocked on the file");
    QVERIFY2(run.exitCode > 0, qPrintable(run.err));
    QVERIFY2((run.out + run.err).contains(QStringLiteral("not a regular file")),
             qPrintable(run.out + run.err));
    QCOMPARE(nodeType(node), kind);
    QCOMPARE(nodeType(path), viaLink ? QStringLiteral("link") : kind);
}

QTEST_GUILESS_MAIN(TstCtlFiles)
#include "tst_ctlfiles.moc"
