#pragma once

// The "G50" tab: the address at which the unit reaches its G50 controller, and
// the G50 link state that the status poll keeps up to date.

#include "SessionPage.h"
#include "UnitOps.h"

#include <QString>

#include <array>

struct StatusBlock;
class QLabel;
class QLineEdit;
class QPushButton;

class G50Page : public SessionPage
{
    Q_OBJECT
public:
    G50Page(PageHost &host, QWidget *parent);

    // The boxes empty; the link labels back to their waiting texts in navy.
    void resetDisplay() override;

    void GetG50Settings();
    void SendG50Settings();
    void Button5Click();
    void Button6Click();
    void G50Change();

    // Puts the G50 address on the page as a get does (never as an edit).
    void show(const Octets4 &address, Hold hold);
    // What the page would send, as entered: the four octet boxes.
    std::array<QString, 4> entries() const;
    bool holdsAllEntries() const;
    // The address as the engineer's edit: held, and the page marked unsent
    // when what it would send changed. Returns whether it did.
    bool editTo(const Octets4 &address);
    // The two status lines (Label32 the link, Label31 Mnet) for a polled
    // block.
    void showLinkState(const StatusBlock &status);

    std::array<QLineEdit *, 4> boxes{}; // Edit13 to Edit16
    QPushButton *Button5 = nullptr;
    QPushButton *Button6 = nullptr;
    QLabel *Label31 = nullptr; // Mnet state
    QLabel *Label32 = nullptr; // G50 link state
};
