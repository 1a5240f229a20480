#pragma once

// The "BACnet" tab: the Device object's instance and name, the new-setting
// comparison option and foreign-device registration with a BBMD.

#include <QWidget>

#include <array>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class TMainForm;

class BACnetPage : public QWidget
{
    Q_OBJECT
public:
    BACnetPage(TMainForm &form, QWidget *parent);

    void GetBACnetSettings();
    void SendBACnetSettings();
    void Button3Click();
    void Button4Click();
    // Panel2 (BBMD address, time to live) is usable exactly while CheckBox2 is ticked.
    void CheckBox2Click();
    void BACnetChange();

    QLineEdit *Edit21 = nullptr;
    QLineEdit *Edit22 = nullptr;
    std::array<QLineEdit *, 4> bbmdBoxes{}; // Edit17 to Edit20
    QLineEdit *Edit28 = nullptr;
    QLabel *Label26 = nullptr;
    QCheckBox *CheckBox1 = nullptr;
    QCheckBox *CheckBox2 = nullptr;
    QWidget *Panel2 = nullptr;
    QPushButton *Button3 = nullptr;
    QPushButton *Button4 = nullptr;

private:
    TMainForm &m_form;
};
