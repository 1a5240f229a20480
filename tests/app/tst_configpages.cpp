// The Network, G50 and BACnet pages against the simulator on loopback, with
// the scheduler stepped one tick at a time: what a get shows and whether it
// marks the page, which registers a send writes (read back over a second
// connection), refused entries with their message and focus, where a failing
// block stops a chain, the BACnet check boxes, and the restart command.

#include "AppTestKit.h"
#include "BACnetPage.h"
#include "ConnectionPage.h"
#include "G50Page.h"
#include "NetworkPage.h"
#include "SimProcess.h"
#include "TcpClient.h"

#include <QCheckBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QToolButton>
#include <QToolTip>
#include <QtTest>

namespace {

using Regs = QList<quint16>;

const QString NetworkSent = QStringLiteral(
    "Network Settings Transmitted OK.\nPlease restart the unit for these changes to take effect.");
const QString G50Sent = QStringLiteral(
    "G50 Settings Transmitted OK.\nPlease restart the unit for these changes to take effect.");
const QString BACnetSent = QStringLiteral(
    "BACnet Settings Transmitted OK.\nPlease restart the unit for these changes to take effect.");

// The tool in a session with a simulated unit, and a second connection to
// that unit for seeding and checking its registers.
class Bench
{
public:
    ~Bench()
    {
        if (form && form->sessionOpen()) {
            form->BeginClose();
            form->EndSession();
        }
        m_client.close();
        sim.stop();
    }

    bool open(const QStringList &simArguments = {})
    {
        if (!sim.start(QStringList{QStringLiteral("--no-animate")} + simArguments) ||
            !folder.writeIni("[Options]\nComms_Port=1\nIP_Address=127.0.0.1\n"))
            return false;
        qputenv("RAVELIN_TCP_PORT", QByteArray::number(sim.port()));
        form = makeMainForm();
        form->scheduler().setStepped(true);
        const QStringList loopback{"127", "0", "0", "1"};
        for (int i = 0; i < 4; ++i)
            editBox(*form, 23 + i)->setText(loopback[i]);
        form->connectionPage()->BitBtn2->click();
        m_client.setRemoteHost(sim.host());
        m_client.setRemotePort(sim.port());
        m_raw.useTcp(m_client);
        return form->sessionOpen() && m_client.open();
    }

    Regs read(int unit, int start, int count)
    {
        std::vector<std::uint16_t> values(std::size_t(count), 0);
        if (m_raw.ReadRegisters(unit, FnReadBlock, std::uint16_t(start), std::uint16_t(count),
                                values.data()) != ResultGood)
            return {};
        return Regs(values.begin(), values.end());
    }
    bool write(int unit, int start, const Regs &values)
    {
        const std::vector<std::uint16_t> v(values.begin(), values.end());
        return m_raw.WriteRegisters(unit, FnWriteBlock, std::uint16_t(start),
                                    std::uint16_t(v.size()), v.data()) == ResultGood;
    }

    // A button press served at the scheduler's next tick.
    void run(QPushButton *button)
    {
        button->click();
        form->Timer2->fire();
    }
    // "n=text" types into Edit<n>; "CheckBox<n>=0|1" clears or ticks a box.
    void enter(const QStringList &entries)
    {
        for (const QString &entry : entries) {
            const QString key = entry.section(QLatin1Char('='), 0, 0);
            const QString value = entry.section(QLatin1Char('='), 1);
            if (key.startsWith(QLatin1String("CheckBox")))
                named<QCheckBox>(form.get(), key)->setChecked(value == QLatin1String("1"));
            else
                editBox(*form, key.toInt())->setText(value);
        }
    }

    WorkingFolder folder;
    MessageRecorder messages;
    SimProcess sim;
    std::unique_ptr<TMainForm> form;

private:
    TTcpClient m_client; // before the facade that refers to it
    RegisterAccess m_raw;
};

// The page's get and send buttons, by tab.
struct PageButtons
{
    QPushButton *get;
    QPushButton *send;
};
PageButtons buttonsOf(TMainForm &form, TMainForm::Tab tab)
{
    switch (tab) {
    case TMainForm::Tab::Network:
        return {form.networkPage()->Button1, form.networkPage()->Button2};
    case TMainForm::Tab::G50:
        return {form.g50Page()->Button5, form.g50Page()->Button6};
    default:
        return {form.bacnetPage()->Button3, form.bacnetPage()->Button4};
    }
}

} // namespace

Q_DECLARE_METATYPE(TMainForm::Tab)

class TestConfigPages : public QObject
{
    Q_OBJECT

private slots:
    void init() { qunsetenv("RAVELIN_TCP_PORT"); }
    void getFillsWithoutMarking_data();
    void getFillsWithoutMarking();
    void networkGetShowsProductAndLock_data();
    void networkGetShowsProductAndLock();
    void sendWritesTheRegisters_data();
    void sendWritesTheRegisters();
    void refusalsStopAtTheFirstBadEntry_data();
    void refusalsStopAtTheFirstBadEntry();
    void deviceNameLengthBytes();
    void chainsStopAtTheFailingBlock();
    void productBlockFailingAlone_data();
    void productBlockFailingAlone();
    void bacnetCheckBoxesAndPanel2();
    void foreignDeviceBoxesAfterGet_data();
    void foreignDeviceBoxesAfterGet();
    void oldFirmwareAndInvalidInstance();
    void restart_data();
    void restart();
};

void TestConfigPages::getFillsWithoutMarking_data()
{
    QTest::addColumn<TMainForm::Tab>("tab");
    QTest::addColumn<int>("box");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("editedBefore");
    for (bool edited : {false, true}) {
        const char *suffix = edited ? " while highlighted" : "";
        QTest::addRow("network%s", suffix) << TMainForm::Tab::Network << 3 << "002" << edited;
        QTest::addRow("g50%s", suffix) << TMainForm::Tab::G50 << 16 << "020" << edited;
        QTest::addRow("bacnet%s", suffix) << TMainForm::Tab::BACnet << 21 << "5173" << edited;
    }
}

void TestConfigPages::getFillsWithoutMarking()
{
    QFETCH(TMainForm::Tab, tab);
    QFETCH(int, box);
    QFETCH(QString, shown);
    QFETCH(bool, editedBefore);
    Bench bench;
    QVERIFY(bench.open());
    const PageButtons buttons = buttonsOf(*bench.form, tab);
    if (editedBefore)
        editBox(*bench.form, box)->setText(QStringLiteral("9"));
    bench.run(buttons.get);
    QVERIFY2(bench.messages.messages.isEmpty(), qPrintable(bench.messages.texts().join('|')));
    QCOMPARE(editBox(*bench.form, box)->text(), shown);
    QCOMPARE(bench.form->isTabHighlighted(tab), editedBefore);
    QCOMPARE(buttons.send->isEnabled(), editedBefore);
    QVERIFY(buttons.get->isEnabled());
}

void TestConfigPages::networkGetShowsProductAndLock_data()
{
    QTest::addColumn<int>("lockWord");
    QTest::addColumn<bool>("ticked");
    QTest::newRow("61404: forbidden") << 61404 << false;
    QTest::newRow("0: allowed") << 0 << true;
    QTest::newRow("1: allowed") << 1 << true;
}

void TestConfigPages::networkGetShowsProductAndLock()
{
    QFETCH(int, lockWord);
    QFETCH(bool, ticked);
    Bench bench;
    QVERIFY(bench.open());
    QVERIFY(bench.write(SystemUnitId, 32, {quint16(lockWord)}));
    QVERIFY(bench.write(NetworkUnitId, 8, {1000})); // too wide for an octet box
    NetworkPage *page = bench.form->networkPage();
    page->CheckBox3->setChecked(!ticked);
    bench.form->setTabHighlighted(TMainForm::Tab::Network, false);
    bench.run(page->Button1);
    QCOMPARE(page->CheckBox3->isChecked(), ticked);
    QCOMPARE(page->Label3->text(), QStringLiteral("QX5173 v1.34"));
    QCOMPARE(page->Label2->text(), QStringLiteral("02:7A:1C:05:17:3A"));
    QCOMPARE(page->UnitMacOctets, (std::array<int, 6>{0x02, 0x7A, 0x1C, 0x05, 0x17, 0x3A}));
    QVERIFY(!bench.form->isTabHighlighted(TMainForm::Tab::Network));

    // The wide value is shown whole and refused when sent back.
    QCOMPARE(editBox(*bench.form, 2)->text(), QStringLiteral("1000"));
    editBox(*bench.form, 1)->setText(QStringLiteral("19"));  // an edit that restores the
    editBox(*bench.form, 1)->setText(QStringLiteral("192")); // old text still marks
    bench.run(page->Button2);
    QCOMPARE(bench.messages.texts(),
             QStringList{"Unable To Send New Network Settings Due To Invalid Data."});
    QCOMPARE(bench.read(NetworkUnitId, 8, 1), Regs{1000});
}

void TestConfigPages::sendWritesTheRegisters_data()
{
    QTest::addColumn<TMainForm::Tab>("tab");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<int>("unit");
    QTest::addColumn<int>("start");
    QTest::addColumn<Regs>("expected");
    QTest::addColumn<QString>("message");
    const auto net = TMainForm::Tab::Network;
    const auto bac = TMainForm::Tab::BACnet;
    const QStringList addresses{"1=10", "2=0",  "3=007", "4=7",    "5=10",   "6=0",
                                "7=0",  "8=$1", "9=255", "10=255", "11=0x0", "12=0"};
    QTest::newRow("network addresses")
        << net << addresses << 20 << 7 << Regs{10, 0, 7, 7, 10, 0, 0, 1, 255, 255, 0, 0}
        << NetworkSent;
    QTest::newRow("lock: cleared box forbids")
        << net << QStringList{"CheckBox3=0"} << 19 << 32 << Regs{61404} << NetworkSent;
    QTest::newRow("lock: ticked box allows")
        << net << QStringList{"CheckBox3=0", "CheckBox3=1"} << 19 << 32 << Regs{0} << NetworkSent;
    QTest::newRow("g50") << TMainForm::Tab::G50 << QStringList{"13=10", "14=1", "15=02", "16=3"}
                         << 20 << 19 << Regs{10, 1, 2, 3} << G50Sent;
    QTest::newRow("instance 4194302")
        << bac << QStringList{"21=4194302"} << 22 << 0 << Regs{3076, 575, 65534} << BACnetSent;
    QTest::newRow("instance 70000")
        << bac << QStringList{"21=70000"} << 22 << 0 << Regs{3076, 513, 4464} << BACnetSent;
    QTest::newRow("name AB") << bac << QStringList{"22=AB"} << 22 << 3
                             << Regs{1795, 65, 16896} + Regs(8, 0) << BACnetSent;
    QTest::newRow("empty name") << bac << QStringList{"22="} << 22 << 3 << Regs{1793} + Regs(10, 0)
                                << BACnetSent;
    QTest::newRow("Latin-1 name sent as its bytes")
        << bac << QStringList{QStringLiteral("22=\u00c5s")} << 22 << 3
        << Regs{1795, 0xC5, 0x7300} + Regs(8, 0) << BACnetSent;
    QTest::newRow("not registering: zeros and TTL 1800")
        << bac << QStringList{"CheckBox1=1", "CheckBox2=0", "17=300", "28=abc"} << 21 << 4
        << Regs{1, 0, 0, 0, 0, 0, 1800} << BACnetSent;
    QTest::newRow("not registering: a usable TTL is kept")
        << bac << QStringList{"CheckBox1=0", "CheckBox2=0", "28=600"} << 21 << 4
        << Regs{0, 0, 0, 0, 0, 0, 600} << BACnetSent;
    QTest::newRow("registering with a BBMD")
        << bac << QStringList{"CheckBox2=1", "17=10", "18=0", "19=0", "20=9", "28=65535"} << 21 << 4
        << Regs{1, 1, 10, 0, 0, 9, 65535} << BACnetSent;
}

void TestConfigPages::sendWritesTheRegisters()
{
    QFETCH(TMainForm::Tab, tab);
    QFETCH(QStringList, entries);
    QFETCH(int, unit);
    QFETCH(int, start);
    QFETCH(Regs, expected);
    QFETCH(QString, message);
    Bench bench;
    QVERIFY(bench.open());
    const PageButtons buttons = buttonsOf(*bench.form, tab);
    bench.run(buttons.get);
    bench.enter(entries);
    QVERIFY(bench.form->isTabHighlighted(tab));
    bench.run(buttons.send);
    QCOMPARE(bench.messages.texts(), QStringList{message});
    QCOMPARE(bench.read(unit, start, int(expected.size())), expected);
    QVERIFY(!bench.form->isTabHighlighted(tab));
    QVERIFY(!buttons.send->isEnabled());
}

void TestConfigPages::refusalsStopAtTheFirstBadEntry_data()
{
    QTest::addColumn<TMainForm::Tab>("tab");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("focus");
    QTest::addColumn<QString>("message");
    const auto net = TMainForm::Tab::Network;
    const auto bac = TMainForm::Tab::BACnet;
    const QString netText =
        QStringLiteral("Unable To Send New Network Settings Due To Invalid Data.");
    const QString id =
        QStringLiteral("Unable To Send New BACnet Configuration Due To Invalid Device ID.");
    const QString bbmd =
        QStringLiteral("Unable To Send New BACnet configuration Due To Invalid BBMD Address.");
    const QString ttl =
        QStringLiteral("Unable To Send New BACnet Configuration Due To Invalid TTL Entry.");
    QTest::newRow("256, then a gateway letter")
        << net << QStringList{"2=256", "5=a"} << "Edit2" << netText;
    QTest::newRow("1.2") << net << QStringList{"12=1.2"} << "Edit12" << netText;
    QTest::newRow("g50 256") << TMainForm::Tab::G50 << QStringList{"15=256", "16="} << "Edit15"
                             << "Unable To Send New G50 Settings Due To Invalid Data.";
    QTest::newRow("instance before BBMD")
        << bac << QStringList{"21=4194303", "CheckBox2=1", "17=300"} << "Edit21" << id;
    QTest::newRow("name without one-byte codes")
        << bac << QStringList{QStringLiteral("22=Hall \u2116 3")} << "Edit22"
        << "Unable To Send New BACnet Configuration Due To Invalid Device Name.\nThe Name Takes "
           "Up To 19 Characters, Each With A Single-Byte (Latin-1) Code.";
    QTest::newRow("BBMD before TTL")
        << bac << QStringList{"CheckBox2=1", "17=1", "18=300", "28=0"} << "Edit18" << bbmd;
    QTest::newRow("TTL 0") << bac << QStringList{"CheckBox2=1", "28=0"} << "Edit28" << ttl;
    QTest::newRow("TTL empty") << bac << QStringList{"CheckBox2=1", "28="} << "Edit28" << ttl;
}

void TestConfigPages::refusalsStopAtTheFirstBadEntry()
{
    QFETCH(TMainForm::Tab, tab);
    QFETCH(QStringList, entries);
    QFETCH(QString, focus);
    QFETCH(QString, message);
    Bench bench;
    QVERIFY(bench.open());
    bench.form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(bench.form.get()));
    const PageButtons buttons = buttonsOf(*bench.form, tab);
    bench.form->pageControl()->setCurrentIndex(int(tab));
    bench.run(buttons.get);
    const Regs before = bench.read(NetworkUnitId, 7, 16) + bench.read(BACnetUnitId, 0, 14) +
                        bench.read(StatusUnitId, 4, 7) + bench.read(SystemUnitId, 32, 1);
    bench.enter(entries);
    bench.run(buttons.send);
    QCOMPARE(bench.messages.texts(), QStringList{message});
    // The window's focus child: with its message box answered by the test,
    // the window is not activated again as it would be on a desktop.
    const auto focused = [&bench] {
        QWidget *widget = bench.form->focusWidget();
        return widget ? widget->objectName() : QString();
    };
    QTRY_COMPARE(focused(), focus);
    const Regs after = bench.read(NetworkUnitId, 7, 16) + bench.read(BACnetUnitId, 0, 14) +
                       bench.read(StatusUnitId, 4, 7) + bench.read(SystemUnitId, 32, 1);
    QCOMPARE(after, before);
    for (const QString &entry : entries)
        if (entry.section('=', 0, 0) == focus.mid(4)) // the box keeps what was typed
            QCOMPARE(named<QLineEdit>(bench.form.get(), focus)->text(), entry.section('=', 1));
    QVERIFY(bench.form->isTabHighlighted(tab));
    QVERIFY(buttons.send->isEnabled());
}

void TestConfigPages::deviceNameLengthBytes()
{
    Bench bench;
    QVERIFY(bench.open());
    BACnetPage *page = bench.form->bacnetPage();
    // Byte 1 is the length + 1; 0 and 1 read as an empty name, above 20 as 19 characters.
    const QByteArray text = "ABCDEFGHIJKLMNOPQRSTU";
    for (int lengthByte : {0, 1, 3, 21, 200}) {
        Regs name{quint16(0x0700 | lengthByte), quint16(text[0])};
        for (int i = 1; i + 1 < 19; i += 2)
            name << quint16(text[i] << 8 | text[i + 1]);
        QVERIFY(bench.write(BACnetUnitId, 3, name));
        bench.run(page->Button3);
        QCOMPARE(page->Edit22->text(),
                 QString::fromLatin1(text.left(std::clamp(lengthByte - 1, 0, 19))));
    }
    QVERIFY(bench.messages.messages.isEmpty());
}

void TestConfigPages::chainsStopAtTheFailingBlock()
{
    // The device name block (22:3) and the configuration lock (19:32) fail.
    Bench bench;
    QVERIFY(bench.open({QStringLiteral("--exception"), QStringLiteral("22:3"),
                        QStringLiteral("--exception"), QStringLiteral("19:32")}));
    BACnetPage *bacnet = bench.form->bacnetPage();
    bacnet->Edit22->setText(QStringLiteral("typed"));
    bench.run(bacnet->Button3);
    QCOMPARE(bench.messages.texts(), QStringList{"Error Retrieving BACnet Settings."});
    QCOMPARE(bacnet->Edit21->text(), QStringLiteral("5173")); // read before the failure
    QCOMPARE(bacnet->Edit22->text(), QStringLiteral("typed"));
    QCOMPARE(bacnet->Edit28->text(), QString()); // the options were not read

    bacnet->Edit21->setText(QStringLiteral("70000"));
    bench.messages.messages.clear();
    bench.run(bacnet->Button4);
    QCOMPARE(bench.messages.texts(), QStringList{"Error Transmitting BACnet Settings."});
    QCOMPARE(bench.read(BACnetUnitId, 1, 2), (Regs{513, 4464})); // the identifier went first
    QVERIFY(bench.form->isTabHighlighted(TMainForm::Tab::BACnet));

    // The lock was not read, so only the addresses are written.
    NetworkPage *network = bench.form->networkPage();
    bench.messages.messages.clear();
    bench.run(network->Button1);
    QCOMPARE(bench.messages.texts(), QStringList{"Error Retrieving Network Settings."});
    QCOMPARE(network->Label3->text(), QStringLiteral("QX5173 v1.34"));
    editBox(*bench.form, 4)->setText(QStringLiteral("99"));
    bench.messages.messages.clear();
    bench.run(network->Button2);
    QCOMPARE(bench.messages.texts(),
             QStringList{NetworkSent + "\nNot sent: Allow Config Via Network, not read from this "
                                       "unit in this session. Use \"Get From Unit\" first to "
                                       "send it."});
    QCOMPARE(bench.read(NetworkUnitId, 10, 1), Regs{99});
    QCOMPARE(editBox(*bench.form, 4)->text(), QStringLiteral("99"));

    // The session is still usable.
    bench.messages.messages.clear();
    bench.run(bench.form->g50Page()->Button5);
    QVERIFY(bench.messages.messages.isEmpty());
    QCOMPARE(editBox(*bench.form, 13)->text(), QStringLiteral("192"));
}

void TestConfigPages::productBlockFailingAlone_data()
{
    QTest::addColumn<QStringList>("simArguments");
    // The product block (19:20, 8 registers) fails; the identity read at
    // session start (19:20, 2 registers) does not.
    QTest::newRow("exception") << QStringList{"--exception", "19:20:8"};
    // The identity, the product block kept for checking writes and the
    // addresses are answered, then nothing more.
    QTest::newRow("falling silent") << QStringList{"--fail-after", "3"};
}

void TestConfigPages::productBlockFailingAlone()
{
    QFETCH(QStringList, simArguments);
    Bench bench;
    QVERIFY(bench.open(simArguments));
    bench.form->Access.tcpTimeout = 3;
    NetworkPage *page = bench.form->networkPage();
    bench.run(page->Button1);
    QCOMPARE(bench.messages.texts(), QStringList{"Error Retrieving Network Settings."});
    QCOMPARE(editBox(*bench.form, 4)->text(), QStringLiteral("010"));
    QCOMPARE(page->Label2->text(), QStringLiteral("00:00:00:00:00:00"));
    QCOMPARE(page->Label3->text(), QStringLiteral("QX???? v?.??"));
    QCOMPARE(page->UnitMacOctets, (std::array<int, 6>{}));
    QVERIFY(!page->CheckBox3->isChecked()); // the lock was not read
    QVERIFY(!bench.form->isTabHighlighted(TMainForm::Tab::Network));
    // The session stays usable.
    QVERIFY(bench.form->sessionOpen());
    QVERIFY(bench.form->isEnabled() && page->Button1->isEnabled());
    QVERIFY(bench.form->Timer2->isActive());
}

void TestConfigPages::bacnetCheckBoxesAndPanel2()
{
    Bench bench;
    QVERIFY(bench.open());
    BACnetPage *page = bench.form->bacnetPage();
    QVERIFY(!page->Panel2->isEnabled());
    QVERIFY(!page->bbmdBoxes[0]->isEnabled());
    page->CheckBox2->click();
    QVERIFY(page->Panel2->isEnabled());
    QVERIFY(page->Edit28->isEnabled());
    QVERIFY(bench.form->isTabHighlighted(TMainForm::Tab::BACnet));

    // Only 1 reads as ticked; the program's change does not mark the page.
    QVERIFY(bench.write(StatusUnitId, 4, {2, 2}));
    bench.form->setTabHighlighted(TMainForm::Tab::BACnet, false);
    page->CheckBox1->setChecked(true);
    bench.form->setTabHighlighted(TMainForm::Tab::BACnet, false);
    bench.run(page->Button3);
    QVERIFY(!page->CheckBox1->isChecked());
    QVERIFY(!page->CheckBox2->isChecked());
    QVERIFY(!page->Panel2->isEnabled());
    QVERIFY(!page->bbmdBoxes[0]->isEnabled());
    QVERIFY(!bench.form->isTabHighlighted(TMainForm::Tab::BACnet));

    // Each check box's hint appears as soon as the mouse moves over it.
    for (QCheckBox *box : {page->CheckBox1, page->CheckBox2}) {
        QToolTip::hideText();
        const QPoint local(5, 5);
        QMouseEvent move(QEvent::MouseMove, local, box->mapToGlobal(local), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(box, &move);
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), box->toolTip());
    }
    QCOMPARE(page->CheckBox1->toolTip().count('\n'), 3);
    QCOMPARE(page->CheckBox2->toolTip(),
             QStringLiteral("Tick If Quorix Unit Needs to Register Itself With A BBMD"));
}

void TestConfigPages::foreignDeviceBoxesAfterGet_data()
{
    QTest::addColumn<QString>("firmware");
    QTest::addColumn<int>("registered"); // register 5 as read
    QTest::addColumn<bool>("editable");
    QTest::newRow("1.30, registered") << "130" << 1 << true;
    QTest::newRow("1.30, not registered") << "130" << 0 << false;
    QTest::newRow("1.20 has no registration") << "120" << 1 << false;
}

void TestConfigPages::foreignDeviceBoxesAfterGet()
{
    QFETCH(QString, firmware);
    QFETCH(int, registered);
    QFETCH(bool, editable);
    Bench bench;
    QVERIFY(bench.open({QStringLiteral("--firmware"), firmware}));
    QVERIFY(bench.write(StatusUnitId, 5, {quint16(registered)}));
    BACnetPage *page = bench.form->bacnetPage();
    bench.run(page->Button3);
    // The get runs with the window disabled; the boxes follow the value read.
    for (QWidget *box :
         {static_cast<QWidget *>(page->Edit28), static_cast<QWidget *>(page->bbmdBoxes[0])})
        QCOMPARE(box->isEnabled(), editable);
}

void TestConfigPages::oldFirmwareAndInvalidInstance()
{
    Bench bench;
    QVERIFY(bench.open({QStringLiteral("--firmware"), QStringLiteral("120")}));
    BACnetPage *bacnet = bench.form->bacnetPage();
    QVERIFY(!bacnet->CheckBox2->isEnabled());
    QVERIFY(bench.write(StatusUnitId, 5, {1}));
    QVERIFY(bench.write(BACnetUnitId, 0, {3076, 575, 65535}));
    bench.run(bacnet->Button3);
    QVERIFY(bacnet->CheckBox2->isChecked());
    QVERIFY(!bacnet->CheckBox2->isEnabled());
    // This firmware does not register as a foreign device: nothing to edit.
    QVERIFY(!bacnet->Panel2->isEnabled());
    QVERIFY(!bacnet->Edit28->isEnabled());
    QCOMPARE(bacnet->Edit21->text(), QStringLiteral("4194303"));
    QVERIFY(!bacnet->Label26->isHidden());
    bacnet->Edit21->setText(QStringLiteral("100")); // an edit leaves the label alone
    QVERIFY(!bacnet->Label26->isHidden());
    QVERIFY(bench.write(BACnetUnitId, 0, {3076, 512, 100}));
    bench.run(bacnet->Button3);
    QVERIFY(bacnet->Label26->isHidden());

    // The lock box is hidden before 1.34; its cleared box was never read, so
    // a send leaves the lock alone (61404 would lock the site out).
    NetworkPage *network = bench.form->networkPage();
    QVERIFY(network->CheckBox3->isHidden());
    for (int n = 1; n <= 12; ++n)
        editBox(*bench.form, n)->setText(QStringLiteral("1"));
    bench.run(network->Button2);
    QVERIFY(bench.messages.texts().last().startsWith(NetworkSent + "\nNot sent: Allow Config"));
    QCOMPARE(bench.read(NetworkUnitId, 7, 12), Regs(12, 1));
    QCOMPARE(bench.read(SystemUnitId, 32, 1), Regs{0});
}

void TestConfigPages::restart_data()
{
    QTest::addColumn<QStringList>("simArguments");
    QTest::addColumn<bool>("unsent");
    QTest::addColumn<QList<MsgAnswer>>("answers");
    QTest::addColumn<int>("questions");
    QTest::addColumn<bool>("raised");
    QTest::addColumn<QString>("error");
    const QList<MsgAnswer> yesYes{MsgAnswer::Yes, MsgAnswer::Yes};
    QTest::newRow("nothing unsent") << QStringList{} << false << yesYes << 1 << true << "";
    QTest::newRow("unsent, yes twice") << QStringList{} << true << yesYes << 2 << true << "";
    QTest::newRow("unsent, no") << QStringList{} << true << QList<MsgAnswer>{MsgAnswer::No} << 1
                                << false << "";
    QTest::newRow("unsent, yes then no")
        << QStringList{} << true << QList<MsgAnswer>{MsgAnswer::Yes, MsgAnswer::No} << 2 << false
        << "";
    QTest::newRow("refused by the unit") << QStringList{"--exception", "19:29"} << false << yesYes
                                         << 1 << true << "Error Transmitting Restart Command.";
}

void TestConfigPages::restart()
{
    QFETCH(QStringList, simArguments);
    QFETCH(bool, unsent);
    QFETCH(QList<MsgAnswer>, answers);
    QFETCH(int, questions);
    QFETCH(bool, raised);
    QFETCH(QString, error);
    Bench bench;
    QVERIFY(bench.open(simArguments));
    if (unsent)
        editBox(*bench.form, 13)->setText(QStringLiteral("1"));
    bench.messages.answers = answers;
    bench.form->networkPage()->Button7->click();
    const QStringList asked{
        QStringLiteral("There are changes that haven't been sent to the Ravelin\nRestarting the "
                       "unit will discard these changes.\nOK to continue?"),
        QStringLiteral("Restarting The Unit Will Close This Connection.\nAre You Sure You Want To "
                       "Continue?")};
    QCOMPARE(bench.messages.texts(), asked.mid(unsent ? 0 : 1, questions));
    QCOMPARE(pending(*bench.form, Request::Restart), raised);
    QVERIFY(bench.form->isEnabled()); // the restart leaves the window usable until served
    bench.messages.messages.clear();
    bench.form->Timer2->fire();
    if (!raised || !error.isEmpty()) {
        QCOMPARE(bench.messages.texts(), error.isEmpty() ? QStringList{} : QStringList{error});
        QVERIFY(bench.form->sessionOpen());
        QVERIFY(!bench.form->scheduler().CloseRequested);
        QVERIFY(bench.form->Timer2->isActive());
        return;
    }
    QVERIFY(bench.messages.messages.isEmpty()); // no message for the restart itself
    QVERIFY(bench.form->scheduler().CloseRequested);
    bench.form->Timer2->fire();
    QVERIFY(!bench.form->sessionOpen());
}

QTEST_MAIN(TestConfigPages)
#include "tst_configpages.moc"
