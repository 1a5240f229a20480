// The MAC address dialog in serial sessions: the main window opens a COM
// number mapped to one end of a socat pty pair, ravelin-sim serves Modbus RTU
// on the other. The dialog opens through the scheduler (button and gesture),
// shows the unit's own address, and writes with function 104; registers are
// checked in the simulator's state file.

#include "MacDialog.h"
#include "NetworkPage.h"
#include "SimProcess.h"
#include "SimSession.h"
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

    bool openSerial(const QStringList &simArguments = {}, const QStringList &tool = ServiceMode)
    {
        state.seed(SystemUnitId, MacFirstRegister, UnitMac);
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

QTEST_MAIN(TestMacDialog)
#include "tst_macdialog.moc"
