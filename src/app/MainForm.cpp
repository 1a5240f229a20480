#include "MainForm.h"

#include "AboutBox.h"
#include "AppSettings.h"
#include "BACnetPage.h"
#include "Codecs.h"
#include "ConnectionPage.h"
#include "DiagnosticsPage.h"
#include "G50Page.h"
#include "MacDialog.h"
#include "MsgFrm.h"
#include "NamesPage.h"
#include "NetworkPage.h"
#include "PageKit.h"
#include "PingForm.h"
#include "SerialLink.h"
#include "StatusPoll.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

namespace {

const QString CheckBox1Hint = QStringLiteral(
    "Tick If You Want To Enable The Comparison Between\nThe Current Setting And The New "
    "Setting.\nEnabling Prevents The G50 From Being Continuously\nUpdated With The Same Value.");

// Tests and demos run the simulator on a free loopback port; the tool itself
// always talks to port 502. Read once at start-up.
quint16 tcpPortFromEnvironment()
{
    bool ok = false;
    const int port = qEnvironmentVariableIntValue("RAVELIN_TCP_PORT", &ok);
    return ok && port > 0 && port <= 65535 ? quint16(port) : quint16(TMainForm::DefaultTcpPort);
}

} // namespace

TMainForm::TMainForm(const QStringList &arguments, QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Quorix Ravelin Configuration....."));
    m_tcpPort = tcpPortFromEnvironment();
    buildWindow();
    buildMenus();
    startUp(arguments);
}

TMainForm::~TMainForm()
{
    if (SerialComms)
        SerialComms->ClosePort();
}

void TMainForm::createCompanionWindows()
{
    m_aboutBox = std::make_unique<TAboutBox>();
    m_macFrm = std::make_unique<TMACFrm>();
    m_msgFrm = std::make_unique<TMsg_Frm>(this);
    m_pingForm = std::make_unique<TPingForm>();
}

void TMainForm::buildWindow()
{
    auto *client = new QWidget(this);
    setCentralWidget(client);
    auto *bevel = new QFrame(client);
    bevel->setFrameShape(QFrame::HLine);
    bevel->setFrameShadow(QFrame::Sunken);
    bevel->setGeometry(0, 0, 409, 2);

    m_pages = new QTabWidget(client);
    m_pages->setObjectName(QStringLiteral("PageControl1"));
    m_pages->setGeometry(8, 8, 393, 337);
    m_network = new NetworkPage(*this, m_pages);
    m_g50 = new G50Page(*this, m_pages);
    m_bacnet = new BACnetPage(*this, m_pages);
    m_connection = new ConnectionPage(*this, m_pages);
    m_names = new NamesPage(*this, m_pages);
    m_diagnostics = new DiagnosticsPage(m_pages);
    m_pages->addTab(m_network, QStringLiteral("Network"));
    m_pages->addTab(m_g50, QStringLiteral("G50"));
    m_pages->addTab(m_bacnet, QStringLiteral("BACnet"));
    m_pages->addTab(m_connection, QStringLiteral("Choose Connection"));
    m_pages->addTab(m_names, QStringLiteral("Unit Names"));
    m_pages->addTab(m_diagnostics, QStringLiteral("Diagnostics"));
    m_statusPoll = std::make_unique<StatusPoll>(*this);

    StatusBar1()->setSizeGripEnabled(false);
    const int widths[2] = {150, 50};
    for (int i = 0; i < 2; ++i) {
        m_statusPanels[i] = new QLabel(this);
        m_statusPanels[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        m_statusPanels[i]->setMinimumWidth(widths[i]);
        m_statusPanels[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        StatusBar1()->addWidget(m_statusPanels[i], i == 0 ? 0 : 1);
    }

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(2000);
    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &TMainForm::Timer1Timer);
    connect(Timer2, &QTimer::timeout, this, &TMainForm::Timer2Timer);
}

QStatusBar *TMainForm::StatusBar1()
{
    QStatusBar *bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar1"));
    return bar;
}

void TMainForm::buildMenus()
{
    QMenu *file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("File1"));
    auto item = [](QMenu *menu, const char *name, const QString &text) {
        QAction *action = menu->addAction(text);
        action->setObjectName(QString::fromLatin1(name));
        return action;
    };
    CloseConnection1 = item(file, "CloseConnection1", QStringLiteral("&Close Connection"));
    CloseConnection1->setEnabled(false);
    SaveCurrentConfig1 = item(file, "SaveCurrentConfig1", QStringLiteral("&Save Current Config"));
    SaveCurrentConfig1->setEnabled(false);
    UpgradeSeparator = file->addSeparator();
    UpgradeSeparator->setVisible(false);
    UpgradeFirmware1 =
        item(file, "UpgradeFirmware1", QStringLiteral("&Upgrade Firmware Via Network"));
    UpgradeFirmware1->setVisible(false);
    file->addSeparator();
    Exit1 = item(file, "Exit1", QStringLiteral("E&xit"));
    QMenu *options = menuBar()->addMenu(QStringLiteral("&Options"));
    CommsPort1 = item(options, "CommsPort1", QStringLiteral("&Comms Port"));
    CommsPort1->setEnabled(false);
    QMenu *help = menuBar()->addMenu(QStringLiteral("&Help"));
    About1 = item(help, "About1", QStringLiteral("&About...."));

    connect(CloseConnection1, &QAction::triggered, this, &TMainForm::CloseConnection1Click);
    connect(Exit1, &QAction::triggered, this, &QWidget::close);
    connect(UpgradeFirmware1, &QAction::triggered, this, [] {
        BeepMessageDlg(QStringLiteral("This feature has not been implemented yet."),
                       MsgKind::Information, MsgButtons::Ok);
    });
    connect(About1, &QAction::triggered, this, [this] {
        if (m_aboutBox)
            m_aboutBox->exec();
    });
}

void TMainForm::startUp(const QStringList &arguments)
{
    ServiceMode = !arguments.isEmpty() && isServiceCode(arguments.first());
    m_connection->BitBtn4->setText(QStringLiteral("Find Installed\nCOM Ports"));
    m_connection->BitBtn4->setVisible(portSearchOffered());
    StartFolder = QDir::currentPath();
    if (!StartFolder.endsWith(QLatin1Char('/')))
        StartFolder += QLatin1Char('/');
    m_network->Button16->setVisible(ServiceMode);
    Flags.PendingRestart = false;
    Flags.CloseRequested = false;
    PollFailureCount = 0;
    ResettingPages = false;
    Access.ViaComPort = true;
    showSessionTabs(false);
    m_pages->setCurrentIndex(ConnPage);
    m_diagnostics->inner->setCurrentWidget(m_diagnostics->Activity_Tab);

    for (int i = 0; i < 12; ++i)
        EditBoxes[size_t(i + 1)] = m_network->boxes[size_t(i)];
    for (int i = 0; i < 4; ++i) {
        EditBoxes[size_t(i + 13)] = m_g50->boxes[size_t(i)];
        EditBoxes[size_t(i + 17)] = m_bacnet->bbmdBoxes[size_t(i)];
        EditBoxes[size_t(i + 23)] = m_connection->addressBoxes[size_t(i)];
    }
    EditBoxes[21] = m_bacnet->Edit21;
    EditBoxes[22] = m_bacnet->Edit22;
    EditBoxes[27] = m_names->Edit27;
    EditBoxes[28] = m_bacnet->Edit28;
    G50ProcessFlags = 0;
    BACnetProcessFlags = 0;

    m_bacnet->CheckBox1->setToolTip(CheckBox1Hint);
    // Ticking and unticking runs the box's click handling, which leaves the
    // BBMD panel and everything in it disabled.
    m_bacnet->CheckBox2->setChecked(true);
    m_bacnet->CheckBox2->setChecked(false);

    LoadSettings();
    if (ComPort > 8)
        m_connection->ComboBox1->addItem(QStringLiteral("COM%1").arg(ComPort));
    m_connection->BitBtn1->setEnabled(ComPort > 0);
    m_connection->refreshPortTooltips();
    ResetDisplays();
    setFixedSize(409, menuBar()->sizeHint().height() + 372);
}

QString TMainForm::settingsPath() const
{
    return StartFolder + QLatin1String(SettingsFileName);
}

void TMainForm::LoadSettings()
{
    const AppSettings s = loadSettings(settingsPath());
    ComPort = s.comPort;
    IPAddress = s.ipAddress;
    IPOctets = s.ipOctets;
}

void TMainForm::SaveSettings()
{
    if (!saveSettings(settingsPath(), ComPort, IPAddress))
        qWarning("Could not write the settings file %s", qPrintable(settingsPath()));
}

void TMainForm::ResetDisplays()
{
    ResettingPages = true;
    for (int i = 1; i <= EditBoxCount; ++i)
        EditBoxes[size_t(i)]->clear();
    resetPortList();
    for (int i = 0; i < 4; ++i)
        m_connection->addressBoxes[size_t(i)]->setText(octetText(IPOctets[size_t(i)]));
    m_network->Label2->setText(QStringLiteral("00:00:00:00:00:00"));
    m_network->Label3->setText(QStringLiteral("QX???? v?.??"));
    setPortStatus(QStringLiteral(" Port:"));
    PageKit::setTextColour(m_g50->Label31, PageKit::Navy);
    PageKit::setTextColour(m_g50->Label32, PageKit::Navy);
    m_g50->Label31->setText(QStringLiteral("Mnet..."));
    m_g50->Label32->setText(QStringLiteral("G50..."));
    m_names->resetGrid();
    m_names->BitBtn3->setText(QStringLiteral("Load\nDefaults"));
    m_bacnet->CheckBox1->setChecked(false);
    m_bacnet->CheckBox2->setChecked(false);
    m_network->CheckBox3->setChecked(false);
    G50ProcessFlags = 0;
    BACnetProcessFlags = 0;
    m_diagnostics->resetProcessIndicators();
    ResettingPages = false;
    for (QPushButton *send :
         {m_network->Button2, m_bacnet->Button4, m_g50->Button6, m_names->Button10})
        send->setEnabled(false);
    for (int page : {NetPage, G50PageIndex, BACPage, NamePage})
        setTabHighlighted(page, false);
    m_diagnostics->resetSwitchesAndProgress();
}

void TMainForm::resetPortList()
{
    QComboBox *list = m_connection->ComboBox1;
    QToolButton *viaCom = m_connection->BitBtn1;
    if (list->count() == 0) {
        viaCom->setEnabled(false);
    } else if (ComPort <= 0) {
        list->setCurrentIndex(-1);
        viaCom->setEnabled(false);
    } else {
        list->setCurrentIndex(list->findText(QStringLiteral("COM%1").arg(ComPort)));
        viaCom->setEnabled(true);
    }
}

bool TMainForm::isTabHighlighted(int page) const
{
    return page >= 0 && page < int(m_highlighted.size()) && m_highlighted[size_t(page)];
}

void TMainForm::setTabHighlighted(int page, bool highlighted)
{
    if (page < 0 || page >= int(m_highlighted.size()))
        return;
    m_highlighted[size_t(page)] = highlighted;
    // Unsent changes show as a red tab caption.
    m_pages->tabBar()->setTabTextColor(page, highlighted ? PageKit::Red : QColor());
}

void TMainForm::setPortStatus(const QString &text)
{
    m_statusPanels[0]->setText(text);
}

QString TMainForm::portStatus() const
{
    return m_statusPanels[0]->text();
}

bool TMainForm::sessionOpen() const
{
    return CloseConnection1->isEnabled();
}

void TMainForm::showSessionTabs(bool show)
{
    for (int page : {NetPage, G50PageIndex, BACPage, NamePage, DiagPage})
        m_pages->setTabVisible(page, show);
    m_pages->setTabVisible(ConnPage, !show);
}

void TMainForm::closeEvent(QCloseEvent *event)
{
    if (sessionOpen()) {
        BeepMessageDlg(
            QStringLiteral("Please close the connection before exiting the application."),
            MsgKind::Information, MsgButtons::Ok);
        event->ignore();
        return;
    }
    if (SerialComms)
        SerialComms->ClosePort();
    if (MBTcpClient.active())
        MBTcpClient.close();
    if (m_msgFrm)
        m_msgFrm->hide();
    event->accept();
}

void TMainForm::showBusy(const QString &text)
{
    if (m_msgFrm)
        m_msgFrm->showMessage(text);
}

void TMainForm::hideBusy()
{
    if (m_msgFrm)
        m_msgFrm->hide();
}

void TMainForm::commonTail()
{
    Delay(150);
    hideBusy();
    restoreCursor();
}

void TMainForm::raisePageRequest(Request request, const QString &busyText)
{
    DisableControls();
    showBusy(busyText);
    saveCursor();
    Flags.flag(request) = true;
}
