// ravelinctl --trace: every frame of every command on standard error, one
// line each, parsed back here and read beside ravelin-sim --verbose: what one
// side sent the other received, byte for byte and field for field.

#include "CtlRun.h"
#include "SimProcess.h"
#ifdef Q_OS_UNIX
#include "SocatPair.h"
#endif

#include <QJsonDocument>
#include <QRegularExpression>
#include <QtTest>

#include <optional>

namespace {

struct TraceLine
{
    QString link, direction, outcome, exception;
    int exchange = 0, length = 0;
    QMap<QString, int> fields; // unit, fn, start, count, tid; -1 for "-"
    QByteArray bytes;
};

// The documented line form; anything else on standard error is not a frame.
std::optional<TraceLine> parse(const QString &line)
{
    static const QRegularExpression form(QStringLiteral(
        R"(^\d\d:\d\d:\d\d\.\d{3} (TCP|RTU) #(\d+) (TX|RX|DROP) unit=(\S+) fn=(\S+) start=(\S+) )"
        R"(count=(\S+) tid=(\S+) exc=(\S+) outcome=(\S+) rtt=(\S+) len=(\d+) \|((?: [0-9A-F]{2})*)$)"));
    const QRegularExpressionMatch m = form.match(line);
    if (!m.hasMatch())
        return std::nullopt;
    TraceLine t;
    t.link = m.captured(1);
    t.exchange = m.captured(2).toInt();
    t.direction = m.captured(3);
    const char *names[] = {"unit", "fn", "start", "count", "tid"};
    for (int i = 0; i < 5; ++i)
        t.fields[QLatin1String(names[i])] =
            m.captured(4 + i) == QLatin1String("-") ? -1 : m.captured(4 + i).toInt();
    t.exception = m.captured(9);
    t.outcome = m.captured(10);
    t.length = m.captured(12).toInt();
    t.bytes = QByteArray::fromHex(m.captured(13).toLatin1());
    return t;
}

// The frame lines of standard error; the other lines are the tool's messages.
QList<TraceLine> frames(const QString &err, QStringList *others = nullptr)
{
    QList<TraceLine> lines;
    for (const QString &line : err.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (const auto t = parse(line))
            lines << *t;
        else if (others)
            *others << line;
    }
    return lines;
}

} // namespace

class TstCtlTrace : public QObject
{
    Q_OBJECT

private slots:
    void everyFrameOfAManyBlockCommand();
    void simulatorTraceReadsBesideTheClients_data();
    void simulatorTraceReadsBesideTheClients();
    void traceFileAppendsTheSameLines();
};

void TstCtlTrace::everyFrameOfAManyBlockCommand()
{
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--no-animate")}));
    const CtlRun run = runCtl({QStringLiteral("--trace"), QStringLiteral("--tcp-port"),
                               QString::number(sim.port()), QStringLiteral("show")});
    sim.stop();
    QCOMPARE(run.exitCode, 0);
    QVERIFY(!run.out.contains(QLatin1String(" TX ")));
    const QList<TraceLine> lines = frames(run.err);
    QVERIFY(lines.size() >= 10);
    QCOMPARE(lines.size() % 2, 0);
    for (int i = 0; i < lines.size(); i += 2) {
        QCOMPARE(lines[i].direction, QStringLiteral("TX"));
        QCOMPARE(lines[i + 1].direction, QStringLiteral("RX"));
        QCOMPARE(lines[i].exchange, i / 2 + 1);
        QCOMPARE(lines[i + 1].exchange, i / 2 + 1);
        QCOMPARE(lines[i + 1].outcome, QStringLiteral("good"));
        // Every request carries its own transaction id and the reply echoes it.
        QCOMPARE(lines[i + 1].fields[QStringLiteral("tid")],
                 lines[i].fields[QStringLiteral("tid")]);
        if (i > 0)
            QCOMPARE(lines[i].fields[QStringLiteral("tid")],
                     (lines[i - 2].fields[QStringLiteral("tid")] + 1) & 0xFFFF);
    }
    QCOMPARE(run.err.count(QLatin1Char('\n')), lines.size()); // nothing but frames
}

// --trace-file appends the very lines --trace prints, run after run, and a
// file that cannot be written ends the command before anything is sent.
void TstCtlTrace::traceFileAppendsTheSameLines()
{
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--no-animate")}));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("trace.txt"));
    const QStringList args{
        QStringLiteral("--trace"),    QStringLiteral("--trace-file"), path,
        QStringLiteral("--tcp-port"), QString::number(sim.port()),    QStringLiteral("identify")};
    const CtlRun first = runCtl(args);
    const CtlRun second = runCtl(args);
    const CtlRun refused =
        runCtl({QStringLiteral("--trace-file"), dir.path(), QStringLiteral("--tcp-port"),
                QString::number(sim.port()), QStringLiteral("identify")});
    sim.stop();
    QCOMPARE(first.exitCode, 0);
    QCOMPARE(second.exitCode, 0);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    const QString written = QString::fromUtf8(file.readAll());
    QVERIFY(!first.err.isEmpty());
    QCOMPARE(written, first.err + second.err);
    QCOMPARE(frames(written).size(), 2 * frames(first.err).size());
    QCOMPARE(refused.exitCode, 4);
    QVERIFY2(refused.err.contains(QStringLiteral("cannot write the trace to")),
             qPrintable(refused.err));
}

void TstCtlTrace::simulatorTraceReadsBesideTheClients_data()
{
    QTest::addColumn<bool>("serial");
    QTest::addColumn<QStringList>("simOptions");
    QTest::addColumn<QString>("outcome"); // the client's, and the simulator's reply lines
    QTest::addColumn<int>("exitCode");

    const QStringList exception{QStringLiteral("--exception"), QStringLiteral("20:7")};
    QTest::newRow("tcp") << false << QStringList{} << QStringLiteral("good") << 0;
    QTest::newRow("tcp exception") << false << exception << QStringLiteral("exception") << 2;
    QTest::newRow("tcp split") << false << QStringList{QStringLiteral("--split")}
                               << QStringLiteral("good") << 0;
#ifdef Q_OS_UNIX
    QTest::newRow("rtu exception") << true << exception << QStringLiteral("exception") << 2;
    QTest::newRow("rtu noise") << true << QStringList{QStringLiteral("--noise")}
                               << QStringLiteral("good") << 0;
    QTest::newRow("rtu corrupt crc")
        << true << QStringList{QStringLiteral("--corrupt-crc")} << QStringLiteral("bad-crc") << 4;
#endif
}

void TstCtlTrace::simulatorTraceReadsBesideTheClients()
{
    QFETCH(bool, serial);
    QFETCH(QStringList, simOptions);
    QFETCH(QString, outcome);

    SimProcess sim;
    QStringList target;
    simOptions << QStringLiteral("--verbose") << QStringLiteral("--no-animate");
#ifdef Q_OS_UNIX
    SocatPair line;
    if (serial) {
        QVERIFY2(line.start(), "socat could not make a pty pair");
        QVERIFY(sim.startWith(QStringList{QStringLiteral("--serial"), line.a()} + simOptions));
        target = QStringList{QStringLiteral("--device"), line.b()};
    }
#endif
    if (!serial) {
        QVERIFY(sim.start(simOptions));
        target = QStringList{QStringLiteral("--tcp-port"), QString::number(sim.port())};
    }
    // With --json, standard output stays one JSON object whatever is traced.
    const CtlRun run =
        runCtl(QStringList{QStringLiteral("--trace"), QStringLiteral("--json")} + target +
               QStringList{QStringLiteral("read"), QStringLiteral("20"), QStringLiteral("107"),
                           QStringLiteral("7"), QStringLiteral("2")});
    QTRY_VERIFY_WITH_TIMEOUT(sim.output().contains(QLatin1String(" TX ")), 5000);
    QTest::qWait(50); // the second piece of a split reply
    sim.stop();

    QTEST(run.exitCode, "exitCode");
    QVERIFY2(QJsonDocument::fromJson(run.out.toUtf8()).isObject(), qPrintable(run.out));
    QStringList messages;
    const QList<TraceLine> client = frames(run.err, &messages);
    const QList<TraceLine> simulator = frames(sim.output());
    QCOMPARE(client.size(), 2);
    QCOMPARE(messages.size(), run.exitCode == 0 ? 0 : 1); // a failure's one message stays
    QVERIFY2(simulator.size() >= 2, qPrintable(sim.output()));
    QCOMPARE(client[1].outcome, outcome);
    // What one side sent is what the other received, byte for byte.
    const TraceLine &request = simulator[0];
    QCOMPARE(request.direction, QStringLiteral("RX"));
    QCOMPARE(request.bytes.toHex(' '), client[0].bytes.toHex(' '));
    for (const char *field : {"unit", "fn", "start", "count", "tid"})
        QCOMPARE(request.fields[QLatin1String(field)], client[0].fields[QLatin1String(field)]);
    QByteArray sent;
    for (const TraceLine &t : simulator.mid(1)) {
        QCOMPARE(t.direction, QStringLiteral("TX"));
        QCOMPARE(t.exchange, request.exchange);
        QCOMPARE(t.outcome, outcome);
        sent += t.bytes;
    }
    QCOMPARE(sent.toHex(' '), client[1].bytes.toHex(' '));
    // The first reply piece is decoded like the client's reply line, as far
    // as its bytes reach (the first half of a split TCP reply ends in the header).
    const TraceLine &reply = simulator[1];
    QCOMPARE(reply.fields[QStringLiteral("tid")], client[1].fields[QStringLiteral("tid")]);
    if (reply.length < 9)
        return;
    QCOMPARE(reply.exception, client[1].exception);
    QCOMPARE(reply.fields[QStringLiteral("unit")], 20);
    QCOMPARE(reply.fields[QStringLiteral("fn")], client[1].fields[QStringLiteral("fn")]);
}

QTEST_GUILESS_MAIN(TstCtlTrace)
#include "tst_ctltrace.moc"
