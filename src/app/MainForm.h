#pragma once

// The main window: owns the session state, the TCP client and the register
// access facade, the two timers and the request scheduler, and the pages. The
// pages' own behaviour lives in their files; this class wires them together.

#include "RegisterAccess.h"
#include "RequestFlags.h"
#include "TcpClient.h"
#include "UiSupport.h"

#include <QMainWindow>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>

class QAction;
class QLabel;
class QLineEdit;
class QStatusBar;
class QTabWidget;
class QTimer;
class TAboutBox;
class TMACFrm;
class TMsg_Frm;
class TPingForm;
class NetworkPage;
class G50Page;
class BACnetPage;
class NamesPage;
class ConnectionPage;
class DiagnosticsPage;
class StatusPoll;
class SerialLink;

class TMainForm : public QMainWindow
{
    Q_OBJECT
public:
    enum PageIndex
    {
        NetPage = 0,
        G50PageIndex = 1,
        BACPage = 2,
        ConnPage = 3,
        NamePage = 4,
        DiagPage = 5
    };
    static constexpr int EditBoxCount = 28;
    static constexpr int ObjectNameCount = 105;
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
    std::array<QLineEdit *, EditBoxCount + 1> EditBoxes{}; // index 1 to 28
    QStringList ObjectNames;                               // index 1 to 105
    std::array<int, 6> UnitMacOctets{};
    int PollFailureCount = 0;
    quint16 G50ProcessFlags = 0;
    quint16 BACnetProcessFlags = 0;
    RequestFlags Flags;

    TTcpClient MBTcpClient;
    RegisterAccess Access{MBTcpClient};
    std::unique_ptr<SerialLink> SerialComms;
    bool viaComPort() const { return Access.ViaComPort; }

    // The busy window and cursor around a blocking action.
    void showBusy(const QString &text);
    void hideBusy();
    void saveCursor() { m_cursor.save(); }
    void restoreCursor() { m_cursor.restore(); }
    // The end of every request: a 150 ms pause, then busy window and cursor back.
    void commonTail();
    // A page button's request: controls off, busy text, hourglass, flag raised.
    void raisePageRequest(Request request, const QString &busyText);

    // Scheduler.
    QTimer *Timer1 = nullptr;
    QTimer *Timer2 = nullptr;
    void Timer1Timer();
    void Timer2Timer();
    void DispatchRequest();
    void DisableControls();
    void EnableControls();
    // Called with each request just before it runs; tests record the order
    // and may throw to exercise the recovery.
    void setRequestObserver(std::function<void(Request)> observer);
    // Replaces how "Via COM Port" creates its serial link (tests).
    void setSerialLinkFactory(std::function<std::unique_ptr<SerialLink>()> factory);

    // Sessions.
    void BitBtn2Click();
    quint16 InterrogateUnit();
    void CloseConnection1Click();
    void BeginClose();
    void EndSession();
    void BitBtn1Click();
    void ComboBox1Select(int index);
    void BitBtn4Click();

    // Displays and settings.
    void ResetDisplays();
    void LoadSettings();
    void SaveSettings();
    QString settingsPath() const;
    bool isTabHighlighted(int page) const;
    void setTabHighlighted(int page, bool highlighted);
    void setPortStatus(const QString &text);
    QString portStatus() const;
    quint16 tcpPort() const { return m_tcpPort; }
    bool sessionOpen() const;

    QTabWidget *pageControl() const { return m_pages; }
    QStatusBar *StatusBar1();
    NetworkPage *networkPage() const { return m_network; }
    G50Page *g50Page() const { return m_g50; }
    BACnetPage *bacnetPage() const { return m_bacnet; }
    NamesPage *namesPage() const { return m_names; }
    ConnectionPage *connectionPage() const { return m_connection; }
    DiagnosticsPage *diagnosticsPage() const { return m_diagnostics; }
    TMsg_Frm *busyWindow() const { return m_msgFrm.get(); }
    TMACFrm *macDialog() const { return m_macFrm.get(); }
    TAboutBox *aboutBox() const { return m_aboutBox.get(); }
    TPingForm *pingForm() const { return m_pingForm.get(); }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildWindow();
    void buildMenus();
    void startUp(const QStringList &arguments);
    void showSessionTabs(bool show);
    void serveRequest(const RequestRule &rule);
    void performRequest(Request request);
    void recoverFromRequestError(const RequestRule &rule, const QString &what);
    void applyFirmwareGates(quint16 version);
    void acceptNetworkUnit();
    void acceptSerialUnit();
    void refuseUnit(quint16 productCode);
    void resetPortList();
    void resetNamesGrid();

    QTabWidget *m_pages = nullptr;
    QLabel *m_statusPanels[2] = {};
    NetworkPage *m_network = nullptr;
    G50Page *m_g50 = nullptr;
    BACnetPage *m_bacnet = nullptr;
    NamesPage *m_names = nullptr;
    ConnectionPage *m_connection = nullptr;
    DiagnosticsPage *m_diagnostics = nullptr;
    std::unique_ptr<StatusPoll> m_statusPoll;

    std::unique_ptr<TAboutBox> m_aboutBox;
    std::unique_ptr<TMACFrm> m_macFrm;
    std::unique_ptr<TMsg_Frm> m_msgFrm;
    std::unique_ptr<TPingForm> m_pingForm;

    CursorSlot m_cursor;
    std::function<void(Request)> m_requestObserver;
    std::function<std::unique_ptr<SerialLink>()> m_serialLinkFactory;
    std::array<bool, 6> m_highlighted{};
    quint16 m_tcpPort = DefaultTcpPort;

public:
    // Menu items, public so that pages and tests can read their state.
    QAction *CloseConnection1 = nullptr;
    QAction *SaveCurrentConfig1 = nullptr;
    QAction *UpgradeSeparator = nullptr;
    QAction *UpgradeFirmware1 = nullptr;
    QAction *Exit1 = nullptr;
    QAction *CommsPort1 = nullptr;
    QAction *About1 = nullptr;
};
