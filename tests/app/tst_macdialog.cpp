// The MAC address dialog in serial sessions: the main window opens a COM
// number mapped to one end of a socat pty pair, ravelin-sim serves Modbus RTU
// on the other. The dialog opens through the scheduler (button and gesture),
// shows the unit's own address, and writes with function 104; registers are
// checked in the simulator's state file.

#include "MacDialog.h"
#include "NetworkPage.h"
#include "SimProcess.h"
#include "SimSession.h"
#include "SimTrace.h"
#include "SocatPair.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>

#include <functional>

namespace {

using Regs = QList<quint16>;
const QStringList ServiceMode{QStringLiteral("RAVELIN#SVC7")};
const Regs UnitMac{0xA0, 0x0B, 0x08, 0x12, 0x34, 0x56};

// Runs an action once the watched dialog is on screen, inside its own loop.
class WhenShown : public QObject
{
public:
    WhenShown(QWidget *dialog, std::function<void()> action) : m_action(std::move(action))
    {
        dialog->installEventFilter(this);
    }
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && m_action) {
            watched->removeEventFilter(this);
            QTimer::singleShot(0, this, std::exchange(m_action, {}));
        }
        return false;
    }

private:
    std::function<void()> m_action;
};

struct MacSession
{
    WorkingFolder folder;
    UnitState state{folder.path() + QStringLiteral("/unit.json")};
    SocatPair line;
    SimProcess sim;
    MessageRecorder messages;
    std::unique_ptr<TMainForm> form;

    bool openSerial(const QStringList &simArguments = {}, const QStringList &tool = ServiceMode,
                    const Regs &mac = UnitMac)
    {
        state.seed(SystemUnitId, MacFirstRegister, mac);
        if (!state.save() || !line.start() ||
            !sim.startWith(QStringList{"--serial", line.a(), "--no-animate"} +
                           state.simArguments() + simArguments) ||
            !folder.writeIni("[Options]\nComms_Port=3\nIP_Address=127.0.0.1\n"))
            return false;
        qputenv("RAVELIN_COM3", QFile::encodeName(line.b()));
        form = makeMainForm(tool);
        form->Access.rtuTimeout = 3;
        form->connectionPage()->BitBtn1->click();
        qunsetenv("RAVELIN_COM3");
        form->scheduler().setStepped(true);
        return form->sessionOpen() && messages.messages.isEmpty();
    }
    bool openTcp(const QStringList &tool)
    {
        if (!sim.start({"--no-animate"}))
            return false;
        form = tcpSessionForm(sim.port(), tool);
        return form->sessionOpen();
    }
    // Serves the pending MAC dialog request; `inside` runs while the dialog
    // is open, then it is closed.
    void serveDialog(const std::function<void(TMACFrm &)> &inside)
    {
        TMACFrm *dialog = form->macDialog();
        WhenShown shown(dialog, [&] {
            inside(*dialog);
            dialog->reject();
        });
        form->Timer2->fire();
    }
    Regs unitMac() const { return state.read(SystemUnitId, MacFirstRegister, 6); }
};

QStringList boxTexts(const TMACFrm &dialog)
{
    QStringList texts;
    for (const QLineEdit *box : dialog.OctetBoxes)
        texts << box->text();
    return texts;
}

void fillAndSend(TMACFrm &dialog, const QString &serial)
{
    dialog.SerialNoEdit->setText(serial);
    dialog.FillButton->click();
    dialog.SendButton->click();
}

} // namespace

class TestMacDialog : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { dropRaiseWarnings(); }
    void opensOnTheUnitsAddressAndWrites();
    void refusedAndFailedWrites_data();
    void refusedAndFailedWrites();
    void gesture_data();
    void gesture();
    void refusedBeforeWriting_data();
    void refusedBeforeWriting();
    void unfilledSerialAsks_data();
    void unfilledSerialAsks();
    void closingWaitsForTheWrite();
    void notCarriedIntoANetworkSession();
};

void TestMacDialog::opensOnTheUnitsAddressAndWrites()
{
    MacSession s;
    QVERIFY(s.openSerial());
    QList<Request> served;
    s.form->scheduler().setRequestObserver([&](Request r) { served << r; });
    s.form->networkPage()->Button16->click();
    QVERIFY(pending(*s.form, Request::MACDialog));
    QVERIFY(!s.form->macDialog()->isVisible());
    s.form->Timer1->fire(); // a poll falls due while the dialog is open
    s.serveDialog([&](TMACFrm &dialog) {
        // Another unit's prefix than the design-time one: read from this unit.
        QCOMPARE(boxTexts(dialog), (QStringList{"A0", "0B", "08", "12", "34", "56"}));
        QCOMPARE(dialog.SerialNoEdit->text(), QStringLiteral("1193046"));
        QVERIFY(dialog.OctetBoxes[0]->isReadOnly() && !dialog.OctetBoxes[3]->isReadOnly());
        QVERIFY(!s.form->Timer2->isActive());
        s.form->Timer2->fire(); // nothing else is served while the dialog is open

        fillAndSend(dialog, QStringLiteral("16777216"));
        QCOMPARE(dialog.OctetBoxes[3]->text(), QStringLiteral("100")); // shown whole
        QCOMPARE(s.messages.texts(),
                 QStringList{"Unable To Send MAC Address Due To Invalid Data."});
        QCOMPARE(s.unitMac(), UnitMac);

        s.messages.messages.clear();
        fillAndSend(dialog, QStringLiteral("1193047"));
        QCOMPARE(s.messages.texts(), QStringList{"MAC Address Transmitted OK."});
        QCOMPARE(s.unitMac(), (Regs{0xA0, 0x0B, 0x08, 0x12, 0x34, 0x57}));
        QVERIFY(dialog.isVisible());
        QVERIFY(dialog.SendButton->isEnabled());
    });
    QCOMPARE(served, QList<Request>{Request::MACDialog});
    QVERIFY(pending(*s.form, Request::StatusPoll));
    QVERIFY(s.form->Timer2->isActive());
}

void TestMacDialog::refusedAndFailedWrites_data()
{
    QTest::addColumn<QStringList>("simArguments");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<QString>("message");
    // The identity is read twice when the session opens, then the unit is silent.
    QTest::newRow("address not read")
        << QStringList{"--fail-after", "2"} << QStringList{"", "", "", "", "", ""}
        << "Unable To Send MAC Address.\nThe Unit's MAC Address "
           "Could Not Be Read.";
    QTest::newRow("exception reply")
        << QStringList{"--exception", "19:22"} << QStringList{"A0", "0B", "08", "12", "34", "56"}
        << "Error Transmitting MAC Address.";
}

void TestMacDialog::refusedAndFailedWrites()
{
    QFETCH(QStringList, simArguments);
    QFETCH(QStringList, boxes);
    QFETCH(QString, message);
    MacSession s;
    QVERIFY(s.openSerial(simArguments));
    s.form->networkPage()->Button16->click();
    s.serveDialog([&](TMACFrm &dialog) {
        QCOMPARE(boxTexts(dialog), boxes);
        dialog.SendButton->click();
        QCOMPARE(s.messages.texts(), QStringList{message});
        QCOMPARE(s.messages.messages.first().kind, MsgKind::Error);
    });
    QCOMPARE(s.unitMac(), UnitMac);
}

void TestMacDialog::gesture_data()
{
    QTest::addColumn<bool>("serial");
    QTest::addColumn<bool>("service");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("rightHeld");
    QTest::addColumn<bool>("doubleClick");
    QTest::addColumn<bool>("opens");
    const int all = Qt::ShiftModifier | Qt::AltModifier | Qt::ControlModifier;
    QTest::newRow("serial, service mode") << true << true << all << true << true << true;
    QTest::newRow("right button not held") << true << true << all << false << true << false;
    QTest::newRow("without Ctrl") << true << true << int(Qt::ShiftModifier | Qt::AltModifier)
                                  << true << true << false;
    QTest::newRow("single press") << true << true << all << true << false << false;
    QTest::newRow("no service mode") << true << false << all << true << true << false;
    QTest::newRow("network session") << false << true << all << true << true << false;
}

void TestMacDialog::gesture()
{
    QFETCH(bool, serial);
    QFETCH(bool, service);
    QFETCH(int, modifiers);
    QFETCH(bool, rightHeld);
    QFETCH(bool, doubleClick);
    QFETCH(bool, opens);
    MacSession s;
    const QStringList tool = service ? ServiceMode : QStringList{};
    QVERIFY(serial ? s.openSerial({}, tool) : s.openTcp(tool));
    QLabel *label = s.form->networkPage()->Label2;
    const QPointF at(5, 5);
    QMouseEvent event(doubleClick ? QEvent::MouseButtonDblClick : QEvent::MouseButtonPress, at,
                      label->mapToGlobal(at), Qt::LeftButton,
                      rightHeld ? Qt::LeftButton | Qt::RightButton : Qt::LeftButton,
                      Qt::KeyboardModifiers(modifiers));
    QApplication::sendEvent(label, &event);
    // Never opened at once: the scheduler serves it, so it cannot overlap a poll.
    QVERIFY(!s.form->macDialog()->isVisible());
    QCOMPARE(pending(*s.form, Request::MACDialog), opens);
}

void TestMacDialog::refusedBeforeWriting_data()
{
    QTest::addColumn<Regs>("mac");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QString>("message"); // the first one shown
    const QString range = QStringLiteral("The serial number must be a whole number from 0 to "
                                         "16777215.\nThe MAC address boxes were not changed.");
    // Filled in, these were 00:00:00 and 00:FF:FF.
    QTest::newRow("serial abc") << UnitMac << "abc" << range;
    QTest::newRow("serial -1") << UnitMac << "-1" << range;
    const QString prefix = QStringLiteral("Unable To Send MAC Address.\nThe unit's prefix %1 is "
                                          "not a usable unicast address (all zeros, all ones or "
                                          "multicast).");
    QTest::newRow("prefix all ones")
        << Regs{0xFF, 0xFF, 0xFF, 0, 0, 1} << "5" << prefix.arg("FF:FF:FF");
    QTest::newRow("prefix all zeros") << Regs{0, 0, 0, 0, 0, 1} << "5" << prefix.arg("00:00:00");
    QTest::newRow("multicast prefix")
        << Regs{0x01, 0x00, 0x5E, 0, 0, 1} << "5" << prefix.arg("01:00:5E");
}

void TestMacDialog::refusedBeforeWriting()
{
    QFETCH(Regs, mac);
    QFETCH(QString, serial);
    QFETCH(QString, message);
    MacSession s;
    QVERIFY(s.openSerial({}, ServiceMode, mac));
    s.form->networkPage()->Button16->click();
    s.serveDialog([&](TMACFrm &dialog) {
        const QStringList before = boxTexts(dialog);
        fillAndSend(dialog, serial);
        QVERIFY(!s.messages.messages.isEmpty());
        QCOMPARE(s.messages.texts().first(), message);
        if (message.startsWith("The serial"))
            QCOMPARE(boxTexts(dialog), before);
    });
    QCOMPARE(s.unitMac(), mac);
}

void TestMacDialog::unfilledSerialAsks_data()
{
    QTest::addColumn<bool>("fillIt");
    QTest::newRow("fill and send") << true;
    QTest::newRow("keep the address") << false;
}

void TestMacDialog::unfilledSerialAsks()
{
    QFETCH(bool, fillIt);
    MacSession s;
    QVERIFY(s.openSerial());
    s.messages.answers = {fillIt ? MsgAnswer::Yes : MsgAnswer::No};
    s.form->networkPage()->Button16->click();
    s.serveDialog([&](TMACFrm &dialog) {
        // Typed, not filled in: the boxes still hold the unit's address.
        dialog.SerialNoEdit->setText(QStringLiteral("1193047"));
        dialog.SendButton->click();
    });
    QVERIFY(!s.messages.messages.isEmpty());
    QVERIFY(s.messages.texts().first().startsWith("The serial number 1193047 has not been filled"));
    QCOMPARE(s.unitMac(), (fillIt ? Regs{0xA0, 0x0B, 0x08, 0x12, 0x34, 0x57} : UnitMac));
    QCOMPARE(s.messages.texts().size(), fillIt ? 2 : 1);
}

void TestMacDialog::closingWaitsForTheWrite()
{
    MacSession s;
    QVERIFY(s.openSerial({"--delay-ms", "300"}));
    s.form->Access.rtuTimeout = 20;
    s.form->networkPage()->Button16->click();
    bool cancelOffered = true;
    bool openAfterSend = false;
    s.serveDialog([&](TMACFrm &dialog) {
        QTimer::singleShot(100, &dialog, [&] {
            cancelOffered = dialog.CancelButton->isEnabled();
            dialog.CancelButton->click();
            dialog.reject(); // Escape or the title bar's close
        });
        fillAndSend(dialog, QStringLiteral("1193047"));
        openAfterSend = dialog.isVisible();
    });
    QVERIFY(!cancelOffered);
    QVERIFY(openAfterSend);
    QCOMPARE(s.messages.texts(), QStringList{"MAC Address Transmitted OK."});
    QCOMPARE(s.unitMac(), (Regs{0xA0, 0x0B, 0x08, 0x12, 0x34, 0x57}));
}

void TestMacDialog::notCarriedIntoANetworkSession()
{
    SimProcess network;
    QVERIFY(network.start({"--no-animate", "--verbose"}));
    qputenv("RAVELIN_TCP_PORT", QByteArray::number(network.port()));
    MacSession s;
    const bool opened = s.openSerial();
    qunsetenv("RAVELIN_TCP_PORT");
    QVERIFY(opened);
    s.form->networkPage()->Button16->click();
    QVERIFY(pending(*s.form, Request::MACDialog));
    s.form->CloseConnection1Click();
    s.form->Timer2->fire();
    QVERIFY(!s.form->sessionOpen());

    const QStringList loopback{"127", "0", "0", "1"};
    for (int i = 0; i < 4; ++i)
        editBox(*s.form, 23 + i)->setText(loopback[i]);
    s.form->connectionPage()->BitBtn2->click();
    QVERIFY(s.form->sessionOpen());
    bool shown = false;
    WhenShown watch(s.form->macDialog(), [&] {
        shown = true;
        s.form->macDialog()->reject();
    });
    s.form->Timer2->fire();
    // Nor does a request that reaches the scheduler some other way open it.
    s.form->scheduler().setPending(Request::MACDialog, true);
    s.form->Timer2->fire();
    QVERIFY(!shown);
    QVERIFY(!loggedWrites(network.output()).contains(QStringLiteral("19:22")));
}

QTEST_MAIN(TestMacDialog)
#include "tst_macdialog.moc"
