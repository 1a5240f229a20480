// Reading the pages as a session opens, and Cancel on the operations of many
// blocks, end to end against ravelin-sim: over Modbus TCP on loopback and over
// Modbus RTU on a socat pty pair. Each case checks the requests the simulator
// logged, so a frame sent after Cancel, or a page read nobody asked for,
// shows up whatever the window says.

#include "AppSettings.h"
#include "BACnetPage.h"
#include "ConfigFiles.h"
#include "ConnectionPage.h"
#include "G50Page.h"
#include "MsgFrm.h"
#include "NamesPage.h"
#include "NetworkPage.h"
#include "SimProcess.h"
#include "SimSession.h"
#include "SimTrace.h"
#include "SocatPair.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QToolButton>

namespace {

const QByteArray SeededIni("[Options]\nComms_Port=3\nIP_Address=127.0.0.1\n");

// "unit:start" of every request a --verbose simulator took, in order.
QStringList loggedRequests(const QString &output)
{
    QStringList requests;
    for (const QString &line : output.split(QLatin1Char('\n'))) {
        if (!line.contains(QLatin1String(" RX unit=")))
            continue;
        QString unit, start;
        for (const QString &field : line.split(QLatin1Char(' '))) {
            if (field.startsWith(QLatin1String("unit=")))
                unit = field.mid(5);
            else if (field.startsWith(QLatin1String("start=")))
                start = field.mid(6);
        }
        requests << unit + QLatin1Char(':') + start;
    }
    return requests;
}

QString at(const RegisterBlock &block)
{
    return QStringLiteral("%1:%2").arg(block.unitId).arg(block.start);
}

// Requests of object names first to last ("26:0" is name 1).
QStringList nameRequests(int first, int last)
{
    QStringList requests;
    for (int n = first; n <= last; ++n)
        requests << at(objectNameBlock(n));
    return requests;
}

QStringList namesOnly(const QStringList &requests)
{
    return requests.filter(QRegularExpression(QStringLiteral("^%1:").arg(NamesUnitId)));
}

// The unit on the other end of the window: the simulator over TCP, or over
// RTU with COM3 mapped to a pty pair's other end.
struct Bench
{
    WorkingFolder folder;
    SocatPair line;
    SimProcess sim;
    MessageRecorder messages;
    std::unique_ptr<TMainForm> form;
    QList<FileDialogKind> asked;

    Bench()
    {
        setFileDialogInterceptor([this](FileDialogKind kind, const QString &suggested) {
            asked << kind;
            return std::optional<FileChoice>(FileChoice{folder.path() + '/' + suggested});
        });
    }
    ~Bench()
    {
        setFileDialogInterceptor({});
        if (form && form->sessionOpen()) {
            form->BeginClose();
            form->EndSession();
        }
        form.reset();
        sim.stop();
        qunsetenv("RAVELIN_COM3");
    }
    bool open(bool serial, bool readPages, const QStringList &simArguments = {})
    {
        if (!folder.writeIni(SeededIni))
            return false;
        if (serial) {
            if (!line.start() ||
                !sim.startWith({"--serial", line.a(), "--no-animate", "--verbose"}))
                return false;
            qputenv("RAVELIN_COM3", QFile::encodeName(line.b()));
        } else if (!sim.start(QStringList{"--no-animate", "--verbose"} + simArguments)) {
            return false;
        }
        qputenv("RAVELIN_TCP_PORT", QByteArray::number(sim.port()));
        form = makeMainForm();
        qunsetenv("RAVELIN_TCP_PORT");
        form->ReadPagesOnConnect1->setChecked(readPages);
        form->Access.rtuTimeout = 5;
        form->Access.tcpTimeout = 3;
        if (serial)
            form->connectionPage()->BitBtn1->click();
        else
            form->connectionPage()->BitBtn2->click();
        form->scheduler().setStepped(true);
        return form->sessionOpen() && messages.messages.isEmpty();
    }
    void ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            form->Timer2->fire();
    }
    QStringList requests() { return loggedRequests(sim.output()); }
    NamesPage &names() const { return *form->namesPage(); }
    int namesShown() const
    {
        int shown = 0;
        for (int n = 1; n <= ObjectNameCount; ++n)
            shown += names().cellText(n, 1).isEmpty() ? 0 : 1;
        return shown;
    }
};

// Presses Cancel once the busy window shows `text` with Cancel offered. The
// press is posted, as a click waits in the queue: the operation takes it when
// it next lets events through, wherever that is.
class CancelAt : public QObject
{
public:
    CancelAt(TMainForm &form, QString text)
        : m_busy(form.busyWindow()), m_panel(m_busy->findChild<QLabel *>(QStringLiteral("Panel1"))),
          m_text(std::move(text))
    {
        m_busy->installEventFilter(this);
        m_panel->installEventFilter(this);
    }
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() != QEvent::Paint)
            return false;
        offered = offered || m_busy->cancelOffered();
        if (!pressed && !m_text.isEmpty() && m_busy->cancelOffered() && m_panel->text() == m_text) {
            pressed = true;
            QTimer::singleShot(0, m_busy->cancelButton(), &QPushButton::click);
        }
        return false;
    }
    bool pressed = false;
    bool offered = false; // Cancel was on the busy window at some paint

private:
    TMsg_Frm *m_busy;
    QLabel *m_panel;
    QString m_text;
};

} // namespace

class TestReadCancel : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { dropRaiseWarnings(); }
    void readPagesSetting_data();
    void readPagesSetting();
    void readOnConnect_data();
    void readOnConnect();
    void cancelNames_data();
    void cancelNames();
    void cancelWholeUnitRead_data();
    void cancelWholeUnitRead();
};

void TestReadCancel::readPagesSetting_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("on");
    QTest::newRow("no key") << SeededIni << true;
    QTest::newRow("0") << SeededIni + "Read_Pages_On_Connect=0\n" << false;
    QTest::newRow("off, other case and blanks") << SeededIni + " read_pages_on_connect = OFF \n"
                                                << false;
    QTest::newRow("1") << SeededIni + "Read_Pages_On_Connect=1\n" << true;
    QTest::newRow("garbage stays on") << SeededIni + "Read_Pages_On_Connect=maybe\n" << true;
}

void TestReadCancel::readPagesSetting()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, on);
    WorkingFolder folder;
    QVERIFY(folder.writeIni(file));
    QCOMPARE(loadSettings(folder.iniPath()).readPagesOnConnect, on);
    // The menu item shows the file's choice; choosing writes the key and
    // leaves the other lines alone.
    auto form = std::make_unique<TMainForm>(QStringList{});
    QCOMPARE(form->ReadPagesOnConnect1->isChecked(), on);
    QCOMPARE(folder.readIni(), file); // loading writes nothing
    form->ReadPagesOnConnect1->trigger();
    QCOMPARE(loadSettings(folder.iniPath()).readPagesOnConnect, !on);
    QVERIFY(folder.readIni().startsWith(SeededIni));
}

void TestReadCancel::readOnConnect_data()
{
    QTest::addColumn<bool>("readPages");
    QTest::addColumn<QStringList>("simArguments");
    QTest::addColumn<QString>("cancelAt");   // busy text at which Cancel is pressed
    QTest::addColumn<QStringList>("filled"); // pages holding the unit's values
    QTest::addColumn<int>("namesRead");
    QTest::addColumn<QString>("message"); // the first line of the first message, if any

    const QStringList all{"Network", "G50", "BACnet"};
    const QStringList none;
    QTest::newRow("off: nothing beyond the identity")
        << false << none << QString() << none << 0 << QString();
    QTest::newRow("on: every page, names last")
        << true << none << QString() << all << 100 << QString();
    QTest::newRow("on, cancelled during the G50 get")
        << true << none << "Retrieving G50 Settings...." << QStringList{"Network", "G50"} << 0
        << "Reading the pages from the unit was cancelled.";
    QTest::newRow("on, cancelled at name 40") << true << none << "Retrieving Object Names....40%"
                                              << all << 39 << "Read 39 of 100 names; cancelled.";
    // The identity and the product block answered, then nothing: one error,
    // not one per page, and no page waits out its timeout.
    QTest::newRow("on, the unit stops answering")
        << true << QStringList{"--fail-after", "2"} << QString() << none << 0
        << "Error Retrieving Network Settings.";
}

void TestReadCancel::readOnConnect()
{
    QFETCH(bool, readPages);
    QFETCH(QStringList, simArguments);
    QFETCH(QString, cancelAt);
    QFETCH(QStringList, filled);
    QFETCH(int, namesRead);
    QFETCH(QString, message);
    Bench b;
    QVERIFY(b.open(false, readPages, simArguments));
    CancelAt cancel(*b.form, cancelAt);
    // Each page is there, and the window usable, as soon as its own get has run.
    b.ticks(1);
    QCOMPARE(b.form->networkPage()->entries().addresses[0],
             filled.contains("Network") ? "192" : "");
    QCOMPARE(b.form->g50Page()->entries()[3], QString());
    QVERIFY(b.form->isEnabled());
    // More ticks than the gets left: a get left over would run in them.
    b.ticks(7);

    const bool silent = !simArguments.isEmpty();
    QCOMPARE(b.messages.texts().size(), message.isEmpty() ? 0 : silent ? 2 : 1);
    if (!message.isEmpty())
        QCOMPARE(b.messages.texts().first().section('\n', 0, 0), message);
    if (silent)
        QCOMPARE(b.messages.texts().last(),
                 QStringLiteral("Reading the pages from the unit stopped: the unit did not "
                                "answer.\nRead: Network.\nNot read: G50, BACnet, Unit Names. Use "
                                "\"Get From Unit\" on those pages."));
    QCOMPARE(b.form->networkPage()->entries().addresses[0],
             filled.contains("Network") ? "192" : "");
    QCOMPARE(b.form->g50Page()->entries()[3], filled.contains("G50") ? "020" : "");
    QCOMPARE(b.form->bacnetPage()->Edit22->text(), filled.contains("BACnet") ? "Ravelin-5173" : "");
    QCOMPARE(b.namesShown(), namesRead);
    if (namesRead > 0)
        QCOMPARE(b.names().cellText(namesRead, 1), QString::asprintf("Unit%03d", namesRead));
    QCOMPARE(!b.names().NotReadNote->isHidden(), namesRead > 0 && namesRead < 100);
    // Nothing read counts as an edit; the window is back.
    QVERIFY(!b.form->hasUnsentChanges());
    QVERIFY(b.form->isEnabled());
    QVERIFY(!b.form->busyWindow()->isVisible());
    QCOMPARE(cancel.offered, readPages);

    const QStringList requests = b.requests();
    QCOMPARE(namesOnly(requests), namesRead > 0 ? nameRequests(1, namesRead) : QStringList{});
    if (!readPages) {
        // The identity, and the product block that writes are checked against.
        QCOMPARE(requests, (QStringList{at(Blocks::Identity), at(Blocks::Product)}));
        // A status poll and a page's get later on run as before, the get
        // with the plain busy window.
        b.form->Timer1->fire();
        b.form->networkPage()->Button1->click();
        b.ticks(2);
        QCOMPARE(
            b.requests().mid(2),
            (QStringList{at(Blocks::NetworkAddresses), at(Blocks::Product), at(Blocks::ConfigLock),
                         at(Blocks::Status), at(Blocks::StatusPollWriteBack)}));
        QVERIFY(!cancel.offered);
    } else {
        QCOMPARE(requests.contains(at(Blocks::DeviceObjectId)), filled.contains("BACnet"));
        QCOMPARE(requests.contains(at(Blocks::G50Address)), !silent);
    }
}

void TestReadCancel::cancelNames_data()
{
    QTest::addColumn<bool>("serial");
    QTest::addColumn<bool>("send");
    QTest::addColumn<int>("cancelAt"); // the name whose exchange Cancel comes before
    QTest::addColumn<QString>("message");

    const QString read40 = "Read 39 of 100 names; cancelled.\nNames 40-100 were not read: their "
                           "cells keep what they showed before.";
    const QString sent40 = "Sending the names was cancelled.\n39 of 100 names were written "
                           "(addresses 1-39).\nNot written: addresses 40-100.";
    QTest::newRow("read over TCP") << false << false << 40 << read40;
    QTest::newRow("read over RTU") << true << false << 40 << read40;
    QTest::newRow("read, cancelled at once")
        << false << false << 1
        << "Read 0 of 100 names; cancelled.\nNames 1-100 were not read: their cells keep what "
           "they showed before.";
    QTest::newRow("send over TCP") << false << true << 40 << sent40;
    QTest::newRow("send over RTU") << true << true << 40 << sent40;
    QTest::newRow("send, cancelled at once")
        << false << true << 1
        << "Sending the names was cancelled.\nNo name was written.\nNot written: addresses "
           "1-100.";
}

void TestReadCancel::cancelNames()
{
    QFETCH(bool, serial);
    QFETCH(bool, send);
    QFETCH(int, cancelAt);
    QFETCH(QString, message);
    Bench b;
    QVERIFY(b.open(serial, false));
    if (send)
        b.names().BitBtn3->click(); // Unit001 to Unit100, all held
    const int before = b.requests().size();
    CancelAt cancel(*b.form, QStringLiteral("%1 Object Names....%2%")
                                 .arg(send ? "Transmitting" : "Retrieving")
                                 .arg(cancelAt));
    (send ? b.names().Button10 : b.names().Button9)->click();
    b.ticks(3);

    QVERIFY(cancel.pressed);
    QCOMPARE(b.messages.texts(), QStringList{message});
    QCOMPARE(b.messages.messages.first().kind, MsgKind::Information);
    const QStringList requests = b.requests().mid(before);
    const int done = cancelAt - 1;
    if (send) {
        // Exactly the names before Cancel were written, after the identity check.
        QCOMPARE(loggedWrites(b.sim.output()), nameRequests(1, done));
        QCOMPARE(namesOnly(requests), nameRequests(1, done));
        QVERIFY(b.form->isTabHighlighted(TMainForm::Tab::Names)); // the rest is still unsent
    } else {
        QCOMPARE(requests, nameRequests(1, done));
        QVERIFY(loggedWrites(b.sim.output()).isEmpty());
        QCOMPARE(b.namesShown(), done);
        QCOMPARE(b.names().heldNames().size(), std::size_t(done));
        QVERIFY(!b.names().NotReadNote->isHidden());
        QVERIFY(b.names().NotReadNote->text().endsWith(QStringLiteral("%1-100").arg(cancelAt)));
        QVERIFY(!b.form->hasUnsentChanges());
    }
    QVERIFY(!b.form->busyWindow()->isVisible());
    QVERIFY(!b.form->busyWindow()->cancelOffered());
    QVERIFY(b.form->isEnabled());
    QVERIFY(b.form->sessionOpen());
}

void TestReadCancel::cancelWholeUnitRead_data()
{
    QTest::addColumn<bool>("report");
    QTest::addColumn<QString>("cancelAt");
    QTest::addColumn<QString>("readBefore");
    QTest::addColumn<int>("namesRead");

    const QString name40 = "Retrieving Object Name 40 of 100....";
    const QString before40 =
        "Network addresses, G50 address, Device object identifier, 39 of 100 object names";
    QTest::newRow("save, at name 40") << false << name40 << before40 << 39;
    QTest::newRow("report, at name 40") << true << name40 << before40 << 39;
    QTest::newRow("save, at the G50 address") << false << "Retrieving G50 address...."
                                              << "Network addresses" << 0;
    QTest::newRow("report, at the G50 address") << true << "Retrieving G50 address...."
                                                << "Network addresses" << 0;
}

void TestReadCancel::cancelWholeUnitRead()
{
    QFETCH(bool, report);
    QFETCH(QString, cancelAt);
    QFETCH(QString, readBefore);
    QFETCH(int, namesRead);
    Bench b;
    QVERIFY(b.open(false, false));
    const int before = b.requests().size();
    CancelAt cancel(*b.form, cancelAt);
    (report ? b.form->configFiles()->SaveReport1 : b.form->SaveCurrentConfig1)->trigger();
    b.ticks(2);

    QVERIFY(cancel.pressed);
    QCOMPARE(b.messages.texts(),
             QStringList{
                 QStringLiteral("Reading the unit was cancelled.\nRead before the "
                                "cancel: %1.\n%2")
                     .arg(readBefore, report ? "No report was written." : "Nothing was saved.")});
    // No file was asked for, none written, and the unit was asked for
    // nothing after the cancel (not even the report's status block).
    QVERIFY(b.asked.isEmpty());
    QCOMPARE(QDir(b.folder.path()).entryList({"*.json", "*.html", "*.pdf"}), QStringList{});
    const QStringList requests = b.requests().mid(before);
    QCOMPARE(namesOnly(requests), namesRead > 0 ? nameRequests(1, namesRead) : QStringList{});
    QVERIFY(!requests.contains(at(Blocks::Status)));
    QCOMPARE(requests.contains(at(Blocks::G50Address)), namesRead > 0);
    QVERIFY(!b.form->busyWindow()->isVisible());
    QVERIFY(b.form->isEnabled());
}

QTEST_MAIN(TestReadCancel)
#include "tst_readcancel.moc"
