#include "MainForm.h"

#include "AboutBox.h"
#include "AppSettings.h"
#include "Appearance.h"
#include "BACnetPage.h"
#include "ConfigFiles.h"
#include "DiagnosticsPage.h"
#include "FrameMonitor.h"
#include "G50Page.h"
#include "MacDialog.h"
#include "MsgFrm.h"
#include "NamesPage.h"
#include "NetworkPage.h"
#include "PageKit.h"
#include "PingForm.h"
#include "SerialLink.h"
#include "StatusPoll.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFrame>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

#include <algorithm>

namespace {

// Tests and demos run the simulator on a free loopback port; set, it wins
// over the port box. Read once at start-up.
std::optional<quint16> tcpPortFromEnvironment()
{
    bool ok = false;
    const int port = qEnvironmentVariableIntValue("RAVELIN_TCP_PORT", &ok);
    if (ok && port > 0 && port <= 65535)
        return quint16(port);
    return std::nullopt;
}

const QString GetCaption = QStringLiteral("Get From Unit");
const QString SendCaption = QStringLiteral("Send To Unit");

} // namespace

TMainForm::TMainForm(const QStringList &arguments, QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("MainForm"));
    m_scheduler = new RequestScheduler(this);
    Timer1 = &m_scheduler->Timer1;
    Timer2 = &m_scheduler->Timer2;
    RequestScheduler::Hooks hooks;
    hooks.endSession = [this] {
        EndSession();
    };
    hooks.enableControls = [this] {
        EnableControls();
    };
    hooks.recover = [this](const QString &what) {
        recoverFromRequestError(what);
    };
    m_scheduler->setHooks(std::move(hooks));
    setWindowTitle(QStringLiteral("Quorix Ravelin Configuration....."));
    m_envTcpPort = tcpPortFromEnvironment();
    m_tcpPort = m_envTcpPort.value_or(quint16(DefaultTcpPort));
    // The window paints while a Modbus TCP reply is awaited, as it does over
    // a serial line: a silent unit no longer freezes it for the reply wait.
    MBTcpClient.setWaitHooks({[this](int waitedMs) { m_waitFeedback.waiting(waitedMs); },
                              [this] {
                                  m_waitFeedback.ended();
                              }});
    buildWindow();
    buildMenus();
    installShortcuts();
    watchStatusPolls();
    connect(Appearance::PaletteWatch::instance(), &Appearance::PaletteWatch::paletteChanged, this,
            [this] {
                for (int i = 0; i < m_pages->count(); ++i)
                    colourTabCaption(i);
            });
    startUp(arguments);
}

TMainForm::~TMainForm()
{
    Access.closeTransport();
}

void TMainForm::createCompanionWindows()
{
    m_aboutBox = std::make_unique<TAboutBox>();
    m_macFrm = std::make_unique<TMACFrm>(*this, this);
    m_network->letMacDialogWatch(*m_macFrm);
    m_msgFrm = std::make_unique<TMsg_Frm>(this);
    m_pingForm = std::make_unique<TPingForm>(&m_cursor);
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
    m_connection = new ConnectionPage(*this, *this, m_pages);
    m_names = new NamesPage(*this, m_pages);
    m_diagnostics = new DiagnosticsPage(*this, m_pages);
    addPage(m_network, Tab::Network, QStringLiteral("Network"));
    addPage(m_g50, Tab::G50, QStringLiteral("G50"));
    addPage(m_bacnet, Tab::BACnet, QStringLiteral("BACnet"));
    addPage(m_connection, Tab::Connection, QStringLiteral("Choose Connection"));
    addPage(m_names, Tab::Names, QStringLiteral("Unit Names"));
    addPage(m_diagnostics, Tab::Diagnostics, QStringLiteral("Diagnostics"));
    m_statusPoll = std::make_unique<StatusPoll>(*this, *m_g50, *m_diagnostics);

    StatusBar1()->setSizeGripEnabled(false);
    const int widths[2] = {150, 50};
    for (int i = 0; i < 2; ++i) {
        m_statusPanels[i] = new QLabel(this);
        m_statusPanels[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        m_statusPanels[i]->setMinimumWidth(widths[i]);
        m_statusPanels[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        StatusBar1()->addWidget(m_statusPanels[i], i == 0 ? 0 : 1);
    }
    m_linkTimer = new QTimer(this);
    m_linkTimer->setObjectName(QStringLiteral("LinkStatusTimer"));
    m_linkTimer->setInterval(1000);
    connect(m_linkTimer, &QTimer::timeout, this, &TMainForm::refreshLinkStatus);
    m_linkTimer->start();
    connect(m_bacnet, &BACnetPage::deviceIdentityRead, this,
            [this](qint64 instance, const QString &name) {
                if (!sessionOpen())
                    return;
                RecentUnit here;
                if (!viaComPort()) {
                    here.address = IPAddress;
                    here.tcpPort = m_tcpPort;
                } else {
                    here.comPort = ComPort;
                }
                const std::optional<std::uint32_t> known =
                    instance >= 0 && instance <= qint64(MaxDeviceInstance)
                        ? std::optional<std::uint32_t>(std::uint32_t(instance))
                        : std::nullopt;
                if (m_recent.setBACnetIdentity(here, known, name))
                    m_recentChanged = true;
            });
}

void TMainForm::addPage(SessionPage *page, Tab tab, const QString &caption)
{
    const int index = m_pages->addTab(page, caption);
    m_tabs[size_t(tab)] = page;
    // Unsent changes show as a red tab caption.
    connect(page, &SessionPage::unsentChanged, this, [this, index] { colourTabCaption(index); });
}

void TMainForm::colourTabCaption(int index)
{
    QTabBar *bar = m_pages->tabBar();
    const auto *page = qobject_cast<const SessionPage *>(m_pages->widget(index));
    bar->setTabTextColor(
        index,
        page && page->hasUnsentChanges()
            ? Appearance::readableOn(PageKit::Red, Appearance::surfaceBehindText(bar->palette()))
            : QColor());
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
    ConfigFilesParts parts;
    parts.window = this;
    parts.fileMenu = file;
    parts.before = UpgradeSeparator;
    parts.saveCurrentConfig = SaveCurrentConfig1;
    parts.closeConnection = CloseConnection1;
    parts.pageControl = m_pages;
    parts.network = m_network;
    parts.g50 = m_g50;
    parts.bacnet = m_bacnet;
    parts.names = m_names;
    m_configFiles = new ConfigFiles(*this, parts);
    QMenu *options = menuBar()->addMenu(QStringLiteral("&Options"));
    CommsPort1 = item(options, "CommsPort1", QStringLiteral("&Comms Port"));
    CommsPort1->setEnabled(false);
    FrameMonitor1 = item(options, "FrameMonitor1", QStringLiteral("&Frame Monitor"));
    QMenu *help = menuBar()->addMenu(QStringLiteral("&Help"));
    About1 = item(help, "About1", QStringLiteral("&About...."));

    connect(CloseConnection1, &QAction::triggered, this, &TMainForm::CloseConnection1Click);
    connect(Exit1, &QAction::triggered, this, &QWidget::close);
    connect(UpgradeFirmware1, &QAction::triggered, this, [] {
        BeepMessageDlg(QStringLiteral("This feature has not been implemented yet."),
                       MsgKind::Information, MsgButtons::Ok);
    });
    connect(FrameMonitor1, &QAction::triggered, this, [this] {
        if (!m_frameMonitor)
            m_frameMonitor = std::make_unique<FrameMonitor>(Access);
        m_frameMonitor->show();
    });
    connect(About1, &QAction::triggered, this, [this] {
        if (!m_aboutBox)
            return;
        m_aboutBox->move(geometry().center() - m_aboutBox->rect().center());
        m_aboutBox->exec();
    });
}

void TMainForm::startUp(const QStringList &arguments)
{
    ServiceMode = !arguments.isEmpty() && isServiceCode(arguments.first());
    m_connection->offerPortSearch(portSearchOffered());
    StartFolder = QDir::currentPath();
    if (!StartFolder.endsWith(QLatin1Char('/')))
        StartFolder += QLatin1Char('/');
    m_network->showMacButton(ServiceMode);
    m_scheduler->setPending(Request::Restart, false);
    m_scheduler->CloseRequested = false;
    ResettingPages = false;
    showSessionTabs(false);
    m_pages->setCurrentIndex(int(Tab::Connection));

    LoadSettings();
    m_connection->showRememberedPort(ComPort);
    ResetDisplays();
    refreshLinkStatus();
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
    m_tcpPortSetting = s.tcpPort;
    m_recent.setEntries(s.recentUnits);
}

void TMainForm::SaveSettings()
{
    if (!saveSettings(settingsPath(), ComPort, IPAddress, m_tcpPortSetting))
        qWarning("Could not write the settings file %s", qPrintable(settingsPath()));
}

void TMainForm::ResetDisplays()
{
    ResettingPages = true;
    setPortStatus(QStringLiteral(" Port:"));
    m_statusPoll->resetFlags();
    for (SessionPage *page : m_tabs) {
        page->resetDisplay();
        page->releaseValues();
    }
    ResettingPages = false;
    for (SessionPage *page : m_tabs)
        page->clearUnsent();
}

bool TMainForm::hasUnsentChanges() const
{
    return std::any_of(m_tabs.begin(), m_tabs.end(),
                       [](const SessionPage *page) { return page->hasUnsentChanges(); });
}

bool TMainForm::isTabHighlighted(Tab tab) const
{
    return m_tabs[size_t(tab)]->hasUnsentChanges();
}

void TMainForm::setTabHighlighted(Tab tab, bool highlighted)
{
    SessionPage *page = m_tabs[size_t(tab)];
    if (highlighted)
        page->markUnsent();
    else
        page->clearUnsent();
}

void TMainForm::showPingTest(const QString &address)
{
    if (!m_pingForm)
        return;
    m_pingForm->setPingHost(address);
    m_pingForm->move(geometry().center() - m_pingForm->rect().center());
    // Modal without a nested event loop: the window's own run keeps going.
    m_pingForm->show();
}

void TMainForm::setComPort(int comPort, bool save)
{
    ComPort = comPort;
    if (save)
        SaveSettings();
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

QString TMainForm::unitLocation() const
{
    return viaComPort() ? QStringLiteral("COM%1").arg(ComPort) : IPAddress;
}

void TMainForm::showSessionTabs(bool show)
{
    for (Tab tab : {Tab::Network, Tab::G50, Tab::BACnet, Tab::Names, Tab::Diagnostics})
        m_pages->setTabVisible(int(tab), show);
    m_pages->setTabVisible(int(Tab::Connection), !show);
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
    Access.closeTransport();
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

void TMainForm::raiseRequest(Request request)
{
    // Requests belong to an open session; once it is closing nothing new is
    // taken, so nothing can carry over into the next one.
    if (!sessionOpen() || m_scheduler->CloseRequested)
        return;
    const RequestRow &row = requestRow(request);
    if (row.disablesControls)
        DisableControls();
    if (row.busyText) {
        showBusy(QString::fromLatin1(row.busyText));
        saveCursor();
    }
    m_scheduler->setPending(request, true);
}

void TMainForm::DisableControls()
{
    for (SessionPage *page : m_tabs)
        page->disableRequestButtons();
    m_pages->setEnabled(false);
    setEnabled(false);
}

void TMainForm::EnableControls()
{
    for (SessionPage *page : m_tabs)
        page->enableRequestButtons();
    m_pages->setEnabled(true);
    setEnabled(true);
}

void TMainForm::recoverFromRequestError(const QString &what)
{
    hideBusy();
    restoreCursor();
    EnableControls();
    BeepMessageDlg(QStringLiteral("The request could not be completed:\r%1").arg(what),
                   MsgKind::Error, MsgButtons::Ok);
}

void TMainForm::removeRecentUnit(int index)
{
    if (m_recent.removeAt(index))
        saveRecentUnits();
}

void TMainForm::saveRecentUnits()
{
    m_recentChanged = false;
    if (!::saveRecentUnits(settingsPath(), m_recent.entries()))
        qWarning("Could not write the settings file %s", qPrintable(settingsPath()));
}

QString TMainForm::linkStatus() const
{
    if (!sessionOpen())
        return QStringLiteral("Not connected");
    const QString link = viaComPort() ? QStringLiteral("COM%1").arg(ComPort)
                                      : QStringLiteral("TCP %1:%2").arg(IPAddress).arg(m_tcpPort);
    const QString poll =
        m_lastGoodPoll.isValid()
            ? QStringLiteral("last poll %1 s ago").arg(m_lastGoodPoll.elapsed() / 1000)
            : QStringLiteral("no poll yet");
    return QStringLiteral("%1 \u00b7 %2").arg(link, poll);
}

void TMainForm::refreshLinkStatus()
{
    m_statusPanels[1]->setText(QLatin1Char(' ') + linkStatus());
}

void TMainForm::watchStatusPolls()
{
    m_scheduler->setHandler(Request::StatusPoll, [this] {
        if (m_statusPoll->RunStatusPoll())
            m_lastGoodPoll.start();
        refreshLinkStatus();
    });
}

void TMainForm::installShortcuts()
{
    auto shortcut = [this](const char *name, const QList<QKeySequence> &keys,
                           const QString &caption) {
        auto *action = new QAction(this);
        action->setObjectName(QString::fromLatin1(name));
        action->setShortcuts(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
        connect(action, &QAction::triggered, this, [this, caption] { pressPageButton(caption); });
        return action;
    };
    GetShortcut = shortcut("GetShortcut", {QKeySequence(Qt::Key_F5)}, GetCaption);
    SendShortcut =
        shortcut("SendShortcut",
                 {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)},
                 SendCaption);
    SaveCurrentConfig1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    if (m_configFiles && m_configFiles->OpenConfig1)
        m_configFiles->OpenConfig1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    for (SessionPage *page : m_tabs) {
        for (QPushButton *button : page->findChildren<QPushButton *>()) {
            if (button->text() == GetCaption)
                button->setToolTip(QStringLiteral("Read this page from the unit (F5)"));
            else if (button->text() == SendCaption)
                button->setToolTip(
                    QStringLiteral("Write this page's changes to the unit (Ctrl+Enter)"));
        }
    }
}

void TMainForm::pressPageButton(const QString &caption)
{
    if (!sessionOpen() || !isEnabled())
        return;
    const QWidget *shown = m_pages->currentWidget();
    if (!shown)
        return;
    for (QPushButton *button : shown->findChildren<QPushButton *>()) {
        if (button->text() == caption && button->isVisibleTo(m_pages) && button->isEnabled()) {
            button->click();
            return;
        }
    }
}
