// Connecting from the "Choose Connection" page against the simulator on
// loopback: the port box, typed and pasted addresses, the recent units, the
// reason under a failed connect or refused unit, the status bar's link panel
// and the page shortcuts.

#include "BACnetPage.h"
#include "ConfigFiles.h"
#include "G50Page.h"
#include "SimProcess.h"
#include "SimSession.h"
#include "VeskComms.h"
#ifdef Q_OS_UNIX
#include "PtyPair.h"
#endif

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QTcpServer>

namespace {

const QString NoReply = QStringLiteral("No Reply From Unit. Terminating Connection...");
const QString Foreign = QStringLiteral("This unit is not a BACnet I/F. Terminating Connection...");
const QString NotResponding =
    QStringLiteral("127.0.0.1 is not responding. Please Select Another IP Address.");

// The reason line of every message box, beside the box's own text.
class ReasonRecorder
{
public:
    ReasonRecorder()
    {
        setReasonInterceptor(
            [this](const QString &text, const QString &reason) { reasons.insert(text, reason); });
    }
    ~ReasonRecorder() { setReasonInterceptor({}); }
    ReasonRecorder(const ReasonRecorder &) = delete;
    ReasonRecorder &operator=(const ReasonRecorder &) = delete;
    QHash<QString, QString> reasons;
};

// Address and port typed into the page, then "Via Network"; no
// RAVELIN_TCP_PORT, so the port box decides.
void connectTo(TMainForm &form, const QString &address, quint16 port)
{
    const QStringList octets = address.split(QLatin1Char('.'));
    for (int i = 0; i < 4; ++i)
        editBox(form, 23 + i)->setText(octets[i]);
    form.connectionPage()->portBox->setText(QString::number(port));
    form.connectionPage()->BitBtn2->click();
}

QString statusPanel(TMainForm &form)
{
    return form.findChild<QLabel *>(QStringLiteral("StatusPanel1"))->text();
}

QString boxes(TMainForm &form)
{
    QStringList texts;
    for (int i = 0; i < 4; ++i)
        texts << editBox(form, 23 + i)->text();
    return texts.join(QLatin1Char('.')) + QLatin1Char(':') + form.connectionPage()->portBox->text();
}

} // namespace

class TestConnecting : public QObject
{
    Q_OBJECT
private slots:
    void init() { qunsetenv("RAVELIN_TCP_PORT"); }
    void reasons_data();
    void reasons();
    void serialReasons_data();
    void serialReasons();
    void recentUnitsSavedAndReused();
    void typedAndPastedAddresses_data();
    void typedAndPastedAddresses();
    void shortcutsRaiseTheShownPagesRequest_data();
    void shortcutsRaiseTheShownPagesRequest();
    void failedGetSaysWhichBlockAndWhy();
    void everyEntryBoxNamesItsRange();
};

void TestConnecting::reasons_data()
{
    QTest::addColumn<QString>("unit"); // closed, silent or a simulator's arguments
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("reason"); // %1: the port
    QTest::newRow("closed port") << "closed" << NotResponding
                                 << "cannot connect to 127.0.0.1:%1: Connection refused";
    QTest::newRow("silent listener") << "silent" << NoReply << "identity: no reply within 0.5 s";
    QTest::newRow("other product")
        << "--product 1234" << Foreign << "product code 1234 found where 5173 was expected";
    QTest::newRow("product code 0")
        << "--product 0" << NoReply << "product code 0 found where 5173 was expected";
}

void TestConnecting::reasons()
{
    QFETCH(QString, unit);
    QFETCH(QString, message);
    QFETCH(QString, reason);
    SimProcess sim;
    QTcpServer silent; // listens, never accepts, never answers
    quint16 port = 0;
    if (unit == QLatin1String("closed")) {
        port = closedLoopbackPort();
    } else if (unit == QLatin1String("silent")) {
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        port = silent.serverPort();
    } else {
        QVERIFY(sim.start(unit.split(QLatin1Char(' '))));
        port = sim.port();
    }
    QVERIFY(port != 0);
    WorkingFolder folder;
    QVERIFY(folder.writeIni("[Options]\nComms_Port=4\nIP_Address=127.0.0.2\n"));
    MessageRecorder messages;
    ReasonRecorder reasons;
    auto form = makeMainForm();
    form->Access.tcpTimeout = 5;
    connectTo(*form, QStringLiteral("127.0.0.1"), port);
    QCOMPARE(messages.texts(), QStringList{message}); // the message itself as ever
    if (reason.contains(QLatin1String("%1")))
        reason = reason.arg(port);
    QCOMPARE(reasons.reasons.value(message), reason);
    QVERIFY(!form->sessionOpen());
    QCOMPARE(statusPanel(*form), QStringLiteral(" Not connected"));
    // A refused unit is no unit reached.
    QVERIFY(form->recentUnits().units().isEmpty());
    QVERIFY(!folder.readIni().contains("[Recent]"));
}

void TestConnecting::serialReasons_data()
{
    QTest::addColumn<QString>("device"); // "pty": a pty another component holds open
    QTest::addColumn<QString>("reason"); // %1: the device
    QTest::newRow("missing") << "/nonexistent/ravelin-test-port"
                             << "cannot open %1: the device is missing (unplugged or never there)";
#ifdef Q_OS_UNIX
    QTest::newRow("in use") << "pty"
                            << "cannot open %1: in use by another program";
#endif
}

void TestConnecting::serialReasons()
{
    QFETCH(QString, device);
    QFETCH(QString, reason);
#ifdef Q_OS_UNIX
    PtyPair pty;
    TVeskComms holder;
    if (device == QLatin1String("pty")) {
        QVERIFY(pty.isOpen());
        device = pty.slavePath();
        holder.DevicePath = device;
        QVERIFY(holder.OpenPort());
    }
#endif
    qputenv("RAVELIN_COM3", QFile::encodeName(device));
    WorkingFolder folder;
    QVERIFY(folder.writeIni("[Options]\nComms_Port=3\nIP_Address=127.0.0.1\n"));
    MessageRecorder messages;
    ReasonRecorder reasons;
    auto form = makeMainForm();
    form->connectionPage()->BitBtn1->click();
    qunsetenv("RAVELIN_COM3");
    const QString stated =
        QStringLiteral("Unable To Open Comms Port [COM3].\nPlease Select Another.");
    QCOMPARE(messages.texts(), QStringList{stated});
    QCOMPARE(reasons.reasons.value(stated), reason.arg(device));
    QVERIFY(!form->sessionOpen());
}

void TestConnecting::recentUnitsSavedAndReused()
{
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--no-animate")}));
    WorkingFolder folder;
    const QByteArray stated("[Options]\nComms_Port=4\nIP_Address=127.0.0.1\n");
    QVERIFY(folder.writeIni("[Options]\nComms_Port=4\nIP_Address=127.0.0.2\n"));
    MessageRecorder messages;
    {
        auto form = makeMainForm();
        form->scheduler().setStepped(true);
        connectTo(*form, QStringLiteral("127.0.0.1"), sim.port());
        QVERIFY2(form->sessionOpen(), qPrintable(messages.texts().join(QLatin1Char('|'))));
        const QString link = QStringLiteral(" TCP 127.0.0.1:%1 \u00b7 ").arg(sim.port());
        QCOMPARE(statusPanel(*form), link + QStringLiteral("no poll yet"));
        form->scheduler().setPending(Request::StatusPoll, true);
        form->Timer2->fire();
        QCOMPARE(statusPanel(*form), link + QStringLiteral("last poll 0 s ago"));

        form->raiseRequest(Request::GetBACnet);
        form->Timer2->fire();
        const QString instance = form->bacnetPage()->Edit21->text();
        const QString name = form->bacnetPage()->Edit22->text();
        QVERIFY(!instance.isEmpty());
        // Written when the session ends, with what was read meanwhile.
        QVERIFY(!folder.readIni().contains("[Recent]"));
        form->CloseConnection1Click();
        form->Timer2->fire();
        QVERIFY(!form->sessionOpen());
        QCOMPARE(statusPanel(*form), QStringLiteral(" Not connected"));
        const QByteArray ini = folder.readIni();
        QVERIFY2(ini.startsWith(stated + "IP_Port=" + QByteArray::number(sim.port()) +
                                "\n[Recent]\nUnit1=tcp,127.0.0.1," +
                                QByteArray::number(sim.port()) + ","),
                 ini.constData());
        QCOMPARE(form->recentUnits().size(), 1);
        const RecentUnit &unit = form->recentUnits().units().front();
        QCOMPARE(unit.instance, std::optional<std::uint32_t>(instance.toUInt()));
        QCOMPARE(unit.deviceName, name);
        QVERIFY(unit.firmware != 0);
        QVERIFY(unit.macKnown());
        QVERIFY(form->close());
    }

    // The next start lists the unit; one click on it connects.
    auto form = makeMainForm();
    QListWidget *list = form->connectionPage()->recentList;
    QCOMPARE(list->count(), 1);
    QVERIFY(list->item(0)->text().startsWith(QStringLiteral("127.0.0.1:%1").arg(sim.port())));
    QCOMPARE(form->connectionPage()->portBox->text(), QString::number(sim.port()));
    connectTo(*form, QStringLiteral("127.0.0.9"), 1); // boxes elsewhere; the click sets them
    QCOMPARE(messages.texts().size(), 1);
    messages.messages.clear();
    emit list->itemClicked(list->item(0));
    QVERIFY2(form->sessionOpen(), qPrintable(messages.texts().join(QLatin1Char('|'))));
    QCOMPARE(form->IPAddress, QStringLiteral("127.0.0.1"));
    form->scheduler().setStepped(true);
    form->CloseConnection1Click();
    form->Timer2->fire();

    // Delete removes it, in the list and in the file; the stated keys stay.
    list->setCurrentRow(0);
    QTest::keyClick(list, Qt::Key_Delete);
    QCOMPARE(list->count(), 0);
    QVERIFY(form->recentUnits().units().isEmpty());
    QVERIFY(!folder.readIni().contains("Unit1="));
    QVERIFY(folder.readIni().startsWith(stated));
}

void TestConnecting::typedAndPastedAddresses_data()
{
    QTest::addColumn<QString>("typed");    // keys into the focused box, from the first
    QTest::addColumn<QString>("pasted");   // clipboard text pasted into the third box
    QTest::addColumn<QString>("expected"); // the boxes and the port box afterwards
    const QString seeded = QStringLiteral("192.168.001.001:502");
    QTest::newRow("typed with dots") << "127.0.0.1"
                                     << ""
                                     << "127.0.0.1:502";
    QTest::newRow("typed with spaces") << "10 1 2 3"
                                       << ""
                                       << "10.1.2.3:502";
    QTest::newRow("pasted address") << ""
                                    << "127.0.0.3"
                                    << "127.0.0.3:502";
    QTest::newRow("pasted with port") << ""
                                      << "127.0.0.2:1502"
                                      << "127.0.0.2:1502";
    QTest::newRow("pasted junk") << ""
                                 << "127.0.x.1" << seeded;
    QTest::newRow("pasted bad port") << ""
                                     << "127.0.0.2:99999" << seeded;
}

void TestConnecting::typedAndPastedAddresses()
{
    QFETCH(QString, typed);
    QFETCH(QString, pasted);
    QFETCH(QString, expected);
    WorkingFolder folder;
    MessageRecorder messages;
    auto form = makeMainForm();
    QVERIFY(activate(*form));
    for (int i = 0; i < 4; ++i)
        editBox(*form, 23 + i)->clear();
    if (!pasted.isEmpty()) {
        form->connectionPage()->resetDisplay();
        QApplication::clipboard()->setText(pasted);
        QLineEdit *third = editBox(*form, 25);
        third->setFocus();
        third->selectAll();
        QTest::keySequence(third, QKeySequence::Paste);
        // The context menu's paste goes through the box's own check instead.
        form->connectionPage()->resetDisplay();
        third->selectAll();
        third->paste();
        QCoreApplication::processEvents();
    } else {
        editBox(*form, 23)->setFocus();
        for (const QChar c : typed)
            QTest::keyClicks(QApplication::focusWidget(), QString(c));
    }
    QCOMPARE(boxes(*form), expected);
    QVERIFY(messages.messages.isEmpty());

    // Enter in an address box presses "Via Network": nothing listens on the
    // port given, so the stated message comes.
    const quint16 closed = closedLoopbackPort();
    form->connectionPage()->showAddress({{127, 0, 0, 1}, closed});
    QTest::keyClick(editBox(*form, 24), Qt::Key_Return);
    QCOMPARE(messages.texts(), QStringList{NotResponding});
}

void TestConnecting::shortcutsRaiseTheShownPagesRequest_data()
{
    QTest::addColumn<int>("tab");
    QTest::addColumn<QKeySequence>("keys");
    QTest::addColumn<bool>("edited"); // the page holds an unsent change first
    QTest::addColumn<int>("request"); // -1: none
    using Tab = TMainForm::Tab;
    const QKeySequence f5(Qt::Key_F5);
    const QKeySequence ctrlEnter(Qt::CTRL | Qt::Key_Return);
    QTest::newRow("F5 on Network") << int(Tab::Network) << f5 << false << int(Request::GetNetwork);
    QTest::newRow("F5 on G50") << int(Tab::G50) << f5 << false << int(Request::GetG50);
    QTest::newRow("F5 on BACnet") << int(Tab::BACnet) << f5 << false << int(Request::GetBACnet);
    QTest::newRow("F5 on Unit Names") << int(Tab::Names) << f5 << false << int(Request::GetNames);
    QTest::newRow("F5 on Diagnostics") << int(Tab::Diagnostics) << f5 << false << -1;
    QTest::newRow("Ctrl+Enter, G50 edited")
        << int(Tab::G50) << ctrlEnter << true << int(Request::SendG50);
    QTest::newRow("Ctrl+Enter (keypad), G50 edited")
        << int(Tab::G50) << QKeySequence(Qt::CTRL | Qt::Key_Enter) << true << int(Request::SendG50);
    QTest::newRow("Ctrl+Enter, nothing to send") << int(Tab::G50) << ctrlEnter << false << -1;
    QTest::newRow("Ctrl+S") << int(Tab::Network) << QKeySequence(Qt::CTRL | Qt::Key_S) << false
                            << int(Request::SaveConfig);
}

void TestConnecting::shortcutsRaiseTheShownPagesRequest()
{
    QFETCH(int, tab);
    QFETCH(QKeySequence, keys);
    QFETCH(bool, edited);
    QFETCH(int, request);
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--no-animate")}));
    WorkingFolder folder;
    MessageRecorder messages;
    auto form = tcpSessionForm(sim.port());
    QVERIFY(form->sessionOpen());
    form->pageControl()->setCurrentIndex(tab);
    if (edited)
        form->setTabHighlighted(TMainForm::Tab(tab), true);
    form->EnableControls();
    QVERIFY(activate(*form));
    QTest::keySequence(form.get(), keys);
    for (int r = 0; r <= int(Request::StatusPoll); ++r)
        QCOMPARE(pending(*form, Request(r)), r == request);
    // The menu and the buttons name the keys.
    QCOMPARE(form->SaveCurrentConfig1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
    QCOMPARE(form->configFiles()->OpenConfig1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
    QVERIFY(form->g50Page()
                ->findChild<QPushButton *>(QStringLiteral("Button5"))
                ->toolTip()
                .contains(QLatin1String("F5")));
}

void TestConnecting::failedGetSaysWhichBlockAndWhy()
{
    SimProcess sim;
    QVERIFY(sim.start(
        {QStringLiteral("--no-animate"), QStringLiteral("--exception"), QStringLiteral("20:19")}));
    WorkingFolder folder;
    MessageRecorder messages;
    ReasonRecorder reasons;
    auto form = tcpSessionForm(sim.port());
    QVERIFY(form->sessionOpen());
    form->raiseRequest(Request::GetG50);
    form->Timer2->fire();
    const QString stated = QStringLiteral("Error Retrieving G50 Settings.");
    QCOMPARE(messages.texts(), QStringList{stated});
    QCOMPARE(reasons.reasons.value(stated),
             QStringLiteral("G50 address: the unit answered with an exception (code 4: server "
                            "device failure)"));
}

void TestConnecting::everyEntryBoxNamesItsRange()
{
    WorkingFolder folder;
    auto form = makeMainForm();
    const QRegularExpression range(QStringLiteral("\\d+ to \\d+|up to \\d+"),
                                   QRegularExpression::CaseInsensitiveOption);
    int boxesSeen = 0;
    for (int i = 0; i < form->pageControl()->count(); ++i) {
        for (const QLineEdit *box : form->pageControl()->widget(i)->findChildren<QLineEdit *>()) {
            ++boxesSeen;
            QVERIFY2(box->toolTip().contains(range),
                     qPrintable(box->objectName() + QLatin1String(": ") + box->toolTip()));
        }
    }
    QVERIFY(boxesSeen >= 29); // 12 Network, 4 G50, 7 BACnet, 5 connection, the names editor
    QCOMPARE(named<QLineEdit>(form.get(), QStringLiteral("Edit21"))->toolTip(),
             QStringLiteral("Device ID: 0 to 4194302"));
}

QTEST_MAIN(TestConnecting)
#include "tst_connecting.moc"
