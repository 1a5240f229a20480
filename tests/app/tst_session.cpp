// Network sessions against the simulator on loopback: acceptance, the
// refusals and their messages, the firmware gates, closing with and without
// unsent changes, and the close guard.

#include "AppTestKit.h"
#include "BACnetPage.h"
#include "ConnectionPage.h"
#include "DiagnosticsPage.h"
#include "G50Page.h"
#include "ModBusTCPPro.h"
#include "MsgFrm.h"
#include "NetworkPage.h"
#include "ScreenshotRun.h"
#include "SimProcess.h"
#include "SimSession.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <QToolButton>

namespace {

const QString NoReply = QStringLiteral("No Reply From Unit. Terminating Connection...");
const QString Foreign = QStringLiteral("This unit is not a BACnet I/F. Terminating Connection...");

void typeAddress(TMainForm &form, const QStringList &octets)
{
    for (int i = 0; i < 4; ++i)
        editBox(form, 23 + i)->setText(octets[i]);
}

// Opens a network session to the simulator; the main window is created with
// the simulator's port as its TCP port.
std::unique_ptr<TMainForm> connectedForm(const SimProcess &sim)
{
    qputenv("RAVELIN_TCP_PORT", QByteArray::number(sim.port()));
    auto form = makeMainForm();
    form->scheduler().setStepped(true); // ticks are delivered by the test
    typeAddress(*form, {"127", "0", "0", "1"});
    form->connectionPage()->BitBtn2->click();
    return form;
}

void closeSession(TMainForm &form)
{
    form.CloseConnection1Click();
    form.Timer2->fire();
    QVERIFY(!form.sessionOpen());
}

} // namespace

class TestSession : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        for (const char *name :
             {"RAVELIN_TCP_PORT", "RAVELIN_SCREENSHOT_DIR", "RAVELIN_DEMO_CONNECT"})
            qunsetenv(name);
    }
    void cleanup() { init(); }
    void acceptThenClose();
    void refusals_data();
    void refusals();
    void firmwareGates_data();
    void firmwareGates();
    void closeGuardDuringSession();
    void closeWithUnsentChangesAsks();
    void hooksConnectOnlyToLoopback_data();
    void hooksConnectOnlyToLoopback();
};

void TestSession::acceptThenClose()
{
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--no-animate")}));
    WorkingFolder folder;
    QVERIFY(folder.writeIni("[Options]\nComms_Port=4\nIP_Address=127.0.0.2\n"));
    MessageRecorder messages;
    auto form = connectedForm(sim);
    QVERIFY2(messages.messages.isEmpty(), qPrintable(messages.texts().join(QLatin1Char('|'))));
    QVERIFY(form->sessionOpen());
    QCOMPARE(visibleTabs(*form),
             (QStringList{"Network", "G50", "BACnet", "Unit Names", "Diagnostics"}));
    QCOMPARE(form->pageControl()->currentIndex(), int(TMainForm::Tab::Network));
    QVERIFY(!form->viaComPort());
    QVERIFY(form->Timer1->isActive());
    QVERIFY(form->Timer2->isActive());
    QVERIFY(!form->scheduler().CloseRequested);
    QCOMPARE(form->MBTcpClient.TransactionId, quint16(1));
    QVERIFY(form->UpgradeFirmware1->isVisible());
    QVERIFY(form->UpgradeSeparator->isVisible());
    QVERIFY(!form->UpgradeFirmware1->isEnabled());
    QVERIFY(form->networkPage()->Button16->isHidden());
    QCOMPARE(form->portStatus(), QStringLiteral(" IP Address: 127.0.0.1"));
    QCOMPARE(form->IPAddress, QStringLiteral("127.0.0.1"));
    QCOMPARE(folder.readIni(), QByteArray("[Options]\nComms_Port=4\nIP_Address=127.0.0.1\n"));
    QVERIFY(form->isEnabled());
    QVERIFY(!form->busyWindow()->isVisible());

    editBox(*form, 13)->setText(QStringLiteral("10"));
    form->g50Page()->Label31->setText(QStringLiteral("Mnet running"));
    messages.answers = {MsgAnswer::Yes};
    closeSession(*form);
    QVERIFY(!form->MBTcpClient.active());
    QCOMPARE(visibleTabs(*form), QStringList{QStringLiteral("Choose Connection")});
    QCOMPARE(form->pageControl()->currentIndex(), int(TMainForm::Tab::Connection));
    QVERIFY(!form->Timer1->isActive());
    QVERIFY(!form->Timer2->isActive());
    QVERIFY(!form->UpgradeFirmware1->isVisible());
    QCOMPARE(form->portStatus(), QStringLiteral(" Port:"));
    // ResetDisplays ran: the session's address with leading zeros, pages cleared.
    QCOMPARE(editBox(*form, 23)->text() + editBox(*form, 24)->text() + editBox(*form, 25)->text() +
                 editBox(*form, 26)->text(),
             QStringLiteral("127000000001"));
    QVERIFY(editBox(*form, 13)->text().isEmpty());
    QCOMPARE(form->g50Page()->Label31->text(), QStringLiteral("Mnet..."));
    QVERIFY(!form->isTabHighlighted(TMainForm::Tab::G50));
    QVERIFY(form->isEnabled());
    QVERIFY(!form->busyWindow()->isVisible());
    QVERIFY(!QGuiApplication::overrideCursor());
    QVERIFY(form->close());
}

void TestSession::refusals_data()
{
    QTest::addColumn<QStringList>("simArguments"); // empty: nothing listens
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("saved");
    QTest::newRow("foreign product") << QStringList{"--product", "1234"} << Foreign << true;
    QTest::newRow("product code 0") << QStringList{"--product", "0"} << NoReply << true;
    QTest::newRow("never answers") << QStringList{"--silent"} << NoReply << true;
    QTest::newRow("nothing listening")
        << QStringList{}
        << QStringLiteral("127.0.0.1 is not responding. Please Select Another IP "
                          "Address.")
        << false;
}

void TestSession::refusals()
{
    QFETCH(QStringList, simArguments);
    QFETCH(QString, message);
    QFETCH(bool, saved);
    SimProcess sim;
    if (!simArguments.isEmpty())
        QVERIFY(sim.start(simArguments));
    const quint16 port = simArguments.isEmpty() ? closedLoopbackPort() : sim.port();
    QVERIFY(port != 0);
    qputenv("RAVELIN_TCP_PORT", QByteArray::number(port));
    WorkingFolder folder;
    const QByteArray seeded("[Options]\nComms_Port=4\nIP_Address=127.0.0.2\n");
    QVERIFY(folder.writeIni(seeded));
    MessageRecorder messages;
    auto form = makeMainForm();
    form->Access.tcpTimeout = 5; // half a second instead of seven
    typeAddress(*form, {"127", "0", "0", "1"});
    form->connectionPage()->BitBtn2->click();

    QCOMPARE(messages.texts(), QStringList{message});
    QCOMPARE(messages.messages.first().kind, MsgKind::Error);
    QVERIFY(!form->sessionOpen());
    QVERIFY(!form->MBTcpClient.active());
    QCOMPARE(visibleTabs(*form), QStringList{QStringLiteral("Choose Connection")});
    QVERIFY(!form->Timer1->isActive());
    QVERIFY(!form->Timer2->isActive());
    QVERIFY(form->isEnabled());
    QVERIFY(form->pageControl()->isEnabled());
    QVERIFY(!form->busyWindow()->isVisible());
    QVERIFY(!QGuiApplication::overrideCursor());
    QCOMPARE(form->IPAddress, QStringLiteral("127.0.0.1"));
    QCOMPARE(folder.readIni(),
             saved ? QByteArray("[Options]\nComms_Port=4\nIP_Address=127.0.0.1\n") : seeded);
    // The page is usable again: a second attempt runs the same course.
    messages.messages.clear();
    form->connectionPage()->BitBtn2->click();
    QCOMPARE(messages.texts(), QStringList{message});
}

void TestSession::firmwareGates_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<bool>("activityCovered");
    QTest::addColumn<bool>("bitSwitchesCovered");
    QTest::addColumn<bool>("pollBarShown");
    QTest::addColumn<bool>("foreignEnabled");
    QTest::addColumn<bool>("allowConfigShown");
    QTest::addColumn<bool>("upgradeEnabled");
    QTest::newRow("120") << 120 << true << true << false << false << false << false;
    QTest::newRow("121") << 121 << false << true << false << true << false << false;
    QTest::newRow("130") << 130 << false << false << true << true << false << false;
    QTest::newRow("133") << 133 << false << false << true << true << false << false;
    QTest::newRow("134") << 134 << false << false << true << true << true << false;
    QTest::newRow("999") << 999 << false << false << true << true << true << true;
}

void TestSession::firmwareGates()
{
    QFETCH(int, version);
    QFETCH(bool, activityCovered);
    QFETCH(bool, bitSwitchesCovered);
    QFETCH(bool, pollBarShown);
    QFETCH(bool, foreignEnabled);
    QFETCH(bool, allowConfigShown);
    QFETCH(bool, upgradeEnabled);
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--firmware"), QString::number(version)}));
    WorkingFolder folder;
    MessageRecorder messages;
    auto form = connectedForm(sim);
    QVERIFY(form->sessionOpen());
    DiagnosticsPage *diag = form->diagnosticsPage();
    QCOMPARE(!diag->activityCover->isHidden(), activityCovered);
    QCOMPARE(!diag->bitSwitchCover->isHidden(), bitSwitchesCovered);
    QCOMPARE(!diag->G50_Poll_State_ProgBar->isHidden(), pollBarShown);
    QCOMPARE(!diag->G50_Group_Poll_Lab->isHidden(), pollBarShown);
    QCOMPARE(form->bacnetPage()->CheckBox2->isEnabled(), foreignEnabled);
    QCOMPARE(!form->networkPage()->CheckBox3->isHidden(), allowConfigShown);
    QCOMPARE(form->UpgradeFirmware1->isEnabled(), upgradeEnabled);

    // A tick made during the session survives a later good interrogation only
    // above v1.20.
    form->bacnetPage()->CheckBox2->setChecked(true);
    QCOMPARE(form->InterrogateUnit(), quint16(5173));
    QCOMPARE(form->bacnetPage()->CheckBox2->isChecked(), foreignEnabled);

    // The gates outlive the end of the session.
    closeSession(*form);
    QCOMPARE(!form->networkPage()->CheckBox3->isHidden(), allowConfigShown);
    QCOMPARE(!diag->bitSwitchCover->isHidden(), bitSwitchesCovered);
}

void TestSession::closeGuardDuringSession()
{
    SimProcess sim;
    QVERIFY(sim.start());
    WorkingFolder folder;
    MessageRecorder messages;
    auto form = connectedForm(sim);
    QVERIFY(form->sessionOpen());
    QVERIFY(!form->close());
    QVERIFY(form->isVisible());
    QCOMPARE(messages.texts(), QStringList{QStringLiteral(
                                   "Please close the connection before exiting the application.")});
    QCOMPARE(messages.messages.first().kind, MsgKind::Information);
    QVERIFY(form->sessionOpen());
    closeSession(*form);
    QVERIFY(form->close());
}

void TestSession::closeWithUnsentChangesAsks()
{
    SimProcess sim;
    QVERIFY(sim.start());
    WorkingFolder folder;
    MessageRecorder messages;
    auto form = connectedForm(sim);
    QVERIFY(form->sessionOpen());
    editBox(*form, 22)->setText(QStringLiteral("Plant room"));
    QVERIFY(form->isTabHighlighted(TMainForm::Tab::BACnet));
    QVERIFY(form->bacnetPage()->Button4->isEnabled());

    messages.answers = {MsgAnswer::No};
    form->CloseConnection1Click();
    QCOMPARE(messages.texts(),
             QStringList{QStringLiteral("There are changes that haven't been sent to the "
                                        "Ravelin.\nClosing the connection will discard these "
                                        "changes.\nOK to continue?")});
    QCOMPARE(messages.messages.first().kind, MsgKind::Warning);
    QCOMPARE(messages.messages.first().buttons, MsgButtons::YesNo);
    QVERIFY(!form->scheduler().CloseRequested);
    form->Timer2->fire(); // a scheduler tick passes and the session stays
    QVERIFY(form->sessionOpen());
    QVERIFY(form->isEnabled());

    messages.answers = {MsgAnswer::Yes};
    closeSession(*form);
    QVERIFY(!form->isTabHighlighted(TMainForm::Tab::BACnet));
    QVERIFY(editBox(*form, 22)->text().isEmpty());
}

void TestSession::hooksConnectOnlyToLoopback_data()
{
    QTest::addColumn<QByteArray>("variable");
    QTest::addColumn<QByteArray>("settings");    // null: a folder in the file's place, unreadable
    QTest::addColumn<QString>("refusedAddress"); // empty: the hook starts
    const QByteArray shot("RAVELIN_SCREENSHOT_DIR");
    const QByteArray demo("RAVELIN_DEMO_CONNECT");
    const QByteArray loopback("[Options]\nIP_Address=127.0.0.1\n");
    // An unreadable file leaves the tool's default unit address in the boxes.
    QTest::newRow("screenshot run, unreadable settings") << shot << QByteArray() << "192.168.1.1";
    QTest::newRow("demo connect, unreadable settings") << demo << QByteArray() << "192.168.1.1";
    QTest::newRow("demo connect, a LAN address")
        << demo << QByteArray("[Options]\nIP_Address=10.0.0.5\n") << "10.0.0.5";
    QTest::newRow("screenshot run, loopback") << shot << loopback << QString();
    QTest::newRow("demo connect, loopback") << demo << loopback << QString();
}

void TestSession::hooksConnectOnlyToLoopback()
{
    QFETCH(QByteArray, variable);
    QFETCH(QByteArray, settings);
    QFETCH(QString, refusedAddress);
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--no-animate")}));
    qputenv("RAVELIN_TCP_PORT", QByteArray::number(sim.port()));
    WorkingFolder folder;
    if (settings.isNull())
        QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("QuorixIPB_Cfg.Ini")));
    else
        QVERIFY(folder.writeIni(settings));
    qputenv(variable.constData(), QDir(folder.path()).filePath(QStringLiteral("shots")).toUtf8());
    MessageRecorder messages;
    auto form = makeMainForm();
    const bool screenshots = variable == "RAVELIN_SCREENSHOT_DIR";

    if (!refusedAddress.isEmpty()) {
        // Fails the test unless the warning comes.
        QTest::ignoreMessage(
            QtWarningMsg, QRegularExpression(QStringLiteral("^%1: refusing to connect to %2: "
                                                            ".*loopback.*127\\.0\\.0\\.0/8")
                                                 .arg(QString::fromLatin1(variable),
                                                      QRegularExpression::escape(refusedAddress))));
    }
    const HookStart started =
        screenshots ? startScreenshotRunIfRequested(*form) : startDemoConnectIfRequested(*form);
    if (!refusedAddress.isEmpty()) {
        QCOMPARE(int(started), int(HookStart::Refused));
        QVERIFY(!form->MBTcpClient.connected());
        QVERIFY(form->MBTcpClient.remoteHost().isEmpty()); // never even aimed at it
        QVERIFY(!QDir(folder.path()).exists(QStringLiteral("shots")));
        // The form goes before any event is processed, so nothing the hook
        // might have scheduled can run.
        return;
    }
    QCOMPARE(int(started), int(HookStart::Started));
    if (screenshots) {
        setMessageInterceptor({}); // the run's own; the run itself is not wanted here
        return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(form->sessionOpen(), 5000);
    QVERIFY(messages.messages.isEmpty());
    closeSession(*form);
}

QTEST_MAIN(TestSession)
#include "tst_session.moc"
