#include "MacDialog.h"

#include "MacAddress.h"
#include "PageHost.h"
#include "PageKit.h"
#include "RegisterAccess.h"
#include "UiSupport.h"
#include "UnitOps.h"

#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QStyle>

#include <algorithm>

using namespace PageKit;

namespace {

const QString InvalidDataText = QStringLiteral("Unable To Send MAC Address Due To Invalid Data.");
const QString NotReadText =
    QStringLiteral("Unable To Send MAC Address.\rThe Unit's MAC Address Could Not Be Read.");
const QString SentText = QStringLiteral("MAC Address Transmitted OK.");
const QString SendErrorText = QStringLiteral("Error Transmitting MAC Address.");
const QString SerialRangeText =
    QStringLiteral("The serial number must be a whole number from 0 to 16777215.\rThe MAC address "
                   "boxes were not changed.");

constexpr int FirstEditableOctet = 3; // boxes 4 to 6

bool hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'F') || (u >= u'a' && u <= u'f');
}

} // namespace

TMACFrm::TMACFrm(PageHost &host, QWidget *anchor)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_host(host), m_anchor(anchor)
{
    setObjectName(QStringLiteral("MACFrm"));
    setWindowTitle(QStringLiteral("Set MAC Address..."));
    setFixedSize(300, 152);
    auto *group = new QGroupBox(QStringLiteral(" MAC Address "), this);
    group->setGeometry(8, 8, 284, 100);
    buildBoxes(group);

    label(group, QStringLiteral("Serial No."), QRect(16, 65, 64, 17));
    SerialNoEdit = edit(group, QStringLiteral("SerialNoEdit"), 32767, QRect(84, 62, 81, 23));
    SerialNoEdit->setText(QStringLiteral("0"));
    SerialNoEdit->setToolTip(QStringLiteral("Last 8 Digits Only"));
    FillButton = button(group, QStringLiteral("FillButton"), QString(), QRect(172, 61, 25, 25));
    FillButton->setIcon(style()->standardIcon(QStyle::SP_ArrowUp));
    FillButton->setToolTip(QStringLiteral("Click To Fill Mac Address Fields"));
    SendButton =
        button(this, QStringLiteral("SendButton"), QStringLiteral("Send"), QRect(128, 118, 75, 25));
    CancelButton = button(this, QStringLiteral("CancelButton"), QStringLiteral("Cancel"),
                          QRect(217, 118, 75, 25));

    // Keyboard order: the editable octets first, then the fixed ones.
    QList<QWidget *> order;
    for (int i : {3, 4, 5, 0, 1, 2})
        order << OctetBoxes[size_t(i)];
    order << SerialNoEdit << FillButton << SendButton << CancelButton;
    for (int i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);

    connect(SerialNoEdit, &QLineEdit::textChanged, this, [this] { m_serialUnapplied = true; });
    connect(FillButton, &QPushButton::clicked, this, &TMACFrm::FillButtonClick);
    connect(SendButton, &QPushButton::clicked, this, &TMACFrm::SendButtonClick);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    host.scheduler().setHandler(Request::MACDialog, [this] { ShowForUnit(); });
}

TMACFrm::~TMACFrm()
{
    m_host.scheduler().setHandler(Request::MACDialog, {});
    if (m_macLabel)
        m_macLabel->removeEventFilter(this);
}

void TMACFrm::buildBoxes(QWidget *group)
{
    const char *const prefix[] = {"02", "7A", "1C"};
    for (int i = 0; i < 6; ++i) {
        const int x = 16 + i * 44;
        QLineEdit *box =
            edit(group, QStringLiteral("OctetBox%1").arg(i + 1), 2, QRect(x, 24, 33, 23));
        box->installEventFilter(this);
        if (i < FirstEditableOctet) {
            box->setReadOnly(true);
            box->setStyleSheet(QStringLiteral("background-color: palette(button);"));
            box->setText(QString::fromLatin1(prefix[i]));
        }
        if (i < 5)
            boldLabel(group, QStringLiteral(":"), QRect(x + 36, 27, 6, 17), 10);
        OctetBoxes[size_t(i)] = box;
    }
}

void TMACFrm::showEvent(QShowEvent *event)
{
    if (m_anchor) {
        const QRect outer = m_anchor->frameGeometry();
        move(outer.center() - QPoint(width() / 2, height() / 2));
    }
    QDialog::showEvent(event);
}

void TMACFrm::ShowForUnit()
{
    // The address is programmed over a serial line in service mode only.
    const RegisterAccess &access = m_host.access();
    if (!access.hasTransport() || !access.viaComPort() || !m_host.serviceMode())
        return;
    LoadFromUnit();
    exec();
}

void TMACFrm::reject()
{
    if (!m_sending)
        QDialog::reject();
}

bool TMACFrm::LoadFromUnit()
{
    // One short exchange: the hourglass, but no busy window.
    m_host.saveCursor();
    ProductInfo product;
    m_unitRead = readProductInfo(m_host.access(), product).ok();
    m_host.restoreCursor();
    for (size_t i = 0; i < OctetBoxes.size(); ++i)
        OctetBoxes[i]->setText(m_unitRead ? macOctetText(product.mac[i]) : QString());
    SerialNoEdit->setText(QString::number(serialNumberFromOctetTexts(
        OctetBoxes[3]->text(), OctetBoxes[4]->text(), OctetBoxes[5]->text())));
    m_serialUnapplied = false;
    return m_unitRead;
}

void TMACFrm::FillButtonClick()
{
    // Text that is no number, or a negative one, would fill 00:00:00 or
    // 00:FF:FF; a number above 16777215 is shown whole and refused by Send.
    const std::optional<std::int32_t> serial = serialNumberEntry(SerialNoEdit->text());
    if (!serial || *serial < 0) {
        MessageDlg(SerialRangeText, MsgKind::Error, MsgButtons::Ok);
        return;
    }
    const std::array<int, 3> octets = serialNumberOctets(*serial);
    for (size_t i = 0; i < octets.size(); ++i)
        OctetBoxes[FirstEditableOctet + i]->setText(macOctetText(octets[i]));
    m_serialUnapplied = false;
}

void TMACFrm::SendButtonClick()
{
    SendButton->setEnabled(false);
    SendMacAddress();
    SendButton->setEnabled(true);
}

void TMACFrm::SendMacAddress()
{
    // Without the unit's own first three octets the address would carry
    // another unit's prefix, or none.
    if (!m_unitRead) {
        MessageDlg(NotReadText, MsgKind::Error, MsgButtons::Ok);
        return;
    }
    // A serial number typed and not filled in is what the engineer meant to
    // send: the boxes still hold the old address.
    if (m_serialUnapplied) {
        if (MessageDlg(QStringLiteral("The serial number %1 has not been filled into the MAC "
                                      "address.\rFill it in and send?")
                           .arg(SerialNoEdit->text()),
                       MsgKind::Confirmation, MsgButtons::YesNo) != MsgAnswer::Yes)
            return;
        FillButtonClick();
        if (m_serialUnapplied)
            return;
    }
    std::array<std::uint16_t, 6> octets{};
    for (size_t i = 0; i < OctetBoxes.size(); ++i) {
        const std::optional<std::uint16_t> octet = macOctetValue(OctetBoxes[i]->text());
        if (!octet) {
            MessageDlg(InvalidDataText, MsgKind::Error, MsgButtons::Ok);
            return;
        }
        octets[i] = *octet;
    }
    if (!macPrefixUsable(octets)) {
        MessageDlg(QStringLiteral("Unable To Send MAC Address.\rThe unit's prefix %1:%2:%3 is not "
                                  "a usable unicast address (all zeros, all ones or multicast).")
                       .arg(OctetBoxes[0]->text(), OctetBoxes[1]->text(), OctetBoxes[2]->text()),
                   MsgKind::Error, MsgButtons::Ok);
        return;
    }
    m_sending = true;
    CancelButton->setEnabled(false);
    m_host.showBusy(QStringLiteral("Transmitting MAC Address...."));
    m_host.saveCursor();
    const PageHost::UnitCheck check = m_host.confirmSessionUnit();
    const bool sent =
        check == PageHost::UnitCheck::Same && writeMacAddress(m_host.access(), octets).ok();
    if (sent)
        m_host.sessionUnitMacChanged(octets);
    Delay(150);
    m_host.hideBusy();
    m_host.restoreCursor();
    m_sending = false;
    CancelButton->setEnabled(true);
    if (check == PageHost::UnitCheck::Other) {
        QDialog::reject();
        m_host.leaveOtherUnit();
        return;
    }
    BeepMessageDlg(sent ? SentText : SendErrorText, sent ? MsgKind::Information : MsgKind::Error,
                   MsgButtons::Ok);
}

void TMACFrm::watchMacLabel(QLabel *label)
{
    m_macLabel = label;
    label->installEventFilter(this);
}

bool TMACFrm::isServiceGesture(const QMouseEvent &event)
{
    const Qt::KeyboardModifiers all = Qt::ShiftModifier | Qt::AltModifier | Qt::ControlModifier;
    return event.type() == QEvent::MouseButtonDblClick && event.button() == Qt::LeftButton &&
           (event.modifiers() & all) == all && (event.buttons() & Qt::RightButton);
}

bool TMACFrm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_macLabel) {
        if (event->type() == QEvent::MouseButtonDblClick &&
            isServiceGesture(*static_cast<QMouseEvent *>(event)) &&
            m_host.access().hasTransport() && m_host.access().viaComPort() && m_host.serviceMode())
            m_host.raiseRequest(Request::MACDialog);
        return false;
    }
    // The octet boxes take hexadecimal digits only; keys that type nothing
    // (editing, navigation, shortcuts) are left alone.
    if (event->type() == QEvent::KeyPress) {
        const QString text = static_cast<QKeyEvent *>(event)->text();
        if (!text.isEmpty() && text.front().isPrint() &&
            !std::all_of(text.begin(), text.end(), hexDigit))
            return true;
    }
    return QDialog::eventFilter(watched, event);
}
