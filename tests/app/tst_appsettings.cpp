// The settings file, its INI reader/writer, the service code, the operating
// system classification and the scheduler's priority table: pure logic.

#include "AppSettings.h"
#include "IniFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <future>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// Loads the settings in a thread, so that a reader that blocks fails the test
// instead of hanging it: a reader stuck opening a FIFO is released by opening
// the FIFO's other end.
std::optional<AppSettings> loadWithin5s(const QString &path)
{
    auto load = std::async(std::launch::async, [path] { return ::loadSettings(path); });
    if (load.wait_for(std::chrono::seconds(5)) == std::future_status::ready)
        return load.get();
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0)
        ::close(fd);
    load.wait();
    return std::nullopt;
}

// What the path is, for telling whether it was left alone.
QByteArray fingerprint(const QString &path)
{
    struct stat st
    {
    };
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return "missing";
    if (S_ISLNK(st.st_mode))
        return "link to " + QFile::encodeName(QFile::symLinkTarget(path));
    if (!S_ISREG(st.st_mode))
        return "mode " + QByteArray::number(st.st_mode, 8);
    return "file " + readAll(path);
}

} // namespace

class TestAppSettings : public QObject
{
    Q_OBJECT
private slots:
    void iniSetValueKeepsOtherBytes_data();
    void iniSetValueKeepsOtherBytes();
    void iniLookupIgnoresCaseAndTakesFirst();
    void loadSettings_data();
    void loadSettings();
    void missingFileIsCreatedWithDefaults();
    void saveIntoUnreadableFileKeepsIt();
    void onlySmallRegularFilesAreRead_data();
    void onlySmallRegularFilesAreRead();
    void parseCommsPort_data();
    void parseCommsPort();
    void serviceCode_data();
    void serviceCode();
    void windowsVersion_data();
    void windowsVersion();
};

void TestAppSettings::iniSetValueKeepsOtherBytes_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("empty file") << QByteArray()
                                << QByteArray("[Options]\nComms_Port=3\n"
                                              "IP_Address=10.1.2.3\n");
    QTest::newRow("replace in place, CRLF and comments kept")
        << QByteArray("; mine\r\n[Other]\r\nX = 1\r\n[options]\r\nIP_Address=1.1.1.1\r\n"
                      "comms_port = 9\r\nextra=yes\r\n")
        << QByteArray("; mine\r\n[Other]\r\nX = 1\r\n[options]\r\nIP_Address=10.1.2.3\r\n"
                      "Comms_Port=3\r\nextra=yes\r\n");
    QTest::newRow("missing keys go to the end of the section, before blank lines")
        << QByteArray("[Options]\nfoo=bar\n\n[Later]\na=b")
        << QByteArray("[Options]\nfoo=bar\nComms_Port=3\nIP_Address=10.1.2.3\n\n[Later]\na=b");
    QTest::newRow("unterminated last line before a new section")
        << QByteArray("[Z]\nq=1")
        << QByteArray("[Z]\nq=1\n[Options]\nComms_Port=3\n"
                      "IP_Address=10.1.2.3\n");
    QTest::newRow("binary garbage survives")
        << QByteArray("\x00\xff\xfe[\x01\n\x80\x81=\x82\n", 11)
        << QByteArray("\x00\xff\xfe[\x01\n\x80\x81=\x82\n[Options]\nComms_Port=3\n"
                      "IP_Address=10.1.2.3\n",
                      54);
}

void TestAppSettings::iniSetValueKeepsOtherBytes()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("QuorixIPB_Cfg.Ini"));
    if (!before.isNull())
        writeAll(path, before);
    QVERIFY(saveSettings(path, 3, QStringLiteral("10.1.2.3")));
    QCOMPARE(readAll(path), after);
}

void TestAppSettings::iniLookupIgnoresCaseAndTakesFirst()
{
    IniFile ini;
    ini.setContent("[a]\nk=1\n[ OPTIONS ]\n;Comms_Port=7\n COMMS_PORT = 12 \ncomms_port=13\n");
    QCOMPARE(ini.value(QStringLiteral("Options"), QStringLiteral("Comms_Port")),
             std::optional<QString>(QStringLiteral("12")));
    QVERIFY(!ini.value(QStringLiteral("Options"), QStringLiteral("k")).has_value());
    QVERIFY(!ini.value(QStringLiteral("none"), QStringLiteral("k")).has_value());
}

void TestAppSettings::loadSettings_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("octets");
    QTest::newRow("normal") << QByteArray("[Options]\nComms_Port=12\nIP_Address=127.0.0.1\n") << 12
                            << "127.0.0.1"
                            << "127,0,0,1";
    QTest::newRow("port 0, negative stays")
        << QByteArray("[Options]\nComms_Port=-4\n") << -4 << "192.168.1.1"
        << "192,168,1,1";
    QTest::newRow("octet above 255")
        << QByteArray("[Options]\nIP_Address=10.0.0.300\n") << 1 << "192.168.1.1"
        << "192,168,1,1";
    QTest::newRow("huge values") << QByteArray("[Options]\nComms_Port=99999999999999999999\n"
                                               "IP_Address=" +
                                               QByteArray(5000, '9') + "\n")
                                 << 1 << "192.168.1.1"
                                 << "192,168,1,1";
    QTest::newRow("missing section") << QByteArray("[Other]\nComms_Port=5\n") << 1 << "192.168.1.1"
                                     << "192,168,1,1";
    QTest::newRow("garbage") << QByteArray("\x00\x01\xff\xfe\n=\n[\n", 8) << 1 << "192.168.1.1"
                             << "192,168,1,1";
}

void TestAppSettings::loadSettings()
{
    QFETCH(QByteArray, content);
    QFETCH(int, port);
    QFETCH(QString, address);
    QFETCH(QString, octets);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("QuorixIPB_Cfg.Ini"));
    writeAll(path, content);
    const AppSettings s = ::loadSettings(path);
    QCOMPARE(s.comPort, port);
    QCOMPARE(s.ipAddress, address);
    QCOMPARE(QStringLiteral("%1,%2,%3,%4")
                 .arg(s.ipOctets[0])
                 .arg(s.ipOctets[1])
                 .arg(s.ipOctets[2])
                 .arg(s.ipOctets[3]),
             octets);
    // Reading never rewrites the file.
    QCOMPARE(readAll(path), content);
}

void TestAppSettings::missingFileIsCreatedWithDefaults()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("QuorixIPB_Cfg.Ini"));
    const AppSettings s = ::loadSettings(path);
    QCOMPARE(s.comPort, 1);
    QCOMPARE(s.ipAddress, QStringLiteral("192.168.1.1"));
    QCOMPARE(readAll(path), QByteArray("[Options]\nComms_Port=1\nIP_Address=192.168.1.1\n"));
}

void TestAppSettings::saveIntoUnreadableFileKeepsIt()
{
    // A directory in the file's place cannot be read; it must not be replaced.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("QuorixIPB_Cfg.Ini"));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("QuorixIPB_Cfg.Ini")));
    QVERIFY(!saveSettings(path, 3, QStringLiteral("127.0.0.1")));
    QVERIFY(QFileInfo(path).isDir());
    QCOMPARE(::loadSettings(path).comPort, 1);
}

void TestAppSettings::onlySmallRegularFilesAreRead_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("port"); // Comms_Port as loaded: 7 read, 1 the default
    QTest::newRow("FIFO") << "fifo" << 1;
    QTest::newRow("link to /dev/zero") << "zero" << 1;
    QTest::newRow("one byte above 1 MiB") << "oversized" << 1;
    QTest::newRow("1 MiB of line breaks") << "limit" << 7;
    QTest::newRow("link to a regular file") << "link" << 7;
}

void TestAppSettings::onlySmallRegularFilesAreRead()
{
    QFETCH(QString, kind);
    QFETCH(int, port);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("QuorixIPB_Cfg.Ini"));
    const QByteArray settings("[Options]\nComms_Port=7\nIP_Address=127.0.0.1\n");
    QByteArray padded = settings;
    padded.append(QByteArray(IniFile::MaxFileSize - settings.size(), '\n'));
    if (kind == QLatin1String("fifo")) {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (kind == QLatin1String("zero")) {
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
    } else if (kind == QLatin1String("link")) {
        writeAll(dir.filePath(QStringLiteral("real.ini")), settings);
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("real.ini")), path));
    } else {
        writeAll(path, kind == QLatin1String("oversized") ? padded + '\n' : padded);
    }
    const QByteArray before = fingerprint(path);

    const std::optional<AppSettings> loaded = loadWithin5s(path);
    QVERIFY2(loaded.has_value(), "reading the settings blocked");
    QCOMPARE(loaded->comPort, port);
    QCOMPARE(loaded->ipAddress, QLatin1String(port == 7 ? "127.0.0.1" : "192.168.1.1"));
    // What cannot be read is never replaced.
    QCOMPARE(saveSettings(path, 3, QStringLiteral("127.0.0.3")), port == 7);
    if (port != 7)
        QCOMPARE(fingerprint(path), before);
    else
        QCOMPARE(::loadSettings(path).comPort, 3);
}

void TestAppSettings::parseCommsPort_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("port");
    QTest::newRow("plain") << "3" << 3;
    QTest::newRow("blanks") << "  12 " << 12;
    QTest::newRow("zero") << "0" << 0;
    QTest::newRow("negative") << "-2" << -2;
    QTest::newRow("letters") << "COM3" << 1;
    QTest::newRow("trailing letters") << "3x" << 1;
    QTest::newRow("empty") << "" << 1;
    QTest::newRow("above 32 bits") << "2147483648" << 1;
    QTest::newRow("largest") << "2147483647" << 2147483647;
}

void TestAppSettings::parseCommsPort()
{
    QFETCH(QString, text);
    QFETCH(int, port);
    QCOMPARE(::parseCommsPort(text), port);
}

void TestAppSettings::serviceCode_data()
{
    QTest::addColumn<QString>("argument");
    QTest::addColumn<bool>("service");
    QTest::newRow("exact") << "Ravelin#Svc7" << true;
    QTest::newRow("other case") << "rAVELIN#sVC7" << true;
    QTest::newRow("one character off") << "Ravelin#Svc8" << false;
    QTest::newRow("prefix") << "Ravelin#Svc" << false;
    QTest::newRow("longer") << "Ravelin#Svc77" << false;
    QTest::newRow("empty") << "" << false;
}

void TestAppSettings::serviceCode()
{
    QFETCH(QString, argument);
    QFETCH(bool, service);
    QCOMPARE(isServiceCode(argument), service);
}

void TestAppSettings::windowsVersion_data()
{
    QTest::addColumn<int>("platform");
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<QString>("servicePack");
    QTest::addColumn<int>("code");
    const int w9x = int(OsPlatform::Win9x), nt = int(OsPlatform::WinNT);
    QTest::newRow("95") << w9x << 4 << 0 << "" << 1;
    QTest::newRow("98") << w9x << 4 << 10 << "" << 2;
    QTest::newRow("98 SE") << w9x << 4 << 10 << " A " << 3;
    QTest::newRow("Me") << w9x << 4 << 90 << "" << 5;
    QTest::newRow("NT 4") << nt << 4 << 0 << "" << 4;
    QTest::newRow("NT 3.51") << nt << 3 << 51 << "" << 4;
    QTest::newRow("2000") << nt << 5 << 0 << "" << 6;
    QTest::newRow("XP") << nt << 5 << 1 << "" << 7;
    QTest::newRow("5.2") << nt << 5 << 2 << "" << 0;
    QTest::newRow("6.3") << nt << 6 << 3 << "" << 8;
    QTest::newRow("10") << nt << 10 << 0 << "" << 0;
}

void TestAppSettings::windowsVersion()
{
    QFETCH(int, platform);
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(QString, servicePack);
    QFETCH(int, code);
    QCOMPARE(classifyWindowsVersion(OsPlatform(platform), major, minor, servicePack), code);
    QCOMPARE(portSearchOfferedFor(code), code == 4 || code >= 6);
}

QTEST_GUILESS_MAIN(TestAppSettings)
#include "tst_appsettings.moc"
