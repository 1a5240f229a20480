// COM-port naming: the Linux table, the per-port override and the existence
// test used by the port search.

#include "ComPortNames.h"
#include "PtyPair.h"

#include <QtTest>

namespace {

// Sets RAVELIN_COMn for the lifetime of the guard.
class PortOverride
{
public:
    PortOverride(int n, const QString &device) : m_name("RAVELIN_COM" + QByteArray::number(n))
    {
        qputenv(m_name.constData(), QFile::encodeName(device));
    }
    ~PortOverride() { qunsetenv(m_name.constData()); }

private:
    QByteArray m_name;
};

} // namespace

class TstComPortNames : public QObject
{
    Q_OBJECT

private slots:
    void linuxTable_data();
    void linuxTable();
    void overrideWins();
    void existence_data();
    void existence();
    void searchListsOverriddenPortsInOrder();
};

void TstComPortNames::linuxTable_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("device");

    QTest::newRow("COM1") << 1 << QStringLiteral("/dev/ttyS0");
    QTest::newRow("COM4") << 4 << QStringLiteral("/dev/ttyS3");
    QTest::newRow("COM5") << 5 << QStringLiteral("/dev/ttyUSB0");
    QTest::newRow("COM20") << 20 << QStringLiteral("/dev/ttyUSB15");
    QTest::newRow("COM21") << 21 << QStringLiteral("/dev/ttyACM0");
    QTest::newRow("COM32") << 32 << QStringLiteral("/dev/ttyACM11");
    QTest::newRow("COM33") << 33 << QString();
    QTest::newRow("COM0") << 0 << QString();
}

void TstComPortNames::linuxTable()
{
#ifdef Q_OS_LINUX
    QFETCH(int, port);
    QTEST(ComPortNames::deviceForPort(port), "device");
#endif
}

void TstComPortNames::overrideWins()
{
    {
        PortOverride three(3, QStringLiteral("/dev/pts/7"));
        QCOMPARE(ComPortNames::deviceForPort(3), QStringLiteral("/dev/pts/7"));
        QCOMPARE(ComPortNames::describePort(3), QStringLiteral("COM3 (/dev/pts/7)"));
        PortOverride far(40, QStringLiteral("/dev/pts/9"));
        QCOMPARE(ComPortNames::deviceForPort(40), QStringLiteral("/dev/pts/9"));
    }
    QVERIFY(ComPortNames::deviceForPort(3) != QStringLiteral("/dev/pts/7"));
    QCOMPARE(ComPortNames::describePort(40), QStringLiteral("COM40"));
}

void TstComPortNames::existence_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<bool>("exists");
    QTest::newRow("pty") << QString() << true;
    QTest::newRow("missing") << QStringLiteral("/dev/ravelin-no-such-port") << false;
    QTest::newRow("not a tty") << QStringLiteral("/dev/null") << false;
}

void TstComPortNames::existence()
{
    QFETCH(QString, device);
    PtyPair pty;
    if (device.isEmpty())
        device = pty.slavePath();
    PortOverride guard(9, device);
    QTEST(ComPortNames::portExists(9), "exists");
}

void TstComPortNames::searchListsOverriddenPortsInOrder()
{
    PtyPair first;
    PtyPair second;
    PortOverride high(31, first.slavePath());
    PortOverride low(12, second.slavePath());
    PortOverride gone(2, QStringLiteral("/dev/ravelin-no-such-port"));
    const QStringList found = ComPortNames::findInstalledPorts();
    QVERIFY(found.contains(QStringLiteral("COM12")));
    QVERIFY(found.contains(QStringLiteral("COM31")));
    QVERIFY(!found.contains(QStringLiteral("COM2")));
    QVERIFY(found.indexOf(QStringLiteral("COM12")) < found.indexOf(QStringLiteral("COM31")));
}

QTEST_GUILESS_MAIN(TstComPortNames)
#include "tst_comportnames.moc"
