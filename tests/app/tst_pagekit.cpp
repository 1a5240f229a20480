// The page interface and the page building blocks without the main window:
// unsent changes and the loading guard, validation with focus on the first
// refused box, edit boxes that show program text whole, clamped bars, and
// the one saved-cursor slot.

#include "PageHost.h"
#include "PageKit.h"
#include "RegisterAccess.h"
#include "SessionPage.h"
#include "UiSupport.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

namespace {

class FakeHost : public PageHost
{
public:
    RegisterAccess &access() override { return m_access; }
    RequestScheduler &scheduler() override { return m_scheduler; }
    void raiseRequest(Request request) override { m_scheduler.setPending(request, true); }
    bool resettingPages() const override { return resetting; }
    bool hasUnsentChanges() const override { return false; }
    bool serviceMode() const override { return false; }
    void showBusy(const QString &text) override { busy = text; }
    void hideBusy() override { busy.clear(); }
    void saveCursor() override { ++cursorSaves; }
    void restoreCursor() override { ++cursorRestores; }
    void BeginClose() override {}
    UnitCheck confirmSessionUnit() override { return UnitCheck::Same; }
    void leaveOtherUnit() override {}
    void sessionUnitMacChanged(const std::array<std::uint16_t, 6> &) override {}
    void keepUnsentChanges() override {}

    bool resetting = false;
    QString busy;
    int cursorSaves = 0;
    int cursorRestores = 0;

private:
    RegisterAccess m_access;
    RequestScheduler m_scheduler;
};

// A page with one get button, one send button and three octet boxes.
class ProbePage : public SessionPage
{
public:
    explicit ProbePage(PageHost &host) : SessionPage(host, nullptr)
    {
        get = new QPushButton(this);
        send = new QPushButton(this);
        for (int i = 0; i < 3; ++i)
            boxes << PageKit::edit(this, QStringLiteral("Box%1").arg(i), 3, QRect(0, 0, 40, 20));
        setRequestButtons({get}, send);
    }
    std::optional<std::vector<int>> validate()
    {
        return takeNumbers(boxes, 0, 255, QStringLiteral("Invalid Data."));
    }
    void finishSend(bool ok)
    {
        finishRequest(Finish::Send, ok, QStringLiteral("Sent."), QStringLiteral("Not sent."));
    }

    QPushButton *get = nullptr;
    QPushButton *send = nullptr;
    QList<QLineEdit *> boxes;
};

} // namespace

class TestPageKit : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void unsentChangesAndTheLoadingGuard();
    void requestButtonsFollowTheUnsentState();
    void validationRefusesTheFirstInvalidBox_data();
    void validationRefusesTheFirstInvalidBox();
    void finishingASend();
    void editBoxesShowProgramTextWholeAndLimitTyping();
    void barsClampValuesOutsideTheirRange();
    void secondCursorSaveKeepsTheFirst();

private:
    QStringList m_messages;
};

void TestPageKit::init()
{
    m_messages.clear();
    setMessageInterceptor([this](const QString &text, MsgKind, MsgButtons) {
        m_messages << text;
        return MsgAnswer::Ok;
    });
}

void TestPageKit::cleanup()
{
    setMessageInterceptor({});
    while (QGuiApplication::overrideCursor())
        QGuiApplication::restoreOverrideCursor();
}

void TestPageKit::unsentChangesAndTheLoadingGuard()
{
    FakeHost host;
    ProbePage page(host);
    QSignalSpy changes(&page, &SessionPage::unsentChanged);
    {
        const SessionPage::Loading loading(page);
        page.boxes[0]->setText(QStringLiteral("10"));
        page.markUnsent();
    }
    host.resetting = true;
    page.markUnsent();
    host.resetting = false;
    QVERIFY(!page.hasUnsentChanges());
    QVERIFY(changes.isEmpty());

    page.markUnsent();
    page.markUnsent(); // an edit of an already marked page signals nothing new
    QVERIFY(page.hasUnsentChanges());
    QVERIFY(page.send->isEnabled());
    QCOMPARE(changes.size(), 1);
    page.clearUnsent();
    QVERIFY(!page.hasUnsentChanges());
    QVERIFY(!page.send->isEnabled());
    QCOMPARE(changes.size(), 2);
    QCOMPARE(changes.last().first().toBool(), false);
}

void TestPageKit::requestButtonsFollowTheUnsentState()
{
    FakeHost host;
    ProbePage page(host);
    page.clearUnsent();
    page.disableRequestButtons();
    page.enableRequestButtons();
    QVERIFY(page.get->isEnabled());
    QVERIFY(!page.send->isEnabled()); // nothing unsent: "Send To Unit" stays off
    page.markUnsent();
    page.disableRequestButtons();
    QVERIFY(!page.get->isEnabled());
    QVERIFY(!page.send->isEnabled());
    page.enableRequestButtons();
    QVERIFY(page.send->isEnabled());
}

void TestPageKit::validationRefusesTheFirstInvalidBox_data()
{
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<int>("refused"); // -1: all accepted
    QTest::addColumn<QList<int>>("values");
    QTest::newRow("leading zeros") << QStringList{"7", "007", "255"} << -1 << QList<int>{7, 7, 255};
    QTest::newRow("hexadecimal") << QStringList{"$ff", "0x10", "x1"} << -1
                                 << QList<int>{255, 16, 1};
    QTest::newRow("256") << QStringList{"1", "256", "2"} << 1 << QList<int>{};
    QTest::newRow("negative") << QStringList{"-1", "1", "1"} << 0 << QList<int>{};
    QTest::newRow("decimal point") << QStringList{"1", "1", "1.2"} << 2 << QList<int>{};
    QTest::newRow("empty") << QStringList{"1", "", "1"} << 1 << QList<int>{};
    QTest::newRow("two bad: first reported") << QStringList{"1", "a", "300"} << 1 << QList<int>{};
    QTest::newRow("shown whole, refused") << QStringList{"1000", "1", "1"} << 0 << QList<int>{};
}

void TestPageKit::validationRefusesTheFirstInvalidBox()
{
    QFETCH(QStringList, texts);
    QFETCH(int, refused);
    QFETCH(QList<int>, values);
    FakeHost host;
    ProbePage page(host);
    page.show();
    page.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&page));
    for (int i = 0; i < 3; ++i)
        page.boxes[i]->setText(texts[i]);
    host.busy = QStringLiteral("Transmitting....");
    const auto result = page.validate();
    if (refused < 0) {
        QVERIFY(result);
        QCOMPARE(QList<int>(result->begin(), result->end()), values);
        QVERIFY(m_messages.isEmpty());
        QCOMPARE(host.cursorRestores, 0);
        return;
    }
    QVERIFY(!result);
    QCOMPARE(m_messages, QStringList{QStringLiteral("Invalid Data.")});
    QCOMPARE(host.cursorRestores, 1);
    QVERIFY(host.busy.isEmpty());
    QTRY_VERIFY(page.boxes[refused]->hasFocus());
}

void TestPageKit::finishingASend()
{
    FakeHost host;
    ProbePage page(host);
    page.markUnsent();
    page.finishSend(false);
    QCOMPARE(m_messages, QStringList{QStringLiteral("Not sent.")});
    QVERIFY(page.hasUnsentChanges()); // a failed send keeps the mark
    page.finishSend(true);
    QCOMPARE(m_messages.last(), QStringLiteral("Sent."));
    QVERIFY(!page.hasUnsentChanges());
    QCOMPARE(host.cursorRestores, 2);
}

void TestPageKit::editBoxesShowProgramTextWholeAndLimitTyping()
{
    FakeHost host;
    ProbePage page(host);
    QLineEdit *box = page.boxes[0];
    // A register value too wide for its box is shown whole, never cut to
    // "100" (which would then pass validation and be written back).
    box->setText(QStringLiteral("1000"));
    QCOMPARE(box->text(), QStringLiteral("1000"));
    box->setText(QStringLiteral("12"));
    box->setFocus();
    box->end(false);
    QTest::keyClicks(box, QStringLiteral("345"));
    QCOMPARE(box->text(), QStringLiteral("123"));
    box->clear();
    QTest::keyClicks(box, QStringLiteral("98765"));
    QCOMPARE(box->text(), QStringLiteral("987"));
}

void TestPageKit::barsClampValuesOutsideTheirRange()
{
    QProgressBar bar;
    bar.setRange(0, 100);
    setBarValue(&bar, 40);
    setBarValue(&bar, 1505);
    QCOMPARE(bar.value(), 100);
    setBarValue(&bar, -3);
    QCOMPARE(bar.value(), 0);
}

void TestPageKit::secondCursorSaveKeepsTheFirst()
{
    CursorSlot slot;
    QVERIFY(!QGuiApplication::overrideCursor());
    slot.save();
    slot.save(); // restart raised, then a get before the next tick
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    slot.restore();
    QVERIFY(!QGuiApplication::overrideCursor()); // not the hourglass for good

    QGuiApplication::setOverrideCursor(Qt::CrossCursor);
    slot.save();
    slot.save();
    slot.restore();
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::CrossCursor);
}

QTEST_MAIN(TestPageKit)
#include "tst_pagekit.moc"
