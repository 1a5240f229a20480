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
void feed(FrameLog &log, int first, int n)
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

QTEST_MAIN(TestFrameMonitor)
#include "tst_framemonitor.moc"
