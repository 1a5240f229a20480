#pragma once

// The main window: owns the session state, the TCP client and the register
// access facade, the request scheduler and the pages. The pages' own
// behaviour lives in their files; this class reaches them only through the
// page interface (SessionPage) and serves them through PageHost.

#include "ConfigFiles.h"
#include "ConnectionPage.h"
#include "DeviceList.h"
#include "PageHost.h"
#include "RecentUnits.h"
#include "Reconnect.h"
#include "RegisterAccess.h"
#include "RequestScheduler.h"
#include "SentSettings.h"
#include "TcpClient.h"
#include "UiSupport.h"
#include "UnitOps.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QLabel;
class QTimer;
class QStatusBar;
class QTabWidget;
class ConnectRead;
class TAboutBox;
class TMACFrm;
class TMsg_Frm;
class TPingForm;
class BacnetCheck;
class NetworkPage;
class G50Page;
class BACnetPage;
class NamesPage;
class DiagnosticsPage;
class FrameMonitor;
class SerialLink;
class SessionPage;
class StatusPoll;

class TMainForm : public QMainWindow, public PageHost, public ConnectionHost, public ConfigFilesHost
{
    Q_OBJECT
public:
    // The tabs in the page control's order.
    enum class Tab
    {
        Network = 0,
        G50 = 1,
        BACnet = 2,
        Connection = 3,
        Names = 4,
        Diagnostics = 5
    };
    static constexpr int DefaultTcpPort = 502;

    // arguments as from the command line, without the program name.
    explicit TMainForm(const QStringList &arguments, QWidget *parent = nullptr);
    ~TMainForm() override;

    // The About box, the MAC dialog, the busy window and the ping window, in
    // that order; called once the main window's own start-up has run.
    void createCompanionWindows();

    // Session state.
    bool ServiceMode = false;
    QString StartFolder;
    int ComPort = 0;
    QString IPAddress;
    std::array<int, 4> IPOctets{};
    bool ResettingPages = false;

    TTcpClient MBTcpClient;
    RegisterAccess Access;
    bool viaComPort() const { return Access.viaComPort(); }

    // PageHost.
    RegisterAccess &access() override { return Access; }
    RequestScheduler &scheduler() override { return *m_scheduler; }
    void raiseRequest(Request request) override;
    bool resettingPages() const override { return ResettingPages; }
    bool hasUnsentChanges() const override;
    bool serviceMode() const override { return ServiceMode; }
    void showBusy(const QString &text) override;
    void hideBusy() override;
    void saveCursor() override { m_cursor.save(); }
    void restoreCursor() override { m_cursor.restore(); }
    void BeginClose() override;
    void offerCancel() override;
    bool cancelRequested() override;
    bool readingOnConnect() const override;
    UnitCheck confirmSessionUnit() override;
    void leaveOtherUnit() override;
    void sessionUnitMacChanged(const std::array<std::uint16_t, 6> &mac) override;
    void keepUnsentChanges() override;
    // Restart and return (Session.cpp).
    void settingsSent(const QList<SentSetting> &sent) override;
    void restartNow() override;
    void followRestart() override;
    // ConfigFilesHost.
    PageHost &pageHost() override { return *this; }
    // The unit identified when the session opened; nothing outside a session.
    const std::optional<ProductInfo> &sessionUnit() const override { return m_sessionUnit; }
    QString unitLocation() const override;
    QString settingsFile() const override { return settingsPath(); }

    // ConnectionHost.
    int comPort() const override { return ComPort; }
    void setComPort(int comPort, bool save) override;
    std::array<int, 4> ipOctets() const override { return IPOctets; }
    void BitBtn1Click() override;
    void BitBtn2Click() override;
    void showPingTest(const QString &address) override;
    std::uint16_t tcpPortSetting() const override { return m_tcpPortSetting; }
    const RecentUnits &recentUnits() const override { return m_recent; }
    void removeRecentUnit(int index) override;

    // The status bar's second panel: the link and the age of the last good
    // status poll ("TCP 127.0.0.1:1502 · last poll 2 s ago"), or "Not
    // connected"; refreshed every second.
    QString linkStatus() const;
    void refreshLinkStatus();

    // Scheduler: the timers and flags live in the scheduler.
    SchedulerTimer *Timer1 = nullptr;
    SchedulerTimer *Timer2 = nullptr;
    void DispatchRequest() { m_scheduler->DispatchRequest(); }
    void DisableControls();
    void EnableControls() override;
    // Replaces how "Via COM Port" creates its serial link (tests).
    void setSerialLinkFactory(std::function<std::unique_ptr<SerialLink>()> factory);

    // The wait for the unit after a restart; tests shorten it.
    void setReconnectTiming(const ReconnectTiming &timing) { m_reconnectTiming = timing; }
    // The window of the last wait for the unit after a restart, shown while
    // the unit is awaited; null before the first.
    RestartWaitWindow *restartWaitWindow() const { return m_restartWindow.get(); }
    // What the pages sent in this session.
    const SentLedger &sentSettings() const { return m_sent; }

    // Sessions.
    // Raises the gets of the Network, G50, BACnet and Unit Names pages, served
    // one per tick with the busy window and Cancel; what a session opening
    // does when "Read Pages On Connect" is ticked, and what a reconnect may
    // call to fill the pages again.
    void readPagesFromUnit();
    bool readPagesOnConnect() const;
    quint16 InterrogateUnit();
    void CloseConnection1Click();
    void EndSession();

    // Displays and settings.
    void ResetDisplays();
    void LoadSettings();
    void SaveSettings();
    QString settingsPath() const;
    bool isTabHighlighted(Tab tab) const;
    // Marks or clears a page's unsent changes as an edit or a send would.
    void setTabHighlighted(Tab tab, bool highlighted);
    void setPortStatus(const QString &text);
    QString portStatus() const;
    // The port of the network session: RAVELIN_TCP_PORT when set, else the
    // port box's as the last "Via Network" took it.
    quint16 tcpPort() const { return m_tcpPort; }
    bool sessionOpen() const override;

    QTabWidget *pageControl() const { return m_pages; }
    QStatusBar *StatusBar1();
    NetworkPage *networkPage() const { return m_network; }
    G50Page *g50Page() const { return m_g50; }
    BACnetPage *bacnetPage() const { return m_bacnet; }
    NamesPage *namesPage() const { return m_names; }
    ConnectionPage *connectionPage() const { return m_connection; }
    DiagnosticsPage *diagnosticsPage() const { return m_diagnostics; }
    StatusPoll *statusPoll() const { return m_statusPoll.get(); }
    TMsg_Frm *busyWindow() const { return m_msgFrm.get(); }
    TMACFrm *macDialog() const { return m_macFrm.get(); }
    TAboutBox *aboutBox() const { return m_aboutBox.get(); }
    TPingForm *pingForm() const { return m_pingForm.get(); }
    // Options > BACnet Check: the window, created when first shown.
    void showBacnetCheck();
    BacnetCheck *bacnetCheck() const { return m_bacnetCheck.get(); }
    // What the session's unit should announce on BACnet/IP: its address and
    // the BACnet page's instance and name; nothing outside a TCP session.
    std::optional<Bacnet::ExpectedUnit> expectedBacnetUnit() const;
    // The File menu's configuration files, names CSV and report.
    ConfigFiles *configFiles() const { return m_configFiles; }
    // Created the first time the menu opens it; null until then.
    FrameMonitor *frameMonitor() const { return m_frameMonitor.get(); }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildWindow();
    void buildMenus();
    void startUp(const QStringList &arguments);
    void addPage(SessionPage *page, Tab tab, const QString &caption);
    // A page with unsent changes shows its caption in red.
    void colourTabCaption(int index);
    void showSessionTabs(bool show);
    void recoverFromRequestError(const QString &what);
    void applyFirmwareGates(quint16 version);
    // After the identity reads: a Ravelin unit opens the session (its product
    // block, with the MAC address, is kept for checking writes), anything
    // else is refused.
    void judgeUnit(bool serial, quint16 productCode);
    void acceptUnit(bool serial);
    void refuseUnit(quint16 productCode);
    // The accepted unit goes first in the recent units; the list reaches the
    // settings file when the session ends (with the BACnet identity read
    // meanwhile) or when a unit is removed.
    void recordReachedUnit(bool serial);
    void saveRecentUnits();
    // F5, Ctrl+Enter, Ctrl+S and Ctrl+O, and the tooltips that name them.
    void installShortcuts();
    void pressPageButton(const QString &caption);
    // The status poll's handler, wrapped to note when a poll was good.
    void watchStatusPolls();

    // After a restart: the wait for the unit, the reconnect, the check of
    // what was sent and the pages read again.
    struct RestartFollowUp
    {
        bool serial = false;
        QString address; // over the network: where the unit is awaited
        QList<SentSetting> sent;
    };
    void followUpAfterSessionEnd();
    QString awaitedAt(const RestartFollowUp &followUp) const;
    bool reconnectAttempt(bool serial, const QString &address);
    void restartWaitEnded(RestartWait::Outcome outcome);
    void reopenAfterRestart(const RestartFollowUp &followUp);
    std::optional<RestartFollowUp> m_followUp;
    std::unique_ptr<RestartWaitWindow> m_restartWindow;
    SentLedger m_sent;
    ReconnectTiming m_reconnectTiming;

    // A child of the window, so its timers are found by name like its controls.
    RequestScheduler *m_scheduler = nullptr;
    QTabWidget *m_pages = nullptr;
    QLabel *m_statusPanels[2] = {};
    std::array<SessionPage *, 6> m_tabs{};
    NetworkPage *m_network = nullptr;
    G50Page *m_g50 = nullptr;
    BACnetPage *m_bacnet = nullptr;
    NamesPage *m_names = nullptr;
    ConnectionPage *m_connection = nullptr;
    DiagnosticsPage *m_diagnostics = nullptr;
    std::unique_ptr<StatusPoll> m_statusPoll;
    ConfigFiles *m_configFiles = nullptr; // a child of the window
    ConnectRead *m_connectRead = nullptr; // a child of the window

    std::unique_ptr<TAboutBox> m_aboutBox;
    std::unique_ptr<TMACFrm> m_macFrm;
    std::unique_ptr<TMsg_Frm> m_msgFrm;
    std::unique_ptr<TPingForm> m_pingForm;
    std::unique_ptr<BacnetCheck> m_bacnetCheck;
    // Declared after Access, so it is gone (and detached) before the facade.
    std::unique_ptr<FrameMonitor> m_frameMonitor;

    CursorSlot m_cursor;
    WaitFeedback m_waitFeedback;
    std::function<std::unique_ptr<SerialLink>()> m_serialLinkFactory;
    quint16 m_tcpPort = DefaultTcpPort;
    std::optional<quint16> m_envTcpPort; // RAVELIN_TCP_PORT, which wins when set
    quint16 m_tcpPortSetting = DefaultTcpPort;
    RecentUnits m_recent;
    bool m_recentChanged = false;
    // The identity read when the unit was accepted, for the recent units.
    OpResult m_identityRead;
    quint16 m_sessionFirmware = 0;
    QElapsedTimer m_lastGoodPoll;
    QTimer *m_linkTimer = nullptr;
    std::optional<ProductInfo> m_sessionUnit;
    // What the last check found when it was another unit.
    ProductInfo m_otherUnit;

public:
    // Menu items, public so that tests can read their state.
    QAction *CloseConnection1 = nullptr;
    QAction *SaveCurrentConfig1 = nullptr;
    QAction *UpgradeSeparator = nullptr;
    QAction *UpgradeFirmware1 = nullptr;
    QAction *Exit1 = nullptr;
    QAction *CommsPort1 = nullptr;
    QAction *FrameMonitor1 = nullptr;
    QAction *BacnetCheck1 = nullptr;
    QAction *ReadPagesOnConnect1 = nullptr;
    QAction *About1 = nullptr;
    // F5 and Ctrl+Enter: the shown page's "Get From Unit" and "Send To Unit".
    QAction *GetShortcut = nullptr;
    QAction *SendShortcut = nullptr;
};
