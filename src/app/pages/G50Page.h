#pragma once

// The "G50" tab: the address at which the unit reaches its G50 controller, and
// the G50 link state that the status poll keeps up to date.

#include "SessionPage.h"

#include <array>

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

    std::array<QLineEdit *, 4> boxes{}; // Edit13 to Edit16
    QPushButton *Button5 = nullptr;
    QPushButton *Button6 = nullptr;
    QLabel *Label31 = nullptr; // Mnet state
    QLabel *Label32 = nullptr; // G50 link state
};
