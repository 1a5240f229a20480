// Serial sessions end to end: the main window opens a COM number that the
// naming layer maps to one end of a socat pty pair, with ravelin-sim serving
// Modbus RTU on the other end. Also the port search over mapped devices and a
// port that is in use or gone.

#include "AppTestKit.h"
#include "ConnectionPage.h"
#include "NetworkPage.h"
#include "SimProcess.h"
#include "SocatPair.h"
#include "VeskComms.h"

#include <QAction>
#include <QComboBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

namespace {

// Every COM number the search covers points at nothing unless the test says so.
class ComMapping
{
public:
    ComMapping()
    {
        for (int n = 1; n <= 32; ++n)
            qputenv(name(n), "/nonexistent/ravelin-test-port");
    }
    ~ComMapping()
    {
        for (int n = 1; n <= 32; ++n)
            qunsetenv(name(n));
    }
    ComMapping(const ComMapping &) = delete;
    ComMapping &operator=(const ComMapping &) = delete;
    void map(int n, const QString &device) { qputenv(name(n), QFile::encodeName(device)); }

private:
    static QByteArray name(int n) { return "RAVELIN_COM" + QByteArray::number(n); }
};

const QByteArray SeededIni("[Options]\nComms_Port=3\nIP_Address=127.0.0.1\n");

} // namespace

class TestSerialGui : public QObject
{
    Q_OBJECT
private slots:
    void session_data();
    void session();
    void portSearchListsMappedDevices();
    void portUnavailable_data();
    void portUnavailable();
    void restartReturnsOnTheSamePort();
};

void TestSerialGui::session_data()
{
    QTest::addColumn<QStringList>("simArguments");
    QTest::addColumn<QStringList>("toolArguments");
    QTest::addColumn<QString>("message"); // empty: accepted
    QTest::newRow("accepted") << QStringList{} << QStringList{} << QString();
    QTest::newRow("accepted in service mode")
        << QStringList{} << QStringList{"RAVELIN#SVC7"} << QString();
    // Two identity reads per press: the second one decides.
    QTest::newRow("only the first read answered")
        << QStringList{"--fail-after", "1"} << QStringList{}
        << "No Reply From Unit. Terminating Connection...";
    QTest::newRow("second read answered")
        << QStringList{"--fail-after", "2"} << QStringList{} << QString();
    QTest::newRow("foreign product") << QStringList{"--product", "4711"} << QStringList{}
                                     << "This unit is not a BACnet I/F. Terminating Connection...";
}

void TestSerialGui::session()
{
    QFETCH(QStringList, simArguments);
    QFETCH(QStringList, toolArguments);
    QFETCH(QString, message);
    SocatPair line;
    QVERIFY2(line.start(), "socat could not make a pty pair");
    SimProcess sim;
    QVERIFY(sim.startWith(QStringList{"--serial", line.a(), "--no-animate"} + simArguments));
    ComMapping ports;
    ports.map(3, line.b());
    WorkingFolder folder;
    QVERIFY(folder.writeIni(SeededIni));
    MessageRecorder messages;
    auto form = makeMainForm(toolArguments);
    form->Access.rtuTimeout = 5;
    QVERIFY(form->connectionPage()->ComboBox1->toolTip().contains(line.b()));
    form->connectionPage()->BitBtn1->click();

    if (!message.isEmpty()) {
        QCOMPARE(messages.texts(), QStringList{message});
        QVERIFY(!form->sessionOpen());
        QVERIFY(!form->Access.serialLink());
        QVERIFY(form->isEnabled());
        QCOMPARE(form->pageControl()->currentIndex(), int(TMainForm::Tab::Connection));
        return;
    }
    QVERIFY2(messages.messages.isEmpty(), qPrintable(messages.texts().join(QLatin1Char('|'))));
    QVERIFY(form->sessionOpen());
    QVERIFY(form->viaComPort());
    QVERIFY(form->Access.serialLink());
    QCOMPARE(form->portStatus(), QStringLiteral(" Port: COM3"));
    QCOMPARE(form->pageControl()->currentIndex(), int(TMainForm::Tab::Network));
    QCOMPARE(form->networkPage()->Button16->isHidden(), toolArguments.isEmpty());
    QVERIFY(!form->UpgradeFirmware1->isVisible());
    QVERIFY(form->Timer1->isActive());
    QVERIFY(form->Timer2->isActive());
    QCOMPARE(folder.readIni(), SeededIni); // a serial session saves nothing

    form->CloseConnection1Click();
    QTRY_VERIFY_WITH_TIMEOUT(!form->sessionOpen(), 2000);
    QVERIFY(!form->Access.serialLink());

    // The port is free again: another component can open it.
    TVeskComms other;
    other.DevicePath = line.b();
    QVERIFY(other.OpenPort());
    other.ClosePort();
}

void TestSerialGui::portSearchListsMappedDevices()
{
    SocatPair first, second;
    QVERIFY(first.start());
    QVERIFY(second.start());
    ComMapping ports;
    ports.map(5, second.b());
    ports.map(2, first.b());
    WorkingFolder folder;
    QVERIFY(folder.writeIni(SeededIni));
    auto form = makeMainForm();
    form->connectionPage()->BitBtn4->click();
    QComboBox *list = form->connectionPage()->ComboBox1;
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items << list->itemText(i);
    QCOMPARE(items, (QStringList{"COM2", "COM5"}));
    QCOMPARE(list->currentIndex(), -1);
    QCOMPARE(form->ComPort, 0);
    QVERIFY(!form->connectionPage()->BitBtn1->isEnabled());
    QVERIFY(form->connectionPage()->BitBtn4->isEnabled());
    QCOMPARE(folder.readIni(), SeededIni);
    QVERIFY(list->itemData(1, Qt::ToolTipRole).toString().contains(second.b()));

    // Picking a found port saves it and enables "Via COM Port".
    list->setCurrentIndex(1);
    emit list->activated(1);
    QCOMPARE(form->ComPort, 5);
    QVERIFY(form->connectionPage()->BitBtn1->isEnabled());
    QVERIFY(folder.readIni().contains("Comms_Port=5\n"));
}

void TestSerialGui::portUnavailable_data()
{
    QTest::addColumn<bool>("inUse");
    QTest::newRow("in use by another program") << true;
    QTest::newRow("device gone") << false;
}

void TestSerialGui::portUnavailable()
{
    QFETCH(bool, inUse);
    SocatPair line;
    QVERIFY(line.start());
    ComMapping ports;
    if (inUse)
        ports.map(3, line.b());
    TVeskComms holder;
    holder.DevicePath = line.b();
    if (inUse)
        QVERIFY(holder.OpenPort());
    WorkingFolder folder;
    QVERIFY(folder.writeIni(SeededIni));
    MessageRecorder messages;
    auto form = makeMainForm();
    form->connectionPage()->BitBtn1->click();
    QCOMPARE(messages.texts(), QStringList{QStringLiteral(
                                   "Unable To Open Comms Port [COM3].\nPlease Select Another.")});
    QCOMPARE(messages.messages.first().kind, MsgKind::Warning);
    QVERIFY(!form->sessionOpen());
    QVERIFY(!form->Access.serialLink());
    QVERIFY(form->isEnabled());
    QVERIFY(form->connectionPage()->BitBtn1->isEnabled());
    QCOMPARE(form->connectionPage()->ComboBox1->currentText(), QStringLiteral("COM3"));
    holder.ClosePort();
}

void TestSerialGui::restartReturnsOnTheSamePort()
{
    SocatPair line;
    QVERIFY2(line.start(), "socat could not make a pty pair");
    SimProcess sim;
    QVERIFY(
        sim.startWith(QStringList{"--serial", line.a(), "--no-animate", "--restart-ms", "3000"}));
    ComMapping ports;
    ports.map(3, line.b());
    WorkingFolder folder;
    QVERIFY(folder.writeIni(SeededIni));
    MessageRecorder messages;
    auto form = makeMainForm();
    form->Access.rtuTimeout = 5;
    form->setReconnectTiming({20000, 300});
    form->connectionPage()->BitBtn1->click();
    QVERIFY(form->sessionOpen());
    form->networkPage()->Button7->click(); // its question answered Yes
    QTRY_VERIFY_WITH_TIMEOUT(form->restartWaitWindow(), 5000);
    QVERIFY(!form->sessionOpen());
    // The unit is silent while it restarts; the attempts wait for it on COM3.
    QTRY_VERIFY_WITH_TIMEOUT(form->sessionOpen(), 20000);
    QVERIFY(form->viaComPort());
    QCOMPARE(form->portStatus(), QStringLiteral(" Port: COM3"));
    QVERIFY(form->restartWaitWindow()->wait().attempts() >= 2);
    QCOMPARE(messages.texts().last(), QStringLiteral("The unit is back at COM3."));
    // The serial return keeps the remembered network address.
    QVERIFY(folder.readIni().startsWith(SeededIni));
    form->CloseConnection1Click();
    QTRY_VERIFY_WITH_TIMEOUT(!form->sessionOpen(), 2000);
}

QTEST_MAIN(TestSerialGui)
#include "tst_serialgui.moc"
