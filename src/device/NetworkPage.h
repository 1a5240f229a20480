#pragma once

// The "Network" tab: the unit's own addresses, MAC address, firmware label,
// the configuration lock and the restart command.

#include <QWidget>

#include <array>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class TMainForm;

class NetworkPage : public QWidget
{
    Q_OBJECT
public:
    NetworkPage(TMainForm &form, QWidget *parent);

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

    std::array<QLineEdit *, 12> boxes{}; // Edit1 to Edit12
    QCheckBox *CheckBox3 = nullptr;
    QPushButton *Button1 = nullptr;
    QPushButton *Button2 = nullptr;
    QPushButton *Button7 = nullptr;
    QPushButton *Button16 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;

private:
    TMainForm &m_form;
};
