#pragma once

// The "Network" tab: the unit's own addresses, MAC address, firmware label,
// the configuration lock and the restart command.

#include "SessionPage.h"
#include "UnitOps.h"

#include <QString>

#include <array>

class QCheckBox;
class TMACFrm;
class QLabel;
class QLineEdit;
class QPushButton;

// What the page would send, as entered: the twelve octet boxes (IP address,
// gateway, subnet mask) and the configuration lock box.
struct NetworkEntries
{
    std::array<QString, 12> addresses;
    bool allowConfigViaNetwork = false;
    bool operator==(const NetworkEntries &other) const
    {
        return addresses == other.addresses && allowConfigViaNetwork == other.allowConfigViaNetwork;
    }
    bool operator!=(const NetworkEntries &other) const { return !(*this == other); }
};

class NetworkPage : public SessionPage
{
    Q_OBJECT
public:
    NetworkPage(PageHost &host, QWidget *parent);

    void resetDisplay() override;
    void applyFirmwareGates(int version) override;
    // The "Set" button of the MAC address is offered in service mode over a
    // serial line only.
    void showMacButton(bool show);
    // The MAC dialog opens on the service gesture over the MAC address label.
    void letMacDialogWatch(TMACFrm &dialog);

    // Requests served by the scheduler.
    void GetNetworkSettings();
    void SendNetworkSettings();
    void SendRestartCommand();

    void Button1Click();
    void Button2Click();
    void Button7Click();
    void Button16Click();
    // Any edit of the page by the user marks it as holding unsent changes.
    void NetworkChange();

    // Puts what arrived of a reading on the page (never as an edit): the
    // addresses, the firmware and MAC labels, the lock box; a part missing
    // from the reading leaves its controls as they are.
    void show(const NetworkReading &reading, Hold hold);
    NetworkEntries entries() const;
    // Whether the page holds every value it would send.
    bool holdsAllEntries() const;
    // The reading's addresses and lock as the engineer's edit: held, and the
    // page marked unsent when what it would send changed. Returns whether it
    // did.
    bool editTo(const NetworkReading &reading);

    std::array<QLineEdit *, 12> boxes{}; // Edit1 to Edit12
    QCheckBox *CheckBox3 = nullptr;
    QPushButton *Button1 = nullptr;
    QPushButton *Button2 = nullptr;
    QPushButton *Button7 = nullptr;
    QPushButton *Button16 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;

    // The MAC octets last read by GetNetworkSettings; the MAC address dialog
    // fills its boxes from them.
    std::array<int, 6> UnitMacOctets{};
};
