// The Frame Monitor window: thousands of rows taken in batches and bounded,
// the outcome filter, pause with the ring going on, save as text and CSV,
// copy, and the menu item against the simulator across sessions.

#include "AppTestKit.h"
#include "ConnectionPage.h"
#include "FrameFormat.h"
#include "FrameMonitor.h"
#include "SimProcess.h"
#include "SpecialFiles.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QToolButton>

namespace {

// Exchange i: a read of unit 21 whose reply is good, an exception every
// tenth time and missing every seventh.
void feed(FrameTap &log, int first, int n)
{
    for (int i = first; i < first + n; ++i) {
        const std::uint8_t request[12] = {
            std::uint8_t(i >> 8), std::uint8_t(i), 0, 0, 0, 6, 21, 107, 0, 0, 0, 1};
        std::uint8_t reply[11] = {
            std::uint8_t(i >> 8), std::uint8_t(i), 0, 0, 0, 5, 21, 107, 2, 0, 1};
        FrameExchange x;
        x.request = request;
        x.requestLength = sizeof request;
        x.reply = reply;
        x.replyLength = sizeof reply;
        x.replyAt = 0;
        x.outcome = FrameOutcome::Good;
        if (i % 10 == 0) {
            reply[7] = 107 | 0x80;
            reply[8] = 2;
            x.replyLength = 9;
            x.outcome = FrameOutcome::Exception;
        } else if (i % 7 == 0) {
            x.replyLength = 0;
            x.replyAt = -1;
            x.outcome = FrameOutcome::NoReply;
        }
        x.sent = std::chrono::system_clock::now();
        x.roundTrip = std::chrono::microseconds(800 + i % 100);
        log.exchanged(x);
    }
}

int rowsWith(const FrameMonitor &m, FrameOutcome outcome)
{
    int n = 0;
    auto &model = const_cast<FrameMonitor &>(m).model();
    for (int row = 0; row < model.rowCount(); ++row)
        n += model.record(row).outcome == outcome;
    return n;
}

// One TCP exchange: the request's unit, function and the two words after
// the start register, and what came back (nothing, or a reply's PDU).
void exchange(FrameLog &log, std::uint8_t unit, std::uint8_t fn, std::uint16_t start,
              std::uint16_t word, const QByteArray &replyPdu, FrameOutcome outcome)
{
    const std::uint8_t request[12] = {0,
                                      1,
                                      0,
                                      0,
                                      0,
                                      6,
                                      unit,
                                      fn,
                                      std::uint8_t(start >> 8),
                                      std::uint8_t(start),
                                      std::uint8_t(word >> 8),
                                      std::uint8_t(word)};
    QByteArray reply = QByteArray::fromHex("000100000000") + char(unit) + replyPdu;
    reply[5] = char(1 + replyPdu.size());
    FrameExchange x;
    x.request = request;
    x.requestLength = sizeof request;
    x.reply = reinterpret_cast<const std::uint8_t *>(reply.constData());
    x.replyLength = replyPdu.isEmpty() ? 0 : std::size_t(reply.size());
    x.replyAt = replyPdu.isEmpty() ? -1 : 0;
    x.outcome = outcome;
    x.kind = fn == 107 ? FrameKind::Read : FrameKind::WriteOne;
    x.sent = std::chrono::system_clock::now();
    log.exchanged(x);
}

QStringList readLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

Q_DECLARE_METATYPE(FrameMonitor::SaveFormat)

class TestFrameMonitor : public QObject
{
    Q_OBJECT

private slots:
    void init() { qunsetenv("RAVELIN_TCP_PORT"); }
    void cleanup() { init(); }
    void thousandsOfRowsInBatches();
    void pauseHoldsTheTableWhileTheRingGoesOn();
    void saveAndCopyWhatTheFilterShows();
    void saveLeavesNodesAlone_data();
    void saveLeavesNodesAlone();
    void menuItemAcrossSessions();
    void filters_data();
    void filters();
    void recordingStopsAtItsBound();
};

void TestFrameMonitor::thousandsOfRowsInBatches()
{
    RegisterAccess access;
    FrameMonitor monitor(access);
    monitor.setCapacity(5000);
    monitor.show();
    QVERIFY(monitor.listening());
    QSignalSpy inserted(&monitor.model(), &QAbstractItemModel::rowsInserted);
    feed(monitor.log(), 1, 3000);
    QCOMPARE(monitor.model().rowCount(), 0); // nothing until the timer's batch
    monitor.refresh();
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(monitor.model().rowCount(), 5000);
    QCOMPARE(monitor.model().record(0).sequence, std::uint64_t(1001));
    QCOMPARE(monitor.model().record(4999).sequence, std::uint64_t(6000));
    // The ring (5000 frames) had already overwritten the first 1000.
    QCOMPARE(monitor.lostFrames(), std::uint64_t(1000));

    // The filter shows one outcome, request and reply alike, or every failure.
    auto *box = named<QComboBox>(&monitor, QStringLiteral("OutcomeFilter"));
    box->setCurrentIndex(box->findData(int(FrameOutcome::Exception)));
    QCOMPARE(monitor.filter().rowCount(), rowsWith(monitor, FrameOutcome::Exception));
    QCOMPARE(monitor.filter().rowCount(), 500);
    box->setCurrentIndex(box->findData(FrameOutcomeFilter::AllFailures));
    QCOMPARE(monitor.filter().rowCount(), 5000 - rowsWith(monitor, FrameOutcome::Good));

    // The timer takes the next batch by itself; the oldest rows make room.
    box->setCurrentIndex(0);
    feed(monitor.log(), 3001, 100);
    QTRY_COMPARE_WITH_TIMEOUT(monitor.model().record(4999).sequence, std::uint64_t(6200), 2000);
    QCOMPARE(monitor.model().rowCount(), 5000);
    QCOMPARE(monitor.model().record(0).sequence, std::uint64_t(1201));
    QCOMPARE(inserted.count(), 2);

    // Hidden, it stops listening; clearing empties table and ring alike.
    monitor.hide();
    QVERIFY(!monitor.listening());
    QVERIFY(!access.frameTap());
    monitor.clear();
    QCOMPARE(monitor.model().rowCount(), 0);
    QCOMPARE(monitor.log().size(), std::size_t(0));
}

void TestFrameMonitor::pauseHoldsTheTableWhileTheRingGoesOn()
{
    RegisterAccess access;
    FrameMonitor monitor(access);
    monitor.setCapacity(100);
    QCOMPARE(monitor.log().capacity(), std::size_t(100));
    monitor.show();
    feed(monitor.log(), 1, 5);
    monitor.refresh();
    QCOMPARE(monitor.model().rowCount(), 10);

    named<QPushButton>(&monitor, QStringLiteral("PauseButton"))->click();
    QVERIFY(monitor.paused());
    feed(monitor.log(), 6, 30);
    monitor.refresh();
    QCOMPARE(monitor.model().rowCount(), 10);
    auto *status = named<QLabel>(&monitor, QStringLiteral("FrameStatus"));
    QVERIFY2(status->text().contains(QLatin1String("paused (60 new)")), qPrintable(status->text()));

    // The ring keeps 100 frames: of the 130 recorded since the last batch
    // shown, the first 30 are gone.
    feed(monitor.log(), 36, 35);
    named<QPushButton>(&monitor, QStringLiteral("PauseButton"))->click();
    QVERIFY(!monitor.paused());
    QCOMPARE(monitor.model().rowCount(), 100);
    QCOMPARE(monitor.model().record(0).sequence, std::uint64_t(41));
    QCOMPARE(monitor.lostFrames(), std::uint64_t(30));
    QVERIFY(status->text().contains(QLatin1String("30 not shown")));
}

void TestFrameMonitor::saveAndCopyWhatTheFilterShows()
{
    RegisterAccess access;
    FrameMonitor monitor(access);
    monitor.show();
    feed(monitor.log(), 9, 2); // 9 good, 10 an exception
    monitor.refresh();
    QTemporaryDir dir;

    const QString text = dir.filePath(QStringLiteral("frames.txt"));
    QVERIFY(monitor.saveTo(text, FrameMonitor::SaveFormat::Text));
    const QStringList lines = readLines(text);
    QCOMPARE(lines.size(), 4);
    for (int row = 0; row < 4; ++row)
        QCOMPARE(lines[row], frameLine(monitor.model().record(row)));
    QVERIFY(lines[3].contains(QLatin1String(" RX ")));
    QVERIFY(lines[3].contains(QLatin1String("exc=2:illegal-data-address outcome=exception")));

    auto *box = named<QComboBox>(&monitor, QStringLiteral("OutcomeFilter"));
    box->setCurrentIndex(box->findData(int(FrameOutcome::Exception)));
    const QString csv = dir.filePath(QStringLiteral("frames.csv"));
    QVERIFY(monitor.saveTo(csv, FrameMonitor::SaveFormat::Csv));
    const QStringList rows = readLines(csv);
    QCOMPARE(rows.size(), 3);
    const QStringList header = rows[0].split(QLatin1Char(','));
    const QStringList reply = rows[2].split(QLatin1Char(','));
    QCOMPARE(reply.size(), header.size());
    const auto cell = [&](const char *name) {
        return reply.value(header.indexOf(QLatin1String(name)));
    };
    QCOMPARE(cell("direction"), QStringLiteral("RX"));
    QCOMPARE(cell("unit"), QStringLiteral("21"));
    QCOMPARE(cell("function"), QStringLiteral("235"));
    QCOMPARE(cell("exception"), QStringLiteral("2"));
    QCOMPARE(cell("exception_name"), QStringLiteral("Illegal data address"));
    QCOMPARE(cell("outcome"), QStringLiteral("exception"));
    QCOMPARE(cell("transaction"), QStringLiteral("10"));
    QCOMPARE(cell("bytes"), QStringLiteral("00 0A 00 00 00 05 15 EB 02"));

    // Copy takes the selected rows of what the filter shows, in order.
    QTableView *view = monitor.view();
    view->selectRow(1);
    view->selectionModel()->select(view->model()->index(0, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    const QString copied = monitor.copySelection();
    QCOMPARE(copied, lines[2] + QLatin1Char('\n') + lines[3]);
    QCOMPARE(QApplication::clipboard()->text(), copied);

    QString error;
    QVERIFY(!monitor.saveTo(dir.path(), FrameMonitor::SaveFormat::Text, &error));
    QVERIFY(!error.isEmpty());
}

// "Save As..." onto a FIFO or a device node: refused, the node left as it
// was (it used to be replaced by a regular file).
void TestFrameMonitor::saveLeavesNodesAlone_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<FrameMonitor::SaveFormat>("format");
    for (const char *kind : {"fifo", "device"}) {
        QTest::addRow("%s, text", kind) << kind << FrameMonitor::SaveFormat::Text;
        QTest::addRow("%s, csv", kind) << kind << FrameMonitor::SaveFormat::Csv;
    }
}

void TestFrameMonitor::saveLeavesNodesAlone()
{
    QFETCH(QString, kind);
    QFETCH(FrameMonitor::SaveFormat, format);
    RegisterAccess access;
    FrameMonitor monitor(access);
    feed(monitor.log(), 1, 2);
    monitor.refresh();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("frames"));
    MAKE_NODE(path, kind);
    FifoWatchdog watchdog(path);
    QString error;
    const bool saved = monitor.saveTo(path, format, &error);
    watchdog.done();
    QVERIFY(!watchdog.fired());
    QVERIFY(!saved);
    QVERIFY2(error.contains(QLatin1String("not a regular file")), qPrintable(error));
    QCOMPARE(nodeType(path), kind);
}

void TestFrameMonitor::menuItemAcrossSessions()
{
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--no-animate")}));
    WorkingFolder folder;
    QVERIFY(folder.writeIni("[Options]\nComms_Port=1\nIP_Address=127.0.0.1\n"));
    MessageRecorder messages;
    qputenv("RAVELIN_TCP_PORT", QByteArray::number(sim.port()));
    auto form = makeMainForm();
    form->scheduler().setStepped(true);
    form->activateWindow();
    QTRY_COMPARE_WITH_TIMEOUT(QApplication::activeWindow(), form.get(), 2000);

    QVERIFY(form->FrameMonitor1->isEnabled());
    form->FrameMonitor1->trigger();
    FrameMonitor *monitor = form->frameMonitor();
    QVERIFY(monitor && monitor->isVisible());
    QVERIFY(monitor->testAttribute(Qt::WA_ShowWithoutActivating));
    QVERIFY(monitor->listening());
    QCOMPARE(QApplication::activeWindow(), form.get()); // the focus stayed where it was

    const QStringList loopback{"127", "0", "0", "1"};
    const auto openSession = [&] {
        for (int i = 0; i < 4; ++i)
            editBox(*form, 23 + i)->setText(loopback[i]);
        form->connectionPage()->BitBtn2->click();
        const bool opened = form->sessionOpen();
        form->CloseConnection1Click();
        form->Timer2->fire();
        return opened && !form->sessionOpen();
    };
    QVERIFY(openSession());
    monitor->refresh();
    const int firstSession = monitor->model().rowCount();
    QVERIFY(firstSession >= 2);
    const FrameRecord &identity = monitor->model().record(0);
    QCOMPARE(identity.direction, FrameDirection::Tx);
    QCOMPARE(identity.unit, 19);
    QCOMPARE(identity.start, 20);
    QCOMPARE(monitor->model().record(1).outcome, FrameOutcome::Good);

    // The session has closed; the monitor is still there and still listening.
    QVERIFY(monitor->isVisible());
    QVERIFY(openSession());
    monitor->refresh();
    QCOMPARE(monitor->model().rowCount(), 2 * firstSession);

    // Closed, it records nothing; the menu brings it back with its rows.
    monitor->close();
    const std::uint64_t last = monitor->log().lastSequence();
    QVERIFY(openSession());
    QCOMPARE(monitor->log().lastSequence(), last);
    form->FrameMonitor1->trigger();
    QCOMPARE(form->frameMonitor(), monitor);
    QVERIFY(monitor->listening());
    QCOMPARE(monitor->model().rowCount(), 2 * firstSession);
    QVERIFY2(messages.messages.isEmpty(), qPrintable(messages.texts().join(QLatin1Char('|'))));
    form.reset(); // with the monitor open
    sim.stop();
}

// The rows of a session in miniature, each named "exchange:direction":
// 1 a status poll read, 2 its write-back, 3 a read of unit 20 left without
// a reply, 4 discarded bytes then a read of unit 22 answered with an
// exception, 5 a write of unit 19.
void TestFrameMonitor::filters_data()
{
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("unit");
    QTest::addColumn<int>("function");
    QTest::addColumn<int>("direction");
    QTest::addColumn<bool>("hidePolls");
    QTest::addColumn<QStringList>("shown");

    const int any = -1;
    const QStringList all{"1:TX",   "1:RX", "2:TX", "2:RX", "3:TX", "3:RX",
                          "4:DROP", "4:TX", "4:RX", "5:TX", "5:RX"};
    QTest::newRow("everything") << any << any << any << any << false << all;
    QTest::newRow("status polls hidden, read and write-back")
        << any << any << any << any << true
        << QStringList{"3:TX", "3:RX", "4:DROP", "4:TX", "4:RX", "5:TX", "5:RX"};
    // A reply that carries no unit still goes with its request; bytes of no
    // known exchange pass.
    QTest::newRow("unit 20: no-reply row kept, write-back too")
        << any << 20 << any << any << false
        << QStringList{"2:TX", "2:RX", "3:TX", "3:RX", "4:DROP"};
    QTest::newRow("function 107 takes the exception reply 235")
        << any << any << 107 << any << false
        << QStringList{"1:TX", "1:RX", "3:TX", "3:RX", "4:DROP", "4:TX", "4:RX"};
    QTest::newRow("received only, polls hidden") << any << any << any << int(FrameDirection::Rx)
                                                 << true << QStringList{"3:RX", "4:RX", "5:RX"};
    QTest::newRow("discarded only")
        << any << any << any << int(FrameDirection::Discarded) << false << QStringList{"4:DROP"};
    QTest::newRow("failures of unit 22") << FrameOutcomeFilter::AllFailures << 22 << any << any
                                         << false << QStringList{"4:DROP", "4:TX", "4:RX"};
    QTest::newRow("unit and function that never met")
        << any << 19 << 107 << any << false << QStringList{"4:DROP"};
}

void TestFrameMonitor::filters()
{
    QFETCH(int, outcome);
    QFETCH(int, unit);
    QFETCH(int, function);
    QFETCH(int, direction);
    QFETCH(bool, hidePolls);
    QFETCH(QStringList, shown);

    FrameLog log;
    QByteArray status(81, '\0');
    status[0] = 107;
    status[1] = 80;
    exchange(log, 21, 107, 0, 40, status, FrameOutcome::Good);
    exchange(log, 20, 108, 29, 0xFFFF, QByteArray::fromHex("6c001dffff"), FrameOutcome::Good);
    exchange(log, 20, 107, 7, 12, {}, FrameOutcome::NoReply);
    const std::uint8_t stale[3] = {1, 2, 3};
    log.discarded(FrameLink::Tcp, stale, 3, 3);
    exchange(log, 22, 107, 0, 3, QByteArray::fromHex("eb02"), FrameOutcome::Exception);
    exchange(log, 19, 106, 5, 1, QByteArray::fromHex("6a00050001"), FrameOutcome::Good);
    std::vector<FrameRecord> records;
    log.copySince(0, records);

    FrameFilterSettings settings;
    settings.outcome = outcome;
    settings.unit = unit;
    settings.function = function;
    if (direction >= 0)
        settings.direction = FrameDirection(direction);
    settings.hideStatusPolls = hidePolls;
    FrameExchangeKeys keys;
    QStringList rows;
    for (const FrameRecord &r : records)
        if (frameRowShown(r, keys.next(r), settings))
            rows << QStringLiteral("%1:%2")
                        .arg(r.exchange)
                        .arg(QLatin1String(frameDirectionToken(r.direction)));
    QCOMPARE(rows, shown);
}

// A recording goes on with the window hidden, stops by itself at its bound
// with one message, and then lets the exchanges go untapped.
void TestFrameMonitor::recordingStopsAtItsBound()
{
    MessageRecorder messages;
    RegisterAccess access;
    FrameMonitor monitor(access);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("frames.csv"));
    QString error;
    QVERIFY2(monitor.startRecording(path, FrameMonitor::SaveFormat::Csv, &error, 4000),
             qPrintable(error));
    QVERIFY(monitor.listening()); // hidden, yet recording
    auto *record = named<QPushButton>(&monitor, QStringLiteral("RecordButton"));
    QVERIFY(record->isChecked());
    feed(*access.frameTap(), 1, 5);
    QVERIFY(messages.messages.isEmpty());
    QVERIFY(QFileInfo(path).size() > 500); // written as it happened, before any refresh
    feed(*access.frameTap(), 6, 100);
    monitor.refresh();
    QCOMPARE(messages.messages.size(), 1);
    QVERIFY(messages.texts().constFirst().contains(QStringLiteral("size limit")));
    QVERIFY(!record->isChecked());
    QVERIFY(!monitor.recorder().recording());
    QVERIFY(!monitor.listening());
    QVERIFY(QFileInfo(path).size() <= 4000);
    const QStringList lines = readLines(path);
    QCOMPARE(lines.constFirst(), frameCsvHeader());
    QCOMPARE(std::uint64_t(lines.size() - 1), monitor.recorder().framesWritten());
    monitor.refresh();
    QCOMPARE(messages.messages.size(), 1); // said once

    // The table took the frames; no column is narrower than its widest text.
    QVERIFY(monitor.model().rowCount() > 0);
    for (int c = 0; c < FrameTableModel::ColumnCount; ++c) {
        int widest = 0;
        for (int row = 0; row < monitor.model().rowCount(); ++row)
            widest = std::max(widest, monitor.view()->fontMetrics().horizontalAdvance(
                                          monitor.model().index(row, c).data().toString()));
        QVERIFY2(monitor.view()->columnWidth(c) > widest, qPrintable(QString::number(c)));
    }
}

QTEST_MAIN(TestFrameMonitor)
#include "tst_framemonitor.moc"
