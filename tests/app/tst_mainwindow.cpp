// The main window without a unit: start-up state, the settings file in the
// working folder, the port list, address validation, the busy window, the
// close guard and the request scheduler's order, timing and recovery.

#include "AppTestKit.h"
#include "BACnetPage.h"
#include "ConnectionPage.h"
#include "DiagnosticsPage.h"
#include "G50Page.h"
#include "MacDialog.h"
#include "MsgFrm.h"
#include "NamesPage.h"
#include "NetworkPage.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <stdexcept>

namespace {

QStringList addressBoxTexts(TMainForm &form)
{
    QStringList texts;
    for (int i = 23; i <= 26; ++i)
        texts << editBox(form, i)->text();
    return texts;
}

// A session as far as the scheduler is concerned: timers running, Close enabled.
void startScheduling(TMainForm &form)
{
    form.CloseConnection1->setEnabled(true);
    form.Timer1->start();
    form.Timer2->start();
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void startUpState();
    void everyNamedControlExists();
    void settingsAtStartUp_data();
    void settingsAtStartUp();
    void serviceMode_data();
    void serviceMode();
    void pickingAPortSavesAtOnce();
    void portSearchWithoutPorts();
    void invalidAddressRefusedBeforeConnecting_data();
    void invalidAddressRefusedBeforeConnecting();
    void busyWindowCentredOnMainWindow();
    void closeWithoutSession();
    void delayServesTimersAndEnds();

    void pageRequestServedAtNextTick_data();
    void pageRequestServedAtNextTick();
    void flagLoweredBeforeOrAfterOperation_data();
    void flagLoweredBeforeOrAfterOperation();
    void pageRequestBeforePendingPoll();
    void closeWhilePollPendingLeavesPollRaised();
    void timer1RaisesPollAndIsRearmedAfterIt();
    void enableControlsHonoursHighlights();
    void getDoesNotMarkPageButUserEditDoes();
    void errorInRequestIsRecovered();
};

void TestMainWindow::startUpState()
{
    WorkingFolder folder;
    MessageRecorder messages;
    auto form = makeMainForm();
    QCOMPARE(form->windowTitle(), QStringLiteral("Quorix Ravelin Configuration....."));
    QCOMPARE(form->minimumSize(), form->maximumSize());
    QCOMPARE(form->centralWidget()->width(), 409);
    QCOMPARE(visibleTabs(*form), QStringList{QStringLiteral("Choose Connection")});
    QCOMPARE(form->pageControl()->currentIndex(), int(TMainForm::Tab::Connection));
    QVERIFY(!form->Timer1->isActive());
    QVERIFY(!form->Timer2->isActive());
    QCOMPARE(form->Timer1->interval(), 2000);
    QCOMPARE(form->Timer2->interval(), 1000);
    QVERIFY(!form->CloseConnection1->isEnabled());
    QVERIFY(!form->SaveCurrentConfig1->isEnabled());
    QVERIFY(!form->UpgradeFirmware1->isVisible());
    QVERIFY(!form->UpgradeSeparator->isVisible());
    QVERIFY(!form->CommsPort1->isEnabled());
    QVERIFY(form->Exit1->isEnabled());
    QCOMPARE(form->portStatus(), QStringLiteral(" Port:"));
    QVERIFY(form->viaComPort());
    QVERIFY(form->networkPage()->Button16->isHidden());
    QCOMPARE(form->connectionPage()->BitBtn4->text(), QStringLiteral("Find Installed\nCOM Ports"));
    QVERIFY(!form->connectionPage()->BitBtn4->isHidden());
    QVERIFY(form->bacnetPage()->CheckBox1->toolTip().startsWith(
        QStringLiteral("Tick If You Want To Enable The Comparison Between\nThe Current")));
    QVERIFY(!form->bacnetPage()->Panel2->isEnabled());
    QVERIFY(!form->bacnetPage()->Edit28->isEnabled());
    QVERIFY(!form->bacnetPage()->CheckBox2->isChecked());
    for (QPushButton *send : {form->networkPage()->Button2, form->g50Page()->Button6,
                              form->bacnetPage()->Button4, form->namesPage()->Button10})
        QVERIFY(!send->isEnabled());
    QCOMPARE(form->diagnosticsPage()->inner->currentWidget(),
             form->diagnosticsPage()->Activity_Tab);
    QCOMPARE(form->namesPage()->cellText(0, 0), QStringLiteral("Address"));
    QCOMPARE(form->namesPage()->cellText(1, 0), QStringLiteral("001"));
    QCOMPARE(form->namesPage()->cellText(100, 0), QStringLiteral("100"));
    QCOMPARE(form->namesPage()->cellText(101, 0), QStringLiteral("Sys-1"));
    QCOMPARE(form->namesPage()->cellText(105, 1), QStringLiteral("Sys_New_Setting_Compare"));
    QCOMPARE(form->namesPage()->ObjectNames.value(104), QStringLiteral("Sys_G50_Comms_State"));
    QCOMPARE(form->namesPage()->BitBtn3->text(), QStringLiteral("Load\nDefaults"));
    QCOMPARE(form->g50Page()->Label31->text(), QStringLiteral("Mnet..."));
    QCOMPARE(form->diagnosticsPage()->G50_Group_Poll_Lab->text(), QStringLiteral("??"));
    QVERIFY(messages.messages.isEmpty());
}

void TestMainWindow::everyNamedControlExists()
{
    WorkingFolder folder;
    auto form = makeMainForm();
    for (int i = 1; i <= 28; ++i) {
        const QString name = QStringLiteral("Edit%1").arg(i);
        QVERIFY2(named<QLineEdit>(form.get(), name), qPrintable(name));
    }
    const QStringList widgets{"Net_Tab",
                              "G50_Tab",
                              "BAC_Tab",
                              "Conn_Tab",
                              "Name_Tab",
                              "Diag_Tab",
                              "Button1",
                              "Button2",
                              "Button3",
                              "Button4",
                              "Button5",
                              "Button6",
                              "Button7",
                              "Button8",
                              "Button9",
                              "Button10",
                              "Button16",
                              "BitBtn1",
                              "BitBtn2",
                              "BitBtn3",
                              "BitBtn4",
                              "CheckBox1",
                              "CheckBox2",
                              "CheckBox3",
                              "ComboBox1",
                              "StringGrid1",
                              "Label2",
                              "Label3",
                              "Label26",
                              "Label31",
                              "Label32",
                              "Panel2",
                              "PageControl1",
                              "StatusBar1",
                              "Activity_Tab",
                              "BitSwitch_Tab",
                              "G50_Poll_State_ProgBar",
                              "G50_Group_Poll_Lab"};
    for (const QString &name : widgets)
        QVERIFY2(named<QWidget>(form.get(), name), qPrintable(name));
    QVERIFY(form->findChild<QTimer *>(QStringLiteral("Timer1")));
    QVERIFY(form->findChild<QTimer *>(QStringLiteral("Timer2")));
}

void TestMainWindow::settingsAtStartUp_data()
{
    QTest::addColumn<QByteArray>("content"); // null: no file
    QTest::addColumn<QString>("selected");
    QTest::addColumn<bool>("viaComEnabled");
    QTest::addColumn<int>("items");
    QTest::addColumn<QStringList>("address");
    const QStringList fallback{"192", "168", "001", "001"};
    QTest::newRow("no file") << QByteArray() << "COM1" << true << 8 << fallback;
    QTest::newRow("COM12 appended")
        << QByteArray("[Options]\nComms_Port=12\nIP_Address=127.0.0.1\n") << "COM12" << true << 9
        << QStringList{"127", "000", "000", "001"};
    QTest::newRow("port 0") << QByteArray("[Options]\nComms_Port=0\nIP_Address=127.0.0.9\n") << ""
                            << false << 8 << QStringList{"127", "000", "000", "009"};
    QTest::newRow("bad address") << QByteArray("[Options]\nComms_Port=3\nIP_Address=10.0.0.300\n")
                                 << "COM3" << true << 8 << fallback;
    QTest::newRow("garbage") << QByteArray("\xff\xfe\x00\x01[[[\n==\n", 10) << "COM1" << true << 8
                             << fallback;
}

void TestMainWindow::settingsAtStartUp()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, selected);
    QFETCH(bool, viaComEnabled);
    QFETCH(int, items);
    QFETCH(QStringList, address);
    WorkingFolder folder;
    if (!content.isNull())
        QVERIFY(folder.writeIni(content));
    auto form = makeMainForm();
    QCOMPARE(form->StartFolder, QDir(folder.path()).absolutePath() + QLatin1Char('/'));
    QComboBox *ports = form->connectionPage()->ComboBox1;
    QCOMPARE(ports->count(), items);
    QCOMPARE(ports->currentText(), selected);
    QCOMPARE(form->connectionPage()->BitBtn1->isEnabled(), viaComEnabled);
    QCOMPARE(addressBoxTexts(*form), address);
    if (content.isNull())
        QCOMPARE(folder.readIni(), QByteArray("[Options]\nComms_Port=1\nIP_Address=192.168.1.1\n"));
    else
        QCOMPARE(folder.readIni(), content); // start-up never rewrites an existing file
}

void TestMainWindow::serviceMode_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("service");
    QTest::newRow("none") << QStringList{} << false;
    QTest::newRow("code") << QStringList{"ravelin#svc7"} << true;
    QTest::newRow("code second") << QStringList{"x", "Ravelin#Svc7"} << false;
    QTest::newRow("wrong") << QStringList{"Ravelin#Svc"} << false;
}

void TestMainWindow::serviceMode()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, service);
    WorkingFolder folder;
    auto form = makeMainForm(arguments);
    QCOMPARE(form->ServiceMode, service);
    QCOMPARE(form->networkPage()->Button16->isHidden(), !service);
}

void TestMainWindow::pickingAPortSavesAtOnce()
{
    WorkingFolder folder;
    QVERIFY(
        folder.writeIni("; keep me\n[Options]\nComms_Port=0\nIP_Address=127.0.0.1\n[X]\ny=1\n"));
    auto form = makeMainForm();
    QComboBox *ports = form->connectionPage()->ComboBox1;
    QVERIFY(!form->connectionPage()->BitBtn1->isEnabled());
    ports->setCurrentIndex(2);
    emit ports->activated(2);
    QCOMPARE(form->ComPort, 3);
    QVERIFY(form->connectionPage()->BitBtn1->isEnabled());
    QCOMPARE(folder.readIni(),
             QByteArray("; keep me\n[Options]\nComms_Port=3\nIP_Address=127.0.0.1\n[X]\ny=1\n"));
    // An item whose number part is not a number stands for COM1.
    ports->addItem(QStringLiteral("COMx"));
    form->connectionPage()->ComboBox1Select(ports->count() - 1);
    QCOMPARE(form->ComPort, 1);
}

void TestMainWindow::portSearchWithoutPorts()
{
    WorkingFolder folder;
    QVERIFY(folder.writeIni("[Options]\nComms_Port=2\nIP_Address=127.0.0.1\n"));
    auto form = makeMainForm();
    unsetenv("RAVELIN_COM1");
    form->connectionPage()->BitBtn4Click();
    QCOMPARE(form->ComPort, 0);
    QCOMPARE(form->connectionPage()->ComboBox1->currentIndex(), -1);
    QVERIFY(!form->connectionPage()->BitBtn1->isEnabled());
    QVERIFY(form->connectionPage()->BitBtn4->isEnabled());
    // The search does not write the file.
    QCOMPARE(folder.readIni(), QByteArray("[Options]\nComms_Port=2\nIP_Address=127.0.0.1\n"));
}

void TestMainWindow::invalidAddressRefusedBeforeConnecting_data()
{
    QTest::addColumn<QStringList>("boxes");
    QTest::newRow("empty") << QStringList{"127", "", "0", "1"};
    QTest::newRow("letters") << QStringList{"127", "0", "abc", "1"};
    QTest::newRow("256") << QStringList{"127", "0", "0", "256"};
    QTest::newRow("negative") << QStringList{"-1", "0", "0", "1"};
    QTest::newRow("inner blank") << QStringList{"1 2", "0", "0", "1"};
}

void TestMainWindow::invalidAddressRefusedBeforeConnecting()
{
    QFETCH(QStringList, boxes);
    WorkingFolder folder;
    QVERIFY(folder.writeIni("[Options]\nComms_Port=1\nIP_Address=127.0.0.1\n"));
    MessageRecorder messages;
    auto form = makeMainForm();
    for (int i = 0; i < 4; ++i)
        editBox(*form, 23 + i)->setText(boxes[i]);
    form->connectionPage()->BitBtn2->click();
    QCOMPARE(messages.texts(), QStringList{QStringLiteral("Invalid IP Address Selected.")});
    QCOMPARE(messages.messages.first().kind, MsgKind::Error);
    QCOMPARE(form->IPAddress, QStringLiteral("127.0.0.1"));
    QVERIFY(!form->MBTcpClient.connected());
    QVERIFY(form->isEnabled());
    QVERIFY(!form->busyWindow()->isVisible());
}

void TestMainWindow::busyWindowCentredOnMainWindow()
{
    WorkingFolder folder;
    auto form = makeMainForm();
    for (const QPoint &at : {QPoint(10, 20), QPoint(333, 97)}) {
        form->move(at);
        QCoreApplication::processEvents();
        form->showBusy(QStringLiteral("Retrieving Network Settings...."));
        TMsg_Frm *busy = form->busyWindow();
        QVERIFY(busy->isVisible());
        QCOMPARE(busy->text(), QStringLiteral("Retrieving Network Settings...."));
        const QRect outer = form->frameGeometry();
        const QRect own = busy->frameGeometry();
        QCOMPARE(own.topLeft(), QPoint(outer.left() + (outer.width() - own.width()) / 2,
                                       outer.top() + (outer.height() - own.height()) / 2));
        form->hideBusy();
    }
}

void TestMainWindow::closeWithoutSession()
{
    WorkingFolder folder;
    MessageRecorder messages;
    auto form = makeMainForm();
    QVERIFY(form->close());
    QVERIFY(messages.messages.isEmpty());
    // The settings are not written on exit.
    QCOMPARE(folder.readIni(), QByteArray("[Options]\nComms_Port=1\nIP_Address=192.168.1.1\n"));
}

void TestMainWindow::delayServesTimersAndEnds()
{
    int ticks = 0;
    QTimer timer;
    connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(20);
    QElapsedTimer clock;
    clock.start();
    Delay(200);
    const qint64 took = clock.elapsed();
    QVERIFY2(took >= 200 && took < 600, qPrintable(QString::number(took)));
    QVERIFY(ticks >= 3);
    clock.restart();
    Delay(0);
    Delay(-5);
    QVERIFY(clock.elapsed() < 100);
}

void TestMainWindow::pageRequestServedAtNextTick_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("request");
    QTest::addColumn<QString>("busyText");
    QTest::newRow("Button1") << "Button1" << int(Request::GetNetwork)
                             << "Retrieving Network Settings....";
    QTest::newRow("Button2") << "Button2" << int(Request::SendNetwork)
                             << "Transmitting New Network Settings....";
    QTest::newRow("Button5") << "Button5" << int(Request::GetG50) << "Retrieving G50 Settings....";
    QTest::newRow("Button6") << "Button6" << int(Request::SendG50)
                             << "Transmitting New G50 Settings....";
    QTest::newRow("Button3") << "Button3" << int(Request::GetBACnet)
                             << "Retrieving BACnet Settings....";
    QTest::newRow("Button4") << "Button4" << int(Request::SendBACnet)
                             << "Transmitting BACnet Settings....";
    QTest::newRow("Button9") << "Button9" << int(Request::GetNames)
                             << "Retrieving Object Names....";
    QTest::newRow("Button10") << "Button10" << int(Request::SendNames)
                              << "Transmitting Object Names....";
}

void TestMainWindow::pageRequestServedAtNextTick()
{
    QFETCH(QString, button);
    QFETCH(int, request);
    QFETCH(QString, busyText);
    WorkingFolder folder;
    auto form = makeMainForm();
    QList<Request> served;
    QElapsedTimer clock;
    qint64 servedAt = -1;
    form->scheduler().setRequestObserver([&](Request r) {
        served << r;
        servedAt = clock.elapsed();
    });
    startScheduling(*form);
    auto *b = named<QPushButton>(form.get(), button);
    b->setEnabled(true);
    clock.start();
    b->click();
    QVERIFY(form->scheduler().isPending(Request(request)));
    QVERIFY(!form->isEnabled());
    QVERIFY(!form->pageControl()->isEnabled());
    QVERIFY(!b->isEnabled());
    QVERIFY(form->busyWindow()->isVisible());
    QCOMPARE(form->busyWindow()->text(), busyText);
    QVERIFY(QGuiApplication::overrideCursor());
    QTRY_VERIFY_WITH_TIMEOUT(!served.isEmpty(), 1500);
    QVERIFY2(servedAt <= 1100, qPrintable(QString::number(servedAt)));
    QCOMPARE(served.first(), Request(request));
    QTRY_VERIFY_WITH_TIMEOUT(form->isEnabled(), 1000);
    QVERIFY(!form->scheduler().isPending(Request(request)));
    QVERIFY(!form->busyWindow()->isVisible());
    QVERIFY(!QGuiApplication::overrideCursor());
    QVERIFY(form->Timer2->isActive());
}

void TestMainWindow::flagLoweredBeforeOrAfterOperation_data()
{
    QTest::addColumn<int>("request");
    QTest::addColumn<bool>("raisedDuring");
    for (const RequestRow &row : RequestTable)
        QTest::newRow(row.flagName) << int(row.request) << !row.clearBefore;
}

void TestMainWindow::flagLoweredBeforeOrAfterOperation()
{
    QFETCH(int, request);
    QFETCH(bool, raisedDuring);
    WorkingFolder folder;
    auto form = makeMainForm();
    bool seen = false;
    bool raised = false;
    form->scheduler().setRequestObserver([&](Request r) {
        seen = r == Request(request);
        raised = form->scheduler().isPending(r);
        // The MAC dialog is modal: close it as soon as it runs.
        if (r == Request::MACDialog)
            QTimer::singleShot(0, form->macDialog(), &QDialog::reject);
    });
    form->scheduler().setPending(Request(request), true);
    form->Timer2->start();
    form->DispatchRequest();
    QVERIFY(seen);
    QCOMPARE(raised, raisedDuring);
    QVERIFY(!form->scheduler().isPending(Request(request)));
    QVERIFY(form->Timer2->isActive());
}

void TestMainWindow::pageRequestBeforePendingPoll()
{
    WorkingFolder folder;
    auto form = makeMainForm();
    QList<Request> served;
    QElapsedTimer clock;
    QList<qint64> at;
    form->scheduler().setRequestObserver([&](Request r) {
        served << r;
        at << clock.elapsed();
    });
    startScheduling(*form);
    form->Timer1->stop();
    form->scheduler().setPending(Request::StatusPoll, true);
    clock.start();
    form->g50Page()->Button5Click();
    QTRY_COMPARE_WITH_TIMEOUT(served.size(), 2, 3000);
    QCOMPARE(served, (QList<Request>{Request::GetG50, Request::StatusPoll}));
    // One request per tick: the poll waits for the tick after the page request.
    QVERIFY2(at[1] - at[0] >= 900, qPrintable(QString::number(at[1] - at[0])));
}

void TestMainWindow::closeWhilePollPendingLeavesPollRaised()
{
    WorkingFolder folder;
    MessageRecorder messages;
    auto form = makeMainForm();
    QList<Request> served;
    form->scheduler().setRequestObserver([&](Request r) { served << r; });
    startScheduling(*form);
    form->scheduler().setPending(Request::StatusPoll, true);
    form->CloseConnection1Click();
    QVERIFY(messages.messages.isEmpty()); // nothing unsent: no question
    QVERIFY(form->scheduler().CloseRequested);
    QVERIFY(!form->Timer1->isActive());
    QCOMPARE(form->busyWindow()->text(), QStringLiteral("Closing Connection...."));
    QTRY_VERIFY_WITH_TIMEOUT(!form->CloseConnection1->isEnabled(), 1500);
    QVERIFY(served.isEmpty());
    QVERIFY(pending(*form, Request::StatusPoll));
    QVERIFY(!form->Timer1->isActive());
    QVERIFY(!form->Timer2->isActive());
    QVERIFY(form->isEnabled());
    QVERIFY(!form->busyWindow()->isVisible());
    QCOMPARE(visibleTabs(*form), QStringList{QStringLiteral("Choose Connection")});
}

void TestMainWindow::timer1RaisesPollAndIsRearmedAfterIt()
{
    WorkingFolder folder;
    auto form = makeMainForm();
    QList<Request> served;
    bool timer1RunningDuringPoll = true;
    form->scheduler().setRequestObserver([&](Request r) {
        served << r;
        timer1RunningDuringPoll = form->Timer1->isActive();
    });
    QElapsedTimer clock;
    clock.start();
    startScheduling(*form);
    QTRY_VERIFY_WITH_TIMEOUT(pending(*form, Request::StatusPoll) || !served.isEmpty(), 3000);
    QVERIFY(clock.elapsed() >= 1900);
    QVERIFY(!form->Timer1->isActive() || !served.isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(served.size(), 1, 2000);
    QVERIFY(!timer1RunningDuringPoll); // no second poll is requested while one is pending
    QVERIFY(form->Timer1->isActive());
    QVERIFY(!pending(*form, Request::StatusPoll));
}

void TestMainWindow::enableControlsHonoursHighlights()
{
    WorkingFolder folder;
    auto form = makeMainForm();
    form->setTabHighlighted(TMainForm::Tab::BACnet, true);
    form->setTabHighlighted(TMainForm::Tab::Names, true);
    form->DisableControls();
    for (QPushButton *b :
         {form->networkPage()->Button1, form->bacnetPage()->Button4, form->namesPage()->BitBtn3})
        QVERIFY(!b->isEnabled());
    QVERIFY(!form->isEnabled());
    form->EnableControls();
    QVERIFY(form->isEnabled());
    QVERIFY(form->networkPage()->Button1->isEnabled());
    QVERIFY(form->g50Page()->Button5->isEnabled());
    QVERIFY(form->bacnetPage()->Button4->isEnabled());
    QVERIFY(form->namesPage()->Button10->isEnabled());
    QVERIFY(!form->networkPage()->Button2->isEnabled());
    QVERIFY(!form->g50Page()->Button6->isEnabled());
}

void TestMainWindow::getDoesNotMarkPageButUserEditDoes()
{
    WorkingFolder folder;
    auto form = makeMainForm();
    // A get that fills the boxes while it loads the page.
    form->scheduler().setRequestObserver([&](Request r) {
        if (r == Request::GetNetwork) {
            const SessionPage::Loading loading(*form->networkPage());
            editBox(*form, 1)->setText(QStringLiteral("010"));
        }
    });
    form->networkPage()->Button1Click();
    form->Timer2->start();
    form->DispatchRequest();
    QCOMPARE(editBox(*form, 1)->text(), QStringLiteral("010"));
    QVERIFY(!form->isTabHighlighted(TMainForm::Tab::Network));
    QVERIFY(!form->networkPage()->Button2->isEnabled());
    // The same change made by the user marks the page.
    editBox(*form, 1)->setText(QStringLiteral("011"));
    QVERIFY(form->isTabHighlighted(TMainForm::Tab::Network));
    QVERIFY(form->networkPage()->Button2->isEnabled());
    // ResetDisplays clears the mark and does not set it again while clearing.
    form->ResetDisplays();
    QVERIFY(!form->isTabHighlighted(TMainForm::Tab::Network));
    QVERIFY(!form->networkPage()->Button2->isEnabled());
}

void TestMainWindow::errorInRequestIsRecovered()
{
    WorkingFolder folder;
    MessageRecorder messages;
    auto form = makeMainForm();
    QList<Request> served;
    form->scheduler().setRequestObserver([&](Request r) {
        served << r;
        if (r == Request::GetBACnet)
            throw std::runtime_error("bad block");
    });
    startScheduling(*form);
    form->bacnetPage()->Button3Click();
    QTRY_COMPARE_WITH_TIMEOUT(messages.messages.size(), 1, 1500);
    QVERIFY(messages.messages.first().text.contains(QStringLiteral("bad block")));
    QCOMPARE(messages.messages.first().kind, MsgKind::Error);
    QVERIFY(form->isEnabled());
    QVERIFY(form->bacnetPage()->Button3->isEnabled());
    QVERIFY(!form->busyWindow()->isVisible());
    QVERIFY(!QGuiApplication::overrideCursor());
    QVERIFY(!pending(*form, Request::GetBACnet));
    QVERIFY(form->Timer2->isActive());
    // The scheduler keeps serving.
    form->g50Page()->Button5Click();
    QTRY_VERIFY_WITH_TIMEOUT(served.contains(Request::GetG50), 1500);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
