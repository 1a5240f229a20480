// ravelinctl get and set against the simulator: each page's values as text
// and JSON, the registers a set writes (read back with ravelinctl read), and
// refused values that exit 64 with no write reaching the unit.

#include "BACnetTable.h"
#include "CtlRun.h"
#include "SimProcess.h"
#include "SimTrace.h"

#include <QDeadlineTimer>
#include <QtTest>

namespace {

using Regs = QList<int>;

// A fresh simulated unit for one case, with its request log.
class Unit
{
public:
    bool start(const QStringList &simArguments = {})
    {
        return m_sim.start(
            QStringList{QStringLiteral("--no-animate"), QStringLiteral("--verbose")} +
            simArguments);
    }
    CtlRun ctl(const QStringList &arguments)
    {
        return runCtl(QStringList{"--tcp-port", QString::number(m_sim.port())} + arguments);
    }
    CtlRun ctl(const char *arguments) { return ctl(splitArgs(arguments)); }
    Regs read(int unit, int start, int count)
    {
        const QJsonObject o = ctl(QStringLiteral("--json read %1 107 %2 %3")
                                      .arg(unit)
                                      .arg(start)
                                      .arg(count)
                                      .split(QLatin1Char(' ')))
                                  .json();
        Regs values;
        for (const QJsonValue v : o.value(QStringLiteral("values")).toArray())
            values << v.toInt();
        return values;
    }
    // Function codes of every request logged so far, once a marker read
    // (register 63 of unit 19) shows that the log has caught up.
    QList<int> loggedFunctions()
    {
        read(19, 63, 1);
        const QByteArray marker = QByteArray::fromHex("136b003f0001");
        const QDeadlineTimer deadline(5000);
        auto markerLogged = [&] {
            for (const QByteArray &frame : loggedTcpRequests(m_sim.output()))
                if (frame.mid(6) == marker)
                    return true;
            return false;
        };
        while (!markerLogged() && !deadline.hasExpired())
            QTest::qWait(5);
        return loggedTcpFunctions(m_sim.output());
    }

private:
    SimProcess m_sim;
};

} // namespace

class TstCtlConfig : public QObject
{
    Q_OBJECT

private slots:
    void getPrintsAPage_data();
    void getPrintsAPage();
    void getJson();
    void setWritesTheRegisters_data();
    void setWritesTheRegisters();
    void refusedValuesSendNothing_data();
    void refusedValuesSendNothing();
    void failedSetSaysWhatWasWritten_data();
    void failedSetSaysWhatWasWritten();
    void timeToLiveFromItsRow_data();
    void timeToLiveFromItsRow();
};

void TstCtlConfig::getPrintsAPage_data()
{
    QTest::addColumn<QString>("area");
    QTest::addColumn<QString>("text");
    QTest::newRow("network") << "network"
                             << "ip=192.0.2.10\ngateway=192.0.2.1\nmask=255.255.255.0\n"
                                "config=allowed\nmac=02:7A:1C:05:17:3A\nfirmware=QX5173 v1.34\n";
    QTest::newRow("g50") << "g50"
                         << "address=192.0.2.20\n";
    QTest::newRow("bacnet") << "bacnet"
                            << "instance=5173\nname=Ravelin-5173\ncomparison=on\nforeign=off\n"
                               "bbmd=0.0.0.0\nttl=1800\n";
}

void TstCtlConfig::getPrintsAPage()
{
    QFETCH(QString, area);
    QFETCH(QString, text);
    Unit unit;
    QVERIFY(unit.start());
    const CtlRun run = unit.ctl({QStringLiteral("get"), area});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, text);
    // What get prints, set takes back unchanged.
    QStringList back{QStringLiteral("set"), area};
    for (const QString &line : run.out.trimmed().split(QLatin1Char('\n')))
        if (!line.startsWith(QLatin1String("mac=")) && !line.startsWith(QLatin1String("firmware=")))
            back << line;
    QCOMPARE(unit.ctl(back).exitCode, 0);
    QCOMPARE(unit.ctl({QStringLiteral("get"), area}).out, text);
}

void TstCtlConfig::getJson()
{
    Unit unit;
    QVERIFY(unit.start());
    QVERIFY(unit.ctl("write 22 109 1 575 65535").exitCode == 0); // instance 4194303
    const CtlRun run = unit.ctl("--json get bacnet");
    QCOMPARE(run.exitCode, 0);
    const QJsonObject o = run.json();
    QCOMPARE(o.value("instance").toInteger(), 4194303);
    QCOMPARE(o.value("instance_valid").toBool(), false);
    QCOMPARE(o.value("name").toString(), QStringLiteral("Ravelin-5173"));
    QCOMPARE(o.value("comparison").toBool(), true);
    QCOMPARE(o.value("ttl").toInt(), 1800);
    QCOMPARE(unit.ctl("--json get network").json().value("config").toString(),
             QStringLiteral("allowed"));
}

void TstCtlConfig::setWritesTheRegisters_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("unitId");
    QTest::addColumn<int>("start");
    QTest::addColumn<Regs>("expected");
    QTest::newRow("g50") << "set g50 address=10.0.0.09" << 20 << 19 << Regs{10, 0, 0, 9};
    QTest::newRow("network: given keys, the rest kept")
        << "set network ip=10.1.2.3 mask=$ff.255.0.0" << 20 << 7
        << Regs{10, 1, 2, 3, 192, 0, 2, 1, 255, 255, 0, 0, 192, 0, 2, 20};
    QTest::newRow("network: configuration forbidden")
        << "set network config=forbidden" << 19 << 32 << Regs{61404};
    QTest::newRow("bacnet: instance and name")
        << "set bacnet instance=70000 name=Hall-3" << 22 << 0
        << Regs{3076, 513, 4464, 1799, 72, 24940, 27693, 13056, 0, 0, 0, 0, 0, 0};
    QTest::newRow("bacnet: empty name")
        << "set bacnet name=" << 22 << 3 << Regs{1793, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    QTest::newRow("bacnet: registering with a BBMD")
        << "set bacnet foreign=on bbmd=10.0.0.1 ttl=600" << 21 << 4 << Regs{1, 1, 10, 0, 0, 1, 600};
}

void TstCtlConfig::setWritesTheRegisters()
{
    QFETCH(QString, command);
    QFETCH(int, unitId);
    QFETCH(int, start);
    QFETCH(Regs, expected);
    Unit unit;
    QVERIFY(unit.start());
    const CtlRun run = unit.ctl(command.split(QLatin1Char(' ')));
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(unit.read(unitId, start, int(expected.size())), expected);
    QVERIFY(unit.loggedFunctions().contains(start == 32 ? 103 : 109)); // the log is read right
}

void TstCtlConfig::refusedValuesSendNothing_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    const auto set = [](const char *area, const QString &pair) {
        return QStringList{QStringLiteral("set"), QLatin1String(area), pair};
    };
    QTest::newRow("instance 4194303") << set("bacnet", "instance=4194303") << "instance must be";
    QTest::newRow("name without one-byte codes")
        << set("bacnet", QStringLiteral("name=\u03a9mega")) << "one-byte (Latin-1) code";
    QTest::newRow("name of 20 characters")
        << set("bacnet", "name=ABCDEFGHIJKLMNOPQRST") << "at most 19 characters";
    QTest::newRow("ttl 0") << set("bacnet", "ttl=0") << "ttl must be";
    QTest::newRow("bbmd octet 300") << set("bacnet", "bbmd=300.1.1.1") << "bbmd must be";
    QTest::newRow("bbmd while not registering")
        << set("bacnet", "bbmd=10.0.0.1") << "bbmd is kept only with foreign=on";
    QTest::newRow("three octets") << set("network", "ip=10.1.2") << "ip must be";
    QTest::newRow("read-only mac") << set("network", "mac=1") << "mac is read only";
    QTest::newRow("unknown key") << set("g50", "ip=1.2.3.4") << "has no key";
    QTest::newRow("no area") << QStringList{"get"} << "needs an area";
}

void TstCtlConfig::refusedValuesSendNothing()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    Unit unit;
    QVERIFY(unit.start());
    const CtlRun run = unit.ctl(arguments);
    QCOMPARE(run.exitCode, 64);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    const QList<int> functions = unit.loggedFunctions();
    QVERIFY(!functions.isEmpty()); // the marker read at least
    QVERIFY(!functions.contains(109));
    QVERIFY(!functions.contains(103));
}

void TstCtlConfig::failedSetSaysWhatWasWritten_data()
{
    // The unit answers the identity check and the reads of the page, then
    // stops answering at the block named.
    QTest::addColumn<QString>("answered"); // requests answered before the silence
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QString>("written"); // the report's last line
    QTest::newRow("bacnet, at the name") << "5"
                                         << "set bacnet instance=777 name=Hall"
                                         << "written before it: Device object identifier";
    QTest::newRow("bacnet, at the identifier") << "4"
                                               << "set bacnet instance=777 name=Hall"
                                               << "nothing was written before it";
    QTest::newRow("network, at the lock") << "5"
                                          << "set network ip=10.1.2.3"
                                          << "written before it: Network addresses";
}

void TstCtlConfig::failedSetSaysWhatWasWritten()
{
    QFETCH(QString, answered);
    QFETCH(QString, arguments);
    QFETCH(QString, written);
    Unit unit;
    QVERIFY(unit.start({QStringLiteral("--fail-after"), answered}));
    const CtlRun run =
        unit.ctl(QStringList{"--timeout", "0.3"} + arguments.split(QLatin1Char(' ')));
    QCOMPARE(run.exitCode, 3); // no reply
    QVERIFY2(run.err.trimmed().endsWith(written), qPrintable(run.err));
}

// The time to live reached through nothing but its row: its ravelinctl key
// and its register (block and offset).
void TstCtlConfig::timeToLiveFromItsRow_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<int>("stored");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("smallest") << "1" << 1 << true;
    QTest::newRow("largest") << "65535" << 65535 << true;
    QTest::newRow("hexadecimal entry") << "0x258" << 600 << true;
    QTest::newRow("zero refused") << "0" << 1800 << false;
    QTest::newRow("above a register refused") << "65536" << 1800 << false;
}

void TstCtlConfig::timeToLiveFromItsRow()
{
    QFETCH(QString, given);
    QFETCH(int, stored);
    QFETCH(bool, accepted);
    const QString key = QLatin1String(TimeToLiveRow.cliKey);
    const RegisterBlock &block = TimeToLiveRow.block;
    Unit unit;
    QVERIFY(unit.start());
    const CtlRun set =
        unit.ctl({QStringLiteral("set"), QStringLiteral("bacnet"), QStringLiteral("foreign=on"),
                  QStringLiteral("bbmd=192.0.2.1"), key + QLatin1Char('=') + given});
    QCOMPARE(set.exitCode, accepted ? 0 : 64);
    QCOMPARE(unit.read(block.unitId, block.start + TimeToLiveRow.offset, 1), Regs{stored});
    const QJsonObject got = unit.ctl("--json get bacnet").json();
    QCOMPARE(got.value(key).toInt(), stored);
    const QString shown =
        accepted ? QStringLiteral("BBMD 192.0.2.1, TTL %1 s").arg(stored) : QStringLiteral("off");
    QVERIFY(unit.ctl("show").out.contains(QStringLiteral("Foreign device:            ") + shown));
}

QTEST_GUILESS_MAIN(TstCtlConfig)
#include "tst_ctlconfig.moc"
