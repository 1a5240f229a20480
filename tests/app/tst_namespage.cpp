// The "Unit Names" page against the simulator over Modbus TCP: reading and
// sending the 100 names with their progress, a failure part-way, the overlay
// editor's keys and navigation, and program rewrites of the grid that must
// never pick up the editor's old text. Registers are checked in the
// simulator's state file.

#include "AppTestKit.h"
#include "ConnectionPage.h"
#include "MsgFrm.h"
#include "NamesPage.h"
#include "SimProcess.h"
#include "UnitState.h"

#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

namespace {

using Regs = QList<quint16>;

// A name record as the unit holds it: the length byte, then the bytes.
Regs record(const QByteArray &bytes, int lengthByte = -1)
{
    QByteArray raw = char(lengthByte < 0 ? bytes.size() : lengthByte) + bytes;
    raw.resize(20, '\0');
    Regs regs;
    for (int k = 0; k < 10; ++k)
        regs << quint16(quint8(raw[2 * k]) << 8 | quint8(raw[2 * k + 1]));
    return regs;
}

QByteArray hallName(int n)
{
    return "Hall " + QByteArray::number(n);
}

// Every name "Hall n" except three that test the codec's edges.
void seedNames(UnitState &state)
{
    Regs all;
    for (int n = 1; n <= 100; ++n) {
        if (n == 5)
            all << record("Caf\xE9"); // a byte outside 7-bit ASCII
        else if (n == 7)
            all << record("ABCDEFGHIJKLMNOPQRS", 25); // length byte above 19
        else
            all << record(hallName(n));
    }
    state.seed(NamesUnitId, 0, all);
}

// Busy texts in the order they were painted, and the busy text at each paint
// of the grid: the transfer must keep both windows painting.
class PaintLog : public QObject
{
public:
    PaintLog(TMainForm &form, QWidget *grid)
        : m_panel(form.busyWindow()->findChild<QLabel *>(QStringLiteral("Panel1"))), m_grid(grid)
    {
        m_panel->installEventFilter(this);
        m_grid->installEventFilter(this);
    }
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            if (watched == m_panel && (busy.isEmpty() || busy.last() != m_panel->text()))
                busy << m_panel->text();
            if (watched == m_grid && m_panel->isVisible())
                gridPaintedDuring << m_panel->text();
        }
        return false;
    }
    QStringList busy, gridPaintedDuring;

private:
    QLabel *m_panel;
    QWidget *m_grid;
};

// The busy window takes the activation on the offscreen platform; typing
// needs the main window active again.
bool activate(TMainForm &form)
{
    form.activateWindow();
    return QTest::qWaitForWindowActive(&form);
}

// Offscreen windows cannot be raised; the busy window tries at every step.
QtMessageHandler testLogHandler = nullptr;
void dropRaiseWarnings(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (!text.contains(QStringLiteral("does not support raise()")))
        testLogHandler(type, context, text);
}

struct NamesSession
{
    WorkingFolder folder;
    UnitState state{folder.path() + QStringLiteral("/unit.json")};
    SimProcess sim;
    MessageRecorder messages;
    std::unique_ptr<TMainForm> form;

    NamesPage *page() const { return form->namesPage(); }
    bool open(const QStringList &simArguments = {})
    {
        seedNames(state);
        if (!state.save() ||
            !sim.start(QStringList{"--no-animate"} + state.simArguments() + simArguments))
            return false;
        qputenv("RAVELIN_TCP_PORT", QByteArray::number(sim.port()));
        form = makeMainForm();
        for (int i = 0; i < 4; ++i)
            editBox(*form, 23 + i)->setText(QStringList{"127", "0", "0", "1"}[i]);
        form->connectionPage()->BitBtn2->click();
        qunsetenv("RAVELIN_TCP_PORT");
        form->scheduler().setStepped(true);
        form->pageControl()->setCurrentIndex(int(TMainForm::Tab::Names));
        return form->sessionOpen() && messages.messages.isEmpty() && activate(*form);
    }
    // A click on the page's button, then the scheduler's next tick.
    void request(QPushButton *button)
    {
        button->click();
        form->Timer2->fire();
    }
    Regs unitName(int n) const { return state.read(NamesUnitId, (n - 1) * 10, 10); }
};

void showNamesTab(TMainForm &form)
{
    form.pageControl()->setTabVisible(int(TMainForm::Tab::Names), true);
    form.pageControl()->setCurrentIndex(int(TMainForm::Tab::Names));
    QVERIFY(activate(form));
}

} // namespace

class TestNamesPage : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { testLogHandler = qInstallMessageHandler(dropRaiseWarnings); }
    void readThenSendAllNames();
    void failureAtName40_data();
    void failureAtName40();
    void editorKeys_data();
    void editorKeys();
    void editorNavigation_data();
    void editorNavigation();
    void rewritesNeverTakeTheEditorsText_data();
    void rewritesNeverTakeTheEditorsText();
    void loadDefaultsThenCloseAsks();
};

void TestNamesPage::readThenSendAllNames()
{
    NamesSession s;
    QVERIFY(s.open());
    NamesPage *page = s.page();
    PaintLog paints(*s.form, page->StringGrid1->viewport());
    s.request(page->Button9);
    QCOMPARE(s.messages.texts(), QStringList{"Object Names Retrieved OK."});
    QCOMPARE(s.messages.messages.first().kind, MsgKind::Information);
    QCOMPARE(page->cellText(1, 1), QStringLiteral("Hall 1"));
    QCOMPARE(page->cellText(100, 1), QStringLiteral("Hall 100"));
    QCOMPARE(page->cellText(5, 1), QStringLiteral("Caf\u00E9"));
    QCOMPARE(page->cellText(7, 1), QStringLiteral("ABCDEFGHIJKLMNOPQRS"));
    QCOMPARE(page->ObjectNames.value(101), QStringLiteral("Sys_Mnet_State"));
    QVERIFY(!s.form->isTabHighlighted(TMainForm::Tab::Names));
    QVERIFY(!page->Button10->isEnabled());
    QCOMPARE(paints.busy.first(), QStringLiteral("Retrieving Object Names...."));
    QVERIFY(paints.busy.contains(QStringLiteral("Retrieving Object Names....37%")));
    QCOMPARE(paints.busy.last(), QStringLiteral("Retrieving Object Names....100%"));
    QCOMPARE(paints.busy.size(), 101);
    QVERIFY(!paints.gridPaintedDuring.filter(QStringLiteral("....5")).isEmpty());

    // Two names typed, everything else sent back as read.
    QVERIFY(activate(*s.form));
    page->selectNameCell(3);
    QTest::keyClicks(page->Edit27, QStringLiteral("Hall 3"));
    page->selectNameCell(9);
    QTest::keyClick(page->Edit27, Qt::Key_Backspace);
    QTest::keyClick(page->Edit27, Qt::Key_Down);
    QVERIFY(s.form->isTabHighlighted(TMainForm::Tab::Names));
    s.messages.messages.clear();
    paints.busy.clear();
    s.request(page->Button10);
    QCOMPARE(s.messages.texts(), QStringList{"Object Names Transmitted OK."});
    QCOMPARE(s.unitName(3), (Regs{0x0648, 0x616C, 0x6C20, 0x3300, 0, 0, 0, 0, 0, 0}));
    QCOMPARE(s.unitName(9), Regs(10, 0));
    QCOMPARE(s.unitName(5), record("Caf\xE9")); // the same byte back
    QCOMPARE(s.unitName(7), record("ABCDEFGHIJKLMNOPQRS"));
    QCOMPARE(s.unitName(100), record(hallName(100)));
    QCOMPARE(paints.busy.last(), QStringLiteral("Transmitting Object Names....100%"));
    QVERIFY(paints.busy.contains(QStringLiteral("Transmitting Object Names....50%")));
    QVERIFY(!s.form->isTabHighlighted(TMainForm::Tab::Names));
    QVERIFY(!page->Button10->isEnabled());
    QVERIFY(!s.form->busyWindow()->isVisible());
    QVERIFY(s.form->isEnabled());
}

void TestNamesPage::failureAtName40_data()
{
    QTest::addColumn<bool>("send");
    QTest::newRow("read") << false;
    QTest::newRow("send") << true;
}

void TestNamesPage::failureAtName40()
{
    QFETCH(bool, send);
    NamesSession s;
    QVERIFY(s.open({"--exception", "26:390"}));
    NamesPage *page = s.page();
    page->BitBtn3->click(); // Unit001 to Unit100 in the grid, none on the unit
    PaintLog paints(*s.form, page->StringGrid1->viewport());
    s.request(send ? page->Button10 : page->Button9);
    QCOMPARE(s.messages.texts(), QStringList{send ? "Error Transmitting Object Names."
                                                  : "Error Retrieving Object Names."});
    QCOMPARE(s.messages.messages.first().kind, MsgKind::Error);
    const QString busy = send ? "Transmitting" : "Retrieving";
    QCOMPARE(paints.busy.last(), busy + QStringLiteral(" Object Names....40%"));
    for (int n : {1, 39, 40, 100}) {
        const QByteArray unitNow =
            n < 40 && send ? QString::asprintf("Unit%03d", n).toLatin1() : hallName(n);
        const QString gridNow =
            n < 40 && !send ? QString::fromLatin1(hallName(n)) : QString::asprintf("Unit%03d", n);
        QCOMPARE(s.unitName(n), record(unitNow));
        QCOMPARE(page->cellText(n, 1), gridNow);
    }
    QVERIFY(s.form->isTabHighlighted(TMainForm::Tab::Names)); // the defaults are still unsent
    QVERIFY(page->Button10->isEnabled());
    QVERIFY(!s.form->busyWindow()->isVisible());
    QVERIFY(!QGuiApplication::overrideCursor());
}

void TestNamesPage::editorKeys_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::newRow("refused punctuation") << "a!b=c?d@e"
                                         << "abcde";
    QTest::newRow("accepted punctuation") << "a.b#c_d[e]"
                                          << "a.b#c_d[e]";
    QTest::newRow("above 127") << "Caf\u00E9"
                               << "Caf";
    QTest::newRow("19 at most") << "ABCDEFGHIJKLMNOPQRSTU"
                                << "ABCDEFGHIJKLMNOPQRS";
}

void TestNamesPage::editorKeys()
{
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    WorkingFolder folder;
    auto form = makeMainForm();
    showNamesTab(*form);
    NamesPage *page = form->namesPage();
    page->selectNameCell(4);
    for (const QChar c : typed)
        QTest::sendKeyEvent(QTest::Click, page->Edit27, Qt::Key(c.toUpper().unicode()), c,
                            Qt::NoModifier);
    QCOMPARE(page->Edit27->text(), shown);
    // Pasted text goes in only when every character can be sent as it is.
    page->Edit27->clear();
    page->Edit27->insert(QStringLiteral("Hall \u20AC"));
    QCOMPARE(page->Edit27->text(), QString());
    page->Edit27->insert(QStringLiteral("Caf\u00E9!"));
    QCOMPARE(page->Edit27->text(), QStringLiteral("Caf\u00E9!"));
}

void TestNamesPage::editorNavigation_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("shift");
    QTest::addColumn<int>("target");
    QTest::newRow("Down") << 1 << int(Qt::Key_Down) << false << 2;
    QTest::newRow("Enter") << 50 << int(Qt::Key_Return) << false << 51;
    QTest::newRow("Up on row 1 stays") << 1 << int(Qt::Key_Up) << false << 1;
    QTest::newRow("Page Up clamps") << 3 << int(Qt::Key_PageUp) << false << 1;
    QTest::newRow("Page Down into the system rows") << 98 << int(Qt::Key_PageDown) << false << 103;
    QTest::newRow("Down past 100") << 100 << int(Qt::Key_Down) << false << 101;
    QTest::newRow("Shift+Down does not move") << 20 << int(Qt::Key_Down) << true << 20;
}

void TestNamesPage::editorNavigation()
{
    QFETCH(int, row);
    QFETCH(int, key);
    QFETCH(bool, shift);
    QFETCH(int, target);
    WorkingFolder folder;
    auto form = makeMainForm();
    showNamesTab(*form);
    NamesPage *page = form->namesPage();
    page->selectNameCell(row);
    QVERIFY(page->Edit27->isVisible());
    QTest::keyClick(page->Edit27, Qt::Key(key), shift ? Qt::ShiftModifier : Qt::NoModifier);
    QCOMPARE(page->currentRow(), target);
    QCOMPARE(page->Edit27->isVisible(), target <= 100);
    if (target <= 100)
        QVERIFY(page->Edit27->hasFocus());
    QVERIFY(!form->isTabHighlighted(TMainForm::Tab::Names)); // moving is not an edit
    if (target == row)
        return;
    // Moving on writes the typed text into the row that was left.
    page->selectNameCell(row);
    QTest::keyClicks(page->Edit27, QStringLiteral("Lobby"));
    QVERIFY(form->isTabHighlighted(TMainForm::Tab::Names));
    QTest::keyClick(page->Edit27, Qt::Key(key));
    QCOMPARE(page->cellText(row, 1), QStringLiteral("Lobby"));
}

void TestNamesPage::rewritesNeverTakeTheEditorsText_data()
{
    QTest::addColumn<QString>("rewrite");
    QTest::addColumn<QString>("name2");
    QTest::newRow("read") << "read"
                          << "Hall 2";
    QTest::newRow("defaults") << "defaults"
                              << "Unit002";
    QTest::newRow("reset") << "reset"
                           << "";
}

void TestNamesPage::rewritesNeverTakeTheEditorsText()
{
    QFETCH(QString, rewrite);
    QFETCH(QString, name2);
    NamesSession s;
    QVERIFY(s.open());
    NamesPage *page = s.page();
    page->selectNameCell(2);
    QTest::keyClicks(page->Edit27, QStringLiteral("Stale"));
    // The rewrite runs while the editor still holds its text and the focus.
    if (rewrite == "read")
        page->ReadObjectNames();
    else if (rewrite == "defaults")
        page->LoadDefaultNames();
    else
        s.form->ResetDisplays();
    page->Button9->setFocus();
    page->selectNameCell(3);
    page->Button9->setFocus();
    QCOMPARE(page->cellText(2, 1), name2);
    QVERIFY(!page->Edit27->text().contains(QStringLiteral("Stale")));
}

void TestNamesPage::loadDefaultsThenCloseAsks()
{
    NamesSession s;
    QVERIFY(s.open());
    s.page()->BitBtn3->click();
    QCOMPARE(s.page()->cellText(1, 1), QStringLiteral("Unit001"));
    QCOMPARE(s.page()->cellText(100, 1), QStringLiteral("Unit100"));
    QCOMPARE(s.page()->cellText(101, 1), QStringLiteral("Sys_Mnet_State"));
    QVERIFY(s.messages.messages.isEmpty()); // no confirmation, nothing sent
    QCOMPARE(s.unitName(1), record(hallName(1)));
    QVERIFY(s.page()->Button10->isEnabled());
    s.messages.answers = {MsgAnswer::No};
    s.form->CloseConnection1Click();
    QCOMPARE(s.messages.messages.size(), 1);
    QCOMPARE(s.messages.messages.first().buttons, MsgButtons::YesNo);
    QVERIFY(!s.form->scheduler().CloseRequested);
    s.form->CloseConnection1Click(); // answered Yes
    QVERIFY(s.form->scheduler().CloseRequested);
    s.form->Timer2->fire();
    QVERIFY(!s.form->sessionOpen());
}

QTEST_MAIN(TestNamesPage)
#include "tst_namespage.moc"
