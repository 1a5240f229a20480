// The simulator's own protocol pieces, byte for byte: request handling,
// RTU CRC and frame reader, the register model and its state file.

#include "CraftedStream.h"
#include "PduHandler.h"
#include "RtuFrames.h"
#include "SimCore.h"
#include "UnitModel.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

SimOptions frozen()
{
    SimOptions options;
    options.animate = false;
    return options;
}

} // namespace

class TstSimCore : public QObject
{
    Q_OBJECT

private slots:
    void requests_data();
    void requests();
    void writesAreKept();
    void restartCommandIsNotStored();
    void injectedException();
    void exceptionRuleText_data();
    void exceptionRuleText();
    void exceptionRules_data();
    void exceptionRules();
    void faultCommands();
    void loopbackListenAddress_data();
    void loopbackListenAddress();
    void crc();
    void frameReader_data();
    void frameReader();
    void frameReaderSkipsBadCrcAndForeignUnits();
    void oddFramesEndAtSilence();
    void frameReaderLinearOnCraftedStream();
    void stateFileRoundTrip();
    void stateFileIgnoresIdentityAndBadValues();
    void animationComesUp();
};

void TstSimCore::requests_data()
{
    QTest::addColumn<int>("unit");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("identity") << 19 << hex("6b00140002") << hex("6b04143500 86");
    QTest::newRow("mac") << 19 << hex("6b00160006") << hex("6b0c0002007a001c00050017003a");
    QTest::newRow("g50 address") << 20 << hex("6b00130004") << hex("6b0800c00000000200 14");
    QTest::newRow("first name record") << 26 << hex("6b00000002") << hex("6b04 0755 6e69");
    QTest::newRow("device object id") << 22 << hex("6b00000003") << hex("6b06 0c04 0200 1435");
    QTest::newRow("bacnet options")
        << 21 << hex("6b00040007") << hex("6b0e 0001 0000 0000 0000 0000 0000 0708");
    QTest::newRow("write one echoes") << 20 << hex("6c001dffff") << hex("6c001dffff");
    QTest::newRow("write block echoes") << 20 << hex("6d0013000204000a000b") << hex("6d00130002");
    QTest::newRow("mac block echoes") << 19 << hex("680016000102 00aa") << hex("6800160001");
    QTest::newRow("unknown function") << 19 << hex("0300000001") << hex("8301");
    QTest::newRow("past the space") << 19 << hex("6b003c0008") << hex("eb02");
    QTest::newRow("count zero") << 19 << hex("6b00000000") << hex("eb03");
    QTest::newRow("count above maximum") << 26 << hex("6b0000007e") << hex("eb03");
    QTest::newRow("byte count disagrees") << 20 << hex("6d0013000203000a000b") << hex("ed03");
    QTest::newRow("short request") << 20 << hex("6b0013") << hex("eb03");
    QTest::newRow("identity is read-only") << 19 << hex("67001400ff") << hex("e702");
    QTest::newRow("block over identity") << 19 << hex("6d0013000204 0000 0000") << hex("ed02");
    QTest::newRow("unknown unit") << 30 << hex("6b00000001") << hex("eb0b");
}

void TstSimCore::requests()
{
    QFETCH(int, unit);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    const SimOptions options = frozen();
    UnitModel model(options);
    PduHandler handler(model, options);
    QCOMPARE(handler.handle(unit, request).reply.toHex(' '), reply.toHex(' '));
}

void TstSimCore::writesAreKept()
{
    const SimOptions options = frozen();
    UnitModel model(options);
    PduHandler handler(model, options);
    handler.handle(20, hex("6d00130004080001000200030004"));
    handler.handle(19, hex("670020efdc"));
    QCOMPARE(handler.handle(20, hex("6b00130004")).reply, hex("6b080001000200030004"));
    QCOMPARE(model.value(19, 32), std::uint16_t(61404));
}

void TstSimCore::restartCommandIsNotStored()
{
    const SimOptions options = frozen();
    UnitModel model(options);
    PduHandler handler(model, options);
    const PduOutcome outcome = handler.handle(19, hex("67001d1bc5"));
    QVERIFY(outcome.restart);
    QCOMPARE(outcome.reply, hex("67001d1bc5"));
    QCOMPARE(model.value(19, 29), std::uint16_t(0));
    // The same word with the write-back function code is only a value.
    QVERIFY(!handler.handle(19, hex("6c001d1bc5")).restart);
    QVERIFY(!handler.handle(20, hex("67001d1bc5")).restart);
}

void TstSimCore::injectedException()
{
    SimOptions options = frozen();
    options.exceptions.push_back({20, 7});
    UnitModel model(options);
    PduHandler handler(model, options);
    QCOMPARE(handler.handle(20, hex("6b0007000c")).reply, hex("eb04"));
    QCOMPARE(handler.handle(20, hex("6d00070001020001")).reply, hex("ed04"));
    QCOMPARE(handler.handle(20, hex("6b00130004")).reply.size(), 10);
    QCOMPARE(handler.handle(19, hex("6b00070001")).reply.size(), 4);
}

void TstSimCore::exceptionRuleText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    for (const char *good : {"19:20", "19:20:2", "21:0:40@3", "20:7@1", "255:65535:125@9"})
        QTest::newRow(good) << QString::fromLatin1(good) << true;
    for (const char *bad : {"20", "20:", "20:7:0", "20:7@0", "256:0", "20:65536", "20:7:126",
                            "20:7:2:3", "x:1", "20:7@", " 20:7", "-1:5", "20:7@3:2"})
        QTest::newRow(bad) << QString::fromLatin1(bad) << false;
}

void TstSimCore::exceptionRuleText()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    const std::optional<ExceptionRule> rule = parseExceptionRule(text);
    QCOMPARE(rule.has_value(), valid);
    if (rule)
        QCOMPARE(rule->text(), text);
}

void TstSimCore::exceptionRules_data()
{
    // Requests in order and, per request, whether it is failed ('x') or served ('.').
    QTest::addColumn<QStringList>("rules");
    QTest::addColumn<QList<QByteArray>>("requests");
    QTest::addColumn<QString>("failed");
    const QByteArray identity = hex("136b00140002");
    const QByteArray product = hex("136b00140008");
    const QByteArray mac = hex("136b00160006");
    const QByteArray poll = hex("156b00000028");
    const QByteArray options = hex("156b00040007");
    QTest::newRow("start alone: any count")
        << QStringList{"19:20"} << QList<QByteArray>{identity, product, mac} << "xx.";
    QTest::newRow("count picks the identity read")
        << QStringList{"19:20:2"} << QList<QByteArray>{identity, product, identity} << "x.x";
    QTest::newRow("count picks the product block")
        << QStringList{"19:20:8"} << QList<QByteArray>{identity, product} << ".x";
    QTest::newRow("first three polls")
        << QStringList{"21:0:40@3"} << QList<QByteArray>{poll, poll, poll, poll, poll} << "xxx..";
    QTest::newRow("limit counts matching requests only")
        << QStringList{"21:0:40@1"} << QList<QByteArray>{options, poll, options, poll} << ".x..";
    QTest::newRow("a single-register write counts one")
        << QStringList{"22:15:1"} << QList<QByteArray>{hex("166c000f1234"), hex("166b000f0002")}
        << "x.";
    QTest::newRow("spent rule gives way to the next")
        << QStringList{"21:0:40@1", "21:0@1"} << QList<QByteArray>{poll, poll, poll} << "xx.";
}

void TstSimCore::exceptionRules()
{
    QFETCH(QStringList, rules);
    QFETCH(QList<QByteArray>, requests);
    QFETCH(QString, failed);
    SimOptions options = frozen();
    for (const QString &text : rules)
        options.exceptions.push_back(parseExceptionRule(text).value());
    UnitModel model(options);
    PduHandler handler(model, options);
    QString seen;
    for (const QByteArray &request : requests) {
        const QByteArray reply = handler.handle(std::uint8_t(request[0]), request.mid(1)).reply;
        seen += reply.size() == 2 && reply[1] == char(SimException::DeviceFailure) ? 'x' : '.';
    }
    QCOMPARE(seen, failed);
}

void TstSimCore::faultCommands()
{
    // What the process test does not reach: refused lines change nothing,
    // a blank line is answered, control characters are refused unechoed, a
    // restart cannot be stacked.
    SimOptions options = frozen();
    options.restartMs = 50;
    SimCore core(options);
    QCOMPARE(core.command(QStringLiteral("  silent   on ")), QStringLiteral("ok silent on"));
    QCOMPARE(core.command(QString()), QStringLiteral("ok"));
    QCOMPARE(core.command(QStringLiteral("   ")), QStringLiteral("ok"));
    for (const char *bad : {"silent maybe", "exception add 21", "exception add", "bogus",
                            "restart now", "exception clear all", "silent off please"})
        QVERIFY2(core.command(QString::fromLatin1(bad)).startsWith(QStringLiteral("error ")), bad);
    for (const QString &hostile : {QStringLiteral("silent\u001b[2J on"),
                                   QString(QLatin1Char('\0')) + QStringLiteral("silent on"),
                                   QStringLiteral("bogus\u009b")}) {
        const QString answer = core.command(hostile);
        QVERIFY2(answer.startsWith(QStringLiteral("error ")), qPrintable(answer));
        QVERIFY(!answer.contains(QChar(0x1B)) && !answer.contains(QChar(0x9B)) &&
                !answer.contains(QChar(0)));
    }
    QVERIFY(!core.admit());

    QCOMPARE(core.command(QStringLiteral("restart")), QStringLiteral("ok restart"));
    QVERIFY(core.model.restarting());
    QVERIFY(core.command(QStringLiteral("restart")).startsWith(QStringLiteral("error ")));
    QTRY_VERIFY_WITH_TIMEOUT(!core.model.restarting(), 3000);
}

void TstSimCore::loopbackListenAddress_data()
{
    QTest::addColumn<int>("a");
    QTest::addColumn<int>("b");
    QTest::addColumn<int>("c");
    QTest::addColumn<int>("d");
    QTest::addColumn<QString>("address"); // empty: refused
    QTest::newRow("127.0.0.2") << 127 << 0 << 0 << 2 << "127.0.0.2";
    QTest::newRow("127.1.2.3") << 127 << 1 << 2 << 3 << "127.1.2.3";
    QTest::newRow("factory 192.0.2.10") << 192 << 0 << 2 << 10 << QString();
    QTest::newRow("128.0.0.1 just above") << 128 << 0 << 0 << 1 << QString();
    QTest::newRow("126.255.255.255 just below") << 126 << 255 << 255 << 255 << QString();
    QTest::newRow("0.0.0.0 any address") << 0 << 0 << 0 << 0 << QString();
    QTest::newRow("octet register 383 (127 + 256)") << 383 << 0 << 0 << 1 << QString();
    QTest::newRow("last octet above 255") << 127 << 0 << 0 << 256 << QString();
}

void TstSimCore::loopbackListenAddress()
{
    QFETCH(int, a);
    QFETCH(int, b);
    QFETCH(int, c);
    QFETCH(int, d);
    QFETCH(QString, address);
    QString refusal;
    const std::optional<QString> got = ::loopbackListenAddress(
        {std::uint16_t(a), std::uint16_t(b), std::uint16_t(c), std::uint16_t(d)}, &refusal);
    QCOMPARE(got.value_or(QString()), address);
    QCOMPARE(refusal.isEmpty(), !address.isEmpty());

    // The model reports what its network registers hold.
    const SimOptions options = frozen(); // the model keeps a reference to it
    UnitModel model(options);
    model.write(20, 7, {std::uint16_t(a), std::uint16_t(b), std::uint16_t(c), std::uint16_t(d)});
    const std::array<std::uint16_t, 4> octets = model.ipOctets();
    QCOMPARE(octets[0], std::uint16_t(a));
    QCOMPARE(octets[3], std::uint16_t(d));
}

void TstSimCore::crc()
{
    QCOMPARE(rtuCrc(QByteArray("123456789")), std::uint16_t(0x4B37));
    // A read of 12 registers from 7 at unit 20, function 107.
    QCOMPARE(withRtuCrc(hex("146b0007000c")), hex("146b0007000c9702"));
}

void TstSimCore::frameReader_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QList<QByteArray>>("frames");
    const QByteArray read = hex("146b0007000c9702");
    const QByteArray write = withRtuCrc(hex("146d001300020400010002"));
    QTest::newRow("whole") << QList<QByteArray>{read} << QList<QByteArray>{read};
    QTest::newRow("byte by byte") << [&] {
        QList<QByteArray> bytes;
        for (char b : read)
            bytes << QByteArray(1, b);
        return bytes;
    }() << QList<QByteArray>{read};
    QTest::newRow("two in one chunk")
        << QList<QByteArray>{read + write} << QList<QByteArray>{read, write};
    QTest::newRow("after garbage")
        << QList<QByteArray>{hex("00ff5514") + read} << QList<QByteArray>{read};
    QTest::newRow("after a truncated frame")
        << QList<QByteArray>{read.left(5), read} << QList<QByteArray>{read};
    QTest::newRow("incomplete") << QList<QByteArray>{write.left(9)} << QList<QByteArray>{};
}

void TstSimCore::frameReader()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QList<QByteArray>, frames);
    RtuFrameReader reader([](int unit) { return unit == 20; });
    QList<QByteArray> found;
    for (const QByteArray &chunk : chunks) {
        reader.feed(chunk);
        for (QByteArray f = reader.nextFrame(); !f.isEmpty(); f = reader.nextFrame())
            found << f;
    }
    QCOMPARE(found, frames);
}

void TstSimCore::frameReaderSkipsBadCrcAndForeignUnits()
{
    RtuFrameReader reader([](int unit) { return unit == 20; });
    reader.feed(hex("146b0007000c9703"));         // one CRC bit off
    reader.feed(withRtuCrc(hex("156b0007000c"))); // another station's request
    QVERIFY(reader.nextFrame().isEmpty());
    reader.feed(hex("146b0007000c9702"));
    QCOMPARE(reader.nextFrame(), hex("146b0007000c9702"));
    QCOMPARE(reader.pending(), 0);
}

void TstSimCore::oddFramesEndAtSilence()
{
    RtuFrameReader reader([](int unit) { return unit == 20; });
    // Byte count 2 with four data bytes, and a standard function code: whole
    // frames with a correct CRC that no length rule of the unit's functions fits.
    for (const QByteArray &odd :
         {withRtuCrc(hex("146d001300020200010002")), withRtuCrc(hex("14030000 0001"))}) {
        reader.feed(odd);
        QVERIFY(reader.nextFrame().isEmpty());
        QCOMPARE(reader.pending(), odd.size()); // kept whole until the line goes quiet
        QCOMPARE(reader.takeSilenceDelimitedFrame(), odd);
    }
    reader.feed(hex("146d00130002020001"));
    QVERIFY(reader.nextFrame().isEmpty());
    QVERIFY(reader.takeSilenceDelimitedFrame().isEmpty());
    QCOMPARE(reader.pending(), 0);
}

void TstSimCore::frameReaderLinearOnCraftedStream()
{
    const QList<QByteArray> stream = crafted::chunks(100 * 1024, 64);
    RtuFrameReader reader([](int unit) { return UnitModel::spaceSizes().count(unit) != 0; });
    QElapsedTimer clock;
    clock.start();
    int maxPending = 0;
    for (const QByteArray &chunk : stream) {
        reader.feed(chunk);
        QVERIFY(reader.nextFrame().isEmpty());
        maxPending = std::max(maxPending, reader.pending());
    }
    const QByteArray good = hex("146b0007000c9702");
    reader.feed(good);
    QCOMPARE(reader.nextFrame(), good);
    qInfo("100 KiB crafted stream: %lld ms, at most %d bytes kept", clock.elapsed(), maxPending);
    QVERIFY(maxPending <= RtuFrameReader::MaxFrameSize);
    // Linear work is a few milliseconds; the quadratic kind takes tens of seconds.
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
}

void TstSimCore::stateFileRoundTrip()
{
    QTemporaryDir dir;
    SimOptions options = frozen();
    options.statePath = dir.filePath(QStringLiteral("state.json"));
    {
        UnitModel model(options);
        model.write(20, 19, {10, 20, 30, 40});
        model.write(21, 10, {600});
        model.write(26, 990, {0x0241, 0x4200});
    }
    UnitModel reloaded(options);
    QString error;
    QVERIFY2(reloaded.loadState(&error), qPrintable(error));
    QCOMPARE(reloaded.read(20, 19, 4), (QVector<std::uint16_t>{10, 20, 30, 40}));
    QCOMPARE(reloaded.value(21, 10), std::uint16_t(600));
    QCOMPARE(reloaded.value(26, 990), std::uint16_t(0x0241));
}

void TstSimCore::stateFileIgnoresIdentityAndBadValues()
{
    QTemporaryDir dir;
    SimOptions options = frozen();
    options.statePath = dir.filePath(QStringLiteral("state.json"));
    options.firmware = 121;
    QFile file(options.statePath);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(R"({"19": [0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,1,2,-5,70000,"x",7],
                   "21": [9,9,9,9,9]})");
    file.close();
    UnitModel model(options);
    QString error;
    QVERIFY(model.loadState(&error));
    QCOMPARE(model.value(19, 20), std::uint16_t(5173)); // identity stays the unit's
    QCOMPARE(model.value(19, 21), std::uint16_t(121));
    QCOMPARE(model.value(19, 22), std::uint16_t(0x02)); // out-of-range values ignored
    QCOMPARE(model.value(19, 23), std::uint16_t(0x7A));
    QCOMPARE(model.value(19, 25), std::uint16_t(7));
    QCOMPARE(model.value(21, 3), std::uint16_t(1)); // live status is not state
    QCOMPARE(model.value(21, 4), std::uint16_t(9)); // a BACnet option is

    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("not json");
    file.close();
    QVERIFY(!model.loadState(&error));
    QVERIFY(!error.isEmpty());
}

void TstSimCore::animationComesUp()
{
    SimOptions options;
    options.animate = true;
    UnitModel model(options);
    model.animateTo(0);
    QCOMPARE(model.value(21, 3), std::uint16_t(0));     // G50 link not up yet
    QCOMPARE(model.value(21, 14), std::uint16_t(0x10)); // only the cable
    model.animateTo(6000);
    QCOMPARE(model.value(21, 3), std::uint16_t(1));
    QCOMPARE(model.value(21, 0), std::uint16_t(1));
    QCOMPARE(model.value(21, 14), std::uint16_t(0x1F));
    const int state = model.value(21, 38) >> 8;
    QVERIFY(state >= 2 && state <= 10);
    for (qint64 ms = 0; ms < 60000; ms += 1000) {
        model.animateTo(ms);
        QVERIFY(model.value(21, 19) < 4352 && model.value(21, 20) < 4352);
    }
}

QTEST_GUILESS_MAIN(TstSimCore)
#include "tst_simcore.moc"
