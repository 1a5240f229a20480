// Recording frames to a file: whole lines only, appended to what the file
// held, a CSV header only on an empty file, and at the size bound the
// recording stops, says so and counts what it left out.

#include "FrameFormat.h"
#include "FrameRecording.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

// Exchange i: a read of unit 21 answered with one register.
void feed(FrameTap &tap, int exchanges)
{
    for (int i = 1; i <= exchanges; ++i) {
        const std::uint8_t request[12] = {0, std::uint8_t(i), 0, 0, 0, 6, 21, 107, 0, 0, 0, 1};
        const std::uint8_t reply[11] = {0, std::uint8_t(i), 0, 0, 0, 5, 21, 107, 2, 0, 1};
        FrameExchange x;
        x.request = request;
        x.requestLength = sizeof request;
        x.reply = reply;
        x.replyLength = sizeof reply;
        x.replyAt = 0;
        x.outcome = FrameOutcome::Good;
        x.sent = std::chrono::system_clock::now();
        tap.exchanged(x);
    }
}

} // namespace

Q_DECLARE_METATYPE(FrameFileRecorder::Format)
Q_DECLARE_METATYPE(FrameFileRecorder::State)

class TestFrameRecording : public QObject
{
    Q_OBJECT

private slots:
    void boundedAppend_data();
    void boundedAppend();
    void pairFeedsBoth();
};

void TestFrameRecording::boundedAppend_data()
{
    using F = FrameFileRecorder::Format;
    using S = FrameFileRecorder::State;
    QTest::addColumn<F>("format");
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<bool>("starts");
    QTest::addColumn<S>("state");
    QTest::addColumn<bool>("header");

    QTest::newRow("text fits") << F::Text << qint64(1 << 20) << QByteArray() << true << S::Recording
                               << false;
    QTest::newRow("text appended")
        << F::Text << qint64(1 << 20) << QByteArray("earlier\n") << true << S::Recording << false;
    QTest::newRow("csv header on a new file")
        << F::Csv << qint64(1 << 20) << QByteArray() << true << S::Recording << true;
    QTest::newRow("csv appended, no second header")
        << F::Csv << qint64(1 << 20) << QByteArray("a,b\n") << true << S::Recording << false;
    QTest::newRow("text bound") << F::Text << qint64(1500) << QByteArray() << true
                                << S::LimitReached << false;
    QTest::newRow("csv bound, old content counts")
        << F::Csv << qint64(1500) << QByteArray(900, 'x') + '\n'
        << true << S::LimitReached << false;
    QTest::newRow("already at the bound")
        << F::Text << qint64(100) << QByteArray(100, 'x') << false << S::Idle << false;
}

void TestFrameRecording::boundedAppend()
{
    QFETCH(FrameFileRecorder::Format, format);
    QFETCH(qint64, limit);
    QFETCH(QByteArray, before);
    QFETCH(bool, starts);
    QFETCH(FrameFileRecorder::State, state);
    QFETCH(bool, header);
    constexpr int Exchanges = 20; // 40 records, about 4 kB of lines

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("frames"));
    if (!before.isEmpty()) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(before) == before.size());
    }
    FrameFileRecorder recorder;
    QString error;
    QCOMPARE(recorder.start(path, format, limit, &error), starts);
    QCOMPARE(error.isEmpty(), starts);
    feed(recorder, Exchanges);
    QCOMPARE(recorder.state(), state);

    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray content = f.readAll();
    QVERIFY(content.startsWith(before));
    QVERIFY(content.size() <= limit);
    QCOMPARE(qint64(content.size()), starts ? recorder.fileSize() : qint64(before.size()));
    const QByteArray added = content.mid(before.size());
    QVERIFY(added.isEmpty() || added.endsWith('\n')); // whole lines only
    QList<QByteArray> lines = added.split('\n');
    lines.removeLast();
    if (header)
        QCOMPARE(QString::fromUtf8(lines.takeFirst()), frameCsvHeader());
    QCOMPARE(std::uint64_t(lines.size()), recorder.framesWritten());
    if (!starts)
        return;
    // Every record is either in the file or counted as left out.
    QCOMPARE(recorder.framesWritten() + recorder.framesLeftOut(), std::uint64_t(2 * Exchanges));
    QCOMPARE(recorder.stopReason().isEmpty(), state == FrameFileRecorder::State::Recording);
    if (state == FrameFileRecorder::State::LimitReached)
        QVERIFY(recorder.stopReason().contains(QStringLiteral("size limit")));
    for (const QByteArray &line : lines)
        QVERIFY(line.contains(format == FrameFileRecorder::Format::Csv ? ",TCP," : " TCP #"));
    // Stopped by the user, nothing more is written.
    recorder.stop();
    feed(recorder, 2);
    QCOMPARE(QFileInfo(path).size(), qint64(content.size()));
}

void TestFrameRecording::pairFeedsBoth()
{
    FrameLog first, second;
    FrameTapPair pair(&first, &second);
    feed(pair, 3);
    FrameTapPair onlySecond(nullptr, &second);
    feed(onlySecond, 1);
    QCOMPARE(first.size(), std::size_t(6));
    QCOMPARE(second.size(), std::size_t(8));
}

QTEST_GUILESS_MAIN(TestFrameRecording)
#include "tst_framerecording.moc"
