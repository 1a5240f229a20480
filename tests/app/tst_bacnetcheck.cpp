// The BACnet Check window against devices the test plays on loopback: the
// list, copy and CSV, the page comparison for the session's unit, and an
// address that is refused before anything is sent.

#include "AppTestKit.h"
#include "BACnetPage.h"
#include "BacnetCheck.h"
#include "BacnetFakeDevice.h"
#include "SimProcess.h"
#include "SimSession.h"
#include "WineLimits.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

using namespace BacnetTest;

namespace {

// Runs one search from the window's address box and waits for its end.
bool search(BacnetCheck &window, const QString &address, std::uint16_t port)
{
    window.address->setText(address);
    window.port->setValue(port);
    window.seconds->setValue(1);
    QSignalSpy done(&window, &BacnetCheck::searchFinished);
    window.sendWhoIs();
    return done.wait(5000);
}

} // namespace

class TstBacnetCheck : public QObject
{
    Q_OBJECT
private slots:
    void listsCopiesAndSaves();
    void comparesWithPage_data();
    void comparesWithPage();
    void refusesBadAddress();
    void sessionUnitAgainstItsPage();
};

void TstBacnetCheck::listsCopiesAndSaves()
{
    SKIP_UNDER_WINE_LOOPBACK_ALIASES();
    FakeDevice device(QStringLiteral("127.0.0.2"), 1234, "Plant, east");
    BacnetCheck window({});
    QVERIFY(search(window, QStringLiteral("127.0.0.2"), device.port()));
    QCOMPARE(window.table->rowCount(), 1);
    QCOMPARE(window.table->item(0, 0)->text(), QStringLiteral("1234"));
    QCOMPARE(window.table->item(0, 5)->text(), QStringLiteral("Plant, east"));
    QVERIFY(window.listText().contains(QStringLiteral("1234\t127.0.0.2:")));
#ifndef Q_OS_WIN
    // The device holds its port without sharing it (Windows lets a socket
    // that asks to reuse a port share it anyway): the status line says so.
    QVERIFY2(window.status->text().contains(QStringLiteral("is in use by another program")),
             qPrintable(window.status->text()));
#endif

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("devices.csv"));
    window.setCsvPathSource([&path](const QString &) { return path; });
    QVERIFY(window.saveCsv());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QCOMPARE(lines.value(0),
             QByteArray("instance,address,vendor,max APDU,segmentation,name,notes"));
    QVERIFY(lines.value(1).startsWith("1234,127.0.0.2:"));
    QVERIFY(lines.value(1).contains(",\"Plant, east\","));
}

// The session's unit announces what its BACnet page holds, or not.
void TstBacnetCheck::comparesWithPage_data()
{
    QTest::addColumn<int>("pageInstance");
    QTest::addColumn<QString>("pageName");
    QTest::addColumn<QString>("notes");
    QTest::newRow("agrees") << 1234 << "Plant"
                            << "the session's unit";
    QTest::newRow("other instance") << 99 << "Plant"
                                    << "differs from the BACnet page: instance 99";
    QTest::newRow("other name") << 1234 << "Boiler"
                                << "differs from the BACnet page: name \"Boiler\"";
    QTest::newRow("page not read") << -1 << ""
                                   << "the session's unit";
}

void TstBacnetCheck::comparesWithPage()
{
    QFETCH(int, pageInstance);
    QFETCH(QString, pageName);
    QFETCH(QString, notes);
    SKIP_UNDER_WINE_LOOPBACK_ALIASES();
    FakeDevice device(QStringLiteral("127.0.0.2"), 1234, "Plant");
    BacnetCheck window([&]() -> std::optional<Bacnet::ExpectedUnit> {
        Bacnet::ExpectedUnit unit;
        unit.address = QHostAddress(QStringLiteral("127.0.0.2"));
        if (pageInstance >= 0) {
            unit.instance = std::uint32_t(pageInstance);
            unit.name = pageName;
        }
        return unit;
    });
    window.prepare();
    QCOMPARE(window.address->text(), QStringLiteral("127.0.0.2"));
    QVERIFY(search(window, window.address->text(), device.port()));
    QCOMPARE(window.table->item(0, 6)->text(), notes);
    QCOMPARE(window.status->text().contains(QStringLiteral("announces other values")),
             notes.startsWith(QStringLiteral("differs")));
}

void TstBacnetCheck::refusesBadAddress()
{
    BacnetCheck window({});
    window.address->setText(QStringLiteral("127.0.0.300"));
    window.sendWhoIs();
    QVERIFY(!window.running());
    QVERIFY(window.status->text().startsWith(QStringLiteral("Enter the address")));
}

// Inside a session with the simulator: the window asks the session's unit and
// compares what it announces with the BACnet page, read and then edited.
void TstBacnetCheck::sessionUnitAgainstItsPage()
{
    QUdpSocket probe; // a free UDP port on the simulator's address
    QVERIFY(probe.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
    const quint16 bacnetPort = probe.localPort();
    probe.close();
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--no-animate"), QStringLiteral("--bacnet-port"),
                       QString::number(bacnetPort)}));
    QTRY_VERIFY_WITH_TIMEOUT(sim.output().contains(QLatin1String("BACnet/IP on")), 5000);
    WorkingFolder folder;
    MessageRecorder messages;
    const auto form = tcpSessionForm(sim.port());
    QVERIFY(form->sessionOpen());
    form->raiseRequest(Request::GetBACnet);
    form->DispatchRequest();
    QCOMPARE(form->bacnetPage()->Edit21->text(), QStringLiteral("5173"));

    form->showBacnetCheck();
    BacnetCheck &window = *form->bacnetCheck();
    QCOMPARE(window.address->text(), QStringLiteral("127.0.0.1"));
    QVERIFY(search(window, window.address->text(), bacnetPort));
    QCOMPARE(window.table->rowCount(), 1);
    QCOMPARE(window.table->item(0, 6)->text(), QStringLiteral("the session's unit"));

    // Typed but not sent: the unit still announces what it holds.
    QTest::keyClicks(form->bacnetPage()->Edit21, QStringLiteral("0"));
    QVERIFY(search(window, window.address->text(), bacnetPort));
    QCOMPARE(window.table->item(0, 6)->text(),
             QStringLiteral("differs from the BACnet page: instance 51730"));
}

QTEST_MAIN(TstBacnetCheck)
#include "tst_bacnetcheck.moc"
