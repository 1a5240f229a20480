// ravelin-sim end to end over loopback TCP, with frames built by hand on a
// plain socket (not the tool's client), so both sides are checked apart.

#include "SimProcess.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

QByteArray mbap(quint16 tid, quint8 unit, const QByteArray &pdu)
{
    QByteArray frame;
    frame.append(char(tid >> 8)).append(char(tid & 0xFF)).append('\0').append('\0');
    frame.append(char((pdu.size() + 1) >> 8)).append(char((pdu.size() + 1) & 0xFF));
    frame.append(char(unit));
    return frame + pdu;
}

// A raw Modbus TCP peer on a QTcpSocket, waiting on conditions only.
class RawClient
{
public:
    bool connectTo(quint16 port, const QHostAddress &host = QHostAddress(QHostAddress::LocalHost))
    {
        m_socket.connectToHost(host, port);
        return m_socket.waitForConnected(3000);
    }
    void send(const QByteArray &bytes)
    {
        m_socket.write(bytes);
        m_socket.waitForBytesWritten(1000);
    }
    // Collects bytes until `size` have arrived or the time is up.
    QByteArray receive(int size, int timeoutMs = 3000)
    {
        QElapsedTimer clock;
        clock.start();
        while (m_buffer.size() < size && clock.elapsed() < timeoutMs) {
            if (m_socket.bytesAvailable() == 0 &&
                !m_socket.waitForReadyRead(int(timeoutMs - clock.elapsed())))
                break;
            m_buffer += m_socket.readAll();
        }
        const QByteArray taken = m_buffer.left(size);
        m_buffer.remove(0, taken.size());
        return taken;
    }
    // One exchange: the reply's PDU (after the 7-byte header), or empty.
    QByteArray exchange(quint8 unit, const QByteArray &pdu, quint16 tid = 1, int timeoutMs = 3000)
    {
        send(mbap(tid, unit, pdu));
        const QByteArray header = receive(7, timeoutMs);
        if (header.size() < 7)
            return {};
        const int length = quint8(header[4]) << 8 | quint8(header[5]);
        if (header.left(2) != mbap(tid, unit, {}).left(2) || quint8(header[6]) != unit)
            return QByteArray("bad header ") + header.toHex();
        return receive(length - 1, timeoutMs);
    }
    bool waitForClosed(int timeoutMs)
    {
        if (m_socket.state() == QAbstractSocket::UnconnectedState)
            return true;
        m_socket.waitForDisconnected(timeoutMs);
        return m_socket.state() == QAbstractSocket::UnconnectedState;
    }

private:
    QTcpSocket m_socket;
    QByteArray m_buffer;
};

const QByteArray ReadIdentity = hex("6b00140002");
const QByteArray IdentityReply = hex("6b0414350086");

// A peer that sends pipelined requests as fast as the simulator takes them and
// never reads a reply: a plain non-blocking socket with a small receive buffer.
class Flooder
{
public:
    ~Flooder() { close(); }
    bool connectTo(quint16 port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int small = 4096;
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (m_fd < 0 ||
            ::connect(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
            return false;
        // Each request asks for the largest block: 257 reply bytes for 12 sent.
        for (int i = 0; i < 1000; ++i)
            m_batch += mbap(quint16(i), 26, hex("6b0000007d"));
        return true;
    }
    // Sends what the socket takes now, without waiting; the bytes sent.
    qint64 pour()
    {
        qint64 sent = 0;
        for (;;) {
            const ssize_t put = ::send(m_fd, m_batch.constData() + m_at,
                                       size_t(m_batch.size() - m_at), MSG_DONTWAIT | MSG_NOSIGNAL);
            if (put <= 0)
                return sent;
            sent += put;
            m_at = (m_at + put) % m_batch.size();
        }
    }
    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
    QByteArray m_batch;
    qsizetype m_at = 0;
};

} // namespace

class TstSimTcp : public QObject
{
    Q_OBJECT

private slots:
    void everyBlockAnswered_data();
    void everyBlockAnswered();
    void writesReadBack();
    void partialFramesAndPipelining();
    void garbageDropsOnlyThatConnection_data();
    void garbageDropsOnlyThatConnection();
    void twoClientsAtOnce();
    void stateSurvivesProcessRestart();
    void restartDropsRefusesAndReturns();
    void identityOverrides();
    void silentAndFailAfter();
    void injectedException();
    void delayedAndSplitReplies();
    void lateReplyMissesTheTimeout();
    void badOptionsAndCleanExit();
    void commandsChangeFaultsWhileRunning();
    void restartFollowsTheUnitAddress_data();
    void restartFollowsTheUnitAddress();
    void stateFileRefused_data();
    void stateFileRefused();
    void nonReadingClientStaysBounded();
};

void TstSimTcp::everyBlockAnswered_data()
{
    QTest::addColumn<int>("unit");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("count");
    QTest::newRow("network addresses") << 20 << 7 << 12;
    QTest::newRow("product block") << 19 << 20 << 8;
    QTest::newRow("configuration lock") << 19 << 32 << 1;
    QTest::newRow("g50 address") << 20 << 19 << 4;
    QTest::newRow("device object id") << 22 << 0 << 3;
    QTest::newRow("device object name") << 22 << 3 << 11;
    QTest::newRow("bacnet options") << 21 << 4 << 7;
    QTest::newRow("status block") << 21 << 0 << 40;
    QTest::newRow("first object name") << 26 << 0 << 10;
    QTest::newRow("last object name") << 26 << 990 << 10;
}

void TstSimTcp::everyBlockAnswered()
{
    QFETCH(int, unit);
    QFETCH(int, start);
    QFETCH(int, count);
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--no-animate")}));
    RawClient client;
    QVERIFY(client.connectTo(sim.port()));
    QByteArray request = hex("6b");
    request.append(char(start >> 8)).append(char(start & 0xFF)).append('\0').append(char(count));
    const QByteArray reply = client.exchange(quint8(unit), request);
    QCOMPARE(reply.size(), 2 + 2 * count);
    QCOMPARE(quint8(reply[1]), quint8(2 * count));
}

void TstSimTcp::writesReadBack()
{
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--no-animate")}));
    RawClient client;
    QVERIFY(client.connectTo(sim.port()));
    QCOMPARE(client.exchange(20, hex("6d0013000408 00c0 0000 0002 004d"), 7), hex("6d00130004"));
    QCOMPARE(client.exchange(20, hex("6b00130004"), 8), hex("6b08 00c0 0000 0002 004d"));
    QCOMPARE(client.exchange(19, hex("670020efdc"), 9), hex("670020efdc"));
    QCOMPARE(client.exchange(19, hex("6b00200001"), 10), hex("6b02efdc"));
}

void TstSimTcp::partialFramesAndPipelining()
{
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--no-animate")}));
    RawClient client;
    QVERIFY(client.connectTo(sim.port()));
    const QByteArray first = mbap(0x0101, 19, ReadIdentity);
    const QByteArray second = mbap(0x0202, 19, ReadIdentity);
    // Half a frame, a pause, the rest together with a whole second frame.
    client.send(first.left(4));
    QTest::qWait(50);
    client.send(first.mid(4) + second);
    QCOMPARE(client.receive(13), hex("010100000007136b0414350086"));
    QCOMPARE(client.receive(13), hex("020200000007136b0414350086"));
}

void TstSimTcp::garbageDropsOnlyThatConnection_data()
{
    QTest::addColumn<QByteArray>("garbage");
    QTest::newRow("protocol id not zero") << hex("000100010006136b00140002");
    QTest::newRow("length field zero") << hex("00010000000013");
    QTest::newRow("length field too large") << hex("0001000001001300");
}

void TstSimTcp::garbageDropsOnlyThatConnection()
{
    QFETCH(QByteArray, garbage);
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--no-animate")}));
    RawClient bad;
    QVERIFY(bad.connectTo(sim.port()));
    bad.send(garbage);
    QVERIFY(bad.waitForClosed(3000));

    RawClient midFrame;
    QVERIFY(midFrame.connectTo(sim.port()));
    midFrame.send(mbap(1, 19, ReadIdentity).left(9)); // then goes away mid-frame
    midFrame.waitForClosed(50);

    RawClient good;
    QVERIFY(good.connectTo(sim.port()));
    QCOMPARE(good.exchange(19, ReadIdentity), IdentityReply);
}

void TstSimTcp::twoClientsAtOnce()
{
    SimProcess sim;
    QVERIFY(sim.start(
        {QStringLiteral("--no-animate"), QStringLiteral("--delay-ms"), QStringLiteral("1000")}));
    RawClient a, b;
    QVERIFY(a.connectTo(sim.port()));
    QVERIFY(b.connectTo(sim.port()));
    QElapsedTimer clock;
    clock.start();
    a.send(mbap(1, 19, ReadIdentity));
    b.send(mbap(2, 19, ReadIdentity));
    QCOMPARE(a.receive(13).right(6), IdentityReply);
    QCOMPARE(b.receive(13).right(6), IdentityReply);
    // Both delays ran side by side: a blocking simulator would take 2000 ms.
    // The margin leaves room for a loaded machine.
    QVERIFY2(clock.elapsed() < 1800, qPrintable(QString::number(clock.elapsed())));
}

void TstSimTcp::stateSurvivesProcessRestart()
{
    QTemporaryDir dir;
    const QString state = dir.filePath(QStringLiteral("unit.json"));
    const QStringList args{QStringLiteral("--no-animate"), QStringLiteral("--state"), state};
    {
        SimProcess sim;
        QVERIFY(sim.start(args));
        RawClient client;
        QVERIFY(client.connectTo(sim.port()));
        QCOMPARE(client.exchange(22, hex("6d0000000306 0c04 0201 1170")), hex("6d00000003"));
    }
    SimProcess again;
    QVERIFY(again.start(args));
    RawClient client;
    QVERIFY(client.connectTo(again.port()));
    QCOMPARE(client.exchange(22, hex("6b00000003")), hex("6b06 0c04 0201 1170"));
}

void TstSimTcp::restartDropsRefusesAndReturns()
{
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--restart-ms"), QStringLiteral("1500")}));
    RawClient client;
    QVERIFY(client.connectTo(sim.port()));
    QCOMPARE(client.exchange(19, hex("67001d1bc5")), hex("67001d1bc5"));
    QVERIFY(client.waitForClosed(2000));

    RawClient refused;
    QVERIFY(!refused.connectTo(sim.port()));

    // Serving again within a bounded time, with the status animation started over.
    bool back = false;
    QElapsedTimer clock;
    clock.start();
    RawClient later;
    while (!back && clock.elapsed() < 5000) {
        back = later.connectTo(sim.port());
        if (!back)
            QTest::qWait(100);
    }
    QVERIFY(back);
    QVERIFY(clock.elapsed() >= 1000);
    QCOMPARE(later.exchange(21, hex("6b00030001")), hex("6b020000")); // G50 link not up yet
}

void TstSimTcp::identityOverrides()
{
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--product"), QStringLiteral("4242"),
                       QStringLiteral("--firmware"), QStringLiteral("120"),
                       QStringLiteral("--locked")}));
    RawClient client;
    QVERIFY(client.connectTo(sim.port()));
    QCOMPARE(client.exchange(19, ReadIdentity), hex("6b04 1092 0078"));
    QCOMPARE(client.exchange(19, hex("6b00200001")), hex("6b02efdc"));
}

void TstSimTcp::silentAndFailAfter()
{
    SimProcess silent;
    QVERIFY(silent.start({QStringLiteral("--silent")}));
    RawClient a;
    QVERIFY(a.connectTo(silent.port()));
    QVERIFY(a.exchange(19, ReadIdentity, 1, 500).isEmpty());

    SimProcess failing;
    QVERIFY(failing.start({QStringLiteral("--fail-after"), QStringLiteral("2")}));
    RawClient b;
    QVERIFY(b.connectTo(failing.port()));
    QCOMPARE(b.exchange(19, ReadIdentity, 1), IdentityReply);
    QCOMPARE(b.exchange(19, ReadIdentity, 2), IdentityReply);
    QVERIFY(b.exchange(19, ReadIdentity, 3, 500).isEmpty());
}

void TstSimTcp::injectedException()
{
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--exception"), QStringLiteral("20:7"),
                       QStringLiteral("--exception"), QStringLiteral("26:990")}));
    RawClient client;
    QVERIFY(client.connectTo(sim.port()));
    QCOMPARE(client.exchange(20, hex("6b0007000c")), hex("eb04"));
    QCOMPARE(client.exchange(26, hex("6b03de000a")), hex("eb04"));
    QCOMPARE(client.exchange(20, hex("6b00130001")).size(), 4);
}

void TstSimTcp::delayedAndSplitReplies()
{
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--delay-ms"), QStringLiteral("400"),
                       QStringLiteral("--split"), QStringLiteral("--verbose")}));
    RawClient client;
    QVERIFY(client.connectTo(sim.port()));
    QElapsedTimer clock;
    clock.start();
    client.send(mbap(5, 19, ReadIdentity));
    const QByteArray firstPiece = client.receive(6);
    QVERIFY(clock.elapsed() >= 390);
    QCOMPARE(firstPiece, hex("000500000007"));
    QCOMPARE(client.receive(7), hex("136b0414350086"));
    // Two pieces left the simulator; on a loaded machine the client may
    // still read them in one go, so the pieces are counted in its log.
    QTRY_COMPARE(sim.output().count(QStringLiteral(" TCP #1 TX ")), 2);
}

void TstSimTcp::lateReplyMissesTheTimeout()
{
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--late")}));
    RawClient client;
    QVERIFY(client.connectTo(sim.port()));
    // Nothing within a good part of the tool's 7 s timeout; the reply is queued, not lost.
    QVERIFY(client.exchange(19, ReadIdentity, 1, 1500).isEmpty());
}

void TstSimTcp::badOptionsAndCleanExit()
{
    for (const QStringList &args :
         {QStringList{QStringLiteral("--bogus")},
          QStringList{QStringLiteral("--listen"), QStringLiteral("nohost")},
          QStringList{QStringLiteral("--fail-after"), QStringLiteral("x")},
          QStringList{QStringLiteral("--exception"), QStringLiteral("20")},
          QStringList{QStringLiteral("--exception"), QStringLiteral("20:7:0")},
          QStringList{QStringLiteral("--exception"), QStringLiteral("20:7@0")}}) {
        QProcess process;
        process.start(SimProcess::simulatorPath(), args);
        QVERIFY(process.waitForFinished(5000));
        QCOMPARE(process.exitCode(), 64);
        QVERIFY(process.readAllStandardError().contains("Usage"));
    }
    SimProcess sim;
    QVERIFY(sim.start());
    sim.stop();
    QCOMPARE(sim.exitCode(), 0);
}

void TstSimTcp::commandsChangeFaultsWhileRunning()
{
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--no-animate"), QStringLiteral("--commands"),
                       QStringLiteral("--restart-ms"), QStringLiteral("300"),
                       QStringLiteral("--exception"), QStringLiteral("19:20:8@1")}));
    RawClient client;
    QVERIFY(client.connectTo(sim.port()));
    // The product block fails once; the identity read from the same start does not.
    QCOMPARE(client.exchange(19, hex("6b00140008"), 1), hex("eb04"));
    QCOMPARE(client.exchange(19, ReadIdentity, 1), IdentityReply);
    QCOMPARE(client.exchange(19, hex("6b00140008"), 1).size(), 2 + 16);

    QCOMPARE(sim.command(QStringLiteral("silent on")), QStringLiteral("ok silent on"));
    QVERIFY(client.exchange(19, ReadIdentity, 2, 300).isEmpty());
    QCOMPARE(sim.command(QStringLiteral("silent off")), QStringLiteral("ok silent off"));
    QCOMPARE(client.exchange(19, ReadIdentity, 3), IdentityReply);

    QCOMPARE(sim.command(QStringLiteral("exception add 21:0:40@1")),
             QStringLiteral("ok exception add 21:0:40@1"));
    QCOMPARE(client.exchange(21, hex("6b00000028"), 4), hex("eb04"));
    QCOMPARE(client.exchange(21, hex("6b00000028"), 5).size(), 2 + 80);
    QCOMPARE(sim.command(QStringLiteral("exception add 19:20")),
             QStringLiteral("ok exception add 19:20"));
    QCOMPARE(client.exchange(19, ReadIdentity, 6), hex("eb04"));
    QCOMPARE(sim.command(QStringLiteral("exception clear")), QStringLiteral("ok exception clear"));
    QCOMPARE(client.exchange(19, ReadIdentity, 7), IdentityReply);

    QVERIFY(sim.command(QStringLiteral("exception add 19")).startsWith(QStringLiteral("error ")));
    QVERIFY(sim.command(QStringLiteral("bogus")).startsWith(QStringLiteral("error ")));
    // An over-long line gets one answer and none of it is taken; a blank
    // line is answered too.
    QVERIFY(sim.command(QStringLiteral("silent on ") + QString(6000, QLatin1Char('x')))
                .startsWith(QStringLiteral("error command line longer")));
    QCOMPARE(sim.command(QString()), QStringLiteral("ok"));
    QCOMPARE(sim.output().count(QStringLiteral("error command line longer")), 1);
    QVERIFY(!sim.output().contains(QStringLiteral("xxxxxxxx")));
    QCOMPARE(client.exchange(19, ReadIdentity, 7), IdentityReply); // not silenced

    // A restart on command: the link is lost and comes back.
    QCOMPARE(sim.command(QStringLiteral("restart")), QStringLiteral("ok restart"));
    QVERIFY(client.waitForClosed(2000));
    std::unique_ptr<RawClient> later;
    QElapsedTimer clock;
    clock.start();
    do {
        later = std::make_unique<RawClient>();
    } while (!later->connectTo(sim.port()) && clock.elapsed() < 5000 && (QTest::qWait(50), true));
    QCOMPARE(later->exchange(19, ReadIdentity, 8), IdentityReply);
    sim.stop();
    QCOMPARE(sim.exitCode(), 0);
}

void TstSimTcp::restartFollowsTheUnitAddress_data()
{
    QTest::addColumn<QByteArray>("ipRegisters"); // four registers, one octet each
    QTest::addColumn<QString>("listensAt");
    QTest::addColumn<QString>("announced");
    QTest::newRow("another loopback address") << hex("007f 0000 0000 0002") << "127.0.0.2"
                                              << "listening on 127.0.0.2:%1 (Modbus TCP)";
    QTest::newRow("top of the loopback range") << hex("007f 00ff 00ff 00fe") << "127.255.255.254"
                                               << "listening on 127.255.255.254:%1 (Modbus TCP)";
    QTest::newRow("outside loopback: refused")
        << hex("00c0 0000 0002 0063") << "127.0.0.1"
        << "error restart: the unit's IP address 192.0.2.99 is outside 127.0.0.0/8; still "
           "listening on 127.0.0.1:%1";
    QTest::newRow("register above 255: refused")
        << hex("007f 0000 0000 0100") << "127.0.0.1"
        << "error restart: the unit's IP address registers hold 127.0.0.256, not an address; "
           "still listening on 127.0.0.1:%1";
}

void TstSimTcp::restartFollowsTheUnitAddress()
{
    QFETCH(QByteArray, ipRegisters);
    QFETCH(QString, listensAt);
    QFETCH(QString, announced);
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--no-animate"), QStringLiteral("--commands"),
                       QStringLiteral("--restart-ms"), QStringLiteral("200")}));
    const QString line = announced.arg(sim.port());
    RawClient client;
    QVERIFY(client.connectTo(sim.port()));
    QCOMPARE(client.exchange(20, hex("6d0007000408") + ipRegisters), hex("6d00070004"));
    QCOMPARE(sim.command(QStringLiteral("restart")), QStringLiteral("ok restart"));
    QTRY_VERIFY2_WITH_TIMEOUT(sim.output().contains(line), qPrintable(sim.output()), 5000);

    RawClient later;
    QVERIFY(later.connectTo(sim.port(), QHostAddress(listensAt)));
    QCOMPARE(later.exchange(19, ReadIdentity), IdentityReply);
    if (listensAt != QLatin1String("127.0.0.1")) {
        RawClient old;
        QVERIFY(!old.connectTo(sim.port()));
    }
}

void TstSimTcp::stateFileRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("fifo") << "fifo"
                          << "not a regular file";
    QTest::newRow("link to /dev/zero") << "zero"
                                       << "not a regular file";
    QTest::newRow("directory") << "directory"
                               << "not a regular file";
    QTest::newRow("over 1 MiB") << "large"
                                << "larger than 1048576 bytes";
    QTest::newRow("array") << "array"
                           << "not an object";
    QTest::newRow("broken json") << "broken"
                                 << "not JSON";
}

void TstSimTcp::stateFileRefused()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("state"));
    const auto writeFile = [&path](const QByteArray &content) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
    };
    if (kind == QLatin1String("fifo"))
        QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
    else if (kind == QLatin1String("zero"))
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
    else if (kind == QLatin1String("directory"))
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("state")));
    else if (kind == QLatin1String("large"))
        QVERIFY(writeFile(QByteArray(1024 * 1024, '\n') + "{}"));
    else if (kind == QLatin1String("array"))
        QVERIFY(writeFile("[1, 2, 3]"));
    else
        QVERIFY(writeFile("{\"19\": [1, 2"));

    // Refused at once with the reason, before listening: never blocked, never aborted.
    QProcess process;
    process.start(SimProcess::simulatorPath(),
                  {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                   QStringLiteral("--state"), path});
    const bool finished = process.waitForFinished(5000);
    if (!finished) {
        process.kill();
        process.waitForFinished(3000);
    }
    QVERIFY(finished);
    const QString error = QString::fromLocal8Bit(process.readAllStandardError());
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 69);
    QVERIFY2(error.contains(QStringLiteral("cannot use the state file")), qPrintable(error));
    QVERIFY2(error.contains(reason), qPrintable(error));
    QVERIFY(process.readAllStandardOutput().isEmpty()); // it never listened
}

void TstSimTcp::nonReadingClientStaysBounded()
{
    // Under AddressSanitizer freed memory waits in a quarantine (256 MB by
    // default) and counts as resident: keep it small for this simulator, so
    // that what is measured is what the simulator holds.
    const QByteArray asanOptions = qgetenv("ASAN_OPTIONS");
    qputenv("ASAN_OPTIONS", asanOptions + (asanOptions.isEmpty() ? "" : ":") +
                                "quarantine_size_mb=4:thread_local_quarantine_size_kb=64");
    SimProcess sim;
    const bool started = sim.start({QStringLiteral("--no-animate")});
    if (asanOptions.isNull())
        qunsetenv("ASAN_OPTIONS");
    else
        qputenv("ASAN_OPTIONS", asanOptions);
    QVERIFY(started);
    RawClient other;
    QVERIFY(other.connectTo(sim.port()));
    QCOMPARE(other.exchange(19, ReadIdentity, 1), IdentityReply);
    const qint64 before = sim.residentKiB();
    QVERIFY(before > 0);

    Flooder flooder;
    QVERIFY(flooder.connectTo(sim.port()));
    QElapsedTimer clock;
    clock.start();
    qint64 sent = 0;
    quint16 tid = 2;
    while (clock.elapsed() < 3000) {
        sent += flooder.pour();
        // The other client is served meanwhile, each time within a second.
        QCOMPARE(other.exchange(19, ReadIdentity, tid++, 1000), IdentityReply);
    }
    const qint64 grown = sim.residentKiB() - before;
    qInfo("flooder sent %lld bytes, resident memory grew by %lld KiB", sent, grown);
    QVERIFY2(grown < 32 * 1024, qPrintable(QString::number(grown)));

    // Gone with requests still unread: none of them is answered into its socket.
    flooder.close();
    QCOMPARE(other.exchange(19, ReadIdentity, tid++, 1000), IdentityReply);
    QTest::qWait(200);
    QCOMPARE(other.exchange(19, ReadIdentity, tid++, 1000), IdentityReply);
    QVERIFY2(!sim.output().contains(QStringLiteral("not open")),
             qPrintable(sim.output().left(500)));
}

QTEST_GUILESS_MAIN(TstSimTcp)
#include "tst_simtcp.moc"
