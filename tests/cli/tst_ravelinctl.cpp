// ravelinctl as a script would use it: exit statuses, text and JSON output,
// and argument checks that refuse before anything reaches the unit.

#include "CtlRun.h"
#include "LoopbackPeer.h"
#include "SimProcess.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

namespace {

using Run = CtlRun;

Run ctl(quint16 port, const QStringList &args)
{
    return runCtl(QStringList{QStringLiteral("--tcp-port"), QString::number(port)} + args);
}

QStringList args(const char *text)
{
    return splitArgs(text);
}

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

} // namespace

class TstRavelinCtl : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void identify();
    void readWriteRoundTrip();
    void showAndNames();
    void refusedBeforeSending_data();
    void refusedBeforeSending();
    void usageErrorIsOneLineAndAHint_data();
    void usageErrorIsOneLineAndAHint();
    void hostTakesAPort();
    void timeoutIsInSeconds_data();
    void timeoutIsInSeconds();
    void failuresHaveTheirOwnStatus();
    void hostileRepliesAreFailures_data();
    void hostileRepliesAreFailures();
    void controlCharactersFromTheUnitAreEscaped();
    void oneVersionEverywhere();

private:
    SimProcess m_sim;
};

void TstRavelinCtl::initTestCase()
{
    QVERIFY(m_sim.start({QStringLiteral("--no-animate"), QStringLiteral("--verbose"),
                         QStringLiteral("--exception"), QStringLiteral("21:4")}));
}

void TstRavelinCtl::cleanupTestCase()
{
    m_sim.stop();
}

void TstRavelinCtl::identify()
{
    const Run text = ctl(m_sim.port(), {QStringLiteral("identify")});
    QCOMPARE(text.exitCode, 0);
    QCOMPARE(text.out, QStringLiteral("product 5173 firmware 1.34\n"));
    const Run json = ctl(m_sim.port(), args("--json identify"));
    QCOMPARE(json.json().value(QStringLiteral("product")).toInt(), 5173);
    QCOMPARE(json.json().value(QStringLiteral("firmware")).toInt(), 134);
    QCOMPARE(json.json().value(QStringLiteral("ravelin")).toBool(), true);

    SimProcess foreign;
    QVERIFY(foreign.start({QStringLiteral("--product"), QStringLiteral("4242")}));
    const Run other = ctl(foreign.port(), {QStringLiteral("identify")});
    QCOMPARE(other.exitCode, 0); // a good reply; the text says what it means
    QVERIFY(other.out.contains(QStringLiteral("not a Quorix Ravelin unit")));
}

void TstRavelinCtl::readWriteRoundTrip()
{
    QCOMPARE(ctl(m_sim.port(), args("write 20 109 19 192 0 2 77")).exitCode, 0);
    QCOMPARE(ctl(m_sim.port(), args("read 20 107 19 4")).out.trimmed(),
             QStringLiteral("192 0 2 77"));
    // Hexadecimal entries follow the tool's number-entry rule.
    QCOMPARE(ctl(m_sim.port(), args("write1 19 103 32 $EFDC")).exitCode, 0);
    const QJsonObject lock = ctl(m_sim.port(), args("--json read 19 0x6B 32 1")).json();
    QCOMPARE(lock.value(QStringLiteral("values")).toArray(), QJsonArray{61404});
}

void TstRavelinCtl::showAndNames()
{
    const Run show = ctl(m_sim.port(), {QStringLiteral("show")});
    QCOMPARE(show.exitCode, 2); // the BACnet options block answers with an exception here
    QVERIFY(show.err.contains(QStringLiteral("BACnet options")));

    SimProcess plain;
    QVERIFY(plain.start({QStringLiteral("--no-animate")}));
    const Run good = ctl(plain.port(), {QStringLiteral("show")});
    QCOMPARE(good.exitCode, 0);
    QVERIFY(good.out.contains(QStringLiteral("MAC address:               02:7A:1C:05:17:3A")));
    QVERIFY(good.out.contains(QStringLiteral("G50 address:               192.0.2.20")));
    QVERIFY(good.out.contains(QStringLiteral("BACnet device name:        Ravelin-5173")));
    const Run names = ctl(plain.port(), {QStringLiteral("names")});
    const QStringList lines = names.out.trimmed().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 100);
    QCOMPARE(lines.last(), QStringLiteral("100 Unit100"));
}

void TstRavelinCtl::refusedBeforeSending_data()
{
    QTest::addColumn<QString>("command");
    QTest::newRow("no command") << QString();
    QTest::newRow("unknown command") << "frobnicate";
    QTest::newRow("unknown option") << "--colour identify";
    QTest::newRow("value too large") << "write 20 109 19 192 0 2 70000";
    QTest::newRow("read count above the frame limit") << "read 26 107 0 124";
    QTest::newRow("read count zero") << "read 26 107 0 0";
    QTest::newRow("unit id out of range") << "read 256 107 0 1";
    QTest::newRow("exception-flag function code") << "read 19 235 20 2";
    QTest::newRow("missing value") << "write1 19 103 29";
    QTest::newRow("trailing blank in a number") << "read 19 107 20  2";
    QTest::newRow("zero timeout") << "--timeout 0 identify";
    QTest::newRow("timeout above a minute") << "--timeout 60.1 identify";
    QTest::newRow("timeout that would never run out") << "--timeout 6553.5 read 19 107 20 2";
    QTest::newRow("option without value") << "--host";
}

void TstRavelinCtl::refusedBeforeSending()
{
    QFETCH(QString, command);
    QTest::qWait(100); // let the log of earlier requests arrive first
    const int requestsBefore = int(m_sim.output().count(QStringLiteral(" RX unit=")));
    const Run run =
        ctl(m_sim.port(), command.isEmpty() ? QStringList{} : command.split(QLatin1Char(' ')));
    QCOMPARE(run.exitCode, 64);
    QVERIFY(run.err.contains(QStringLiteral("ravelinctl --help lists the commands")));
    QTest::qWait(100);
    QCOMPARE(int(m_sim.output().count(QStringLiteral(" RX unit="))), requestsBefore);
}

void TstRavelinCtl::usageErrorIsOneLineAndAHint_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("badWord");  // the line names it
    QTest::addColumn<QString>("expected"); // and what was expected instead

    QTest::newRow("misspelt command") << "identfy"
                                      << "\"identfy\""
                                      << "identify, show";
    QTest::newRow("misspelt option") << "--tcp-prot 502 identify"
                                     << "\"--tcp-prot\""
                                     << "--tcp-port";
    QTest::newRow("unknown set key") << "set bacnet instnace=5"
                                     << "\"instnace\""
                                     << "instance";
    QTest::newRow("no command") << ""
                                << "no command"
                                << "identify";
    QTest::newRow("option without value") << "--device"
                                          << "--device"
                                          << "PATH";
    QTest::newRow("unit id out of range") << "read 256 107 0 1"
                                          << "\"256\""
                                          << "0 to 255";
    QTest::newRow("extra argument") << "identify now"
                                    << "identify"
                                    << "0 argument";
    QTest::newRow("report file type") << "report unit.txt"
                                      << "unit.txt"
                                      << "FILE.html";
    QTest::newRow("restart --wait zero") << "restart --wait 0"
                                         << "\"0\""
                                         << "1 to 3600";
    QTest::newRow("restart --expect unknown key") << "restart --wait --expect ipp=127.0.0.2"
                                                  << "\"ipp\""
                                                  << "keys of get";
    QTest::newRow("restart --expect value its rule refuses")
        << "restart --wait --expect ip=127.0.0.300"
        << "\"127.0.0.300\""
        << "ip must be";
    QTest::newRow("restart --expect without --wait") << "restart --expect ip=127.0.0.2"
                                                     << "--expect"
                                                     << "need --wait";
    QTest::newRow("restart --new-host with a port") << "restart --wait --new-host 127.0.0.2:502"
                                                    << "\"127.0.0.2:502\""
                                                    << "without a port";
    QTest::newRow("restart stray word") << "restart now"
                                        << "\"now\""
                                        << "--wait [SECONDS]";
    QTest::newRow("survey without hosts") << "survey"
                                          << "survey"
                                          << "--hosts FILE";
    QTest::newRow("port in --host and --tcp-port")
        << "--host 127.0.0.1:40123 --tcp-port 502 identify"
        << "127.0.0.1:40123"
        << "one of them";
    QTest::newRow("--tcp-port first, then a port in --host")
        << "--tcp-port 502 --host 127.0.0.1:40123 identify"
        << "--tcp-port 502"
        << "one of them";
    QTest::newRow("port zero in --host") << "--host 127.0.0.1:0 identify"
                                         << "\"0\""
                                         << "1 to 65535";
    QTest::newRow("port above 65535 in --host") << "--host 127.0.0.1:65536 identify"
                                                << "\"65536\""
                                                << "1 to 65535";
    QTest::newRow("empty port in --host") << "--host 127.0.0.1: identify"
                                          << "PORT of --host"
                                          << "1 to 65535";
    QTest::newRow("port without address") << "--host :502 identify"
                                          << "--host"
                                          << "an address";
    const char *seconds = "seconds from 0.1 to 60 in steps of 0.1";
    QTest::newRow("timeout zero") << "--timeout 0 identify"
                                  << "\"0\"" << seconds;
    QTest::newRow("timeout above a minute") << "--timeout 60.1 identify"
                                            << "\"60.1\"" << seconds;
    QTest::newRow("timeout finer than a tenth") << "--timeout 0.25 identify"
                                                << "\"0.25\"" << seconds;
    QTest::newRow("timeout in tenths, as it once was") << "--timeout 600 identify"
                                                       << "\"600\"" << seconds;
    QTest::newRow("timeout with a decimal comma") << "--timeout 5,5 identify"
                                                  << "\"5,5\"" << seconds;
    QTest::newRow("timeout without whole seconds") << "--timeout .5 identify"
                                                   << "\".5\"" << seconds;
    QTest::newRow("timeout ending in a point") << "--timeout 5. identify"
                                               << "\"5.\"" << seconds;
    QTest::newRow("negative timeout") << "--timeout -1 identify"
                                      << "\"-1\"" << seconds;
    QTest::newRow("hexadecimal timeout") << "--timeout 0x10 identify"
                                         << "\"0x10\"" << seconds;
    QTest::newRow("huge timeout") << "--timeout 99999999999 identify"
                                  << "\"99999999999\"" << seconds;
}

void TstRavelinCtl::usageErrorIsOneLineAndAHint()
{
    QFETCH(QString, command);
    QFETCH(QString, badWord);
    QFETCH(QString, expected);
    const Run run = runCtl(command.isEmpty() ? QStringList{} : command.split(QLatin1Char(' ')));
    QCOMPARE(run.exitCode, 64);
    QCOMPARE(run.out, QString());
    const QStringList lines = run.err.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 3); // two lines and the final newline
    QVERIFY2(lines[0].startsWith(QStringLiteral("ravelinctl: ")), qPrintable(run.err));
    QVERIFY2(lines[0].contains(badWord), qPrintable(lines[0]));
    QVERIFY2(lines[0].contains(expected), qPrintable(lines[0]));
    QCOMPARE(lines[1], QStringLiteral("(ravelinctl --help lists the commands)"));
}

void TstRavelinCtl::hostTakesAPort()
{
    const QString port = QString::number(m_sim.port());
    const Run run = runCtl({QStringLiteral("--host"), QStringLiteral("127.0.0.1:") + port,
                            QStringLiteral("identify")});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QStringLiteral("product 5173 firmware 1.34\n"));

    // The address is the part before the colon: a closed port is a refused
    // connection to it, not a name that cannot be resolved.
    SimProcess gone;
    QVERIFY(gone.start({}));
    const QString closed = QString::number(gone.port());
    gone.stop();
    const Run refused = runCtl({QStringLiteral("--host"), QStringLiteral("127.0.0.1:") + closed,
                                QStringLiteral("identify")});
    QCOMPARE(refused.exitCode, 4);
    QVERIFY2(refused.err.contains(QStringLiteral("cannot connect to 127.0.0.1:%1").arg(closed)),
             qPrintable(refused.err));
}

void TstRavelinCtl::timeoutIsInSeconds_data()
{
    QTest::addColumn<QString>("timeout");
    QTest::addColumn<QString>("waited"); // as the failure reports it

    QTest::newRow("a tenth") << "0.1"
                             << "0.1";
    QTest::newRow("seconds and tenths") << "0.3"
                                        << "0.3";
    QTest::newRow("trailing zeros") << "0.50"
                                    << "0.5";
    QTest::newRow("whole seconds") << "1"
                                   << "1.0";
}

void TstRavelinCtl::timeoutIsInSeconds()
{
    QFETCH(QString, timeout);
    QFETCH(QString, waited);
    SimProcess silent;
    QVERIFY(silent.start({QStringLiteral("--silent")}));
    const Run run =
        ctl(silent.port(), {QStringLiteral("--timeout"), timeout, QStringLiteral("identify")});
    QCOMPARE(run.exitCode, 3);
    QCOMPARE(run.err, QStringLiteral("ravelinctl: identity: no reply within %1 s\n").arg(waited));
}

void TstRavelinCtl::failuresHaveTheirOwnStatus()
{
    QCOMPARE(ctl(m_sim.port(), args("read 19 107 60 8")).exitCode, 2); // exception reply

    SimProcess silent;
    QVERIFY(silent.start({QStringLiteral("--silent")}));
    QElapsedTimer clock;
    clock.start();
    const Run noReply = ctl(silent.port(), args("--timeout 0.3 --json identify"));
    QCOMPARE(noReply.exitCode, 3);
    QCOMPARE(noReply.json().value(QStringLiteral("result")).toInt(), 0);
    QVERIFY(clock.elapsed() < 5000);
    // JSON on stdout for the script, the reason on stderr for the person.
    QCOMPARE(noReply.err, QStringLiteral("ravelinctl: identity: no reply within 0.3 s\n"));

    const quint16 closedPort = silent.port();
    silent.stop();
    const Run refused = ctl(closedPort, {QStringLiteral("identify")});
    QCOMPARE(refused.exitCode, 4); // any other failure
    QVERIFY(refused.err.contains(QStringLiteral("cannot connect to 127.0.0.1:")));
}

void TstRavelinCtl::hostileRepliesAreFailures_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("requestSize");
    QTest::addColumn<QByteArray>("reply"); // empty: the peer hangs up instead
    QTest::addColumn<QString>("message");

    // read 20 107 0 3 with a length field of 3 registers and a byte count that
    // disagrees with it. The writes are forced: the peer answers the write
    // alone, not the product block read that would come first.
    const char *read = "read 20 107 0 3";
    QTest::newRow("byte count 2") << read << 12 << hex("0000 0000 0009 14 6B 02 000B 0016 0021")
                                  << "read: invalid reply";
    QTest::newRow("byte count 0") << read << 12 << hex("0000 0000 0009 14 6B 00 000B 0016 0021")
                                  << "read: invalid reply";
    QTest::newRow("byte count 250")
        << read << 12 << hex("0000 0000 0009 14 6B FA 000B 0016 0021") << "read: invalid reply";
    QTest::newRow("write1 echoes another value")
        << "write1 --force 19 103 29 7109" << 12 << hex("0000 0000 0006 13 67 001D 0000")
        << "write1: invalid reply";
    QTest::newRow("write1 echoes another register")
        << "write1 --force 19 103 29 7109" << 12 << hex("0000 0000 0006 13 67 001C 1BC5")
        << "write1: invalid reply";
    QTest::newRow("write echoes another count")
        << "write --force 20 109 19 1 2" << 17 << hex("0000 0000 0006 14 6D 0013 0001")
        << "write: invalid reply";
    // Accepted, then closed without a word: the connection is gone, which is
    // no slow unit.
    QTest::newRow("closed without a reply")
        << read << 12 << QByteArray() << "read: the connection was closed without a reply";
}

void TstRavelinCtl::hostileRepliesAreFailures()
{
    QFETCH(QString, command);
    QFETCH(int, requestSize);
    QFETCH(QByteArray, reply);
    QFETCH(QString, message);
    using Step = LoopbackPeer::Step;
    for (const bool json : {false, true}) {
        LoopbackPeer peer;
        std::vector<Step> steps{{Step::Receive, requestSize}};
        if (reply.isEmpty())
            steps.push_back({Step::Close});
        else
            steps.push_back({Step::Send, 0, reply});
        steps.push_back({Step::Pause, 300}); // the reply is read before the peer goes
        peer.play(steps);
        QStringList arguments = command.split(QLatin1Char(' '));
        if (json)
            arguments.prepend(QStringLiteral("--json"));
        const Run run = ctl(peer.port(), arguments);
        QCOMPARE(run.exitCode, 4);
        QVERIFY2(run.err.startsWith(QStringLiteral("ravelinctl: ") + message), qPrintable(run.err));
        if (json)
            QVERIFY(run.json().contains(QStringLiteral("error")));
        else
            QCOMPARE(run.out, QString()); // no values made up from the reply
    }
}

void TstRavelinCtl::controlCharactersFromTheUnitAreEscaped()
{
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--no-animate")}));
    // Object name 1: a window-title sequence, a clear-screen, DEL, a C1 CSI,
    // a Latin-1 letter and a backslash (14 characters).
    QCOMPARE(ctl(sim.port(), args("write 26 109 0 $0E1B $5D30 $3B58 $071B $5B32 $4A7F $9BE9 "
                                  "$5C00 0 0"))
                 .exitCode,
             0);
    const QByteArray raw("\x1b]0;X\x07\x1b[2J\x7f\x9b\xe9\\");
    const QString name = QString::fromLatin1(raw);

    const Run text = ctl(sim.port(), {QStringLiteral("names")});
    QCOMPARE(text.exitCode, 0);
    QVERIFY2(text.out.contains(QStringLiteral("\\x1b]0;X\\x07\\x1b[2J\\x7f\\x9b\u00e9\\\\\n")),
             qPrintable(text.out.left(200)));
    for (const QChar c : text.out) {
        const char16_t u = c.unicode();
        QVERIFY((u >= 0x20 && (u < 0x7F || u > 0x9F)) || u == '\n');
    }

    // JSON keeps the name exactly, escaped by JSON's rules.
    const Run json = ctl(sim.port(), args("--json names"));
    QCOMPARE(json.exitCode, 0);
    QVERIFY(!json.out.contains(QChar(0x1b)));
    QCOMPARE(json.json().value(QStringLiteral("names")).toArray().first().toString(), name);
}

// The version --version prints is the one a saved file and a report carry.
void TstRavelinCtl::oneVersionEverywhere()
{
    const Run version = runCtl({QStringLiteral("--version")});
    QCOMPARE(version.exitCode, 0);
    const QStringList words = version.out.split(QLatin1Char(' '));
    QVERIFY2(words.size() > 1 && words[0] == QLatin1String("ravelinctl"), qPrintable(version.out));
    const QString number = words[1];

    SimProcess plain; // the shared one refuses the BACnet options block
    QVERIFY(plain.start({QStringLiteral("--no-animate")}));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString backup = dir.filePath(QStringLiteral("unit.json"));
    const QString report = dir.filePath(QStringLiteral("unit.html"));
    QCOMPARE(ctl(plain.port(), {QStringLiteral("backup"), backup}).exitCode, 0);
    QCOMPARE(ctl(plain.port(), {QStringLiteral("report"), report}).exitCode, 0);

    QFile saved(backup);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QJsonObject savedBy = QJsonDocument::fromJson(saved.readAll())
                                    .object()
                                    .value(QStringLiteral("savedBy"))
                                    .toObject();
    QCOMPARE(savedBy.value(QStringLiteral("version")).toString(), number);
    QFile html(report);
    QVERIFY(html.open(QIODevice::ReadOnly));
    QVERIFY(
        QString::fromUtf8(html.readAll()).contains(QStringLiteral("ravelinctl %1<").arg(number)));
}

QTEST_GUILESS_MAIN(TstRavelinCtl)
#include "tst_ravelinctl.moc"
