// ravelinctl survey: several simulators on loopback ports, one silent and one
// port that refuses, duplicates across the site flagged, a bad hosts file
// refused before any host is contacted, and twenty units with two silent
// taking about one timeout rather than the sum.

#include "FileTestKit.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QTcpServer>
#include <QtTest>

namespace {

// A loopback port that nothing listens on: bound, noted, closed.
quint16 closedPort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = server.serverPort();
    server.close();
    return port;
}

// Every TCP port a simulator with several --listen endpoints serves.
QList<quint16> listeningPorts(SimProcess &sim, int expected)
{
    static const QRegularExpression rx(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
    QList<quint16> ports;
    QDeadlineTimer deadline(10000);
    while (ports.size() < expected && !deadline.hasExpired()) {
        ports.clear();
        auto it = rx.globalMatch(sim.output());
        while (it.hasNext())
            ports << quint16(it.next().captured(1).toUInt());
        if (ports.size() < expected)
            QTest::qWait(20);
    }
    return ports;
}

QStringList listenArguments(int endpoints)
{
    QStringList args;
    for (int i = 0; i < endpoints; ++i)
        args << QStringLiteral("--listen") << QStringLiteral("127.0.0.1:0");
    return args;
}

QJsonObject hostEntry(const QJsonObject &survey, quint16 port)
{
    for (const QJsonValue &v : survey.value("hosts").toArray())
        if (v.toObject().value("port").toInt() == port)
            return v.toObject();
    return {};
}

QStringList flagsOf(const QJsonObject &host)
{
    QStringList flags;
    for (const QJsonValue &v : host.value("flags").toArray())
        flags << v.toString();
    return flags;
}

} // namespace

class TstCtlSurvey : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void siteWithSilentAndRefusingHosts();
    void tableAndCsvCarryTheSameRows();
    void badHostsFileContactsNobody_data();
    void badHostsFileContactsNobody();
    void twentyUnitsTwoSilentTakeOneTimeout();

private:
    QTemporaryDir m_dir;
    SimProcess m_a, m_b, m_c, m_silent;
    quint16 m_refusing = 0;
    QString m_hosts;
};

void TstCtlSurvey::initTestCase()
{
    for (SimProcess *sim : {&m_a, &m_b, &m_c})
        QVERIFY(sim->start({QStringLiteral("--no-animate"), QStringLiteral("--verbose")}));
    QVERIFY(m_silent.start({QStringLiteral("--silent")}));
    m_refusing = closedPort();
    QVERIFY(m_refusing != 0);
    // A and B share a BACnet instance, B and C a device name, A and C the
    // factory MAC address (B gets its own).
    SimLine a(m_a.port()), b(m_b.port()), c(m_c.port());
    QVERIFY(a.write(BACnetUnitId, 0, encodeDeviceObjectId(1001)) &&
            b.write(BACnetUnitId, 0, encodeDeviceObjectId(1001)) &&
            c.write(BACnetUnitId, 0, encodeDeviceObjectId(1003)));
    QVERIFY(a.write(BACnetUnitId, 3, encodeDeviceName("North")) &&
            b.write(BACnetUnitId, 3, encodeDeviceName("South")) &&
            c.write(BACnetUnitId, 3, encodeDeviceName("South")));
    QVERIFY(b.write(SystemUnitId, FnWriteMacBlock, MacFirstRegister, {2, 0, 0, 0, 0, 0xBB}));
    QVERIFY(c.write(StatusUnitId, 3, std::array<std::uint16_t, 1>{0})); // C's G50 link is down

    m_hosts = writeFile(m_dir, QStringLiteral("hosts.txt"),
                        QStringLiteral("# site survey\n"
                                       "127.0.0.1:%1\n"
                                       "  127.0.0.1:%2   # plant room\n"
                                       "\n"
                                       "127.0.0.1:%3\n"
                                       "127.0.0.1:%4\n"
                                       "127.0.0.1:%5\n")
                            .arg(m_a.port())
                            .arg(m_b.port())
                            .arg(m_c.port())
                            .arg(m_silent.port())
                            .arg(m_refusing)
                            .toUtf8());
}

void TstCtlSurvey::siteWithSilentAndRefusingHosts()
{
    QList<qsizetype> before; // the set-up wrote; the survey must not
    for (SimProcess *sim : {&m_a, &m_b, &m_c})
        before << requestFunctions(*sim).size();
    const CtlRun run =
        runCtl({QStringLiteral("--timeout"), QStringLiteral("1"), QStringLiteral("survey"),
                QStringLiteral("--hosts"), m_hosts, QStringLiteral("--json")});
    QCOMPARE(run.exitCode, 1); // findings: unreachable hosts and duplicates
    const QJsonObject survey = run.json();
    QCOMPARE(survey.value("hosts").toArray().size(), 5);

    const QJsonObject a = hostEntry(survey, m_a.port());
    const QJsonObject b = hostEntry(survey, m_b.port());
    const QJsonObject c = hostEntry(survey, m_c.port());
    QVERIFY(a.value("reachable").toBool() && b.value("reachable").toBool() &&
            c.value("reachable").toBool());
    QCOMPARE(a.value("product").toInt(), 5173);
    QCOMPARE(a.value("firmware").toString(), QStringLiteral("1.34"));
    QCOMPARE(b.value("mac").toString(), QStringLiteral("02:00:00:00:00:BB"));
    QCOMPARE(c.value("bacnetInstance").toInt(), 1003);
    QCOMPARE(c.value("bacnetName").toString(), QStringLiteral("South"));
    QCOMPARE(a.value("g50Link").toBool(), true);
    QCOMPARE(c.value("g50Link").toBool(), false);
    QCOMPARE(flagsOf(a), (QStringList{"duplicate BACnet instance", "duplicate MAC"}));
    QCOMPARE(flagsOf(b), (QStringList{"duplicate BACnet instance", "duplicate BACnet name"}));
    QCOMPARE(flagsOf(c), (QStringList{"duplicate BACnet name", "duplicate MAC"}));

    for (const quint16 port : {m_silent.port(), m_refusing}) {
        const QJsonObject dead = hostEntry(survey, port);
        QCOMPARE(dead.value("reachable").toBool(), false);
        QVERIFY(!dead.value("problem").toString().isEmpty());
        QVERIFY(flagsOf(dead).isEmpty()); // an unreachable host duplicates nothing
    }
    QCOMPARE(survey.value("duplicates").toArray().size(), 3);
    // The survey only reads.
    int i = 0;
    for (SimProcess *sim : {&m_a, &m_b, &m_c}) {
        const QList<int> seen = requestFunctions(*sim).mid(before[i++]);
        QVERIFY(!seen.isEmpty());
        for (const int fn : seen)
            QCOMPARE(fn, int(FnReadBlock));
    }
}

void TstCtlSurvey::tableAndCsvCarryTheSameRows()
{
    const QStringList args{QStringLiteral("--timeout"), QStringLiteral("1"),
                           QStringLiteral("survey"), QStringLiteral("--hosts"), m_hosts};
    const CtlRun table = runCtl(args);
    QCOMPARE(table.exitCode, 1);
    const QStringList lines = table.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY(lines.first().startsWith(QStringLiteral("ADDRESS")));
    QVERIFY(table.out.contains(QStringLiteral("duplicate BACnet instance 1001: 127.0.0.1:%1, "
                                              "127.0.0.1:%2")
                                   .arg(m_a.port())
                                   .arg(m_b.port())));
    QVERIFY(table.out.contains(QStringLiteral("3 of 5 host(s) answered; 3 duplicated value(s)")));

    const CtlRun csv = runCtl(args + QStringList{QStringLiteral("--csv")});
    const QStringList rows = csv.out.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QCOMPARE(rows.size(), 6);
    QVERIFY(rows[0].startsWith(QStringLiteral("address,reachable,product,firmware,mac")));
    QVERIFY(rows[1].startsWith(
        QStringLiteral("127.0.0.1:%1,yes,5173,1.34,02:7A:1C:05:17:3A,1001,North,OK,")
            .arg(m_a.port())));
    QVERIFY(rows[5].startsWith(QStringLiteral("127.0.0.1:%1,no,").arg(m_refusing)));
}

void TstCtlSurvey::badHostsFileContactsNobody_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("says");
    QTest::newRow("host name") << "localhost:502"
                               << "not a numeric IPv4 address";
    QTest::newRow("port out of range") << "127.0.0.1:70000"
                                       << "port \"70000\"";
    QTest::newRow("port in hex") << "127.0.0.1:0x1F6"
                                 << "port \"0x1F6\"";
    QTest::newRow("octet out of range") << "127.0.0.256"
                                        << "not a numeric IPv4 address";
    QTest::newRow("short address") << "127.1"
                                   << "not a numeric IPv4 address";
}

void TstCtlSurvey::badHostsFileContactsNobody()
{
    QFETCH(QString, line);
    QFETCH(QString, says);
    const QString path =
        writeFile(m_dir, QStringLiteral("bad-hosts.txt"),
                  QStringLiteral("127.0.0.1:%1\n# next\n%2\n").arg(m_a.port()).arg(line).toUtf8());
    const int before = int(requestFunctions(m_a).size());
    const CtlRun run = runCtl({QStringLiteral("survey"), QStringLiteral("--hosts"), path});
    QCOMPARE(run.exitCode, 5);
    QVERIFY2(run.err.contains(QStringLiteral("line 3: ")) && run.err.contains(says),
             qPrintable(run.err));
    QCOMPARE(int(requestFunctions(m_a).size()), before);
}

void TstCtlSurvey::twentyUnitsTwoSilentTakeOneTimeout()
{
    SimProcess answering, silent;
    QVERIFY(answering.startWith(listenArguments(18) + QStringList{QStringLiteral("--no-animate")}));
    QVERIFY(silent.startWith(listenArguments(2) + QStringList{QStringLiteral("--silent")}));
    const QList<quint16> good = listeningPorts(answering, 18);
    const QList<quint16> dead = listeningPorts(silent, 2);
    QCOMPARE(good.size(), 18);
    QCOMPARE(dead.size(), 2);
    QByteArray list;
    for (const quint16 port : dead + good) // the silent ones first, so they hold workers longest
        list += "127.0.0.1:" + QByteArray::number(port) + '\n';
    const QString path = writeFile(m_dir, QStringLiteral("twenty.txt"), list);

    constexpr int TimeoutMs = 2000;
    QElapsedTimer clock;
    clock.start();
    const CtlRun run = runCtl({QStringLiteral("--timeout"), QString::number(TimeoutMs / 1000.0),
                               QStringLiteral("--json"), QStringLiteral("survey"),
                               QStringLiteral("--hosts"), path});
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(run.exitCode, 1);
    const QJsonArray hosts = run.json().value("hosts").toArray();
    QCOMPARE(hosts.size(), 20);
    int reachable = 0;
    for (const QJsonValue &h : hosts)
        reachable += h.toObject().value("reachable").toBool() ? 1 : 0;
    QCOMPARE(reachable, 18);
    // One timeout and the process's own start, far from the two timeouts
    // that surveying the silent hosts one after the other would cost.
    QVERIFY2(elapsed >= TimeoutMs - 100, qPrintable(QString::number(elapsed)));
    QVERIFY2(elapsed < TimeoutMs * 3 / 2, qPrintable(QString::number(elapsed)));
}

QTEST_GUILESS_MAIN(TstCtlSurvey)
#include "tst_ctlsurvey.moc"
