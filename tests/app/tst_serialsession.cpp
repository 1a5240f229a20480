// "Via COM Port" through a scripted serial link: the open failure warning, an
// error raised while opening, a port number the component cannot hold, and a
// unit that does not answer.

#include "AppTestKit.h"
#include "ConnectionPage.h"
#include "MsgFrm.h"
#include "SerialLink.h"

#include <QAction>
#include <QComboBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <stdexcept>

namespace {

struct LinkLog
{
    int created = 0;
    int opens = 0;
    int closes = 0;
    int destroyed = 0;
    int lastPort = 0;
};

enum class OpenOutcome
{
    Fails,
    Throws,
    Opens
};

class ScriptedLink : public SerialLink
{
public:
    ScriptedLink(LinkLog &log, OpenOutcome outcome) : m_log(log), m_outcome(outcome)
    {
        ++m_log.created;
    }
    ~ScriptedLink() override { ++m_log.destroyed; }
    bool OpenPort(int comPort) override
    {
        ++m_log.opens;
        m_log.lastPort = comPort;
        if (m_outcome == OpenOutcome::Throws)
            throw std::runtime_error("Access to /dev/ttyS2 denied");
        return m_outcome == OpenOutcome::Opens;
    }
    void ClosePort() override { ++m_log.closes; }
    TVeskComms *comms() override { return nullptr; }

private:
    LinkLog &m_log;
    OpenOutcome m_outcome;
};

} // namespace

class TestSerialSession : public QObject
{
    Q_OBJECT
private slots:
    void viaComPort_data();
    void viaComPort();
};

void TestSerialSession::viaComPort_data()
{
    QTest::addColumn<int>("comPort");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("opens");
    QTest::addColumn<int>("closes");
    QTest::newRow("cannot open") << 3 << int(OpenOutcome::Fails)
                                 << "Unable To Open Comms Port [COM3].\nPlease Select Another."
                                 << int(MsgKind::Warning) << 1 << 0;
    QTest::newRow("error while opening")
        << 3 << int(OpenOutcome::Throws) << "Access to /dev/ttyS2 denied" << int(MsgKind::Error)
        << 1 << 0;
    // A number beyond 255 reaches the component whole, never wrapped to another port.
    QTest::newRow("COM300") << 300 << int(OpenOutcome::Fails)
                            << "Unable To Open Comms Port [COM300].\nPlease Select Another."
                            << int(MsgKind::Warning) << 1 << 0;
    QTest::newRow("unit silent") << 3 << int(OpenOutcome::Opens)
                                 << "No Reply From Unit. Terminating Connection..."
                                 << int(MsgKind::Error) << 1 << 1;
}

void TestSerialSession::viaComPort()
{
    QFETCH(int, comPort);
    QFETCH(int, outcome);
    QFETCH(QString, message);
    QFETCH(int, kind);
    QFETCH(int, opens);
    QFETCH(int, closes);
    WorkingFolder folder;
    const QByteArray seeded =
        QStringLiteral("[Options]\nComms_Port=%1\nIP_Address=127.0.0.1\n").arg(comPort).toLatin1();
    QVERIFY(folder.writeIni(seeded));
    MessageRecorder messages;
    auto form = makeMainForm();
    LinkLog log;
    form->setSerialLinkFactory(
        [&] { return std::make_unique<ScriptedLink>(log, OpenOutcome(outcome)); });
    QVERIFY(form->connectionPage()->BitBtn1->isEnabled());
    form->connectionPage()->BitBtn1->click();

    QCOMPARE(messages.texts(), QStringList{message});
    QCOMPARE(int(messages.messages.first().kind), kind);
    QCOMPARE(log.created, 1);
    QCOMPARE(log.opens, opens);
    QCOMPARE(log.closes, closes);
    QCOMPARE(log.destroyed, 1); // released whatever happened
    QVERIFY(!form->Access.serialLink());
    QCOMPARE(log.lastPort, opens ? comPort : 0);
    QVERIFY(!form->sessionOpen());
    QVERIFY(form->isEnabled());
    QVERIFY(form->pageControl()->isEnabled());
    QVERIFY(!form->busyWindow()->isVisible());
    QVERIFY(!QGuiApplication::overrideCursor());
    QVERIFY(!form->Timer2->isActive());
    QCOMPARE(form->pageControl()->currentIndex(), int(TMainForm::Tab::Connection));
    QCOMPARE(form->portStatus(), QStringLiteral(" Port:"));
    // The chosen port stays selected and usable; the file is not written.
    QVERIFY(form->connectionPage()->BitBtn1->isEnabled());
    QCOMPARE(form->connectionPage()->ComboBox1->currentText(),
             QStringLiteral("COM%1").arg(comPort));
    QCOMPARE(folder.readIni(), seeded);
}

QTEST_MAIN(TestSerialSession)
#include "tst_serialsession.moc"
