#pragma once

// The "Choose Connection" tab: the serial port list and search, the unit's
// network address, and the two connect buttons.

#include <QWidget>

#include <array>

class QComboBox;
class QLineEdit;
class QPushButton;
class QToolButton;
class TMainForm;

class ConnectionPage : public QWidget
{
    Q_OBJECT
public:
    ConnectionPage(TMainForm &form, QWidget *parent);

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
    TMainForm &m_form;
};
