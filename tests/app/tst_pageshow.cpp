// Each configuration page's show() and entries() without a unit: what a
// reading puts on the page comes back as what the page would send, a part
// missing from the reading leaves its controls alone, showing is never an
// edit, and the page holds exactly what was shown with Hold::Shown. editTo()
// marks the page only when what it would send changed.

#include "AppTestKit.h"
#include "BACnetPage.h"
#include "G50Page.h"
#include "NamesPage.h"
#include "NetworkPage.h"
#include "RegisterMap.h"

#include <QLabel>
#include <QtTest>

namespace {

using Hold = SessionPage::Hold;
using Tab = TMainForm::Tab;

std::optional<std::uint16_t> lockOf(int word)
{
    return word < 0 ? std::nullopt : std::optional<std::uint16_t>(std::uint16_t(word));
}

} // namespace

Q_DECLARE_METATYPE(SessionPage::Hold)

class TestPageShow : public QObject
{
    Q_OBJECT
private slots:
    void network_data();
    void network();
    void g50_data();
    void g50();
    void bacnet_data();
    void bacnet();
    void names_data();
    void names();
    void editToMarksOnlyChanges_data();
    void editToMarksOnlyChanges();

private:
    WorkingFolder m_folder;
};

void TestPageShow::network_data()
{
    QTest::addColumn<bool>("withAddresses");
    QTest::addColumn<int>("lockWord"); // -1: the lock block did not arrive
    QTest::addColumn<Hold>("hold");
    QTest::addColumn<QString>("firstBox");
    QTest::addColumn<bool>("allowed");
    QTest::addColumn<bool>("holdsAll");
    QTest::newRow("read, unlocked") << true << 0 << Hold::Shown << "010" << true << true;
    QTest::newRow("read, locked") << true << int(ConfigLockedWord) << Hold::Shown << "010" << false
                                  << true;
    QTest::newRow("any other lock word allows")
        << true << 1 << Hold::Shown << "010" << true << true;
    QTest::newRow("shown, not held") << true << 0 << Hold::None << "010" << true << false;
    // The reading stopped before the lock block: its box stays as it was
    // (unticked) and unheld, so a send leaves the unit's lock alone.
    QTest::newRow("lock missing") << true << -1 << Hold::Shown << "010" << false << false;
    QTest::newRow("addresses missing") << false << 0 << Hold::Shown << "" << true << false;
}

void TestPageShow::network()
{
    QFETCH(bool, withAddresses);
    QFETCH(int, lockWord);
    QFETCH(Hold, hold);
    QFETCH(QString, firstBox);
    QFETCH(bool, allowed);
    QFETCH(bool, holdsAll);
    const auto form = makeMainForm();
    NetworkPage &page = *form->networkPage();
    NetworkReading reading;
    if (withAddresses)
        reading.addresses = NetworkAddresses{10, 1, 2, 300, 10, 1, 2, 254, 255, 255, 0, 0};
    reading.lockWord = lockOf(lockWord);
    reading.product = ProductInfo{5173, 134, {2, 0, 0, 0, 0, 0x1F}};
    page.show(reading, hold);

    const NetworkEntries entries = page.entries();
    QCOMPARE(entries.addresses[0], firstBox);
    if (withAddresses) {
        // A register too wide for an octet is shown whole, to be refused.
        QCOMPARE(entries.addresses[3], "300");
        QCOMPARE(entries.addresses[11], "000");
    }
    QCOMPARE(entries.allowConfigViaNetwork, allowed);
    QCOMPARE(page.holdsAllEntries(), holdsAll);
    QCOMPARE(page.Label3->text(), "QX5173 v1.34");
    QCOMPARE(page.UnitMacOctets, (std::array<int, 6>{2, 0, 0, 0, 0, 0x1F}));
    QVERIFY(!form->isTabHighlighted(Tab::Network));
}

void TestPageShow::g50_data()
{
    QTest::addColumn<Hold>("hold");
    QTest::newRow("held") << Hold::Shown;
    QTest::newRow("not held") << Hold::None;
}

void TestPageShow::g50()
{
    QFETCH(Hold, hold);
    const auto form = makeMainForm();
    G50Page &page = *form->g50Page();
    page.show(Octets4{192, 168, 1, 50}, hold);
    QCOMPARE(page.entries(), (std::array<QString, 4>{"192", "168", "001", "050"}));
    QCOMPARE(page.holdsAllEntries(), hold == Hold::Shown);
    QVERIFY(!form->isTabHighlighted(Tab::G50));
}

void TestPageShow::bacnet_data()
{
    QTest::addColumn<bool>("withIdentity");
    QTest::addColumn<quint32>("instance");
    QTest::addColumn<bool>("foreignDevice");
    QTest::addColumn<Hold>("hold");
    QTest::addColumn<bool>("invalidShown");
    QTest::addColumn<bool>("holdsAll");
    QTest::newRow("everything, held") << true << 4242u << true << Hold::Shown << false << true;
    QTest::newRow("not registering") << true << 0u << false << Hold::Shown << false << true;
    // 4194303 means "no instance": shown with its warning, to be refused.
    QTest::newRow("no instance") << true << 4194303u << false << Hold::Shown << true << true;
    QTest::newRow("not held") << true << 4242u << true << Hold::None << false << false;
    // Another unit's file: the Device ID and name stay as they were.
    QTest::newRow("identity left out") << false << 4242u << true << Hold::Shown << false << false;
}

void TestPageShow::bacnet()
{
    QFETCH(bool, withIdentity);
    QFETCH(quint32, instance);
    QFETCH(bool, foreignDevice);
    QFETCH(Hold, hold);
    QFETCH(bool, invalidShown);
    QFETCH(bool, holdsAll);
    const auto form = makeMainForm();
    BACnetPage &page = *form->bacnetPage();
    BACnetReading reading;
    if (withIdentity) {
        reading.instance = instance;
        reading.name = QByteArray("Plant r\xF6om");
    }
    BACnetOptions options;
    options.newSettingComparison = true;
    options.foreignDevice = foreignDevice;
    options.bbmd = {10, 0, 0, 7};
    options.timeToLive = 600;
    reading.options = options;
    page.show(reading, hold);

    const BACnetEntries entries = page.entries();
    QCOMPARE(entries.text(DeviceInstanceRow), withIdentity ? QString::number(instance) : QString());
    QCOMPARE(entries.text(DeviceNameRow),
             withIdentity ? QStringLiteral("Plant r\u00F6om") : QString());
    QVERIFY(entries.isOn(ComparisonRow));
    QCOMPARE(entries.isOn(ForeignDeviceRow), foreignDevice);
    QCOMPARE(entries.parts(BbmdRow), (QStringList{"010", "000", "000", "007"}));
    QCOMPARE(entries.text(TimeToLiveRow), "600");
    QCOMPARE(page.Label26->isVisibleTo(&page), invalidShown);
    // The BBMD panel follows the registration box, as after a get.
    QCOMPARE(page.Panel2->isEnabledTo(&page), foreignDevice);
    QCOMPARE(page.holdsAllEntries(), holdsAll);
    QVERIFY(!form->isTabHighlighted(Tab::BACnet));
    if (withIdentity && !invalidShown) {
        const BACnetEntryCheck check = checkBACnetEntries(entries);
        QVERIFY(check.ok());
        QCOMPARE(check.settings.instance, instance);
        QCOMPARE(check.settings.name, QByteArray("Plant r\xF6om"));
    }
}

void TestPageShow::names_data()
{
    QTest::addColumn<Hold>("hold");
    QTest::newRow("held") << Hold::Shown;
    QTest::newRow("not held") << Hold::None;
}

void TestPageShow::names()
{
    QFETCH(Hold, hold);
    const auto form = makeMainForm();
    NamesPage &page = *form->namesPage();
    page.show(NameUpdates{{1, "Hall"}, {57, "Caf\xE9"}, {100, "Roof"}, {101, "none"}}, hold);
    QCOMPARE(page.unitNames().value(0), "Hall");
    QCOMPARE(page.unitNames().value(56), QStringLiteral("Caf\u00E9"));
    QCOMPARE(page.unitNames().value(99), "Roof");
    // Only addresses 1 to 100 are names; the system objects keep theirs.
    QCOMPARE(page.cellText(101, 1), "Sys_Mnet_State");
    const std::map<int, QString> expected =
        hold == Hold::Shown
            ? std::map<int, QString>{{1, "Hall"}, {57, QStringLiteral("Caf\u00E9")}, {100, "Roof"}}
            : std::map<int, QString>{};
    QCOMPARE(page.entries(), expected);
    QVERIFY(!form->isTabHighlighted(Tab::Names));
}

void TestPageShow::editToMarksOnlyChanges_data()
{
    QTest::addColumn<int>("tab");
    QTest::addColumn<bool>("differs");
    for (Tab tab : {Tab::Network, Tab::G50, Tab::BACnet}) {
        const QByteArray name = QByteArray::number(int(tab));
        QTest::newRow("same " + name) << int(tab) << false;
        QTest::newRow("differs " + name) << int(tab) << true;
    }
}

void TestPageShow::editToMarksOnlyChanges()
{
    QFETCH(int, tab);
    QFETCH(bool, differs);
    const auto form = makeMainForm();
    const std::uint16_t last = differs ? 9 : 8;
    bool changed = false;
    switch (Tab(tab)) {
    case Tab::Network: {
        NetworkReading shown;
        shown.addresses = NetworkAddresses{10, 0, 0, 8, 10, 0, 0, 1, 255, 0, 0, 0};
        shown.lockWord = 0;
        form->networkPage()->show(shown, Hold::None);
        NetworkReading edit = shown;
        (*edit.addresses)[3] = last;
        changed = form->networkPage()->editTo(edit);
        QVERIFY(form->networkPage()->holdsAllEntries());
        break;
    }
    case Tab::G50:
        form->g50Page()->show(Octets4{10, 0, 0, 8}, Hold::None);
        changed = form->g50Page()->editTo(Octets4{10, 0, 0, last});
        QVERIFY(form->g50Page()->holdsAllEntries());
        break;
    default: {
        BACnetReading shown;
        shown.instance = 8;
        shown.name = "Plant";
        shown.options = BACnetOptions{};
        shown.options->timeToLive = 8;
        form->bacnetPage()->show(shown, Hold::None);
        BACnetReading edit = shown;
        edit.options->timeToLive = last;
        changed = form->bacnetPage()->editTo(edit);
        QVERIFY(form->bacnetPage()->holdsAllEntries());
        break;
    }
    }
    QCOMPARE(changed, differs);
    QCOMPARE(form->isTabHighlighted(Tab(tab)), differs);
}

QTEST_MAIN(TestPageShow)
#include "tst_pageshow.moc"
