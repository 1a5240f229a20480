#pragma once

// The "Choose Connection" tab: the serial port list and search, the unit's
// network address, and the two connect buttons.

#include "SessionPage.h"

#include <array>

class QComboBox;
class QLineEdit;
class QPushButton;
class QToolButton;

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

private:
    void resetPortList();

    ConnectionHost &m_connection;
};
