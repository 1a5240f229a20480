// The "Unit Names" page against the simulator over Modbus TCP: reading and
// sending the 100 names with their progress, a failure part-way, the overlay
// editor's keys and navigation, and program rewrites of the grid that must
// never pick up the editor's old text. Registers are checked in the
// simulator's state file.

#include "MsgFrm.h"
#include "NamesPage.h"
#include "SimProcess.h"
#include "SimSession.h"

#include <QLabel>
#include <QPushButton>

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

QByteArray hall(int n)
{
    return "Hall " + QByteArray::number(n);
}

// The busy texts in the order the busy window painted them.
class BusyLog : public QObject
{
public:
    explicit BusyLog(TMainForm &form)
        : m_panel(form.busyWindow()->findChild<QLabel *>(QStringLiteral("Panel1")))
    {
        m_panel->installEventFilter(this);
    }
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && (texts.isEmpty() || texts.last() != m_panel->text()))
            texts << m_panel->text();
        return false;
    }
    QStringList texts;

private:
    QLabel *m_panel;
};

struct NamesSession
{
    WorkingFolder folder;
    UnitState state{folder.path() + QStringLiteral("/unit.json")};
    SimProcess sim;
    MessageRecorder messages;
    std::unique_ptr<TMainForm> form;
    NamesPage *page = nullptr;

    // The unit holds "Hall n", except a byte outside 7-bit ASCII in name 5
    // and a length byte of 25 in name 7.
    bool open(const QStringList &simArguments = {})
    {
        Regs names;
        for (int n = 1; n <= 100; ++n)
            names << (n == 5   ? record("Caf\xE9")
                      : n == 7 ? record("ABCDEFGHIJKLMNOPQRS", 25)
                               : record(hall(n)));
        state.seed(NamesUnitId, 0, names);
        if (!state.save() ||
            !sim.start(QStringList{"--no-animate"} + state.simArguments() + simArguments))
            return false;
        form = tcpSessionForm(sim.port());
        page = form->namesPage();
        form->pageControl()->setCurrentIndex(int(TMainForm::Tab::Names));
        return form->sessionOpen() && messages.messages.isEmpty() && activate(*form);
    }
    void request(QPushButton *button)
    {
        button->click();
        form->Timer2->fire();
    }
    Regs unitName(int n) const { return state.read(NamesUnitId, (n - 1) * 10, 10); }
    bool marked() const { return form->isTabHighlighted(TMainForm::Tab::Names); }
};

} // namespace

class TestNamesPage : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { dropRaiseWarnings(); }
    void readThenSendAllNames();
    void failureAtName40_data();
    void failureAtName40();
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
    BusyLog busy(*s.form);
    s.request(s.page->Button9);
    QCOMPARE(s.messages.texts(), QStringList{"Object Names Retrieved OK."});
    QCOMPARE(s.page->cellText(1, 1), QStringLiteral("Hall 1"));
    QCOMPARE(s.page->cellText(100, 1), QStringLiteral("Hall 100"));
    QCOMPARE(s.page->cellText(5, 1), QStringLiteral("Caf\u00E9"));
    QCOMPARE(s.page->cellText(7, 1), QStringLiteral("ABCDEFGHIJKLMNOPQRS"));
    QCOMPARE(s.page->ObjectNames.value(101), QStringLiteral("Sys_Mnet_State"));
    QVERIFY(!s.marked());
    // One painted step per name after the request's own text.
    QCOMPARE(busy.texts.size(), 101);
    QCOMPARE(busy.texts.at(37), QStringLiteral("Retrieving Object Names....37%"));
    QCOMPARE(busy.texts.last(), QStringLiteral("Retrieving Object Names....100%"));

    // Two names typed, everything else sent back as read.
    QVERIFY(activate(*s.form));
    s.page->selectNameCell(3);
    QTest::keyClicks(s.page->Edit27, QStringLiteral("Hall 3"));
    s.page->selectNameCell(9);
    QTest::keyClick(s.page->Edit27, Qt::Key_Backspace);
    QTest::keyClick(s.page->Edit27, Qt::Key_Down);
    QVERIFY(s.marked());
    s.messages.messages.clear();
    busy.texts.clear();
    s.request(s.page->Button10);
    QCOMPARE(s.messages.texts(), QStringList{"Object Names Transmitted OK."});
    QCOMPARE(s.unitName(3), (Regs{0x0648, 0x616C, 0x6C20, 0x3300, 0, 0, 0, 0, 0, 0}));
    QCOMPARE(s.unitName(9), Regs(10, 0));
    QCOMPARE(s.unitName(5), record("Caf\xE9")); // the same byte back
    QCOMPARE(s.unitName(7), record("ABCDEFGHIJKLMNOPQRS"));
    QCOMPARE(s.unitName(100), record(hall(100)));
    QCOMPARE(busy.texts.last(), QStringLiteral("Transmitting Object Names....100%"));
    QVERIFY(!s.marked());
    QVERIFY(!s.page->Button10->isEnabled());
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
    s.page->BitBtn3->click(); // Unit001 to Unit100 in the grid, none on the unit
    BusyLog busy(*s.form);
    s.request(send ? s.page->Button10 : s.page->Button9);
    // A send says how far it got: those names are on the unit now.
    QCOMPARE(s.messages.texts(),
             QStringList{send ? "Error Transmitting Object Names.\n39 of 100 names were written "
                                "before the error (addresses 1-39)."
                              : "Error Retrieving Object Names."});
    QCOMPARE(s.messages.messages.first().kind, MsgKind::Error);
    QVERIFY(busy.texts.last().endsWith(QStringLiteral("Object Names....40%")));
    for (int n : {1, 39, 40, 100}) {
        const QString unitName = QString::asprintf("Unit%03d", n);
        const bool before = n < 40;
        QCOMPARE(s.unitName(n), record(before && send ? unitName.toLatin1() : hall(n)));
        QCOMPARE(s.page->cellText(n, 1), before && !send ? QString::fromLatin1(hall(n)) : unitName);
    }
    QVERIFY(s.marked()); // the defaults are still unsent
    QVERIFY(s.page->Button10->isEnabled());
    QVERIFY(!s.form->busyWindow()->isVisible());
}

void TestNamesPage::editorKeys()
{
    NamesSession s;
    QVERIFY(s.open());
    s.page->selectNameCell(4);
    for (const QChar c : QStringLiteral("a!b=c.d#e\u00E9ABCDEFGHIJKLMNOP"))
        QTest::sendKeyEvent(QTest::Click, s.page->Edit27, Qt::Key(c.toUpper().unicode()), c,
                            Qt::NoModifier);
    QCOMPARE(s.page->Edit27->text(), QStringLiteral("abc.d#eABCDEFGHIJKL")); // 19 at most
    // Pasted text goes in only when every character can be sent as it is.
    s.page->Edit27->clear();
    s.page->Edit27->insert(QStringLiteral("Hall \u20AC"));
    QCOMPARE(s.page->Edit27->text(), QString());
    s.page->Edit27->insert(QStringLiteral("Caf\u00E9!"));
    QCOMPARE(s.page->Edit27->text(), QStringLiteral("Caf\u00E9!"));
}

void TestNamesPage::editorNavigation_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("shift");
    QTest::addColumn<int>("target");
    QTest::newRow("Enter") << 50 << int(Qt::Key_Return) << false << 51;
    QTest::newRow("Up on row 1 stays") << 1 << int(Qt::Key_Up) << false << 1;
    QTest::newRow("Page Up clamps") << 3 << int(Qt::Key_PageUp) << false << 1;
    QTest::newRow("Page Down into the system rows") << 98 << int(Qt::Key_PageDown) << false << 103;
    QTest::newRow("Shift+Down does not move") << 20 << int(Qt::Key_Down) << true << 20;
}

void TestNamesPage::editorNavigation()
{
    QFETCH(int, row);
    QFETCH(int, key);
    QFETCH(bool, shift);
    QFETCH(int, target);
    NamesSession s;
    QVERIFY(s.open());
    s.page->selectNameCell(row);
    QTest::keyClick(s.page->Edit27, Qt::Key(key), shift ? Qt::ShiftModifier : Qt::NoModifier);
    QCOMPARE(s.page->currentRow(), target);
    QCOMPARE(s.page->Edit27->isVisible(), target <= 100);
    QVERIFY(!s.marked()); // moving is not an edit
    // Typed text goes into the row that is left.
    s.page->selectNameCell(row);
    QTest::keyClicks(s.page->Edit27, QStringLiteral("Lobby"));
    QVERIFY(s.marked());
    QTest::keyClick(s.page->Edit27, Qt::Key(key));
    s.page->Button9->setFocus();
    QCOMPARE(s.page->cellText(row, 1), QStringLiteral("Lobby"));
}

void TestNamesPage::rewritesNeverTakeTheEditorsText_data()
{
    QTest::addColumn<int>("rewrite");
    QTest::addColumn<QString>("name2");
    QTest::newRow("read") << 0 << "Hall 2";
    QTest::newRow("defaults") << 1 << "Unit002";
    QTest::newRow("reset") << 2 << "";
}

void TestNamesPage::rewritesNeverTakeTheEditorsText()
{
    QFETCH(int, rewrite);
    QFETCH(QString, name2);
    NamesSession s;
    QVERIFY(s.open());
    s.page->selectNameCell(2);
    QTest::keyClicks(s.page->Edit27, QStringLiteral("Stale"));
    // The rewrite runs while the editor still holds its text and the focus.
    if (rewrite == 0)
        s.page->ReadObjectNames();
    else if (rewrite == 1)
        s.page->LoadDefaultNames();
    else
        s.form->ResetDisplays();
    s.page->Button9->setFocus();
    s.page->selectNameCell(3);
    s.page->Button9->setFocus();
    QCOMPARE(s.page->cellText(2, 1), name2);
}

void TestNamesPage::loadDefaultsThenCloseAsks()
{
    NamesSession s;
    QVERIFY(s.open());
    s.page->BitBtn3->click();
    QCOMPARE(s.page->cellText(100, 1), QStringLiteral("Unit100"));
    QCOMPARE(s.page->cellText(101, 1), QStringLiteral("Sys_Mnet_State"));
    QVERIFY(s.messages.messages.isEmpty()); // no confirmation, nothing sent
    QCOMPARE(s.unitName(1), record(hall(1)));
    s.messages.answers = {MsgAnswer::No};
    s.form->CloseConnection1Click();
    QCOMPARE(s.messages.messages.size(), 1);
    QCOMPARE(s.messages.messages.first().buttons, MsgButtons::YesNo);
    QVERIFY(!s.form->scheduler().CloseRequested);
}

QTEST_MAIN(TestNamesPage)
#include "tst_namespage.moc"
