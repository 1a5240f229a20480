// Every write reaches the unit only because the engineer asked for it, only
// in the session it was asked in, only to the unit that session opened with,
// and carrying only values the page holds. End to end against ravelin-sim:
// each case checks the write requests the simulator logged, so a write
// nobody asked for shows up whatever the window says.

#include "BACnetPage.h"
#include "ConfigFile.h"
#include "ConfigFiles.h"
#include "G50Page.h"
#include "NamesCsv.h"
#include "NamesPage.h"
#include "NetworkPage.h"
#include "PtyRelay.h"
#include "SimProcess.h"
#include "SimSession.h"
#include "SimTrace.h"
#include "StatusPoll.h"

#include <QCheckBox>
#include <QPushButton>

#include <functional>

namespace {

const QString NetworkSent = QStringLiteral(
    "Network Settings Transmitted OK.\nPlease restart the unit for these changes to take effect.");
const QString BACnetSent = QStringLiteral(
    "BACnet Settings Transmitted OK.\nPlease restart the unit for these changes to take effect.");

// The tool in a Modbus TCP session with one simulated unit that logs every
// frame it receives.
struct TcpBench
{
    WorkingFolder folder;
    SimProcess sim;
    MessageRecorder messages;
    std::unique_ptr<TMainForm> form;

    ~TcpBench()
    {
        setFileDialogInterceptor({});
        if (form && form->sessionOpen()) {
            form->BeginClose();
            form->EndSession();
        }
        sim.stop();
    }
    bool open(const QStringList &simArguments = {})
    {
        if (!sim.start(QStringList{"--no-animate", "--verbose", "--commands"} + simArguments))
            return false;
        form = tcpSessionForm(sim.port());
        form->Access.tcpTimeout = 3;
        return form->sessionOpen() && messages.messages.isEmpty();
    }
    // A button's request, served at the next tick.
    void run(QPushButton *button)
    {
        button->click();
        form->Timer2->fire();
    }
    QStringList writes() { return loggedWrites(sim.output()); }
};

using Action = std::function<void(TcpBench &)>;

// "26:0" to "26:480": object names 1 to 49.
QStringList nameWrites(int first, int last)
{
    QStringList writes;
    for (int n = first; n <= last; ++n)
        writes << QStringLiteral("26:%1").arg((n - 1) * 10);
    return writes;
}

void typeAddresses(TcpBench &b)
{
    for (int n = 1; n <= 12; ++n)
        editBox(*b.form, n)->setText(QStringLiteral("10"));
}

} // namespace

Q_DECLARE_METATYPE(Action)

class TestWriteSafety : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { dropRaiseWarnings(); }
    void sendWritesOnlyWhatThePageHolds_data();
    void sendWritesOnlyWhatThePageHolds();
    void requestsEndWithTheirSession_data();
    void requestsEndWithTheirSession();
    void movedCable_data();
    void movedCable();
    void unsentChangesKeptWhenTheLinkIsLost();
};

void TestWriteSafety::sendWritesOnlyWhatThePageHolds_data()
{
    QTest::addColumn<QStringList>("simArguments");
    QTest::addColumn<Action>("act");
    QTest::addColumn<QStringList>("written");
    QTest::addColumn<QString>("message"); // the first line of the last message

    const auto networkGet = [](TcpBench &b) {
        b.run(b.form->networkPage()->Button1);
    };
    const auto bacnetGet = [](TcpBench &b) {
        b.run(b.form->bacnetPage()->Button3);
    };
    const auto networkSend = [](TcpBench &b) {
        b.run(b.form->networkPage()->Button2);
    };
    const auto bacnetSend = [](TcpBench &b) {
        b.run(b.form->bacnetPage()->Button4);
    };
    const auto namesSend = [](TcpBench &b) {
        b.run(b.form->namesPage()->Button10);
    };

    // The lock box starts cleared; sending it unread would lock the site out.
    QTest::newRow("network unread, addresses typed") << QStringList{} << Action([=](TcpBench &b) {
        typeAddresses(b);
        networkSend(b);
    }) << QStringList{"20:7"} << NetworkSent.section('\n', 0, 0);
    QTest::newRow("network get failed at the lock")
        << QStringList{"--exception", "19:32@1"} << Action([=](TcpBench &b) {
               networkGet(b);
               editBox(*b.form, 4)->setText(QStringLiteral("99"));
               networkSend(b);
           })
        << QStringList{"20:7"} << NetworkSent.section('\n', 0, 0);
    QTest::newRow("network get failed at the addresses, lock ticked")
        << QStringList{"--exception", "20:7@1"} << Action([=](TcpBench &b) {
               networkGet(b);
               b.form->networkPage()->CheckBox3->setChecked(true);
               networkSend(b);
           })
        << QStringList{"19:32"} << NetworkSent.section('\n', 0, 0);
    QTest::newRow("bacnet unread, Device ID typed") << QStringList{} << Action([=](TcpBench &b) {
        b.form->bacnetPage()->Edit21->setText(QStringLiteral("4242"));
        bacnetSend(b);
    }) << QStringList{"22:0"} << BACnetSent.section('\n', 0, 0);
    QTest::newRow("bacnet get failed at the options")
        << QStringList{"--exception", "21:4@1"} << Action([=](TcpBench &b) {
               bacnetGet(b);
               b.form->bacnetPage()->Edit21->setText(QStringLiteral("4242"));
               bacnetSend(b);
           })
        << QStringList{"22:0", "22:3"} << BACnetSent.section('\n', 0, 0);
    QTest::newRow("bacnet get failed at the name, comparison ticked")
        << QStringList{"--exception", "22:3@1"} << Action([=](TcpBench &b) {
               bacnetGet(b);
               b.form->bacnetPage()->CheckBox1->setChecked(true);
               bacnetSend(b);
           })
        << QStringList{"22:0"} << BACnetSent.section('\n', 0, 0);
    QTest::newRow("names get failed at 50")
        << QStringList{"--exception", "26:490@1"} << Action([=](TcpBench &b) {
               b.run(b.form->namesPage()->Button9);
               QVERIFY(!b.form->isTabHighlighted(TMainForm::Tab::Names));
               QVERIFY(!b.form->namesPage()->Button10->isEnabled());
               b.form->namesPage()->editUnitNames(std::map<int, QString>{{3, "Boiler"}});
               namesSend(b);
           })
        << nameWrites(1, 49) << "49 Object Names Transmitted OK (addresses 1-49).";
    QTest::newRow("two names imported into an unread page")
        << QStringList{} << Action([=](TcpBench &b) {
               const QString csv = b.folder.path() + QStringLiteral("/two.csv");
               QFile file(csv);
               QVERIFY(file.open(QIODevice::WriteOnly));
               file.write("address,name\r\n7,Hall\r\n2,Boiler\r\n");
               file.close();
               setFileDialogInterceptor([csv](FileDialogKind, const QString &) {
                   return std::optional<FileChoice>(FileChoice{csv});
               });
               b.form->pageControl()->setCurrentIndex(int(TMainForm::Tab::Names));
               b.form->configFiles()->ImportNames1->trigger();
               namesSend(b);
           })
        << QStringList{"26:10", "26:60"} << "2 Object Names Transmitted OK (addresses 2, 7).";
}

void TestWriteSafety::sendWritesOnlyWhatThePageHolds()
{
    QFETCH(QStringList, simArguments);
    QFETCH(Action, act);
    QFETCH(QStringList, written);
    QFETCH(QString, message);
    TcpBench b;
    QVERIFY(b.open(simArguments));
    act(b);
    QCOMPARE(b.writes(), written);
    QVERIFY(!b.messages.messages.isEmpty());
    QCOMPARE(b.messages.texts().last().section('\n', 0, 0), message);
    // What was left out is said.
    QVERIFY2(b.messages.texts().last().contains(QLatin1String("not read from this unit")),
             qPrintable(b.messages.texts().last()));
}

void TestWriteSafety::requestsEndWithTheirSession_data()
{
    QTest::addColumn<Action>("raiseAndEnd");
    // Send pressed while the poll that finds the link lost is waiting: the
    // grid is emptied with the session, and the next unit would get 100
    // empty names.
    QTest::newRow("names send during the last failing poll") << Action([](TcpBench &b) {
        b.form->namesPage()->BitBtn3->click();
        b.messages.answers = {MsgAnswer::No}; // the unsent names are not kept
        QCOMPARE(b.sim.command(QStringLiteral("silent on")), QStringLiteral("ok silent on"));
        b.form->scheduler().setRequestObserver([&b](Request r) {
            if (r == Request::StatusPoll &&
                b.form->statusPoll()->PollFailureCount == StatusPoll::SilentFailures)
                b.form->namesPage()->Button10->click();
        });
        for (int i = 0; i < 8 && !b.form->scheduler().CloseRequested; ++i) {
            b.form->Timer1->fire();
            b.form->Timer2->fire();
        }
        QVERIFY(b.messages.texts().contains(QStringLiteral("Network Connection Has Been Lost.")));
        b.form->scheduler().setRequestObserver({});
        QCOMPARE(b.sim.command(QStringLiteral("silent off")), QStringLiteral("ok silent off"));
    });
    QTest::newRow("restart, then Close Connection") << Action([](TcpBench &b) {
        b.form->networkPage()->Button7->click(); // both questions answered Yes
        QVERIFY(pending(*b.form, Request::Restart));
        b.form->CloseConnection1Click();
    });
}

void TestWriteSafety::requestsEndWithTheirSession()
{
    QFETCH(Action, raiseAndEnd);
    TcpBench b;
    QVERIFY(b.open());
    raiseAndEnd(b);
    b.form->Timer2->fire(); // the close is served
    QVERIFY(!b.form->sessionOpen());
    QVERIFY(!b.form->scheduler().anyPending());

    // The next session serves only what it is asked for.
    b.form->connectionPage()->BitBtn2->click();
    QVERIFY(b.form->sessionOpen());
    for (int i = 0; i < 3; ++i)
        b.form->Timer2->fire();
    QCOMPARE(b.writes(), QStringList{});
    QVERIFY(b.form->sessionOpen());
}

void TestWriteSafety::movedCable_data()
{
    QTest::addColumn<bool>("moved");
    QTest::addColumn<bool>("restart"); // else a G50 send
    QTest::newRow("G50 send, same unit") << false << false;
    QTest::newRow("G50 send, cable moved") << true << false;
    QTest::newRow("restart, cable moved") << true << true;
}

void TestWriteSafety::movedCable()
{
    QFETCH(bool, moved);
    QFETCH(bool, restart);
    WorkingFolder folder;
    PtyRelay cable(2);
    QVERIFY(cable.isOpen());
    // Two units alike but for their MAC addresses.
    UnitState a(folder.path() + QStringLiteral("/a.json"));
    UnitState b(folder.path() + QStringLiteral("/b.json"));
    a.seed(SystemUnitId, MacFirstRegister, {0x02, 0x7A, 0x1C, 0x00, 0x00, 0x01});
    b.seed(SystemUnitId, MacFirstRegister, {0x02, 0x7A, 0x1C, 0x00, 0x00, 0x02});
    QVERIFY(a.save() && b.save());
    SimProcess simA, simB;
    QVERIFY(simA.startWith(QStringList{"--serial", cable.unitPath(0), "--no-animate", "--verbose"} +
                           a.simArguments()));
    QVERIFY(simB.startWith(QStringList{"--serial", cable.unitPath(1), "--no-animate", "--verbose"} +
                           b.simArguments()));
    QVERIFY(folder.writeIni("[Options]\nComms_Port=3\nIP_Address=127.0.0.1\n"));
    qputenv("RAVELIN_COM3", QFile::encodeName(cable.toolPath()));
    MessageRecorder messages;
    auto form = makeMainForm();
    form->Access.rtuTimeout = 5;
    form->connectionPage()->BitBtn1->click();
    qunsetenv("RAVELIN_COM3");
    QVERIFY(form->sessionOpen());
    form->scheduler().setStepped(true);
    G50Page *g50 = form->g50Page();
    g50->Button5->click();
    form->Timer2->fire();
    editBox(*form, 13)->setText(QStringLiteral("11"));
    QVERIFY(messages.messages.isEmpty());

    if (moved)
        cable.joinTo(1);
    (restart ? static_cast<QPushButton *>(form->networkPage()->Button7) : g50->Button6)->click();
    form->Timer2->fire();
    if (!moved) {
        QCOMPARE(loggedWrites(simA.output()), QStringList{"20:19"});
        QVERIFY(form->sessionOpen());
        return;
    }
    QCOMPARE(loggedWrites(simB.output()), QStringList{});
    QCOMPARE(loggedWrites(simA.output()), QStringList{});
    QVERIFY2(messages.texts().last().startsWith("Another unit is answering on this connection."),
             qPrintable(messages.texts().last()));
    QVERIFY(messages.texts().last().contains("MAC 02:7A:1C:00:00:02"));
    QVERIFY(form->scheduler().CloseRequested);
    form->Timer2->fire();
    QVERIFY(!form->sessionOpen());
}

void TestWriteSafety::unsentChangesKeptWhenTheLinkIsLost()
{
    TcpBench b;
    QVERIFY(b.open());
    b.run(b.form->g50Page()->Button5);
    editBox(*b.form, 13)->setText(QStringLiteral("11"));
    b.form->namesPage()->BitBtn3->click(); // the default names, unsent
    const QString names = b.folder.path() + QStringLiteral("/names.csv");
    const QString config = b.folder.path() + QStringLiteral("/config.json");
    setFileDialogInterceptor([&](FileDialogKind kind, const QString &) {
        return std::optional<FileChoice>(
            FileChoice{kind == FileDialogKind::ExportNames ? names : config});
    });
    QCOMPARE(b.sim.command(QStringLiteral("silent on")), QStringLiteral("ok silent on"));
    for (int i = 0; i < 8 && !b.form->scheduler().CloseRequested; ++i) {
        b.form->Timer1->fire();
        b.form->Timer2->fire();
    }
    QVERIFY(b.messages.texts().contains(QStringLiteral("Network Connection Has Been Lost.")));
    QVERIFY(b.messages.texts().last().startsWith(
        QStringLiteral("Saved the names in %1 and the page settings in %2.").arg(names, config)));

    QFile csv(names);
    QVERIFY(csv.open(QIODevice::ReadOnly));
    QStringList faults;
    const std::optional<NameUpdates> saved = parseNamesCsv(csv.readAll(), &faults);
    QVERIFY(saved && saved->size() == 100);
    QCOMPARE(saved->at(100), QByteArray("Unit100"));
    UnitConfig kept;
    QVERIFY(loadUnitConfig(config, kept, nullptr));
    QVERIFY(kept.g50 && (*kept.g50)[0] == 11);
    // Pages without unsent changes are not saved; the identity says whose file it is.
    QVERIFY(!kept.network && !kept.bacnet && !kept.objectNames);
    QVERIFY(kept.identity);
    QCOMPARE(b.writes(), QStringList{});
}

QTEST_MAIN(TestWriteSafety)
#include "tst_writesafety.moc"
