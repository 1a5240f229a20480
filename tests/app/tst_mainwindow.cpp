// The main window without a unit: start-up state, the settings file in the
// working folder, the port list, address validation, the busy window and the
// close guard.

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
        QCOMPARE(folder.readIni(), freshIni("[Options]\nComms_Port=1\nIP_Address=192.168.1.1\n"));
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
    qunsetenv("RAVELIN_COM1");
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
    QCOMPARE(folder.readIni(), freshIni("[Options]\nComms_Port=1\nIP_Address=192.168.1.1\n"));
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
    // Ends no sooner than asked; the upper bound only catches a wait that
    // never ends, since a loaded machine may serve events late.
    QVERIFY2(took >= 200 && took < 5000, qPrintable(QString::number(took)));
    QVERIFY(ticks >= 3);
    clock.restart();
    Delay(0);
    Delay(-5);
    QVERIFY(clock.elapsed() < 2000);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
