#include "BACnetPage.h"

#include "Codecs.h"
#include "PageHost.h"
#include "PageKit.h"
#include "PageRules.h"
#include "SentSettings.h"
#include "UiSupport.h"
#include "UnitOps.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QToolTip>

using namespace PageKit;

namespace {
const QString CheckBox1Hint = QStringLiteral(
    "Tick If You Want To Enable The Comparison Between\nThe Current Setting And The New "
    "Setting.\nEnabling Prevents The G50 From Being Continuously\nUpdated With The Same Value.");
// A name is sent as one byte per character and never altered on the way.
const QString InvalidNameText = QStringLiteral(
    "Unable To Send New BACnet Configuration Due To Invalid Device Name.\rThe Name Takes Up To "
    "19 Characters, Each With A Single-Byte (Latin-1) Code.");
} // namespace

BACnetPage::BACnetPage(PageHost &host, QWidget *parent) : SessionPage(host, parent)
{
    setObjectName(QStringLiteral("BAC_Tab"));
    QGroupBox *group = pageGroup(this, QStringLiteral(" BACnet Configuration "));
    label(group, QStringLiteral("Device ID"), QRect(16, 31, 120, 17));
    Edit21 = edit(group, QStringLiteral("Edit21"), 7, QRect(140, 28, 70, 23));
    Label26 = label(group, QStringLiteral("Invalid ID"), QRect(220, 31, 120, 17));
    Label26->setObjectName(QStringLiteral("Label26"));
    setTextColour(Label26, Red);
    Label26->hide();
    label(group, QStringLiteral("Device Name"), QRect(16, 63, 120, 17));
    Edit22 = edit(group, QStringLiteral("Edit22"), 19, QRect(140, 60, 200, 23));
    CheckBox1 = leftCheckBox(group, QStringLiteral("CheckBox1"),
                             QStringLiteral("New Setting Comparison"), QRect(12, 94, 230, 22));
    CheckBox2 =
        leftCheckBox(group, QStringLiteral("CheckBox2"),
                     QStringLiteral("Register as a Foreign Device"), QRect(12, 120, 230, 22));
    CheckBox2->setToolTip(
        QStringLiteral("Tick If Quorix Unit Needs to Register Itself With A BBMD"));

    Panel2 = new QWidget(group);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setGeometry(0, 146, 369, 84);
    bbmdBoxes = octetRow(Panel2, QStringLiteral("BBMD IP Address"), 17, 4);
    for (QLineEdit *box : bbmdBoxes)
        box->setEnabled(false);
    label(Panel2, QStringLiteral("Time To Live"), QRect(16, 43, 120, 17));
    Edit28 = edit(Panel2, QStringLiteral("Edit28"), 5, QRect(140, 40, 55, 23));
    label(Panel2, QStringLiteral("seconds"), QRect(202, 43, 80, 17));

    const GetSendPair pair = getSendButtons(group, 3, 4);
    Button3 = pair.get;
    Button4 = pair.send;
    setRequestButtons({Button3}, Button4);

    connect(Button3, &QPushButton::clicked, this, &BACnetPage::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &BACnetPage::Button4Click);
    connect(CheckBox2, &QCheckBox::toggled, this, &BACnetPage::CheckBox2Click);
    for (QLineEdit *box :
         {Edit21, Edit22, Edit28, bbmdBoxes[0], bbmdBoxes[1], bbmdBoxes[2], bbmdBoxes[3]}) {
        holdOnEdit(box);
        connect(box, &QLineEdit::textChanged, this, &BACnetPage::BACnetChange);
    }
    holdOnEdit(CheckBox1);
    holdOnEdit(CheckBox2);
    connect(CheckBox1, &QCheckBox::toggled, this, &BACnetPage::BACnetChange);

    CheckBox1->setToolTip(CheckBox1Hint);
    for (QCheckBox *box : {CheckBox1, CheckBox2}) {
        box->setMouseTracking(true);
        box->installEventFilter(this);
    }
    // Ticking and unticking runs the box's click handling, which leaves the
    // BBMD panel and everything in it disabled.
    {
        const Loading loading(*this);
        CheckBox2->setChecked(true);
        CheckBox2->setChecked(false);
    }

    host.scheduler().setHandler(Request::GetBACnet, [this] { GetBACnetSettings(); });
    host.scheduler().setHandler(Request::SendBACnet, [this] { SendBACnetSettings(); });
}

void BACnetPage::resetDisplay()
{
    for (QLineEdit *box :
         {bbmdBoxes[0], bbmdBoxes[1], bbmdBoxes[2], bbmdBoxes[3], Edit21, Edit22, Edit28})
        box->clear();
    CheckBox1->setChecked(false);
    CheckBox2->setChecked(false);
}

void BACnetPage::applyFirmwareGates(int version)
{
    m_foreignDeviceAllowed = version > 120;
    if (!m_foreignDeviceAllowed) {
        CheckBox2->setChecked(false);
        CheckBox2->setEnabled(false);
    } else {
        CheckBox2->setEnabled(true);
    }
}

void BACnetPage::Button3Click()
{
    m_host.raiseRequest(Request::GetBACnet);
}

void BACnetPage::Button4Click()
{
    m_host.raiseRequest(Request::SendBACnet);
}

void BACnetPage::CheckBox2Click()
{
    // Not CheckBox2->isEnabled(): a get runs with the window disabled.
    Panel2->setEnabled(CheckBox2->isChecked() && m_foreignDeviceAllowed);
    EnableChildControls(Panel2);
    BACnetChange();
}

void BACnetPage::BACnetChange()
{
    markUnsent();
}

bool BACnetPage::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseMove && (watched == CheckBox1 || watched == CheckBox2))
        CheckBox1MouseMove(static_cast<QWidget *>(watched),
                           static_cast<QMouseEvent *>(event)->globalPosition().toPoint());
    return SessionPage::eventFilter(watched, event);
}

void BACnetPage::CheckBox1MouseMove(QWidget *box, const QPoint &globalPos)
{
    // The check boxes' hints explain options; they appear at once rather
    // than after the usual hover delay.
    QToolTip::showText(globalPos, box->toolTip(), box);
}

void BACnetPage::show(const BACnetReading &reading, Hold hold)
{
    const Loading loading(*this);
    const bool holding = hold == Hold::Shown;
    if (reading.instance) {
        Edit21->setText(QString::number(*reading.instance));
        Label26->setVisible(!isValidDeviceInstance(*reading.instance));
        if (holding)
            holdValue(Edit21);
    }
    if (reading.name) {
        Edit22->setText(nameText(*reading.name));
        if (holding)
            holdValue(Edit22);
    }
    if (const std::optional<BACnetOptions> &options = reading.options) {
        CheckBox1->setChecked(options->newSettingComparison);
        // A change runs CheckBox2Click, which enables Panel2 to match, even
        // where the firmware keeps CheckBox2 itself disabled.
        CheckBox2->setChecked(options->foreignDevice);
        for (std::size_t i = 0; i < bbmdBoxes.size(); ++i)
            bbmdBoxes[i]->setText(octetText(options->bbmd[i]));
        Edit28->setText(QString::number(options->timeToLive));
        if (holding) {
            holdValues({CheckBox1, CheckBox2, Edit28});
            holdValues(bbmdBoxes);
        }
    }
}

BACnetEntries BACnetPage::entries() const
{
    BACnetEntries entries;
    entries.instance = Edit21->text();
    entries.name = Edit22->text();
    entries.newSettingComparison = CheckBox1->isChecked();
    entries.foreignDevice = CheckBox2->isChecked();
    for (const QLineEdit *box : bbmdBoxes)
        entries.bbmd << box->text();
    entries.timeToLive = Edit28->text();
    return entries;
}

bool BACnetPage::holdsAllEntries() const
{
    return holdsAll({Edit21, Edit22, CheckBox1, CheckBox2, Edit28}) && holdsAll(bbmdBoxes);
}

bool BACnetPage::editTo(const BACnetReading &reading)
{
    const auto texts = [this] {
        const BACnetEntries e = entries();
        return QStringList{e.instance, e.name, QString::number(e.newSettingComparison),
                           QString::number(e.foreignDevice), e.timeToLive}
               << e.bbmd;
    };
    const QStringList before = texts();
    show(reading, Hold::Shown);
    if (texts() == before)
        return false;
    markUnsent();
    return true;
}

void BACnetPage::GetBACnetSettings()
{
    const Loading loading(*this);
    BACnetReading reading;
    const OpResult op = readBACnetSettings(m_host.access(), reading);
    // Whatever arrived before a failed block is shown.
    show(reading, Hold::Shown);
    finishRequest(Finish::Get, op.ok(), QString(),
                  QStringLiteral("Error Retrieving BACnet Settings."));
}

void BACnetPage::SendBACnetSettings()
{
    const QString errorText = QStringLiteral("Error Transmitting BACnet Settings.");
    // A block is written only when the page holds all of it; the BBMD boxes
    // count only while they are sent.
    BACnetParts parts;
    parts.instance = holds(Edit21);
    parts.name = holds(Edit22);
    parts.options = holdsAll({CheckBox1, CheckBox2, Edit28}) &&
                    (!CheckBox2->isChecked() || holdsAll(bbmdBoxes));
    if (!parts.instance && !parts.name && !parts.options)
        return refuseUnheld();
    BACnetEntries entries = this->entries();
    // A block left out is not checked either: it stands in with a value
    // that passes and is never sent.
    if (!parts.instance)
        entries.instance = QStringLiteral("0");
    if (!parts.name)
        entries.name.clear();
    entries.foreignDevice = parts.options && entries.foreignDevice;
    if (!parts.options)
        entries.timeToLive.clear();
    // Everything is checked before anything is written.
    const BACnetEntryCheck check = checkBACnetEntries(entries);
    switch (check.refused) {
    case BACnetEntry::None:
        break;
    case BACnetEntry::Instance:
        return refuseEntry(Edit21, QStringLiteral("Unable To Send New BACnet Configuration Due To "
                                                  "Invalid Device ID."));
    case BACnetEntry::Name:
        return refuseEntry(Edit22, InvalidNameText);
    case BACnetEntry::Bbmd:
        return refuseEntry(bbmdBoxes[std::size_t(check.bbmdIndex)],
                           QStringLiteral("Unable To Send New BACnet configuration Due To Invalid "
                                          "BBMD Address."));
    case BACnetEntry::TimeToLive:
        return refuseEntry(Edit28, QStringLiteral("Unable To Send New BACnet Configuration Due To "
                                                  "Invalid TTL Entry."));
    }
    if (!confirmUnit(errorText))
        return;
    const OpResult op = writeBACnetSettings(m_host.access(), check.settings, parts);
    QStringList leftOut;
    if (!parts.instance)
        leftOut << QStringLiteral("Device ID");
    if (!parts.name)
        leftOut << QStringLiteral("Device Name");
    if (!parts.options)
        leftOut << QStringLiteral("the BACnet options");
    QString sent = QStringLiteral("BACnet Settings Transmitted OK.\rPlease restart the unit for "
                                  "these changes to take effect.");
    if (!leftOut.isEmpty())
        sent += QLatin1Char('\r') + leftOutLine(leftOut);
    finishSendBeforeRestart(op.ok(), sent, errorText, sentBACnetSettings(check.settings, parts));
}
