// ICMP echo: the packet format with golden bytes, reply matching as each
// socket kind delivers it, every backend this machine permits against
// 127.0.0.1, and the 3000 ms limit inside a network namespace that ignores
// echo requests. Nothing here sends beyond the loopback network.

#include "IcmpEcho.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QtTest>

namespace {

// QSKIP with a computed text (QSKIP itself wants a further argument under
// -Wpedantic).
#define SKIP_CASE(reason)                                                                          \
    do {                                                                                           \
        QTest::qSkip(qPrintable(reason), __FILE__, __LINE__);                                      \
        return;                                                                                    \
    } while (false)

// A test that cannot run here fails under CI and is skipped elsewhere.
#define CANNOT_RUN(reason)                                                                         \
    do {                                                                                           \
        if (qEnvironmentVariableIsSet("CI"))                                                       \
            QFAIL(qPrintable(reason));                                                             \
        SKIP_CASE(reason);                                                                         \
    } while (false)

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray b;
    for (int v : values)
        b.append(char(v));
    return b;
}

// An echo reply as a raw socket sees it: an IPv4 header (ihl words long,
// protocol 1) in front of the ICMP message.
QByteArray withIpHeader(const QByteArray &icmp, int ihl = 5)
{
    QByteArray ip(ihl * 4, '\0');
    ip[0] = char(0x40 | ihl);
    ip[9] = 1;
    return ip + icmp;
}

QByteArray reply(int type, std::uint16_t id, std::uint16_t seq)
{
    QByteArray r = buildEchoRequest(id, seq, QByteArray("abcd"));
    r[0] = char(type);
    return r;
}

EchoBackend backendNamed(const QString &name)
{
    if (name == QLatin1String("raw"))
        return EchoBackend::Raw;
    if (name == QLatin1String("program"))
        return EchoBackend::Program;
    return EchoBackend::Datagram;
}

EchoOutcome waitForOutcome(EchoClient &client, int withinMs)
{
    QSignalSpy spy(&client, &EchoClient::finished);
    if (!spy.wait(withinMs))
        return {EchoStatus::Failed, QStringLiteral("no outcome within %1 ms").arg(withinMs)};
    return spy.first().first().value<EchoOutcome>();
}

} // namespace

class TestIcmpEcho : public QObject
{
    Q_OBJECT
private slots:
    void checksum_data();
    void checksum();
    void echoRequestBytes();
    void replyMatching_data();
    void replyMatching();

    void loopbackReplies_data();
    void loopbackReplies();
    void refusedAndCancelledRequests();
    void timeoutInANamespaceThatIgnoresEchoes_data();
    void timeoutInANamespaceThatIgnoresEchoes();
};

void TestIcmpEcho::checksum_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("sum");
    // The worked example of RFC 1071: the folded sum is 0xDDF2.
    QTest::newRow("RFC 1071 example")
        << bytes({0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7}) << 0x220D;
    // An odd last byte is the high half of a final word.
    QTest::newRow("odd length") << bytes({0x00, 0x01, 0xF2}) << 0x0DFE;
}

void TestIcmpEcho::checksum()
{
    QFETCH(QByteArray, data);
    QTEST(int(icmpChecksum(data)), "sum");
}

void TestIcmpEcho::echoRequestBytes()
{
    // 0800 + 1234 + 0001 + 6162 + 6364 = DEFB, complemented 2104.
    QCOMPARE(buildEchoRequest(0x1234, 1, QByteArray("abcd")),
             bytes({0x08, 0x00, 0x21, 0x04, 0x12, 0x34, 0x00, 0x01, 'a', 'b', 'c', 'd'}));
    // A message carrying its own checksum sums to zero.
    QCOMPARE(icmpChecksum(buildEchoRequest(0xBEEF, 0xFFFF, QByteArray("xyz"))), std::uint16_t(0));
}

void TestIcmpEcho::replyMatching_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<bool>("raw");
    QTest::addColumn<int>("identifier"); // -1: not checked (datagram sockets)
    QTest::addColumn<bool>("matches");
    // Datagram sockets: the kernel chose the identifier; the sequence decides.
    QTest::newRow("datagram reply") << reply(0, 0x0BAD, 7) << false << -1 << true;
    QTest::newRow("datagram other sequence") << reply(0, 0x0BAD, 8) << false << -1 << false;
    QTest::newRow("truncated") << reply(0, 1, 7).left(7) << false << -1 << false;
    QTest::newRow("unreachable") << reply(3, 1, 7) << false << -1 << false;
    // Raw sockets: the IPv4 header comes first, and on loopback the host's
    // own request arrives before the reply.
    QTest::newRow("raw reply") << withIpHeader(reply(0, 0x4242, 7)) << true << 0x4242 << true;
    QTest::newRow("raw own request")
        << withIpHeader(reply(8, 0x4242, 7)) << true << 0x4242 << false;
    QTest::newRow("raw other program")
        << withIpHeader(reply(0, 0x4243, 7)) << true << 0x4242 << false;
    QTest::newRow("raw header with options")
        << withIpHeader(reply(0, 0x4242, 7), 6) << true << 0x4242 << true;
    QTest::newRow("raw not IPv4") << QByteArray(1, char(0x65)) + reply(0, 0x4242, 7).mid(1) << true
                                  << 0x4242 << false;
    QTest::newRow("raw short header")
        << withIpHeader(reply(0, 0x4242, 7), 4) << true << 0x4242 << false;
}

void TestIcmpEcho::replyMatching()
{
    QFETCH(QByteArray, datagram);
    QFETCH(bool, raw);
    QFETCH(int, identifier);
    const std::optional<std::uint16_t> id =
        identifier < 0 ? std::nullopt : std::optional<std::uint16_t>(std::uint16_t(identifier));
    QTEST(isEchoReply(datagram, raw, 7, id), "matches");
}

void TestIcmpEcho::loopbackReplies_data()
{
    QTest::addColumn<QString>("backend"); // empty: the best the system permits
    QTest::newRow("best available") << QString();
    QTest::newRow("datagram socket") << "datagram";
    QTest::newRow("raw socket") << "raw";
    QTest::newRow("ping program") << "program";
}

void TestIcmpEcho::loopbackReplies()
{
    QFETCH(QString, backend);
    std::unique_ptr<EchoClient> client;
    if (backend.isEmpty()) {
        client = createEchoClient();
        if (client->backend() == EchoBackend::None)
            CANNOT_RUN(QStringLiteral("no ICMP echo backend is permitted here"));
    } else {
        QString why;
        client = createEchoClient(backendNamed(backend), &why);
        // Which backends a system permits is its own choice; the best one
        // above must work.
        if (!client)
            SKIP_CASE(why);
    }
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer clock;
        clock.start();
        client->send(QStringLiteral("127.0.0.1"), 3000);
        const EchoOutcome outcome = waitForOutcome(*client, 5000);
        QVERIFY2(outcome.status == EchoStatus::Reply, qPrintable(outcome.detail));
        QVERIFY(clock.elapsed() < 1000);
    }
}

void TestIcmpEcho::refusedAndCancelledRequests()
{
    std::unique_ptr<EchoClient> client = createEchoClient();
    if (client->backend() == EchoBackend::None)
        CANNOT_RUN(QStringLiteral("no ICMP echo backend is permitted here"));
    QSignalSpy spy(client.get(), &EchoClient::finished);
    // Refused before anything is sent, and still reported only later.
    client->send(QStringLiteral("300.1.2.3"), 3000);
    QCOMPARE(spy.size(), 0);
    QVERIFY(spy.wait(1000));
    QCOMPARE(spy.takeFirst().first().value<EchoOutcome>().status, EchoStatus::Failed);

    client->send(QStringLiteral("127.0.0.1"), 3000);
    client->cancel();
    // The reply arrives within milliseconds on loopback; it must be dropped.
    QVERIFY(!spy.wait(500));
    // The client serves the next request as usual.
    client->send(QStringLiteral("127.0.0.1"), 3000);
    QVERIFY(spy.wait(3000));
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.first().first().value<EchoOutcome>().status, EchoStatus::Reply);
}

void TestIcmpEcho::timeoutInANamespaceThatIgnoresEchoes_data()
{
    QTest::addColumn<QString>("backend");
    QTest::newRow("datagram socket") << "datagram";
    QTest::newRow("raw socket") << "raw";
    QTest::newRow("ping program") << "program";
}

void TestIcmpEcho::timeoutInANamespaceThatIgnoresEchoes()
{
    QFETCH(QString, backend);
    const QString unshare = QStandardPaths::findExecutable(QStringLiteral("unshare"));
    if (unshare.isEmpty())
        CANNOT_RUN(QStringLiteral("unshare is not installed"));
    QProcess probe;
    probe.start(unshare, {QStringLiteral("-rn"), QStringLiteral(RAVELIN_ECHO_PROBE_PATH), backend,
                          QStringLiteral("127.0.0.1"), QStringLiteral("--isolated")});
    QVERIFY(probe.waitForStarted(5000));
    if (!probe.waitForFinished(15000)) {
        probe.kill();
        probe.waitForFinished(2000);
        QFAIL("the probe did not finish within 15 s");
    }
    QVERIFY2(probe.exitStatus() == QProcess::NormalExit, "the probe crashed");
    const QString out = QString::fromLocal8Bit(probe.readAllStandardOutput());
    const QString err = QString::fromLocal8Bit(probe.readAllStandardError()).trimmed();
    if (backend == QLatin1String("program") && out.startsWith(QLatin1String("unavailable")))
        SKIP_CASE(out.trimmed());
    if (probe.exitCode() != 0 || out.startsWith(QLatin1String("unavailable")))
        CANNOT_RUN(QStringLiteral("network namespaces are not permitted here: %1 %2")
                       .arg(out.trimmed(), err));
    const QStringList lines = out.trimmed().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 2);
    // The namespace's loopback answers until it is told to ignore echoes.
    QVERIFY2(lines[0].startsWith(QLatin1String("reply ")), qPrintable(lines[0]));
    const QStringList timed = lines[1].split(QLatin1Char(' '));
    QCOMPARE(timed.value(0), QStringLiteral("noreply"));
    const int ms = timed.value(1).toInt();
    QVERIFY2(ms >= 2950 && ms < 3600, qPrintable(lines[1]));
}

QTEST_GUILESS_MAIN(TestIcmpEcho)
#include "tst_icmpecho.moc"
