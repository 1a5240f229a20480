// The About box: the version line split at the last ".", "N/A" for every
// missing value, the BETA watermark only for pre-release builds, and the
// values the build was configured with.

#include "AboutBox.h"

#include <QLabel>
#include <QMap>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QtTest>

namespace {

class TableSource : public VersionSource
{
public:
    TableSource(QMap<QString, QString> table, bool preRelease)
        : m_table(std::move(table)), m_preRelease(preRelease)
    {}
    std::optional<QString> value(const QString &key) const override
    {
        const auto it = m_table.find(key);
        return it == m_table.end() ? std::nullopt : std::optional<QString>(*it);
    }
    bool preRelease() const override { return m_preRelease; }

private:
    QMap<QString, QString> m_table;
    bool m_preRelease;
};

using Table = QMap<QString, QString>;

} // namespace

class TestAboutBox : public QObject
{
    Q_OBJECT
private slots:
    void labelsFromTheSource_data();
    void labelsFromTheSource();
    void configuredValues();
#ifdef Q_OS_WIN
    void programVersionResource();
#endif
};

void TestAboutBox::labelsFromTheSource_data()
{
    QTest::addColumn<Table>("table");
    QTest::addColumn<bool>("preRelease");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("copyright");
    const Table full{{"CompanyName", "Quorix"},
                     {"FileDescription", "Gateway set-up"},
                     {"FileVersion", "2.0.1.7"},
                     {"LegalCopyright", "(C) Quorix"},
                     {"Comments", "unused"}};
    QTest::newRow("release") << full << false << "Gateway set-up"
                             << "Version 2.0.1  Build 7"
                             << "(C) Quorix";
    QTest::newRow("pre-release") << full << true << "Gateway set-up"
                                 << "Version 2.0.1  Build 7"
                                 << "(C) Quorix";
    // Nothing known: every shown text is built from "N/A".
    QTest::newRow("no version information") << Table{} << false << "N/A"
                                            << "Version   Build N/A"
                                            << "N/A";
    QTest::newRow("version only") << Table{{"FileVersion", "3.4"}} << true << "N/A"
                                  << "Version 3  Build 4"
                                  << "N/A";
}

void TestAboutBox::labelsFromTheSource()
{
    QFETCH(Table, table);
    QFETCH(bool, preRelease);
    TAboutBox box(std::make_unique<TableSource>(table, preRelease));
    QCOMPARE(box.windowTitle(), QStringLiteral("About...."));
    QTEST(box.ProductName->text(), "description");
    QTEST(box.Version->text(), "version");
    QTEST(box.Copyright->text(), "copyright");
    QCOMPARE(!box.BetaWatermark->isHidden(), preRelease);
    // The ten values in key order, "N/A" where the source has none.
    for (int i = 0; i < TAboutBox::KeyCount; ++i)
        QCOMPARE(box.values[size_t(i)],
                 table.value(QLatin1String(TAboutBox::VersionKeys[size_t(i)]), "N/A"));
}

void TestAboutBox::configuredValues()
{
    TAboutBox box;
    // The project's version with the build number as its fourth part.
    const QString expected = QStringLiteral("Version %1  Build ").arg(RAVELIN_TEST_PROJECT_VERSION);
    QVERIFY2(box.Version->text().startsWith(expected), qPrintable(box.Version->text()));
    QVERIFY(QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+\\.\\d+$"))
                .match(box.values[2])
                .hasMatch());
    QVERIFY(box.ProductName->text() != QLatin1String("N/A"));
    QVERIFY(box.Copyright->text() != QLatin1String("N/A"));
    // A build configured without RAVELIN_PRE_RELEASE is a release.
    QCOMPARE(!box.BetaWatermark->isHidden(), bool(RAVELIN_TEST_PRE_RELEASE));
}

#ifdef Q_OS_WIN
// The tool's executable carries the configured values in its version
// resource; a file without one gives nothing.
void TestAboutBox::programVersionResource()
{
    const auto tool = executableVersionSource(QStringLiteral(RAVELIN_TEST_APP_EXE));
    QCOMPARE(tool->value(QStringLiteral("OriginalFilename")), QStringLiteral("QuorixIPB_Cfg.exe"));
    QCOMPARE(tool->value(QStringLiteral("InternalName")), QStringLiteral("QuorixIPB_Cfg"));
    const std::optional<QString> version = tool->value(QStringLiteral("FileVersion"));
    QVERIFY(version && version->startsWith(QStringLiteral(RAVELIN_TEST_PROJECT_VERSION ".")));
    QCOMPARE(tool->value(QStringLiteral("LegalTradeMarks")), std::nullopt);
    QCOMPARE(tool->preRelease(), bool(RAVELIN_TEST_PRE_RELEASE));
    // The About box of this test program reads its own copy of the resource.
    TAboutBox box;
    QCOMPARE(box.values[1], *tool->value(QStringLiteral("FileDescription")));
    QCOMPARE(box.values[2], *version);

    QTemporaryFile plain;
    QVERIFY(plain.open());
    plain.write("not an executable");
    plain.close();
    const auto none = executableVersionSource(plain.fileName());
    for (const char *key : TAboutBox::VersionKeys)
        QCOMPARE(none->value(QLatin1String(key)), std::nullopt);
}
#endif

QTEST_MAIN(TestAboutBox)
#include "tst_aboutbox.moc"
