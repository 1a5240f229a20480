// The installed layout and the version every program reports: --version of
// the three programs against the About box, the tree `cmake --install` lays
// down (programs, menu entry, icons, manual pages, documents) and the menu
// entry's validity.

#include "AboutBox.h"
#include "UiSupport.h"

#include <QDir>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A check that cannot run here fails under CI and is skipped elsewhere
// (QTest::qSkip directly: QSKIP wants a further argument under -Wpedantic).
#define CANNOT_RUN(reason)                                                                         \
    do {                                                                                           \
        if (qEnvironmentVariableIsSet("CI"))                                                       \
            QFAIL(reason);                                                                         \
        QTest::qSkip(reason, __FILE__, __LINE__);                                                  \
        return;                                                                                    \
    } while (false)

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

Run run(const QString &program, const QStringList &arguments,
        const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    Run r;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished(5000);
        r.err = QStringLiteral("did not finish: ") + process.errorString();
        return r;
    }
    r.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    r.out = QString::fromUtf8(process.readAllStandardOutput());
    r.err = QString::fromUtf8(process.readAllStandardError());
    return r;
}

// "1.2.3 (build 45)" from the About box's "Version 1.2.3  Build 45".
QString aboutBoxVersion()
{
    TAboutBox box;
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("^Version (\\S+)  Build (\\S+)$"))
            .match(box.Version->text());
    if (!m.hasMatch())
        return QStringLiteral("unreadable About box line: ") + box.Version->text();
    return QStringLiteral("%1 (build %2)%3")
        .arg(m.captured(1), m.captured(2), box.preRelease ? QStringLiteral(" BETA") : QString());
}

} // namespace

class TestInstall : public QObject
{
    Q_OBJECT

private slots:
    void versionFlag_data();
    void versionFlag();
    void helpLeavesNothingBehind();
    void installedTree();
    void desktopEntryValidates();
};

void TestInstall::versionFlag_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("name");
    QTest::newRow("tool") << QStringLiteral(RAVELIN_TEST_TOOL_PATH)
                          << QStringLiteral("QuorixIPB_Cfg");
    QTest::newRow("ravelinctl") << QStringLiteral(RAVELIN_CTL_PATH) << QStringLiteral("ravelinctl");
    QTest::newRow("ravelin-sim") << QStringLiteral(RAVELIN_SIM_PATH)
                                 << QStringLiteral("ravelin-sim");
}

void TestInstall::versionFlag()
{
    QFETCH(QString, program);
    QFETCH(QString, name);
    // No display at all: a terminal asking which version is installed must
    // not need one (the tool answers before it opens any window).
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    const Run r = run(program, {QStringLiteral("--version")}, env);
    QCOMPARE(r.err, QString());
    QCOMPARE(r.exitCode, 0);
    const QString expected = aboutBoxVersion();
    QCOMPARE(r.out, name + QLatin1Char(' ') + expected + QLatin1Char('\n'));
    // The generated header follows the project's version, not a stale copy.
    QVERIFY2(expected.startsWith(QStringLiteral(RAVELIN_TEST_PROJECT_VERSION " (build ")),
             qPrintable(expected));
}

void TestInstall::helpLeavesNothingBehind()
{
    // --help in an empty folder, with no display: the usage text and nothing
    // else (no window, no settings file created).
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    QProcess process;
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(folder.path());
    process.start(QStringLiteral(RAVELIN_TEST_TOOL_PATH), {QStringLiteral("--help")});
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitCode(), 0);
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    QVERIFY2(out.startsWith(QStringLiteral("Usage: QuorixIPB_Cfg [SERVICE-CODE]")),
             qPrintable(out));
    for (const char *word : {"--version", "RAVELIN_COMn", "RAVELIN_PALETTE", "RAVELIN_TCP_PORT"})
        QVERIFY2(out.contains(QLatin1String(word)), word);
    QCOMPARE(QDir(folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

void TestInstall::installedTree()
{
    QTemporaryDir prefix;
    QVERIFY(prefix.isValid());
    const Run install = run(QStringLiteral(RAVELIN_TEST_CMAKE),
                            {QStringLiteral("--install"), QStringLiteral(RAVELIN_TEST_BUILD_DIR),
                             QStringLiteral("--prefix"), prefix.path()});
    QVERIFY2(install.exitCode == 0, qPrintable(install.out + install.err));
    const QDir root(prefix.path());

    for (const char *program : {"QuorixIPB_Cfg", "ravelinctl", "ravelin-sim"}) {
        const QFileInfo info(root.filePath(QStringLiteral("bin/") + QLatin1String(program)));
        QVERIFY2(info.isFile() && info.isExecutable(), program);
    }
    for (const char *page : {"QuorixIPB_Cfg.1.gz", "ravelinctl.1.gz", "ravelin-sim.1.gz"}) {
        const QFileInfo info(
            root.filePath(QStringLiteral("share/man/man1/") + QLatin1String(page)));
        QVERIFY2(info.isFile() && info.size() > 500, page);
    }
    const QString doc = QStringLiteral("share/doc/quorix-ravelin-config/");
    QVERIFY(QFileInfo(root.filePath(doc + QStringLiteral("README.md"))).size() > 1000);
    QVERIFY(QFileInfo::exists(root.filePath(doc + QStringLiteral("copyright"))));

    // The menu entry names an installed program and an installed icon.
    const QString desktop =
        root.filePath(QStringLiteral("share/applications/quorix-ravelin-config.desktop"));
    QVERIFY(QFileInfo::exists(desktop));
    QSettings entry(desktop, QSettings::IniFormat);
    entry.beginGroup(QStringLiteral("Desktop Entry"));
    const QString icon = entry.value(QStringLiteral("Icon")).toString();
    QCOMPARE(icon, QStringLiteral("quorix-ravelin-config"));
    QVERIFY(
        entry.value(QStringLiteral("Exec")).toString().contains(QStringLiteral("QuorixIPB_Cfg")));
    QVERIFY(QFileInfo::exists(
        root.filePath(QStringLiteral("share/icons/hicolor/scalable/apps/%1.svg").arg(icon))));

    if (!RAVELIN_TEST_ICONS_BUILT)
        CANNOT_RUN("the PNG icons were not built: rsvg-convert (librsvg2-bin) is missing");
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        const QString path = root.filePath(
            QStringLiteral("share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(icon));
        const QImage image(path);
        QVERIFY2(!image.isNull(), qPrintable(path));
        QCOMPARE(image.size(), QSize(size, size));
        // Drawn, not blank: the centre of the icon is opaque.
        QCOMPARE(qAlpha(image.pixel(size / 2, size / 2)), 255);
    }
    // The installed program finds these pictures from its own folder.
    const QIcon windowIcon = applicationIcon(root.filePath(QStringLiteral("bin")));
    QCOMPARE(windowIcon.availableSizes(),
             (QList<QSize>{{16, 16}, {32, 32}, {48, 48}, {64, 64}, {128, 128}, {256, 256}}));
    QCOMPARE(windowIcon.pixmap(QSize(48, 48)).size(), QSize(48, 48));
}

void TestInstall::desktopEntryValidates()
{
    const QString validator =
        QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (validator.isEmpty())
        CANNOT_RUN("desktop-file-validate is missing (Debian package desktop-file-utils)");
    const Run r = run(validator, {QStringLiteral(RAVELIN_TEST_DESKTOP_FILE)});
    QVERIFY2(r.exitCode == 0, qPrintable(r.out + r.err));
    // Hints and warnings count too: the entry is kept free of them.
    QCOMPARE(r.out + r.err, QString());
}

QTEST_MAIN(TestInstall)
#include "tst_install.moc"
