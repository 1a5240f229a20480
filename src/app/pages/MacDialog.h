#pragma once

// The MAC address dialog (service mode, serial sessions). It is always shown
// by the scheduler's MACDialog request, raised by the Network page's "Set"
// button or by the service gesture on the MAC address label, so no poll or
// other request can run while it is open and its write cannot overlap one.
// Each opening reads the unit's own MAC address first: the first three octets
// always come from the unit being programmed.

#include <QDialog>

#include <array>

class PageHost;
class QLabel;
class QLineEdit;
class QMouseEvent;
class QPushButton;

class TMACFrm : public QDialog
{
    Q_OBJECT
public:
    // anchor: the window the dialog centres itself on when shown.
    explicit TMACFrm(PageHost &host, QWidget *anchor = nullptr);
    ~TMACFrm() override;

    // The scheduler's request: reads the unit's MAC address into the boxes,
    // then shows the dialog modally until it is closed.
    void ShowForUnit();
    // Reads the product block; the six boxes get the unit's octets and the
    // serial number box the number octets 4 to 6 stand for. After a failed
    // read the boxes are empty and Send is refused.
    bool LoadFromUnit();
    // The fill button: octets 4 to 6 from the serial number box.
    void FillButtonClick();
    void SendButtonClick();
    void SendMacAddress();
    bool unitAddressRead() const { return m_unitRead; }
    bool sending() const { return m_sending; }
    // Closing (Cancel, Escape, the title bar) waits while a write is under
    // way, so the dialog never goes away from an address half sent.
    void reject() override;

    // Raises the MACDialog request on the service gesture over label: a left
    // double-click with Shift, Alt, Ctrl and the right button held, in a
    // serial session in service mode.
    void watchMacLabel(QLabel *label);
    static bool isServiceGesture(const QMouseEvent &event);

    std::array<QLineEdit *, 6> OctetBoxes{};
    QLineEdit *SerialNoEdit = nullptr;
    QPushButton *FillButton = nullptr;
    QPushButton *SendButton = nullptr;
    QPushButton *CancelButton = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void buildBoxes(QWidget *group);

    PageHost &m_host;
    QWidget *m_anchor;
    QLabel *m_macLabel = nullptr;
    bool m_unitRead = false;
    bool m_sending = false;
    // The serial number box was changed since the boxes were last filled
    // from it or from the unit.
    bool m_serialUnapplied = false;
};
