#pragma once

// The "Choose Connection" tab: the serial port list and search, the unit's
// network address, and the two connect buttons.

#include "SessionPage.h"

#include <array>
#include <cstdint>
#include <optional>

class QComboBox;
class QKeyEvent;
class QLineEdit;
class QListWidget;
class QPushButton;
class QToolButton;
class RecentUnits;

// An address as typed or pasted: "a.b.c.d" or "a.b.c.d:port", blanks around
// it allowed; nothing when the address is no dotted quad of 0 to 255 or the
// port is not 1 to 65535.
struct AddressEntry
{
    std::array<int, 4> octets{};
    std::optional<std::uint16_t> port;
};
std::optional<AddressEntry> parseAddressEntry(const QString &text);

// What the page asks of the window: the remembered port and address, and
// opening a session.
class ConnectionHost
{
public:
    virtual ~ConnectionHost() = default;
    virtual int comPort() const = 0;
    // The port of the next serial session (0: none); with save, the
    // settings file remembers it.
    virtual void setComPort(int comPort, bool save) = 0;
    virtual std::array<int, 4> ipOctets() const = 0;
    virtual void BitBtn1Click() = 0; // Via COM Port
    virtual void BitBtn2Click() = 0; // Via Network
    // Opens the ping window for the address (a valid dotted quad).
    virtual void showPingTest(const QString &address) = 0;
    // The TCP port the port box starts with (the settings file's).
    virtual std::uint16_t tcpPortSetting() const = 0;
    // The units reached lately, newest first, and removing one of them.
    virtual const RecentUnits &recentUnits() const = 0;
    virtual void removeRecentUnit(int index) = 0;
};

class ConnectionPage : public SessionPage
{
    Q_OBJECT
public:
    ConnectionPage(PageHost &host, ConnectionHost &connection, QWidget *parent);

    // The address boxes show the remembered address; the port list selects
    // the remembered port.
    void resetDisplay() override;
    // The four address boxes as numbers, -1 where a box is not a number.
    std::array<int, 4> addressOctets() const;
    // The port list: the chosen COM port (list entry "COMn").
    void ComboBox1Select(int index);
    // The port search: lists COM1 to COM32 where a device exists and opens.
    void BitBtn4Click();
    // "Ping": an address box outside 0 to 255 is refused with a message
    // before the ping window opens.
    void Button8Click();

    // At start-up: the port search button as offered on this system, and the
    // remembered port (a port above COM8 joins the list; none leaves "Via COM
    // Port" disabled).
    void offerPortSearch(bool offered);
    void showRememberedPort(int comPort);
    // The four address boxes as typed.
    std::array<QString, 4> addressTexts() const;
    // The port box as a TCP port; nothing when it is not 1 to 65535.
    std::optional<std::uint16_t> tcpPortEntry() const;
    // Fills the four address boxes (and the port box when a port is given).
    void showAddress(const AddressEntry &entry);
    // The recent units list as the host holds it.
    void showRecentUnits();
    // Connects to recent unit `index` the way its buttons would: its address
    // and port into the boxes and "Via Network", or its port chosen and "Via
    // COM Port".
    void connectRecent(int index);
    // Removes the list's current unit.
    void removeCurrentRecent();
    // Shows which device each COM number stands for, as a tooltip per item.
    void refreshPortTooltips();
    // The list's own tooltip names the device of the chosen port.
    void showChosenDevice(int index);

    QToolButton *BitBtn1 = nullptr; // Via COM Port
    QToolButton *BitBtn2 = nullptr; // Via Network
    QPushButton *BitBtn4 = nullptr; // port search
    QComboBox *ComboBox1 = nullptr;
    std::array<QLineEdit *, 4> addressBoxes{}; // Edit23 to Edit26
    QPushButton *Button8 = nullptr;            // Ping
    QLineEdit *portBox = nullptr;              // TCP port
    QListWidget *recentList = nullptr;
    QPushButton *removeRecentButton = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void resetPortList();
    // "." or space in an address box moves to the next box; a pasted
    // address fills them all. True when the key was taken.
    bool addressKey(QLineEdit *box, const QKeyEvent &key);
    bool pasteAddress(const QString &text);

    ConnectionHost &m_connection;
};
