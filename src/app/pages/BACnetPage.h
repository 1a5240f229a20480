#pragma once

// The "BACnet" tab: the Device object's instance and name, the new-setting
// comparison option and foreign-device registration with a BBMD.

#include "PageRules.h"
#include "SessionPage.h"
#include "UnitOps.h"

#include <QList>

#include <array>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

class BACnetPage : public SessionPage
{
    Q_OBJECT
public:
    BACnetPage(PageHost &host, QWidget *parent);

    void resetDisplay() override;
    // Foreign-device registration exists from version 1.21 on.
    void applyFirmwareGates(int version) override;

signals:
    // A get read the Device ID or name: the instance (-1 when not read) and
    // the name as shown (empty when not read).
    void deviceIdentityRead(qint64 instance, const QString &name);

public:
    void GetBACnetSettings();
    void SendBACnetSettings();
    void Button3Click();
    void Button4Click();
    // Panel2 (BBMD address, time to live) is usable exactly while CheckBox2 is
    // ticked and the firmware has foreign-device registration.
    void CheckBox2Click();
    void BACnetChange();
    // Mouse movement over either check box: its hint is shown at once.
    void CheckBox1MouseMove(QWidget *box, const QPoint &globalPos);

    // Puts what arrived of a reading on the page as a get does (never as an
    // edit); a part missing from the reading leaves its controls as they are.
    // An instance that is no BACnet instance shows its warning.
    void show(const BACnetReading &reading, Hold hold);
    // What the page would send, as entered, every box included.
    BACnetEntries entries() const;
    bool holdsAllEntries() const;
    // What the reading holds as the engineer's edit: held, and the page
    // marked unsent when what it would send changed. Returns whether it did.
    bool editTo(const BACnetReading &reading);

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

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Each BACnet row's entry on this page: a check box, a line edit, or the
    // four octet boxes of an address.
    struct RowEntry
    {
        const SettingRow<BACnetSettings> *row;
        QList<QWidget *> widgets;
    };
    QList<const QWidget *> entryWidgets() const;
    // The block of each row is sent only when the page holds every entry of
    // it that is sent (an entry sent as zeros while its switch is off does
    // not count then).
    bool holdsBlock(const RegisterBlock &block, const BACnetEntries &entries) const;

    std::vector<RowEntry> m_rowEntries;
    // The firmware registers as a foreign device (1.21 on); Panel2 is usable
    // only then.
    bool m_foreignDeviceAllowed = true;
};
