// The serial component against a pty: opening rules, blocks, the receive
// buffer, the reply timeout and closing during a wait.

#include "PtyPair.h"
#include "RtuPeer.h"
#include "RxCondition.h"
#include "VeskComms.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QtTest>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

const std::uint8_t *bytes(const QByteArray &a)
{
    return reinterpret_cast<const std::uint8_t *>(a.constData());
}

// Rule 1: start 'S', end 'E', two bytes from the end on.
void addSimpleRule(TRxCondition &set)
{
    set.AddItem(1, "S", false, 1, "E", false, 0, 1, 2);
}

// Sends `request` and waits; returns WaitReply's result and the elapsed time.
int sendAndWait(TVeskComms &comms, const QByteArray &request, std::uint16_t timeout,
                qint64 *elapsedMs = nullptr)
{
    QElapsedTimer clock;
    clock.start();
    comms.SendData(bytes(request), std::uint16_t(request.size()), timeout);
    const int result = comms.WaitReply();
    if (elapsedMs)
        *elapsedMs = clock.elapsed();
    return result;
}

} // namespace

class TstVeskComms : public QObject
{
    Q_OBJECT

private slots:
    void defaults();
    void openingRules();
    void notASerialDevice_data();
    void notASerialDevice();
    void exclusiveOpen();
    void writesTheRequest();
    void replySplitOverBlocks();
    void receiveBufferOverflowLandsOnTheLastPosition();
    void getRxData_data();
    void getRxData();
    void onReceiveMsgResetsMatching();
    void timeout_data();
    void timeout();
    void rtuTimeoutRunsOutAfterAboutFiveSeconds();
    void closePortDuringWaitReply();
    void closingTwice();
    void noStaleBlocksAfterClose();
    void destroyedWithBlocksPending();
};

void TstVeskComms::defaults()
{
    TVeskComms comms;
    QCOMPARE(comms.CommPort, 0);
    QCOMPARE(comms.BaudRate, 9600u);
    QCOMPARE(int(comms.DataBits), 8);
    QVERIFY(comms.StopBits == TStopBits::sb1);
    QVERIFY(comms.Parity == TParity::None);
    QCOMPARE(int(comms.RxBufferSize), 256);
    QCOMPARE(comms.RxStatus(), 0);
    QVERIFY(!comms.IsOpen());
}

void TstVeskComms::openingRules()
{
    PtyPair pty;
    QVERIFY(pty.isOpen());
    TVeskComms missing;
    missing.DevicePath = QStringLiteral("/dev/ravelin-no-such-device");
    QVERIFY(!missing.OpenPort());
    QVERIFY(!missing.IsOpen());

    TVeskComms comms;
    comms.DevicePath = pty.slavePath();
    QVERIFY(comms.OpenPort());
    QVERIFY(comms.IsOpen());
    try {
        comms.OpenPort();
        QFAIL("a second OpenPort did not throw");
    } catch (const ECommsError &e) {
        QCOMPARE(QString::fromLatin1(e.what()), QStringLiteral("Already have a Comm File Open"));
    }
    QVERIFY(comms.IsOpen());
    comms.ClosePort();
    QVERIFY(!comms.IsOpen());
    QCOMPARE(comms.RxStatus(), -1);
    // The port is released: it opens again.
    QVERIFY(comms.OpenPort());
}

void TstVeskComms::notASerialDevice_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("character device that is no tty") << QStringLiteral("/dev/null");
    QTest::newRow("regular file") << QString();
}

void TstVeskComms::notASerialDevice()
{
    QFETCH(QString, path);
    QTemporaryFile file;
    if (path.isEmpty()) {
        QVERIFY(file.open());
        path = file.fileName();
    }
    TVeskComms comms;
    comms.DevicePath = path;
    try {
        comms.OpenPort();
        QFAIL("OpenPort did not throw");
    } catch (const ECommsError &e) {
        QCOMPARE(QString::fromLatin1(e.what()),
                 QStringLiteral("File Handle is not a Comm Handle."));
    }
    QVERIFY(!comms.IsOpen());
}

void TstVeskComms::exclusiveOpen()
{
    PtyPair pty;
    TVeskComms first;
    TVeskComms second;
    first.DevicePath = second.DevicePath = pty.slavePath();
    QVERIFY(first.OpenPort());
    QVERIFY(!second.OpenPort());
    QVERIFY(!second.IsOpen());

    // Another process is kept out too (root included, which ignores TIOCEXCL).
    const QString flock = QStandardPaths::findExecutable(QStringLiteral("flock"));
    if (!flock.isEmpty()) {
        QProcess other;
        other.start(flock, {QStringLiteral("-n"), pty.slavePath(), QStringLiteral("true")});
        QVERIFY(other.waitForFinished(5000));
        QVERIFY(other.exitCode() != 0);
    }
    first.ClosePort();
    QVERIFY(second.OpenPort());
}

void TstVeskComms::writesTheRequest()
{
    PtyPair pty;
    TVeskComms comms;
    comms.DevicePath = pty.slavePath();
    QVERIFY(comms.OpenPort());
    const QByteArray request = hex("146b0007000c9702");
    QVERIFY(comms.SendData(bytes(request), std::uint16_t(request.size()), 1));
    QCOMPARE(pty.read(request.size(), 2000), request);
}

void TstVeskComms::replySplitOverBlocks()
{
    PtyPair pty;
    RtuPeer peer(pty);
    TVeskComms comms;
    comms.DevicePath = pty.slavePath();
    QList<QByteArray> blocks;
    comms.OnReceiveData = [&](const std::uint8_t *data, std::uint16_t length) {
        QCOMPARE(int(data[length]), 0);
        blocks.append(QByteArray(reinterpret_cast<const char *>(data), length));
    };
    QVERIFY(comms.OpenPort());
    TRxCondition set;
    addSimpleRule(set);
    comms.SetRxCondition(&set);
    comms.ResetRxCondition();
    // The reply completes only with the third block's byte.
    peer.script(3, {QByteArray("xxS"), QByteArray("abE"), QByteArray("1yy")}, 50);
    QCOMPARE(sendAndWait(comms, QByteArray("req"), 30), 1);
    QCOMPARE(blocks, (QList<QByteArray>{"xxS", "abE", "1yy"}));
    QCOMPARE(peer.received, QByteArray("req"));
    QCOMPARE(int(comms.RxHead()), 9);
    // The whole block that completed the reply was counted, trailing bytes too.
    QCOMPARE(int(set.Item(1)->CountAfter), 4);
    comms.ClearRxCondition();
}

void TstVeskComms::receiveBufferOverflowLandsOnTheLastPosition()
{
    TVeskComms comms;
    comms.RxBufferSize = 200;
    comms.PrepareRxBuffer();
    QByteArray data;
    for (int i = 0; i < 250; ++i)
        data.append(char(i));
    comms.ProcessRxData(bytes(data), std::size_t(data.size()));
    QCOMPARE(int(comms.RxHead()), 199);
    QCOMPARE(int(comms.RxBuffer().size()), 200);
    QCOMPARE(int(comms.RxBuffer()[198]), 198);
    QCOMPARE(int(comms.RxBuffer()[199]), 249);

    // A zero-sized buffer stores nothing and must not write anywhere.
    TVeskComms empty;
    empty.RxBufferSize = 0;
    empty.PrepareRxBuffer();
    empty.ProcessRxData(bytes(data), std::size_t(data.size()));
    QCOMPARE(int(empty.RxHead()), 0);
}

void TstVeskComms::getRxData_data()
{
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("between");
    QTest::addColumn<int>("after");
    QTest::addColumn<int>("maxLen");
    QTest::addColumn<QByteArray>("expected");

    // Received: "ab" before, "S" "xy" between, "E" "12" after, then "3".
    QTest::newRow("reply as the RTU read takes it")
        << 0 << -1 << -1 << 200 << QByteArray("SxyE123");
    QTest::newRow("all before") << -1 << 0 << 0 << 200 << QByteArray("ab");
    QTest::newRow("one before") << 1 << 0 << 0 << 200 << QByteArray("b");
    QTest::newRow("more before than there are") << 9 << 0 << 0 << 200 << QByteArray("ab");
    QTest::newRow("part of between") << 0 << 2 << 2 << 200 << QByteArray("SxE1");
    QTest::newRow("limited by maxLen") << -1 << -1 << -1 << 4 << QByteArray("abSx");
}

void TstVeskComms::getRxData()
{
    QFETCH(int, before);
    QFETCH(int, between);
    QFETCH(int, after);
    QFETCH(int, maxLen);
    QFETCH(QByteArray, expected);
    TVeskComms comms;
    comms.PrepareRxBuffer();
    TRxCondition set;
    addSimpleRule(set);
    comms.SetRxCondition(&set);
    const QByteArray data("abSxyE123");
    comms.ProcessRxData(bytes(data), std::size_t(data.size()));
    std::uint8_t dest[256];
    std::memset(dest, 0xAA, sizeof dest);
    const int n = comms.GetRxData(1, dest, std::uint16_t(maxLen), before, between, after);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(dest), n), expected);
    QCOMPARE(int(dest[n]), 0);

    // Without an installed set: nothing, as an empty text.
    comms.ClearRxCondition();
    dest[0] = 'z';
    QCOMPARE(int(comms.GetRxData(1, dest, 200, 0, -1, -1)), 0);
    QCOMPARE(int(dest[0]), 0);
}

void TstVeskComms::onReceiveMsgResetsMatching()
{
    TVeskComms comms;
    comms.PrepareRxBuffer();
    TRxCondition set;
    addSimpleRule(set);
    comms.SetRxCondition(&set);
    QList<int> reported;
    comms.OnReceiveMsg = [&](int k) {
        reported.append(k);
    };
    // Completed byte by byte inside one block; matching starts afresh after it.
    const QByteArray data("SxE1SyE2z");
    comms.ProcessRxData(bytes(data), std::size_t(data.size()));
    QCOMPARE(reported, (QList<int>{1, 1}));
    QCOMPARE(int(comms.RxHead()), 1); // only the "z" after the second reply
    QCOMPARE(comms.MatchedItem(), -1);
}

void TstVeskComms::timeout_data()
{
    QTest::addColumn<int>("ticks");
    // A timeout of T ticks runs out on tick T + 1: the first never counts down.
    QTest::newRow("0 runs out on the first tick") << 0;
    QTest::newRow("3 runs out on the fourth tick") << 3;
}

void TstVeskComms::timeout()
{
    QFETCH(int, ticks);
    PtyPair pty;
    TVeskComms comms;
    comms.DevicePath = pty.slavePath();
    int timeouts = 0;
    comms.OnTimeOut = [&] {
        ++timeouts;
    };
    QVERIFY(comms.OpenPort());
    qint64 elapsed = 0;
    QCOMPARE(sendAndWait(comms, QByteArray("q"), std::uint16_t(ticks), &elapsed), 0);
    QCOMPARE(comms.RxStatus(), 0);
    QCOMPARE(timeouts, 1);
    const qint64 expected = (ticks + 1) * 100;
    QVERIFY2(elapsed >= expected - 20 && elapsed < expected + 250,
             qPrintable(QString::number(elapsed)));
}

void TstVeskComms::rtuTimeoutRunsOutAfterAboutFiveSeconds()
{
    PtyPair pty;
    TVeskComms comms;
    comms.DevicePath = pty.slavePath();
    QVERIFY(comms.OpenPort());
    qint64 elapsed = 0;
    QCOMPARE(sendAndWait(comms, hex("146b0007000c9702"), 50, &elapsed), 0);
    QVERIFY2(elapsed >= 5050 && elapsed < 5500, qPrintable(QString::number(elapsed)));
}

void TstVeskComms::closePortDuringWaitReply()
{
    PtyPair pty;
    TVeskComms comms;
    comms.DevicePath = pty.slavePath();
    QVERIFY(comms.OpenPort());
    QTimer::singleShot(150, &comms, [&] { comms.ClosePort(); });
    qint64 elapsed = 0;
    // 65535 never runs out: only the close ends this wait.
    QCOMPARE(sendAndWait(comms, QByteArray("q"), 65535, &elapsed), -1);
    QVERIFY(elapsed < 2000);
    QVERIFY(!comms.IsOpen());
}

void TstVeskComms::closingTwice()
{
    PtyPair pty;
    TVeskComms comms;
    comms.DevicePath = pty.slavePath();
    QVERIFY(comms.OpenPort());
    comms.ClosePort();
    comms.ClosePort();
    QCOMPARE(comms.RxStatus(), -2);
    const QByteArray request("q");
    QVERIFY(!comms.SendData(bytes(request), 1, 1));
    QCOMPARE(comms.RxStatus(), -2);
    QCOMPARE(comms.WaitReply(), -2);
    QVERIFY(pty.readFor(100).isEmpty());
    // Opening again ends the closing state.
    QVERIFY(comms.OpenPort());
    QVERIFY(comms.SendData(bytes(request), 1, 1));
    QCOMPARE(pty.read(1, 2000), request);
}

void TstVeskComms::noStaleBlocksAfterClose()
{
    PtyPair pty;
    TVeskComms comms;
    comms.DevicePath = pty.slavePath();
    int delivered = 0;
    comms.OnReceiveData = [&](const std::uint8_t *, std::uint16_t) {
        ++delivered;
    };
    QVERIFY(comms.OpenPort());
    QVERIFY(pty.write(QByteArray("late")));
    // Let the receive thread post the block, but do not deliver it.
    QThread::msleep(100);
    comms.ClosePort();
    QVERIFY(comms.OpenPort());
    QCoreApplication::processEvents();
    QCOMPARE(delivered, 0);
    QCOMPARE(int(comms.RxHead()), 0);
}

void TstVeskComms::destroyedWithBlocksPending()
{
    PtyPair pty;
    auto comms = std::make_unique<TVeskComms>();
    comms->DevicePath = pty.slavePath();
    QVERIFY(comms->OpenPort());
    QVERIFY(pty.write(QByteArray("pending")));
    QThread::msleep(100);
    comms.reset(); // closes, joins the thread, drops the posted block
    QCoreApplication::processEvents();
}

QTEST_GUILESS_MAIN(TstVeskComms)
#include "tst_veskcomms.moc"
