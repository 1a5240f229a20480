// The status poll and what it shows: the G50 status lines and the
// Diagnostics tab for chosen register values (a scripted Modbus TCP peer
// answers the poll), the transmit-buffer strip's pixels, the indicator tick,
// and the link monitor in sessions with the simulator, stepped tick by tick.

#include "AppTestKit.h"
#include "ConnectionPage.h"
#include "DiagnosticsPage.h"
#include "G50Page.h"
#include "MacDialog.h"
#include "ModBusTCPPro.h"
#include "ScriptedStream.h"
#include "SerialLink.h"
#include "SimProcess.h"
#include "StatusPoll.h"
#include "VeskComms.h"

#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>

namespace {

using Registers = std::array<std::uint16_t, StatusBlockSize>;
using Changes = QList<QPair<int, int>>; // register, value
// Control name -> text (a label) or value (a bar); "Name:colour",
// "Name:enabled" and "Name:ticked" (an indicator's picture) check more.
using Expect = QMap<QString, QString>;

const QString Green = QStringLiteral("#008000");
const QString Maroon = QStringLiteral("#800000");
const QString Navy = QStringLiteral("#000080");
const QString Red = QStringLiteral("#ff0000");

// A unit that has been running for a while.
Registers settled(const Changes &changes = {})
{
    Registers r{};
    for (const auto &[reg, value] : Changes{{0, 1},
                                            {3, 1},
                                            {14, 0x1F},
                                            {15, 0x1B},
                                            {19, 1200},
                                            {20, 800},
                                            {21, 18},
                                            {22, 4},
                                            {23, 1},
                                            {25, 1},
                                            {38, 0x0507},
                                            {39, 0x10}} +
                                        changes)
        r[size_t(reg)] = std::uint16_t(value);
    return r;
}

// The status read's reply carrying r, for transaction tid.
ScriptedStream::Bytes statusReply(const Registers &r, std::uint16_t tid)
{
    ScriptedStream::Bytes b{std::uint8_t(tid >> 8), std::uint8_t(tid), 0, 0, 0, 83, 21, 107, 80};
    for (std::uint16_t v : r)
        b.insert(b.end(), {std::uint8_t(v >> 8), std::uint8_t(v)});
    return b;
}

// A window whose register access is a scripted peer; no session is opened.
struct ScriptedForm
{
    WorkingFolder folder;
    MessageRecorder messages;
    ScriptedStream tcp;
    std::unique_ptr<TMainForm> form = makeMainForm();

    ScriptedForm() { form->Access.useTcp(tcp); }
    // The replies to one poll: the registers, then the write-back's echo.
    std::optional<PolledStatus> poll(const Registers &r)
    {
        tcp.queue(statusReply(r, tcp.TransactionId));
        const std::uint16_t next = tcp.TransactionId + 1;
        tcp.queue(
            {std::uint8_t(next >> 8), std::uint8_t(next), 0, 0, 0, 6, 20, 108, 0, 29, 0xFF, 0xFF});
        return form->statusPoll()->RunStatusPoll();
    }
    StatusPoll &monitor() { return *form->statusPoll(); }
    DiagnosticsPage &diag() { return *form->diagnosticsPage(); }
};

QString shown(TMainForm &form, const QString &key)
{
    const QString name = key.section(QLatin1Char(':'), 0, 0);
    const QString aspect = key.section(QLatin1Char(':'), 1);
    QWidget *w = form.findChild<QWidget *>(name);
    if (!w)
        return QStringLiteral("<no %1>").arg(name);
    if (aspect == QLatin1String("colour"))
        return w->palette().color(QPalette::WindowText).name();
    if (aspect == QLatin1String("enabled"))
        return w->isEnabled() ? QStringLiteral("yes") : QStringLiteral("no");
    if (aspect == QLatin1String("ticked"))
        return static_cast<QLabel *>(w)->pixmap().isNull() ? QStringLiteral("no")
                                                           : QStringLiteral("yes");
    if (auto *bar = qobject_cast<QProgressBar *>(w))
        return QString::number(bar->value());
    return static_cast<QLabel *>(w)->text();
}

void checkShown(TMainForm &form, const Expect &expect)
{
    for (auto it = expect.begin(); it != expect.end(); ++it)
        QVERIFY2(shown(form, it.key()) == it.value(),
                 qPrintable(QStringLiteral("%1: %2, expected %3")
                                .arg(it.key(), shown(form, it.key()), it.value())));
}

// A serial session whose line is dead.
class DeadLink : public SerialLink
{
public:
    bool OpenPort(int) override { return true; }
    void ClosePort() override {}
    TVeskComms *comms() override { return &m_comms; }

private:
    TVeskComms m_comms;
};

std::unique_ptr<TMainForm> connectedForm(const SimProcess &sim)
{
    qputenv("RAVELIN_TCP_PORT", QByteArray::number(sim.port()));
    auto form = makeMainForm();
    for (int i = 0; i < 4; ++i)
        editBox(*form, 23 + i)->setText(QStringList{"127", "0", "0", "1"}[i]);
    form->connectionPage()->BitBtn2->click();
    form->scheduler().setStepped(true);
    return form;
}

// Timer1 raises the poll; the next Timer2 tick serves it.
void pollTick(TMainForm &form)
{
    form.Timer1->fire();
    form.Timer2->fire();
}

} // namespace

class TestStatusPoll : public QObject
{
    Q_OBJECT
private slots:
    void init() { qunsetenv("RAVELIN_TCP_PORT"); }

    void display_data();
    void display();
    void resetStateAfterASession();
    void writeBackFollowsEveryGoodRead();
    void failuresKeepTheDisplayAndTheFourthEndsTheSession_data();
    void failuresKeepTheDisplayAndTheFourthEndsTheSession();
    void txStrip_data();
    void txStrip();
    void txCountZeroKeepsTheStrip();
    void tickIsDrawnAtTheScreenResolution_data();
    void tickIsDrawnAtTheScreenResolution();

    void linkMonitorAgainstTheSimulator();
    void pollsNeverCrowdOrOverlap();
    void windowPaintsWhileAReplyIsAwaited();
};

void TestStatusPoll::display_data()
{
    QTest::addColumn<Changes>("changes");
    QTest::addColumn<Expect>("expect");
    const QString linkOk = QStringLiteral("G50 Comms Link OK");
    QTest::newRow("link and Mnet up") << Changes{}
                                      << Expect{{"Label32", linkOk},
                                                {"Label32:colour", Green},
                                                {"Label31", "Mnet Comms OK"},
                                                {"Label31:colour", Green}};
    QTest::newRow("Mnet initialising") << Changes{{0, 0}, {3, 7}}
                                       << Expect{{"Label32", linkOk},
                                                 {"Label31", "Mnet Comms Initialising..."},
                                                 {"Label31:colour", Navy}};
    // Without the link, Mnet's register is not looked at.
    QTest::newRow("link zero, Mnet non-zero") << Changes{{3, 0}, {0, 1}}
                                              << Expect{{"Label32", "G50 Comms Link Error"},
                                                        {"Label32:colour", Maroon},
                                                        {"Label31", "Mnet Comms State Unknown"},
                                                        {"Label31:colour", Maroon}};
    QTest::newRow("usage equal positions")
        << Changes{{19, 800}, {20, 800}} << Expect{{"RxUsage_Lab", "0%"}, {"RxUsage_ProgBar", "0"}};
    QTest::newRow("usage one apart")
        << Changes{{19, 801}, {20, 800}} << Expect{{"RxUsage_Lab", "0%"}};
    QTest::newRow("usage 10%") << Changes{{19, 100}, {20, 4000}}
                               << Expect{{"RxUsage_Lab", "10%"}, {"RxUsage_ProgBar", "10"}};
    // Beyond the ring: the text says what the unit gave, the bar stops.
    QTest::newRow("usage beyond the ring")
        << Changes{{19, 65535}, {20, 0}}
        << Expect{{"RxUsage_Lab", "1505%"}, {"RxUsage_ProgBar", "100"}};
    QTest::newRow("pending packets and NIC")
        << Changes{{18, 3}, {21, 27}} << Expect{{"RxPending_Lab", "3"}, {"NicRevision_Lab", "27"}};
    // Registration steps without registration enabled are dropped.
    QTest::newRow("flags 0x000C")
        << Changes{{15, 0x000C}, {14, 0x15}}
        << Expect{{"BACnetProcessFlags", "0"},           {"SentRegistration_Lab:enabled", "no"},
                  {"GotRegistration_Lab:enabled", "no"}, {"Indicator1:ticked", "yes"},
                  {"Indicator2:ticked", "no"},           {"Indicator5:ticked", "yes"},
                  {"Indicator8:ticked", "no"},           {"Indicator9:ticked", "no"}};
    QTest::newRow("flags 0x000E") << Changes{{15, 0x000E}}
                                  << Expect{{"BACnetProcessFlags", "14"},
                                            {"SentRegistration_Lab:enabled", "yes"},
                                            {"Indicator6:ticked", "no"},
                                            {"Indicator8:ticked", "yes"},
                                            {"Indicator9:ticked", "yes"}};
    QTest::newRow("switches 0x30")
        << Changes{{39, 0x30}}
        << Expect{{"SwitchState1", "OFF"},
                  {"SwitchState1:colour", Red},
                  {"SwitchState2", "OFF"},
                  {"SwitchState2:colour", Red},
                  {"SwitchText1", "Auto mode will report as Auto."},
                  {"SwitchText2", "All Present-Value and Priority Arrays are initialised at "
                                  "power-up.\nOutput object PV =\n Last Commanded PV (Highest "
                                  "Priority)."}};
    QTest::newRow("switches 0x00")
        << Changes{{39, 0x00}}
        << Expect{{"SwitchState1", "ON"},
                  {"SwitchState1:colour", Green},
                  {"SwitchState2", "ON"},
                  {"SwitchState2:colour", Green},
                  {"SwitchText1", "Auto mode will report as AutoHeat or AutoCool."},
                  {"SwitchText2", "All Present-Value and Priority Arrays are preserved.\nOutput "
                                  "object PV = Input object PV."}};
    QTest::newRow("poll progress 0x0507")
        << Changes{{38, 0x0507}}
        << Expect{{"G50_Poll_State_ProgBar", "5"}, {"G50_Group_Poll_Lab", "7"}};
    // The bar cannot go below its minimum of 2.
    QTest::newRow("poll progress 0x0000")
        << Changes{{38, 0}} << Expect{{"G50_Poll_State_ProgBar", "2"}, {"G50_Group_Poll_Lab", "0"}};
}

void TestStatusPoll::display()
{
    QFETCH(Changes, changes);
    QFETCH(Expect, expect);
    ScriptedForm s;
    QVERIFY(s.poll(settled(changes)));
    if (expect.contains(QStringLiteral("BACnetProcessFlags")))
        QCOMPARE(QString::number(s.monitor().BACnetProcessFlags),
                 expect.take(QStringLiteral("BACnetProcessFlags")));
    checkShown(*s.form, expect);
    QVERIFY(s.messages.messages.isEmpty());
}

void TestStatusPoll::resetStateAfterASession()
{
    ScriptedForm s;
    QVERIFY(s.poll(settled({{39, 0x30}})));
    s.form->ResetDisplays();
    QCOMPARE(int(s.monitor().G50ProcessFlags | s.monitor().BACnetProcessFlags), 0);
    checkShown(*s.form, {{"Label32", "G50..."},
                         {"Label31", "Mnet..."},
                         {"Label31:colour", Navy},
                         {"SwitchText2", "Refreshing....."},
                         {"G50_Group_Poll_Lab", "??"},
                         {"Indicator1:ticked", "no"},
                         {"RxUsage_Lab", "9%"}}); // receiver figures are kept
}

void TestStatusPoll::writeBackFollowsEveryGoodRead()
{
    ScriptedForm s;
    s.monitor().PollFailureCount = 2;
    QVERIFY(s.poll(settled()));
    // Unit 21 from 0 for 40 with 107, then 108 to unit 20 register 29 with 65535.
    const ScriptedStream::Bytes &sent = s.tcp.sent;
    QCOMPARE(int(sent.size()), 24);
    QCOMPARE(ScriptedStream::Bytes(sent.begin() + 6, sent.begin() + 12),
             (ScriptedStream::Bytes{21, 107, 0, 0, 0, 40}));
    QCOMPARE(ScriptedStream::Bytes(sent.begin() + 18, sent.end()),
             (ScriptedStream::Bytes{20, 108, 0, 29, 0xFF, 0xFF}));
    QCOMPARE(s.monitor().PollFailureCount, 0);
    // A write-back without an answer neither counts nor keeps the count.
    s.monitor().PollFailureCount = 2;
    s.tcp.queue(statusReply(settled(), s.tcp.TransactionId));
    QVERIFY(s.monitor().RunStatusPoll());
    QCOMPARE(s.monitor().PollFailureCount, 0);
    QVERIFY(s.messages.messages.isEmpty());
}

void TestStatusPoll::failuresKeepTheDisplayAndTheFourthEndsTheSession_data()
{
    QTest::addColumn<bool>("serial");
    QTest::addColumn<QString>("text");
    QTest::newRow("serial") << true << "The Connection Has Been Lost.";
    QTest::newRow("network") << false << "Network Connection Has Been Lost.";
}

void TestStatusPoll::failuresKeepTheDisplayAndTheFourthEndsTheSession()
{
    QFETCH(bool, serial);
    ScriptedForm s;
    QVERIFY(s.poll(settled({{0, 0}, {39, 0x30}, {14, 0x03}})));
    // A serial component that was never opened fails every read; the
    // scripted peer with nothing queued never answers.
    if (serial)
        s.form->Access.useSerial(std::make_unique<DeadLink>());
    for (int i = 1; i <= 3; ++i) {
        QVERIFY(!s.monitor().RunStatusPoll());
        QCOMPARE(s.monitor().PollFailureCount, i);
    }
    QVERIFY(s.messages.messages.isEmpty());
    QVERIFY(!s.form->scheduler().CloseRequested);
    checkShown(*s.form, {{"Label31", "Mnet Comms Initialising..."},
                         {"SwitchState1", "OFF"},
                         {"Indicator2:ticked", "yes"}});
    QCOMPARE(int(s.monitor().G50ProcessFlags), 0x03);
    QVERIFY(!s.monitor().RunStatusPoll());
    QCOMPARE(s.messages.messages.size(), 1);
    QTEST(s.messages.texts().value(0), "text");
    QCOMPARE(s.messages.messages.first().kind, MsgKind::Warning);
    QVERIFY(s.form->scheduler().CloseRequested);
    // From now on failures are expected: not counted, not reported.
    QVERIFY(!s.monitor().RunStatusPoll());
    QCOMPARE(s.monitor().PollFailureCount, 4);
    QCOMPARE(s.messages.messages.size(), 1);
}

void TestStatusPoll::txStrip_data()
{
    QTest::addColumn<QList<int>>("counts"); // shown one after the other
    QTest::addColumn<int>("shownCount");
    QTest::addColumn<int>("cellWidth");
    QTest::newRow("four buffers") << QList<int>{4} << 4 << 75;
    QTest::newRow("one buffer") << QList<int>{1} << 1 << 303;
    QTest::newRow("fifteen") << QList<int>{15} << 15 << 20;
    // The block describes 15 buffers; more are shown as 15.
    QTest::newRow("above fifteen") << QList<int>{40} << 15 << 20;
    // Each count works from the full width: no ratchet down to nothing.
    QTest::newRow("seven, five, two") << QList<int>{7, 5, 2} << 2 << 151;
}

void TestStatusPoll::txStrip()
{
    QFETCH(QList<int>, counts);
    QFETCH(int, shownCount);
    QFETCH(int, cellWidth);
    ScriptedForm s;
    Registers r = settled();
    // Buffers alternate busy (non-zero) and idle, starting busy.
    for (int i = 0; i < MaxTxBuffers; ++i)
        r[size_t(23 + i)] = std::uint16_t(i % 2 == 0 ? 5 : 0);
    for (int count : counts) {
        r[22] = std::uint16_t(count);
        QVERIFY(s.poll(r));
    }
    DiagnosticsPage &d = s.diag();
    QVERIFY(d.txCover->isHidden());
    QCOMPARE(d.txCountValue->text(), QString::number(shownCount));
    QCOMPARE(d.txStrip->width(), shownCount * cellWidth);
    QCOMPARE(d.txFrame->width(), shownCount * cellWidth + 1);
    const QImage image = d.txStrip->pixmap().toImage();
    QCOMPARE(image.size(), QSize(shownCount * cellWidth, DiagnosticsPage::TxStripHeight));
    for (int i = 0; i < shownCount; ++i) {
        const QColor cell = i % 2 == 0 ? QColor(Green) : QColor(Maroon);
        const int last = (i + 1) * cellWidth - 2; // the cell's last column
        for (int y : {0, DiagnosticsPage::TxStripHeight - 1}) {
            QCOMPARE(image.pixelColor(i * cellWidth, y), cell);
            QCOMPARE(image.pixelColor(last, y), cell);
            QCOMPARE(image.pixelColor(last + 1, y), QColor(Qt::white));
        }
    }
}

void TestStatusPoll::txCountZeroKeepsTheStrip()
{
    ScriptedForm s;
    QVERIFY(s.poll(settled()));
    DiagnosticsPage &d = s.diag();
    const QImage before = d.txStrip->pixmap().toImage();
    QVERIFY(s.poll(settled({{22, 0}, {23, 0}, {24, 0}})));
    QVERIFY(!d.txCover->isHidden());
    QCOMPARE(d.txCover->text(), QStringLiteral(" Information Not Available"));
    QCOMPARE(d.txStrip->pixmap().toImage(), before);
    QCOMPARE(d.txStrip->width(), 300);
    // The next count brings the strip back.
    QVERIFY(s.poll(settled({{22, 2}})));
    QVERIFY(d.txCover->isHidden());
    QCOMPARE(d.txStrip->width(), 302);
}

void TestStatusPoll::tickIsDrawnAtTheScreenResolution_data()
{
    QTest::addColumn<qreal>("ratio");
    QTest::newRow("1.5x") << 1.5;
    QTest::newRow("2x") << 2.0;
}

void TestStatusPoll::tickIsDrawnAtTheScreenResolution()
{
    QFETCH(qreal, ratio);
    const QPixmap tick = DiagnosticsPage::tickPicture(ratio);
    // As many device pixels as the scaled screen shows, 16 x 16 in layout.
    QCOMPARE(tick.size(), QSize(qRound(16 * ratio), qRound(16 * ratio)));
    QCOMPARE(tick.deviceIndependentSize(), QSizeF(16, 16));
    // Sharper than the one-to-one picture enlarged: more solid green pixels
    // and a narrower soft edge.
    const QImage native = tick.toImage();
    const QImage enlarged = DiagnosticsPage::tickPicture(1.0).toImage().scaled(
        native.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    auto solidAndEdge = [](const QImage &image) {
        QPair<int, int> n;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                (c.alpha() == 255 && c.name() == Green ? n.first : n.second) += c.alpha() > 0;
            }
        return n;
    };
    const auto drawn = solidAndEdge(native);
    const auto scaled = solidAndEdge(enlarged);
    QVERIFY2(drawn.first > scaled.first && drawn.second < scaled.second,
             qPrintable(QStringLiteral("drawn %1/%2, enlarged %3/%4")
                            .arg(drawn.first)
                            .arg(drawn.second)
                            .arg(scaled.first)
                            .arg(scaled.second)));
}

void TestStatusPoll::linkMonitorAgainstTheSimulator()
{
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--no-animate"), QStringLiteral("--commands")}));
    WorkingFolder folder;
    MessageRecorder messages;
    auto form = connectedForm(sim);
    StatusPoll &monitor = *form->statusPoll();

    // Three refused status reads, then a good one: silent, count back to 0.
    QVERIFY(sim.command(QStringLiteral("exception add 21:0:40@3")).startsWith("ok"));
    for (int i = 1; i <= 3; ++i) {
        pollTick(*form);
        QCOMPARE(monitor.PollFailureCount, i);
    }
    pollTick(*form);
    QCOMPARE(monitor.PollFailureCount, 0);
    QVERIFY(messages.messages.isEmpty());

    // Failing while the user closes: neither counted nor reported.
    QVERIFY(sim.command(QStringLiteral("exception add 21:0:40")).startsWith("ok"));
    for (int i = 0; i < 3; ++i)
        pollTick(*form);
    form->CloseConnection1Click();
    QVERIFY(!monitor.RunStatusPoll()); // the poll under way when the close came
    QCOMPARE(monitor.PollFailureCount, 3);
    form->Timer2->fire();
    QVERIFY(!form->sessionOpen());
    QVERIFY(messages.messages.isEmpty());

    // A new session starts from no failures; the fourth in a row ends it
    // with exactly one message.
    form->connectionPage()->BitBtn2->click();
    form->scheduler().setStepped(true);
    QVERIFY(form->sessionOpen());
    QCOMPARE(monitor.PollFailureCount, 0);
    for (int i = 0; i < 4; ++i)
        pollTick(*form);
    // The unit is there and refuses the read: not a lost link.
    QCOMPARE(messages.texts(),
             QStringList{QStringLiteral("The unit refused the status read 4 times in a row "
                                        "(exception code 4).\nThe connection will be closed.")});
    QVERIFY(!form->Timer1->isActive());
    form->Timer2->fire();
    QVERIFY(!form->sessionOpen());
    QVERIFY(!form->MBTcpClient.active());
    pollTick(*form); // the timers are stopped: nothing more
    QCOMPARE(messages.messages.size(), 1);
}

void TestStatusPoll::pollsNeverCrowdOrOverlap()
{
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--no-animate")}));
    WorkingFolder folder;
    MessageRecorder messages;
    auto form = connectedForm(sim);
    QCOMPARE(form->Timer1->interval(), 2000);
    QList<Request> served;
    bool timer1DuringPoll = true;
    form->scheduler().setRequestObserver([&](Request r) {
        served << r;
        if (r == Request::StatusPoll)
            timer1DuringPoll = form->Timer1->isActive();
    });
    form->Timer2->fire(); // nothing is due before Timer1's two seconds
    QVERIFY(served.isEmpty());
    pollTick(*form);
    // The simulator's settled unit, 399 of 4352 ring units in use.
    checkShown(*form, {{"Label32", "G50 Comms Link OK"},
                       {"RxUsage_Lab", "9%"},
                       {"G50_Group_Poll_Lab", "7"},
                       {"SwitchState2", "OFF"}});
    // The next poll waits for a full Timer1 period, started after this one.
    QVERIFY(!timer1DuringPoll);
    QVERIFY(form->Timer1->isActive());
    for (int i = 0; i < 5; ++i)
        form->Timer2->fire();
    QCOMPARE(served.size(), 1);

    // No poll while the MAC dialog is open, however often the timers tick.
    QTimer::singleShot(0, form.get(), [&] {
        for (int i = 0; i < 4; ++i)
            pollTick(*form);
        form->macDialog()->reject();
    });
    form->Timer1->fire();
    form->scheduler().setPending(Request::MACDialog, true);
    form->Timer2->fire();
    QCOMPARE(served, (QList<Request>{Request::StatusPoll, Request::MACDialog}));
    form->Timer2->fire();
    QCOMPARE(served.last(), Request::StatusPoll);
    QVERIFY(messages.messages.isEmpty());
}

void TestStatusPoll::windowPaintsWhileAReplyIsAwaited()
{
    // An earlier test's window may have left its hourglass behind.
    while (QGuiApplication::overrideCursor())
        QGuiApplication::restoreOverrideCursor();
    SimProcess sim;
    QVERIFY(sim.start(
        {QStringLiteral("--no-animate"), QStringLiteral("--delay-ms"), QStringLiteral("900")}));
    WorkingFolder folder;
    MessageRecorder messages;
    auto form = connectedForm(sim);
    QVERIFY(form->sessionOpen());
    // Counts the paints the window gets while the poll waits for its reply.
    struct PaintCounter : QObject
    {
        bool polling = false;
        int paints = 0;
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (event->type() == QEvent::Paint && polling)
                ++paints;
            return false;
        }
    } counter;
    form->installEventFilter(&counter);
    bool busyCursor = false;
    form->scheduler().setRequestObserver([&](Request r) {
        counter.polling = r == Request::StatusPoll;
        QTimer::singleShot(100, form.get(), [&] { form->update(); });
        QTimer::singleShot(WaitFeedback::LongWaitMs + 200, form.get(), [&] {
            busyCursor = QGuiApplication::overrideCursor() &&
                         QGuiApplication::overrideCursor()->shape() == Qt::WaitCursor;
        });
    });
    pollTick(*form);
    counter.polling = false;
    QVERIFY(counter.paints > 0);
    QVERIFY(busyCursor);
    QVERIFY(!QGuiApplication::overrideCursor());       // gone with the wait
    QCOMPARE(form->statusPoll()->PollFailureCount, 0); // the reply was waited for
    QVERIFY(messages.messages.isEmpty());
}

QTEST_MAIN(TestStatusPoll)
#include "tst_statuspoll.moc"
