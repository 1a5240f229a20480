// The status poll and what it shows: the G50 status lines and the
// Diagnostics tab for chosen register values (a scripted Modbus TCP peer
// answers the poll), the transmit-buffer strip's pixels, and the link monitor
// in sessions with the simulator, stepped tick by tick.

#include "AppTestKit.h"
#include "ConnectionPage.h"
#include "DiagnosticsPage.h"
#include "G50Page.h"
#include "MacDialog.h"
#include "ModBusTCPPro.h"
#include "ScriptedStream.h"
#include "SimProcess.h"
#include "StatusPoll.h"

#include <QLabel>
#include <QProgressBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

namespace {

using Registers = std::array<std::uint16_t, StatusBlockSize>;
using Changes = QList<QPair<int, int>>; // register, value

const QColor Green(0x00, 0x80, 0x00);
const QColor Maroon(0x80, 0x00, 0x00);
const QColor Navy(0x00, 0x00, 0x80);
const QColor Red(0xFF, 0x00, 0x00);

// A unit that has been running for a while.
Registers settledRegisters()
{
    Registers r{};
    r[0] = 1;
    r[3] = 1;
    r[14] = 0x1F;
    r[15] = 0x1B;
    r[19] = 1200;
    r[20] = 800;
    r[21] = 18;
    r[22] = 4;
    r[23] = 1;
    r[25] = 1;
    r[38] = 0x0507;
    r[39] = 0x0010;
    return r;
}

Registers withChanges(const Changes &changes)
{
    Registers r = settledRegisters();
    for (const auto &[reg, value] : changes)
        r[size_t(reg)] = std::uint16_t(value);
    return r;
}

// The status read's reply carrying r, for the next transaction.
ScriptedStream::Bytes statusReply(const Registers &r)
{
    const std::uint16_t tid = TransactionId;
    ScriptedStream::Bytes read{std::uint8_t(tid >> 8), std::uint8_t(tid), 0, 0, 0, 83, 21, 107, 80};
    for (std::uint16_t v : r) {
        read.push_back(std::uint8_t(v >> 8));
        read.push_back(std::uint8_t(v));
    }
    return read;
}

// The replies to one poll: the 40 registers, then the write-back's echo.
void queuePoll(ScriptedStream &tcp, const Registers &r)
{
    tcp.queue(statusReply(r));
    const std::uint16_t next = TransactionId + 1;
    tcp.queue(
        {std::uint8_t(next >> 8), std::uint8_t(next), 0, 0, 0, 6, 20, 108, 0, 29, 0xFF, 0xFF});
}

QColor textColour(const QWidget *w)
{
    return w->palette().color(QPalette::WindowText);
}

// A window whose register access is a scripted peer; no session is opened.
struct ScriptedForm
{
    WorkingFolder folder;
    MessageRecorder messages;
    ScriptedStream tcp;
    std::unique_ptr<TMainForm> form = makeMainForm();

    ScriptedForm() { form->Access.useTcp(tcp); }
    std::optional<PolledStatus> poll(const Registers &r)
    {
        queuePoll(tcp, r);
        return form->statusPoll()->RunStatusPoll();
    }
    DiagnosticsPage &diag() { return *form->diagnosticsPage(); }
};

bool hasPicture(const QLabel *indicator)
{
    return !indicator->pixmap().isNull();
}

std::unique_ptr<TMainForm> connectedForm(const SimProcess &sim)
{
    qputenv("RAVELIN_TCP_PORT", QByteArray::number(sim.port()));
    auto form = makeMainForm();
    const QStringList octets{"127", "0", "0", "1"};
    for (int i = 0; i < 4; ++i)
        editBox(*form, 23 + i)->setText(octets[i]);
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

    // Register cases through the poll, against a scripted peer.
    void g50Lines_data();
    void g50Lines();
    void receiveUsage_data();
    void receiveUsage();
    void processFlags_data();
    void processFlags();
    void switchesAndPollProgress_data();
    void switchesAndPollProgress();
    void writeBackFollowsEveryGoodRead();
    void failedPollKeepsTheDisplay();
    void lostLinkMessage_data();
    void lostLinkMessage();

    // Pictures.
    void txStrip_data();
    void txStrip();
    void txCountZeroKeepsTheStrip();
    void tickIsDrawnAtTheScreenResolution_data();
    void tickIsDrawnAtTheScreenResolution();

    // Sessions with the simulator.
    void sessionShowsTheSimulatorStatus();
    void fourFailedPollsEndTheSession();
    void failureWhileClosingIsNotReported();
    void pollsAreTwoSecondsApart();
    void noPollWhileTheMacDialogIsOpen();
    void sessionOpenClearsTheFailureCount();
};

void TestStatusPoll::g50Lines_data()
{
    QTest::addColumn<int>("link");
    QTest::addColumn<int>("mnet");
    QTest::addColumn<QString>("linkText");
    QTest::addColumn<QColor>("linkColour");
    QTest::addColumn<QString>("mnetText");
    QTest::addColumn<QColor>("mnetColour");
    const QString ok = QStringLiteral("G50 Comms Link OK");
    const QString error = QStringLiteral("G50 Comms Link Error");
    const QString unknown = QStringLiteral("Mnet Comms State Unknown");
    QTest::newRow("link and Mnet up")
        << 1 << 1 << ok << Green << QStringLiteral("Mnet Comms OK") << Green;
    QTest::newRow("Mnet initialising")
        << 7 << 0 << ok << Green << QStringLiteral("Mnet Comms Initialising...") << Navy;
    // Mnet's register says nothing without the link.
    QTest::newRow("link zero, Mnet non-zero") << 0 << 1 << error << Maroon << unknown << Maroon;
    QTest::newRow("both zero") << 0 << 0 << error << Maroon << unknown << Maroon;
}

void TestStatusPoll::g50Lines()
{
    QFETCH(int, link);
    QFETCH(int, mnet);
    ScriptedForm s;
    QVERIFY(s.poll(withChanges({{3, link}, {0, mnet}})));
    G50Page *g50 = s.form->g50Page();
    QTEST(g50->Label32->text(), "linkText");
    QTEST(textColour(g50->Label32), "linkColour");
    QTEST(g50->Label31->text(), "mnetText");
    QTEST(textColour(g50->Label31), "mnetColour");

    // The end of a session puts both lines back to their waiting texts.
    s.form->ResetDisplays();
    QCOMPARE(g50->Label32->text(), QStringLiteral("G50..."));
    QCOMPARE(g50->Label31->text(), QStringLiteral("Mnet..."));
    QCOMPARE(textColour(g50->Label31), Navy);
}

void TestStatusPoll::receiveUsage_data()
{
    QTest::addColumn<int>("writePos");
    QTest::addColumn<int>("boundary");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("bar");
    QTest::newRow("equal positions") << 800 << 800 << "0%" << 0;
    QTest::newRow("one apart") << 801 << 800 << "0%" << 0;
    QTest::newRow("wrapped ring") << 100 << 4000 << "10%" << 10;
    // Positions outside the ring: the text says what the unit gave, the bar
    // stops at its end.
    QTest::newRow("beyond the ring") << 65535 << 0 << "1505%" << 100;
}

void TestStatusPoll::receiveUsage()
{
    QFETCH(int, writePos);
    QFETCH(int, boundary);
    ScriptedForm s;
    const auto polled = s.poll(withChanges({{19, writePos}, {20, boundary}, {18, 3}, {21, 27}}));
    QVERIFY(polled);
    QTEST(s.diag().rxUsageValue->text(), "text");
    QTEST(s.diag().rxUsageBar->value(), "bar");
    QCOMPARE(s.diag().rxPendingValue->text(), QStringLiteral("3"));
    QCOMPARE(s.diag().nicRevisionValue->text(), QStringLiteral("27"));
}

void TestStatusPoll::processFlags_data()
{
    QTest::addColumn<int>("g50");
    QTest::addColumn<int>("bacnet");
    QTest::addColumn<int>("storedBacnet");
    QTest::addColumn<bool>("registrationEnabled");
    QTest::addColumn<QList<int>>("lit"); // indicators shown ticked, 0 to 9

    // Registration steps without registration enabled are dropped.
    QTest::newRow("0x000C without bit 1") << 0 << 0x000C << 0 << false << QList<int>{};
    QTest::newRow("registration enabled") << 0 << 0x000E << 0x000E << true << QList<int>{6, 7, 8};
    QTest::newRow("G50 steps and Who-Is")
        << 0x15 << 0x0011 << 0x0011 << false << QList<int>{0, 2, 4, 5, 9};
}

void TestStatusPoll::processFlags()
{
    QFETCH(int, g50);
    QFETCH(int, bacnet);
    QFETCH(QList<int>, lit);
    ScriptedForm s;
    QVERIFY(s.poll(withChanges({{14, g50}, {15, bacnet}})));
    QCOMPARE(int(s.form->statusPoll()->G50ProcessFlags), g50);
    QTEST(int(s.form->statusPoll()->BACnetProcessFlags), "storedBacnet");
    QTEST(s.diag().sentRegistrationLabel->isEnabled(), "registrationEnabled");
    QTEST(s.diag().gotRegistrationLabel->isEnabled(), "registrationEnabled");
    for (int i = 0; i < DiagnosticsPage::IndicatorCount; ++i)
        QVERIFY2(hasPicture(s.diag().indicators[size_t(i)]) == lit.contains(i),
                 qPrintable(QStringLiteral("indicator %1").arg(i)));

    // No session: flag words zero, every indicator empty.
    s.form->ResetDisplays();
    QCOMPARE(int(s.form->statusPoll()->G50ProcessFlags), 0);
    QCOMPARE(int(s.form->statusPoll()->BACnetProcessFlags), 0);
    for (const QLabel *indicator : s.diag().indicators)
        QVERIFY(!hasPicture(indicator));
    QVERIFY(!s.diag().sentRegistrationLabel->isEnabled());
}

void TestStatusPoll::switchesAndPollProgress_data()
{
    QTest::addColumn<int>("switches");
    QTest::addColumn<int>("progress");
    QTest::addColumn<QString>("state1");
    QTest::addColumn<QString>("state2");
    QTest::addColumn<QColor>("colour");
    QTest::addColumn<QString>("text1");
    QTest::addColumn<QString>("text2");
    QTest::addColumn<int>("bar");
    QTest::addColumn<QString>("group");
    QTest::newRow("both off, state 5 group 7")
        << 0x30 << 0x0507 << "OFF"
        << "OFF" << Red << "Auto mode will report as Auto."
        << "All Present-Value and Priority Arrays are initialised at power-up.\n"
           "Output object PV =\n Last Commanded PV (Highest Priority)."
        << 5 << "7";
    // The bar cannot go below its minimum of 2.
    QTest::newRow("both on, nothing polled")
        << 0x00 << 0x0000 << "ON"
        << "ON" << Green << "Auto mode will report as AutoHeat or AutoCool."
        << "All Present-Value and Priority Arrays are preserved.\nOutput object PV = Input "
           "object PV."
        << 2 << "0";
}

void TestStatusPoll::switchesAndPollProgress()
{
    QFETCH(int, switches);
    QFETCH(int, progress);
    QFETCH(QColor, colour);
    ScriptedForm s;
    QVERIFY(s.poll(withChanges({{39, switches}, {38, progress}})));
    DiagnosticsPage &d = s.diag();
    QTEST(d.switchStates[0]->text(), "state1");
    QTEST(d.switchStates[1]->text(), "state2");
    QCOMPARE(textColour(d.switchStates[0]), colour);
    QCOMPARE(textColour(d.switchStates[1]), colour);
    QTEST(d.switchDescriptions[0]->text(), "text1");
    QTEST(d.switchDescriptions[1]->text(), "text2");
    QTEST(d.G50_Poll_State_ProgBar->value(), "bar");
    QTEST(d.G50_Group_Poll_Lab->text(), "group");

    s.form->ResetDisplays();
    QCOMPARE(d.switchStates[1]->text(), QStringLiteral("?"));
    QCOMPARE(d.switchDescriptions[0]->text(), QStringLiteral("Refreshing....."));
    QCOMPARE(d.G50_Poll_State_ProgBar->value(), 2);
    QCOMPARE(d.G50_Group_Poll_Lab->text(), QStringLiteral("??"));
}

void TestStatusPoll::writeBackFollowsEveryGoodRead()
{
    ScriptedForm s;
    s.form->statusPoll()->PollFailureCount = 2;
    QVERIFY(s.poll(settledRegisters()));
    // Read of unit 21 from 0 for 40, then function 108 to unit 20 register
    // 29 with 65535.
    QCOMPARE(int(s.tcp.sent.size()), 24);
    const ScriptedStream::Bytes read(s.tcp.sent.begin() + 6, s.tcp.sent.begin() + 12);
    QCOMPARE(read, (ScriptedStream::Bytes{21, 107, 0, 0, 0, 40}));
    const ScriptedStream::Bytes back(s.tcp.sent.begin() + 18, s.tcp.sent.end());
    QCOMPARE(back, (ScriptedStream::Bytes{20, 108, 0, 29, 0xFF, 0xFF}));
    QCOMPARE(s.form->statusPoll()->PollFailureCount, 0);

    // A write-back without an answer neither counts nor stops the clearing.
    s.form->statusPoll()->PollFailureCount = 2;
    s.tcp.queue(statusReply(settledRegisters()));
    QVERIFY(s.form->statusPoll()->RunStatusPoll());
    QCOMPARE(s.form->statusPoll()->PollFailureCount, 0);
    QVERIFY(s.messages.messages.isEmpty());
}

void TestStatusPoll::failedPollKeepsTheDisplay()
{
    ScriptedForm s;
    QVERIFY(s.poll(withChanges({{3, 1}, {0, 0}, {39, 0x30}, {14, 0x03}})));
    const QString link = s.form->g50Page()->Label32->text();
    const QString mnet = s.form->g50Page()->Label31->text();
    // Nothing queued: the read gets no reply.
    QVERIFY(!s.form->statusPoll()->RunStatusPoll());
    QCOMPARE(s.form->statusPoll()->PollFailureCount, 1);
    QCOMPARE(s.form->g50Page()->Label32->text(), link);
    QCOMPARE(s.form->g50Page()->Label31->text(), mnet);
    QCOMPARE(s.diag().switchStates[0]->text(), QStringLiteral("OFF"));
    QCOMPARE(int(s.form->statusPoll()->G50ProcessFlags), 0x03);
    QVERIFY(hasPicture(s.diag().indicators[1]));
    QVERIFY(s.messages.messages.isEmpty());
}

void TestStatusPoll::lostLinkMessage_data()
{
    QTest::addColumn<bool>("tcp");
    QTest::addColumn<QString>("text");
    QTest::newRow("serial") << false << "The Connection Has Been Lost.";
    QTest::newRow("network") << true << "Network Connection Has Been Lost.";
}

void TestStatusPoll::lostLinkMessage()
{
    QFETCH(bool, tcp);
    WorkingFolder folder;
    MessageRecorder messages;
    ScriptedStream stream; // answers nothing
    auto form = makeMainForm();
    // Without a transport every read fails as it would on a dead serial line.
    if (tcp)
        form->Access.useTcp(stream);
    StatusPoll *poll = form->statusPoll();
    for (int i = 1; i <= 3; ++i) {
        QVERIFY(!poll->RunStatusPoll());
        QCOMPARE(poll->PollFailureCount, i);
    }
    QVERIFY(messages.messages.isEmpty());
    QVERIFY(!form->scheduler().CloseRequested);
    QVERIFY(!poll->RunStatusPoll());
    QCOMPARE(messages.messages.size(), 1);
    QTEST(messages.texts().first(), "text");
    QCOMPARE(messages.messages.first().kind, MsgKind::Warning);
    QCOMPARE(messages.messages.first().buttons, MsgButtons::Ok);
    QVERIFY(form->scheduler().CloseRequested);
    // From now on failures are expected: not counted, not reported.
    QVERIFY(!poll->RunStatusPoll());
    QCOMPARE(poll->PollFailureCount, 4);
    QCOMPARE(messages.messages.size(), 1);
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
    QTest::newRow("four, then three") << QList<int>{4, 3} << 3 << 101;
    QTest::newRow("seven, five, two") << QList<int>{7, 5, 2} << 2 << 151;
}

void TestStatusPoll::txStrip()
{
    QFETCH(QList<int>, counts);
    QFETCH(int, shownCount);
    QFETCH(int, cellWidth);
    ScriptedForm s;
    Registers r = settledRegisters();
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
    QCOMPARE(image.width(), shownCount * cellWidth);
    QCOMPARE(image.height(), DiagnosticsPage::TxStripHeight);
    for (int i = 0; i < shownCount; ++i) {
        const QColor cell = i % 2 == 0 ? Green : Maroon;
        const int left = i * cellWidth;
        const int lastInCell = (i + 1) * cellWidth - 2;
        for (int y : {0, DiagnosticsPage::TxStripHeight - 1}) {
            QCOMPARE(image.pixelColor(left, y), cell);
            QCOMPARE(image.pixelColor(lastInCell, y), cell);
            QCOMPARE(image.pixelColor(lastInCell + 1, y), QColor(Qt::white));
        }
    }
}

void TestStatusPoll::txCountZeroKeepsTheStrip()
{
    ScriptedForm s;
    QVERIFY(s.poll(settledRegisters()));
    DiagnosticsPage &d = s.diag();
    const QImage before = d.txStrip->pixmap().toImage();
    QVERIFY(d.txCover->isHidden());
    QVERIFY(s.poll(withChanges({{22, 0}, {23, 0}, {24, 0}})));
    QVERIFY(!d.txCover->isHidden());
    QCOMPARE(d.txCover->text(), QStringLiteral(" Information Not Available"));
    QCOMPARE(d.txStrip->pixmap().toImage(), before);
    QCOMPARE(d.txStrip->width(), 300);
    // The next count brings the strip back.
    QVERIFY(s.poll(withChanges({{22, 2}})));
    QVERIFY(d.txCover->isHidden());
    QCOMPARE(d.txStrip->width(), 302);
}

void TestStatusPoll::tickIsDrawnAtTheScreenResolution_data()
{
    QTest::addColumn<qreal>("ratio");
    QTest::newRow("1.5x") << 1.5;
    QTest::newRow("2x") << 2.0;
}

namespace {
// Pixels of solid tick green, and pixels only partly covered (soft edge).
QPair<int, int> solidAndEdge(const QImage &image)
{
    int solid = 0;
    int edge = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() == 255 && c.rgb() == Green.rgb())
                ++solid;
            else if (c.alpha() > 0)
                ++edge;
        }
    }
    return {solid, edge};
}
} // namespace

void TestStatusPoll::tickIsDrawnAtTheScreenResolution()
{
    QFETCH(qreal, ratio);
    const QPixmap tick = DiagnosticsPage::tickPicture(ratio);
    // As many device pixels as the scaled screen shows, 16 x 16 in layout.
    QCOMPARE(tick.devicePixelRatio(), ratio);
    QCOMPARE(tick.size(), QSize(qRound(16 * ratio), qRound(16 * ratio)));
    QCOMPARE(tick.deviceIndependentSize(), QSizeF(16, 16));
    // Sharper than the one-to-one picture enlarged: more solid pixels and a
    // narrower soft edge.
    const QImage native = tick.toImage();
    const QImage enlarged = DiagnosticsPage::tickPicture(1.0).toImage().scaled(
        native.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const auto [solid, edge] = solidAndEdge(native);
    const auto [enlargedSolid, enlargedEdge] = solidAndEdge(enlarged);
    QVERIFY2(solid > enlargedSolid && edge < enlargedEdge,
             qPrintable(QStringLiteral("drawn %1/%2, enlarged %3/%4")
                            .arg(solid)
                            .arg(edge)
                            .arg(enlargedSolid)
                            .arg(enlargedEdge)));
    QCOMPARE(native.pixelColor(0, 0).alpha(), 0);
}

void TestStatusPoll::sessionShowsTheSimulatorStatus()
{
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--no-animate")}));
    WorkingFolder folder;
    MessageRecorder messages;
    auto form = connectedForm(sim);
    QVERIFY(form->sessionOpen());
    QList<Request> served;
    form->scheduler().setRequestObserver([&](Request r) { served << r; });
    form->Timer2->fire(); // nothing pending yet
    QVERIFY(served.isEmpty());
    pollTick(*form);
    QCOMPARE(served, QList<Request>{Request::StatusPoll});
    QVERIFY(messages.messages.isEmpty());
    // The simulator's settled unit: everything up, 399 of 4352 ring units used.
    QCOMPARE(form->g50Page()->Label32->text(), QStringLiteral("G50 Comms Link OK"));
    QCOMPARE(form->g50Page()->Label31->text(), QStringLiteral("Mnet Comms OK"));
    DiagnosticsPage *d = form->diagnosticsPage();
    QCOMPARE(d->rxUsageValue->text(), QStringLiteral("9%"));
    QCOMPARE(d->txCountValue->text(), QStringLiteral("4"));
    QCOMPARE(d->G50_Poll_State_ProgBar->value(), 5);
    QCOMPARE(d->G50_Group_Poll_Lab->text(), QStringLiteral("7"));
    QCOMPARE(d->switchStates[0]->text(), QStringLiteral("ON"));
    QCOMPARE(d->switchStates[1]->text(), QStringLiteral("OFF"));
    QCOMPARE(int(form->statusPoll()->G50ProcessFlags), 0x1F);
    QCOMPARE(int(form->statusPoll()->BACnetProcessFlags), 0x11);
    QVERIFY(form->Timer1->isActive());
    // The session's end hides the status again.
    form->CloseConnection1Click();
    form->Timer2->fire();
    QVERIFY(!form->sessionOpen());
    QCOMPARE(form->g50Page()->Label32->text(), QStringLiteral("G50..."));
    QCOMPARE(int(form->statusPoll()->G50ProcessFlags), 0);
}

void TestStatusPoll::fourFailedPollsEndTheSession()
{
    SimProcess sim;
    // Every status read is refused with an exception; the rest is served.
    QVERIFY(sim.start({QStringLiteral("--exception"), QStringLiteral("21:0")}));
    WorkingFolder folder;
    MessageRecorder messages;
    auto form = connectedForm(sim);
    QVERIFY(form->sessionOpen());
    for (int i = 1; i <= 3; ++i) {
        pollTick(*form);
        QCOMPARE(form->statusPoll()->PollFailureCount, i);
        QVERIFY(form->Timer1->isActive());
    }
    QVERIFY(messages.messages.isEmpty());
    QVERIFY(form->sessionOpen());
    pollTick(*form);
    QCOMPARE(messages.texts(), QStringList{QStringLiteral("Network Connection Has Been Lost.")});
    QVERIFY(form->scheduler().CloseRequested);
    QVERIFY(!form->Timer1->isActive());
    QCOMPARE(form->portStatus(), QStringLiteral(" Port:"));
    form->Timer2->fire();
    QVERIFY(!form->sessionOpen());
    QVERIFY(!form->MBTcpClient.active());
    QCOMPARE(visibleTabs(*form), QStringList{QStringLiteral("Choose Connection")});
    // Later ticks find the timers stopped: one message, one close.
    pollTick(*form);
    QCOMPARE(messages.messages.size(), 1);
}

void TestStatusPoll::failureWhileClosingIsNotReported()
{
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--exception"), QStringLiteral("21:0")}));
    WorkingFolder folder;
    MessageRecorder messages;
    auto form = connectedForm(sim);
    for (int i = 0; i < 3; ++i)
        pollTick(*form);
    QCOMPARE(form->statusPoll()->PollFailureCount, 3);
    // The user closes while a poll is under way; that poll then fails.
    form->CloseConnection1Click();
    QVERIFY(!form->statusPoll()->RunStatusPoll());
    QVERIFY(messages.messages.isEmpty());
    QCOMPARE(form->statusPoll()->PollFailureCount, 3);
    form->Timer2->fire();
    QVERIFY(!form->sessionOpen());
    QVERIFY(messages.messages.isEmpty());
}

void TestStatusPoll::pollsAreTwoSecondsApart()
{
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--no-animate")}));
    WorkingFolder folder;
    MessageRecorder messages;
    auto form = connectedForm(sim);
    QCOMPARE(form->Timer1->interval(), 2000);
    int polls = 0;
    bool timer1DuringPoll = true;
    form->scheduler().setRequestObserver([&](Request r) {
        if (r == Request::StatusPoll) {
            ++polls;
            timer1DuringPoll = form->Timer1->isActive();
        }
    });
    pollTick(*form);
    QCOMPARE(polls, 1);
    // The next poll waits for Timer1, started afresh after this one ended.
    QVERIFY(!timer1DuringPoll);
    QVERIFY(form->Timer1->isActive());
    for (int i = 0; i < 5; ++i)
        form->Timer2->fire();
    QCOMPARE(polls, 1);
    // A page request raised with the poll goes first; the poll one tick later.
    form->Timer1->fire();
    form->g50Page()->Button5Click();
    form->Timer2->fire();
    QCOMPARE(polls, 1);
    form->Timer2->fire();
    QCOMPARE(polls, 2);
    QVERIFY(messages.messages.isEmpty());
}

void TestStatusPoll::noPollWhileTheMacDialogIsOpen()
{
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--no-animate")}));
    WorkingFolder folder;
    MessageRecorder messages;
    auto form = connectedForm(sim);
    QList<Request> served;
    form->scheduler().setRequestObserver([&](Request r) { served << r; });
    int ticksWhileOpen = 0;
    QTimer::singleShot(0, form.get(), [&] {
        // Inside the dialog's own loop: both timers keep ticking.
        QVERIFY(form->macDialog()->isVisible());
        for (int i = 0; i < 4; ++i) {
            form->Timer1->fire();
            form->Timer2->fire();
            ++ticksWhileOpen;
        }
        form->macDialog()->reject();
    });
    form->Timer1->fire(); // the poll is due
    form->scheduler().setPending(Request::MACDialog, true);
    form->Timer2->fire(); // the dialog comes first and runs modally
    QCOMPARE(ticksWhileOpen, 4);
    QCOMPARE(served, QList<Request>{Request::MACDialog});
    form->Timer2->fire();
    QCOMPARE(served, (QList<Request>{Request::MACDialog, Request::StatusPoll}));
}

void TestStatusPoll::sessionOpenClearsTheFailureCount()
{
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--no-animate")}));
    WorkingFolder folder;
    MessageRecorder messages;
    qputenv("RAVELIN_TCP_PORT", QByteArray::number(sim.port()));
    auto form = makeMainForm();
    // Failures left from an earlier session count for nothing in a new one.
    form->statusPoll()->PollFailureCount = 3;
    for (int i = 0; i < 4; ++i)
        editBox(*form, 23 + i)->setText(QStringList{"127", "0", "0", "1"}[i]);
    form->connectionPage()->BitBtn2->click();
    QVERIFY(form->sessionOpen());
    QCOMPARE(form->statusPoll()->PollFailureCount, 0);
}

QTEST_MAIN(TestStatusPoll)
#include "tst_statuspoll.moc"
