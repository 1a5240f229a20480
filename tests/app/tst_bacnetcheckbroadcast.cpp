// The BACnet Check window's broadcast search on a network that has
// broadcasts. Run by run_in_netns.sh: the window's side has interface v0
// (10.77.0.1/24) and loopback; the simulator sits at 10.77.0.2 behind v0.

#include "BacnetCheck.h"
#include "NetnsSim.h"

#include <QComboBox>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableWidget>
#include <QtTest>

class TstBacnetCheckBroadcast : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void broadcastOnPickedInterface();
};

void TstBacnetCheckBroadcast::initTestCase()
{
    if (!NetnsSim::inside())
        return;
}

void TstBacnetCheckBroadcast::broadcastOnPickedInterface()
{
    SimProcess unit;
    QVERIFY2(NetnsSim::startUnit(unit, QStringLiteral("10.77.0.2")), qPrintable(unit.output()));
    BacnetCheck window({});
    // Loopback cannot broadcast and is not offered.
    QCOMPARE(window.interfaces->count(), 1);
    QCOMPARE(window.interfaces->itemText(0),
             NetnsSim::interfaceName() + QStringLiteral(" (10.77.0.255)"));
    QVERIFY(window.broadcast->isEnabled());
    window.broadcast->setChecked(true);
    window.port->setValue(47808);
    window.seconds->setValue(1);
    QSignalSpy done(&window, &BacnetCheck::searchFinished);
    window.sendWhoIs();
    QVERIFY(done.wait(5000));
    QCOMPARE(window.table->rowCount(), 1);
    QCOMPARE(window.table->item(0, 1)->text(), QStringLiteral("10.77.0.2:47808"));
    QCOMPARE(window.table->item(0, 5)->text(), QStringLiteral("Ravelin-5173"));
}

QTEST_MAIN(TstBacnetCheckBroadcast)
#include "tst_bacnetcheckbroadcast.moc"
