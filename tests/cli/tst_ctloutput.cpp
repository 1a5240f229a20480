// Text that ravelinctl prints for a person cannot drive the terminal: names
// from a unit or a file, the program named in a file, and a mistyped command
// reach it with their control characters escaped as \xNN. Output redirected
// to a file (here, a pipe) keeps a CSV's bytes.

#include "FileTestKit.h"

#include <QJsonArray>
#include <QJsonObject>

namespace {

bool holdsControl(const QString &text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != u'\n') || (u >= 0x7F && u <= 0x9F))
            return true;
    }
    return false;
}

// A configuration file whose names and program name carry escape sequences.
QByteArray hostileConfig()
{
    QJsonArray names;
    for (int n = 1; n <= 100; ++n)
        names.append(n == 5 ? QStringLiteral("\u001b[31mRed\u0007") : QStringLiteral("Unit"));
    const QJsonObject config{
        {"format", "ravelin-unit-config"},
        {"formatVersion", 1},
        {"objectNames", names},
        {"savedBy", QJsonObject{{"tool", QStringLiteral("tool\u009b2J")}, {"version", "1"}}}};
    return QJsonDocument(config).toJson();
}

} // namespace

class TstCtlOutput : public QObject
{
    Q_OBJECT

private slots:
    void controlCharactersAreEscaped_data();
    void controlCharactersAreEscaped();
};

void TstCtlOutput::controlCharactersAreEscaped_data()
{
    QTest::addColumn<QStringList>("arguments"); // FILE stands for the hostile file
    QTest::addColumn<QString>("shown");         // an escape that must be printed
    QTest::newRow("restore --dry-run")
        << QStringList{"restore", "FILE", "--dry-run"} << QStringLiteral("\\x1b[31mRed\\x07");
    QTest::newRow("the program that saved the file")
        << QStringList{"restore", "FILE", "--dry-run"} << QStringLiteral("tool\\x9b2J");
    QTest::newRow("a mistyped command") << QStringList{QStringLiteral("identfy\u001b]0;x\u0007")}
                                        << QStringLiteral("identfy\\x1b]0;x\\x07");
}

void TstCtlOutput::controlCharactersAreEscaped()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, shown);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("hostile.json"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(hostileConfig()) > 0);
    file.close();
    arguments.replaceInStrings(QStringLiteral("FILE"), path);
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--no-animate")}));
    const CtlRun run = ctlAt(sim.port(), arguments);
    QVERIFY2(run.exitCode >= 0, "ravelinctl did not finish");
    QVERIFY2(!holdsControl(run.out) && !holdsControl(run.err), qPrintable(run.out + run.err));
    QVERIFY2((run.out + run.err).contains(shown), qPrintable(run.out + run.err));
}

QTEST_GUILESS_MAIN(TstCtlOutput)
#include "tst_ctloutput.moc"
