// The File menu's configuration files against the simulator on loopback, with
// the file dialog replaced: saving the unit's configuration, opening a file
// into the pages (which pages are marked, the Network page only on request,
// nothing sent), refused files that change nothing, the names as CSV and the
// commissioning report.

#include "BACnetPage.h"
#include "ConfigFiles.h"
#include "G50Page.h"
#include "MsgFrm.h"
#include "NamesCsv.h"
#include "NamesPage.h"
#include "NetworkPage.h"
#include "SimProcess.h"
#include "SimSession.h"
#include "SpecialFiles.h"

#include <QAction>
#include <QCheckBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>

namespace {

using Tab = TMainForm::Tab;

struct Bench
{
    WorkingFolder folder;
    SimProcess sim;
    MessageRecorder messages;
    std::unique_ptr<TMainForm> form;
    QList<FileDialogKind> asked;
    FileChoice next; // what the replaced dialog answers

    Bench()
    {
        setFileDialogInterceptor([this](FileDialogKind kind, const QString &) {
            asked << kind;
            return next.path.isEmpty() ? std::nullopt : std::optional<FileChoice>(next);
        });
    }
    ~Bench()
    {
        setFileDialogInterceptor({});
        if (form && form->sessionOpen()) {
            form->BeginClose();
            form->EndSession();
        }
        sim.stop();
    }
    bool open()
    {
        if (!sim.start({QStringLiteral("--no-animate")}))
            return false;
        form = tcpSessionForm(sim.port());
        return form->sessionOpen() && messages.messages.isEmpty();
    }
    QString file(const QString &name) const { return folder.path() + QLatin1Char('/') + name; }
    ConfigFiles &files() const { return *form->configFiles(); }
    // A request from the menu, served by one tick.
    void request(QAction *action)
    {
        action->trigger();
        form->Timer2->fire();
    }
    void openConfig(const QString &path, bool includeNetwork, bool includeIdentity = false)
    {
        next = {path, includeNetwork, includeIdentity};
        files().OpenConfig1->trigger();
    }
    QString saveConfig(const QString &name)
    {
        next = {file(name), false};
        request(form->SaveCurrentConfig1);
        return next.path;
    }
    QList<bool> marks() const
    {
        QList<bool> m;
        for (Tab tab : {Tab::Network, Tab::G50, Tab::BACnet, Tab::Names})
            m << form->isTabHighlighted(tab);
        return m;
    }
    // Everything the four configuration pages show.
    QStringList shown() const
    {
        QStringList s;
        for (QLineEdit *box : form->networkPage()->boxes)
            s << box->text();
        s << QString::number(form->networkPage()->CheckBox3->isChecked());
        for (QLineEdit *box : form->g50Page()->boxes)
            s << box->text();
        const BACnetPage &b = *form->bacnetPage();
        s << b.Edit21->text() << b.Edit22->text() << b.Edit28->text()
          << QString::number(b.CheckBox2->isChecked());
        return s + form->namesPage()->unitNames();
    }
};

QJsonObject readJson(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).object()
                                       : QJsonObject();
}

bool writeText(const QString &path, const QByteArray &text)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
}

// A saved configuration with every configuration value other than the unit's,
// and saved from another unit when otherUnit is set.
QJsonObject edited(QJsonObject config, bool otherUnit)
{
    QJsonObject network = config.value("network").toObject();
    network.insert("ipAddress", "10.20.30.40");
    config.insert("network", network);
    config.insert("g50", QJsonObject{{"ipAddress", "10.0.0.50"}});
    QJsonObject bacnet = config.value("bacnet").toObject();
    bacnet.insert("deviceInstance", 4242);
    bacnet.insert("deviceName", QStringLiteral("Plant r\u00F6om"));
    config.insert("bacnet", bacnet);
    QJsonArray names = config.value("objectNames").toArray();
    names[2] = "Boiler";
    config.insert("objectNames", names);
    if (otherUnit) {
        QJsonObject identity = config.value("identity").toObject();
        identity.insert("mac", "02:00:00:00:00:99");
        config.insert("identity", identity);
    }
    return config;
}

// The sections a unit holds, without the time of saving.
QJsonObject unitPart(QJsonObject config)
{
    config.remove("savedAt");
    return config;
}

} // namespace

Q_DECLARE_METATYPE(FileDialogKind)

class TestConfigFiles : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { dropRaiseWarnings(); }
    void menuFollowsSessionAndPage();
    void saveThenOpenFillsPagesAndSendsNothing_data();
    void saveThenOpenFillsPagesAndSendsNothing();
    void openedFileIsWhatThePagesSend_data();
    void openedFileIsWhatThePagesSend();
    void refusedFileChangesNothing_data();
    void refusedFileChangesNothing();
    void namesCsv();
    void report_data();
    void report();
    void inputsThatAreNotFilesAreRefused_data();
    void inputsThatAreNotFilesAreRefused();
    void outputsThatAreNotFilesAreLeftAlone_data();
    void outputsThatAreNotFilesAreLeftAlone();
};

void TestConfigFiles::menuFollowsSessionAndPage()
{
    Bench b;
    b.form = makeMainForm();
    QVERIFY(!b.form->SaveCurrentConfig1->isEnabled());
    QVERIFY(!b.files().OpenConfig1->isEnabled());
    QVERIFY(!b.files().ImportNames1->isVisible());
    b.form.reset();
    QVERIFY(b.open());
    for (QAction *a : {b.form->SaveCurrentConfig1, b.files().OpenConfig1, b.files().SaveReport1})
        QVERIFY(a->isEnabled());
    QVERIFY(!b.files().ExportNames1->isVisible());
    b.form->pageControl()->setCurrentIndex(int(Tab::Names));
    QVERIFY(b.files().ExportNames1->isVisible() && b.files().ImportNames1->isEnabled());
    b.form->pageControl()->setCurrentIndex(int(Tab::G50));
    QVERIFY(!b.files().ImportNames1->isVisible());
    // A cancelled dialog saves nothing and says nothing.
    b.next = {};
    b.request(b.form->SaveCurrentConfig1);
    QCOMPARE(b.asked, QList<FileDialogKind>{FileDialogKind::SaveConfig});
    QVERIFY(b.messages.messages.isEmpty());
    QVERIFY(b.form->isEnabled());
    b.form->BeginClose();
    b.form->EndSession();
    QVERIFY(!b.form->SaveCurrentConfig1->isEnabled());
    QVERIFY(!b.files().SaveReport1->isEnabled());
}

void TestConfigFiles::saveThenOpenFillsPagesAndSendsNothing_data()
{
    QTest::addColumn<bool>("includeNetwork");
    QTest::addColumn<bool>("otherUnit");
    QTest::addColumn<bool>("includeIdentity");
    QTest::newRow("network left out") << false << false << false;
    QTest::newRow("network asked for") << true << false << false;
    // Another unit's Device ID and name would give two devices one identity.
    QTest::newRow("another unit's file") << false << true << false;
    QTest::newRow("another unit's identity asked for") << false << true << true;
}

void TestConfigFiles::saveThenOpenFillsPagesAndSendsNothing()
{
    QFETCH(bool, includeNetwork);
    QFETCH(bool, otherUnit);
    QFETCH(bool, includeIdentity);
    Bench b;
    QVERIFY(b.open());
    const QString saved = b.saveConfig("unit.json");
    QCOMPARE(b.messages.texts(), QStringList{"Configuration saved to " + saved + "."});
    QVERIFY(!b.form->busyWindow()->isVisible());
    const QJsonObject config = readJson(saved);
    for (const char *key : {"network", "g50", "bacnet", "identity", "savedAt"})
        QVERIFY2(config.contains(key), key);
    QCOMPARE(config.value("objectNames").toArray().size(), 100);
    QCOMPARE(config.value("savedBy").toObject().value("tool").toString(), "QuorixIPB_Cfg");
    // The version --version prints, not the four-part file version.
    QCOMPARE(config.value("savedBy").toObject().value("version").toString(),
             QStringLiteral(RAVELIN_TEST_PROJECT_VERSION));

    const QString path = b.file("edited.json");
    QVERIFY(writeText(path, QJsonDocument(edited(config, otherUnit)).toJson()));
    const QString mac = b.form->networkPage()->Label2->text();
    const QStringList networkBefore = b.shown().mid(0, 13);
    b.messages.messages.clear();
    b.openConfig(path, includeNetwork, includeIdentity);
    QCOMPARE(b.marks(), (QList<bool>{includeNetwork, true, true, true}));
    QCOMPARE(b.messages.messages.size(), 1);
    QCOMPARE(b.messages.messages[0].kind, MsgKind::Information);
    const bool identity = !otherUnit || includeIdentity;
    QCOMPARE(b.messages.texts()[0].contains("its BACnet Device ID and name were left out"),
             !identity);
    const QStringList now = b.shown();
    if (includeNetwork)
        QCOMPARE(now.mid(0, 4), (QStringList{"010", "020", "030", "040"}));
    else
        QCOMPARE(now.mid(0, 13), networkBefore);
    QCOMPARE(b.form->networkPage()->Label2->text(), mac); // the MAC never
    QCOMPARE(now.mid(13, 4), (QStringList{"010", "000", "000", "050"}));
    QCOMPARE(b.form->bacnetPage()->Edit21->text(), identity ? "4242" : "");
    QCOMPARE(b.form->bacnetPage()->Edit22->text(),
             identity ? QStringLiteral("Plant r\u00F6om") : QString());
    QCOMPARE(b.form->namesPage()->unitNames()[2], "Boiler");

    // Opening the same file again changes nothing more; nothing reached the unit.
    b.openConfig(path, includeNetwork, includeIdentity);
    QVERIFY(b.messages.texts().last().contains("nothing was changed"));
    b.saveConfig("again.json");
    QCOMPARE(unitPart(readJson(b.file("again.json"))), unitPart(config));
}

void TestConfigFiles::openedFileIsWhatThePagesSend_data()
{
    saveThenOpenFillsPagesAndSendsNothing_data();
}

// A file fills the pages through show(): each page then gives the file's
// values back as what it would send and holds exactly the sections filled, so
// the unsent changes saved on losing the link are those sections.
void TestConfigFiles::openedFileIsWhatThePagesSend()
{
    QFETCH(bool, includeNetwork);
    QFETCH(bool, otherUnit);
    QFETCH(bool, includeIdentity);
    Bench b;
    QVERIFY(b.open());
    const QJsonObject config = readJson(b.saveConfig("unit.json"));
    const QString path = b.file("edited.json");
    QVERIFY(writeText(path, QJsonDocument(edited(config, otherUnit)).toJson()));
    b.openConfig(path, includeNetwork, includeIdentity);

    const bool identity = !otherUnit || includeIdentity;
    const NetworkPage &network = *b.form->networkPage();
    QCOMPARE(network.holdsAllEntries(), includeNetwork);
    const std::array<QString, 12> addresses = network.entries().addresses;
    if (includeNetwork)
        QCOMPARE(QStringList(addresses.begin(), addresses.begin() + 4),
                 (QStringList{"010", "020", "030", "040"}));
    QCOMPARE(b.form->g50Page()->entries(), (std::array<QString, 4>{"010", "000", "000", "050"}));
    QVERIFY(b.form->g50Page()->holdsAllEntries());
    const BACnetPage &bacnet = *b.form->bacnetPage();
    QCOMPARE(bacnet.holdsAllEntries(), identity);
    QCOMPARE(bacnet.entries().text(DeviceInstanceRow), identity ? "4242" : "");
    const std::map<int, QString> names = b.form->namesPage()->entries();
    QCOMPARE(names.size(), std::size_t(100));
    QCOMPARE(names.at(3), "Boiler");

    setFileDialogInterceptor([&b](FileDialogKind kind, const QString &) {
        return std::optional<FileChoice>(
            FileChoice{b.file(kind == FileDialogKind::ExportNames ? "unsent.csv" : "unsent.json")});
    });
    b.files().saveUnsentChanges();
    const QJsonObject unsent = readJson(b.file("unsent.json"));
    QCOMPARE(unsent.contains("network"), includeNetwork);
    QVERIFY(unsent.contains("g50"));
    QCOMPARE(unsent.contains("bacnet"), identity);
    if (identity)
        QCOMPARE(unsent.value("bacnet").toObject().value("deviceInstance").toInt(), 4242);
    QVERIFY(QFileInfo(b.file("unsent.csv")).size() > 0);
}

void TestConfigFiles::refusedFileChangesNothing_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("reason");
    const QByteArray head = "{\n\"format\": \"ravelin-unit-config\",\n\"formatVersion\": 1,\n"
                            "\"g50\": {\"ipAddress\": \"1.2.3.4\"},\n";
    QTest::newRow("out of range")
        << head + "\"bacnet\": {\"bbmdAddress\": \"0.0.0.0\", \"deviceName\": \"a\",\n"
                  "\"deviceInstance\": 4194303,\n\"foreignDevice\": false, "
                  "\"newSettingComparison\": false, \"timeToLive\": 0}\n}"
        << "line 6, bacnet.deviceInstance: 4194303 is out of range";
    QTest::newRow("cut short") << head + "\"objectNames\": [\"a\",\n\"b\","
                               << "ends early";
    QTest::newRow("newer format") << QByteArray("{\"format\": \"ravelin-unit-config\", "
                                                "\"formatVersion\": 2}")
                                  << "format version 2";
    QByteArray names = "\"objectNames\": [\"Kitchen \xE2\x82\xAC\"";
    for (int i = 1; i < 100; ++i)
        names += ", \"x\"";
    QTest::newRow("unstorable name") << head + names + "]\n}"
                                     << "line 5, objectNames[0]";
}

void TestConfigFiles::refusedFileChangesNothing()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, reason);
    Bench b;
    QVERIFY(b.open());
    const QString path = b.file("bad.json");
    QVERIFY(writeText(path, text));
    const QStringList before = b.shown();
    b.openConfig(path, true);
    QCOMPARE(b.messages.messages.size(), 1);
    QCOMPARE(b.messages.messages[0].kind, MsgKind::Error);
    QVERIFY2(b.messages.texts()[0].startsWith("bad.json: ") &&
                 b.messages.texts()[0].contains(reason) &&
                 b.messages.texts()[0].contains("nothing was changed"),
             qPrintable(b.messages.texts()[0]));
    QCOMPARE(b.shown(), before);
    QCOMPARE(b.marks(), (QList<bool>{false, false, false, false}));
}

void TestConfigFiles::namesCsv()
{
    Bench b;
    QVERIFY(b.open());
    b.form->pageControl()->setCurrentIndex(int(Tab::Names));
    const QStringList before = b.form->namesPage()->unitNames();

    // Faults name their lines and leave the grid alone.
    const QString bad = b.file("bad.csv");
    QVERIFY(writeText(bad, "address,name\r\n1,Ok\r\n2,ABCDEFGHIJKLMNOPQRSTUVW\r\n101,x\r\n"));
    b.next = {bad, false};
    b.files().ImportNames1->trigger();
    QCOMPARE(b.messages.messages.size(), 1);
    QVERIFY2(b.messages.texts()[0].contains("line 3") && b.messages.texts()[0].contains("line 4"),
             qPrintable(b.messages.texts()[0]));
    QCOMPARE(b.form->namesPage()->unitNames(), before);
    QVERIFY(!b.form->isTabHighlighted(Tab::Names));

    // Nothing read yet: an export of empty rows would clear names wherever
    // it is imported, so none is written.
    const QString out = b.file("out.csv");
    b.next = {out, false};
    b.messages.messages.clear();
    b.files().ExportNames1->trigger();
    QVERIFY(!QFile::exists(out));
    QCOMPARE(b.messages.messages.size(), 1);
    QVERIFY(b.messages.texts()[0].contains("Nothing was exported"));

    // Partial, reordered rows fill only their names and mark the page.
    const QString good = b.file("good.csv");
    QVERIFY(writeText(good, "name;address\n\"Hall; east\";7\nCaf\xC3\xA9;002\n"));
    b.next = {good, false};
    b.files().ImportNames1->trigger();
    QStringList expected = before;
    expected[6] = "Hall; east";
    expected[1] = QStringLiteral("Caf\u00E9");
    QCOMPARE(b.form->namesPage()->unitNames(), expected);
    QVERIFY(b.form->isTabHighlighted(Tab::Names));
    QVERIFY(!b.form->isTabHighlighted(Tab::BACnet));

    // Exported, then read back: the names the page holds, no others.
    b.next = {out, false};
    b.files().ExportNames1->trigger();
    std::optional<NameUpdates> back;
    {
        QFile f(out);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QStringList faults;
        back = parseNamesCsv(f.readAll(), &faults);
        QVERIFY2(back, qPrintable(faults.join('\n')));
    }
    QCOMPARE(int(back->size()), 2);
    QCOMPARE(back->at(2), QByteArray("Caf\xE9"));
    QCOMPARE(back->at(7), QByteArray("Hall; east"));
}

void TestConfigFiles::report_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("html") << "report.html";
    QTest::newRow("pdf") << "report.pdf";
}

void TestConfigFiles::report()
{
    QFETCH(QString, name);
    Bench b;
    QVERIFY(b.open());
    b.next = {b.file(name), false};
    b.request(b.files().SaveReport1);
    QCOMPARE(b.messages.texts(), QStringList{"Report written to " + b.next.path + "."});
    QFile f(b.next.path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    if (name.endsWith(".pdf")) {
        QVERIFY(text.startsWith("%PDF"));
    } else {
        // The unit's values as the saved configuration has them.
        const QJsonObject config = readJson(b.saveConfig("unit.json"));
        const QString html = QString::fromUtf8(text);
        QVERIFY(html.contains(config.value("identity").toObject().value("mac").toString()));
        QVERIFY(html.contains(config.value("g50").toObject().value("ipAddress").toString()));
        QVERIFY(html.contains("127.0.0.1"));
        QVERIFY(html.contains(QStringLiteral("QuorixIPB_Cfg " RAVELIN_TEST_PROJECT_VERSION "<")));
    }
}

// Opening a configuration or importing names from something that is not a
// regular file: refused at once with the reason. A FIFO without a writer used
// to freeze the window (the watchdog releases it).
void TestConfigFiles::inputsThatAreNotFilesAreRefused_data()
{
    QTest::addColumn<FileDialogKind>("action");
    QTest::addColumn<QString>("kind");
    for (const auto &[action, name] : {std::pair{FileDialogKind::OpenConfig, "open config"},
                                       std::pair{FileDialogKind::ImportNames, "import names"}})
        for (const char *kind : {"fifo", "device", "directory"})
            QTest::addRow("%s, %s", name, kind) << action << kind;
}

void TestConfigFiles::inputsThatAreNotFilesAreRefused()
{
    QFETCH(FileDialogKind, action);
    QFETCH(QString, kind);
    Bench b;
    QVERIFY(b.open());
    const QString path = b.file("input");
    MAKE_NODE(path, kind);
    const QStringList before = b.shown();

    FifoWatchdog watchdog(path);
    if (action == FileDialogKind::OpenConfig) {
        b.openConfig(path, true);
    } else {
        b.form->pageControl()->setCurrentIndex(int(Tab::Names));
        b.next = {path, false};
        b.files().ImportNames1->trigger();
    }
    watchdog.done();
    QVERIFY2(!watchdog.fired(), "the window blocked on the file");
    QCOMPARE(b.messages.messages.size(), 1);
    QCOMPARE(b.messages.messages[0].kind, MsgKind::Error);
    QVERIFY2(b.messages.texts()[0].contains("not a regular file"),
             qPrintable(b.messages.texts()[0]));
    QCOMPARE(b.shown(), before);
    QCOMPARE(b.marks(), (QList<bool>{false, false, false, false}));
    QCOMPARE(nodeType(path), kind);
}

// Saving the configuration, the report or the names onto a FIFO or a device
// node: refused with the reason and the node left as it was (it used to be
// replaced by a regular file).
void TestConfigFiles::outputsThatAreNotFilesAreLeftAlone_data()
{
    QTest::addColumn<FileDialogKind>("action");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    const std::pair<FileDialogKind, const char *> actions[] = {
        {FileDialogKind::SaveConfig, "unit.json"},
        {FileDialogKind::SaveReport, "report.html"},
        {FileDialogKind::SaveReport, "report.pdf"},
        {FileDialogKind::ExportNames, "names.csv"}};
    for (const auto &[action, name] : actions)
        for (const char *kind : {"fifo", "device"})
            QTest::addRow("%s, %s", name, kind) << action << name << kind;
}

void TestConfigFiles::outputsThatAreNotFilesAreLeftAlone()
{
    QFETCH(FileDialogKind, action);
    QFETCH(QString, name);
    QFETCH(QString, kind);
    Bench b;
    QVERIFY(b.open());
    if (action == FileDialogKind::ExportNames) {
        // Names are exported only once the page holds some.
        b.form->pageControl()->setCurrentIndex(int(Tab::Names));
        const QString names = b.file("in.csv");
        QVERIFY(writeText(names, "address,name\n1,Hall\n"));
        b.next = {names, false};
        b.files().ImportNames1->trigger();
        QCOMPARE(b.form->namesPage()->unitNames().value(0), QStringLiteral("Hall"));
        b.messages.messages.clear();
    }
    const QString path = b.file(name);
    MAKE_NODE(path, kind);

    FifoWatchdog watchdog(path);
    b.next = {path, false};
    if (action == FileDialogKind::SaveConfig)
        b.request(b.form->SaveCurrentConfig1);
    else if (action == FileDialogKind::SaveReport)
        b.request(b.files().SaveReport1);
    else
        b.files().ExportNames1->trigger();
    watchdog.done();
    QVERIFY2(!watchdog.fired(), "the window blocked on the file");
    QVERIFY2(b.messages.texts().join('\n').contains("not a regular file"),
             qPrintable(b.messages.texts().join('\n')));
    QCOMPARE(nodeType(path), kind);
}

QTEST_MAIN(TestConfigFiles)
#include "tst_configfiles.moc"
