#include "BACnetPage.h"

#include "Codecs.h"
#include "Outcome.h"
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

#include <algorithm>

using namespace PageKit;

namespace {
// The message that refuses an entry, by the kind of entry its row names.
QString refusalText(BACnetEntry refused)
{
    switch (refused) {
    case BACnetEntry::Instance:
        return QStringLiteral("Unable To Send New BACnet Configuration Due To Invalid Device ID.");
    case BACnetEntry::Name:
        // A name is sent as one byte per character and never altered on the way.
        return QStringLiteral("Unable To Send New BACnet Configuration Due To Invalid Device "
                              "Name.\rThe Name Takes Up "
                              "To 19 Characters, Each With A Single-Byte (Latin-1) Code.");
    case BACnetEntry::Bbmd:
        return QStringLiteral(
            "Unable To Send New BACnet configuration Due To Invalid BBMD Address.");
    case BACnetEntry::TimeToLive:
        return QStringLiteral("Unable To Send New BACnet Configuration Due To Invalid TTL Entry.");
    case BACnetEntry::None:
        break;
    }
    return QString();
}

const QString CheckBox1Hint = QStringLiteral(
    "Tick If You Want To Enable The Comparison Between\nThe Current Setting And The New "
    "Setting.\nEnabling Prevents The G50 From Being Continuously\nUpdated With The Same Value.");
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

    m_rowEntries = {{&DeviceInstanceRow, {Edit21}},
                    {&DeviceNameRow, {Edit22}},
                    {&ComparisonRow, {CheckBox1}},
                    {&ForeignDeviceRow, {CheckBox2}},
                    {&BbmdRow, {bbmdBoxes.begin(), bbmdBoxes.end()}},
                    {&TimeToLiveRow, {Edit28}}};

    const GetSendPair pair = getSendButtons(group, 3, 4);
    Button3 = pair.get;
    Button4 = pair.send;
    setRequestButtons({Button3}, Button4);

    connect(Button3, &QPushButton::clicked, this, &BACnetPage::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &BACnetPage::Button4Click);
    connect(CheckBox2, &QCheckBox::toggled, this, &BACnetPage::CheckBox2Click);
    for (const RowEntry &entry : m_rowEntries)
        for (QWidget *widget : entry.widgets) {
            if (auto *box = qobject_cast<QLineEdit *>(widget)) {
                holdOnEdit(box);
                connect(box, &QLineEdit::textChanged, this, &BACnetPage::BACnetChange);
            } else if (auto *check = qobject_cast<QCheckBox *>(widget)) {
                holdOnEdit(check);
                // CheckBox2's own handling marks the page unsent.
                if (check != CheckBox2)
                    connect(check, &QCheckBox::toggled, this, &BACnetPage::BACnetChange);
            }
        }

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

    // Each entry box's range, from the setting table's entry rules.
    const auto range = [](const EntryRule &rule) {
        return QStringLiteral("%1 to %2").arg(rule.min).arg(rule.max);
    };
    Edit21->setToolTip(QStringLiteral("Device ID: ") + range(DeviceInstanceRow.rule));
    Edit22->setToolTip(
        QStringLiteral("Device name: up to %1 characters").arg(DeviceNameRow.rule.max));
    for (QLineEdit *box : bbmdBoxes)
        box->setToolTip(range(BbmdRow.rule));
    Edit28->setToolTip(QStringLiteral("Time to live: %1 seconds").arg(range(TimeToLiveRow.rule)));
}

void BACnetPage::resetDisplay()
{
    for (const RowEntry &entry : m_rowEntries)
        for (QWidget *widget : entry.widgets)
            if (auto *box = qobject_cast<QLineEdit *>(widget))
                box->clear();
    for (const RowEntry &entry : m_rowEntries)
        for (QWidget *widget : entry.widgets)
            if (auto *check = qobject_cast<QCheckBox *>(widget))
                check->setChecked(false);
}

QList<const QWidget *> BACnetPage::entryWidgets() const
{
    QList<const QWidget *> widgets;
    for (const RowEntry &entry : m_rowEntries)
        for (const QWidget *widget : entry.widgets)
            widgets << widget;
    return widgets;
}

bool BACnetPage::holdsBlock(const RegisterBlock &block, const BACnetEntries &entries) const
{
    for (const RowEntry &entry : m_rowEntries) {
        const SettingRow<BACnetSettings> &row = *entry.row;
        if (!row.inBlock(block))
            continue;
        const SettingRow<BACnetSettings> *gate = gateOf(BACnetRows, row);
        if (gate && !entries.isOn(*gate) && row.rule.whileOff == WhileOff::SentAsZero)
            continue;
        if (!holdsAll(entry.widgets))
            return false;
    }
    return true;
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
    const BACnetSettings settings{reading.instance.value_or(0), reading.name.value_or(QByteArray()),
                                  reading.options.value_or(BACnetOptions())};
    const auto arrived = [&reading](const SettingRow<BACnetSettings> &row) {
        return row.inBlock(Blocks::DeviceObjectId)     ? reading.instance.has_value()
               : row.inBlock(Blocks::DeviceObjectName) ? reading.name.has_value()
                                                       : reading.options.has_value();
    };
    for (const RowEntry &entry : m_rowEntries) {
        const SettingRow<BACnetSettings> &row = *entry.row;
        if (!arrived(row))
            continue;
        const SettingValue value = row.get(settings);
        if (row.codec == Codec::Octets) {
            // The octet boxes show three digits each.
            const Octets4 &octets = std::get<Octets4>(value);
            for (int i = 0; i < entry.widgets.size(); ++i)
                static_cast<QLineEdit *>(entry.widgets[i])
                    ->setText(octetText(octets[std::size_t(i)]));
        } else if (auto *check = qobject_cast<QCheckBox *>(entry.widgets.first())) {
            // CheckBox2's change runs CheckBox2Click, which enables Panel2 to
            // match, even where the firmware keeps CheckBox2 itself disabled.
            check->setChecked(std::get<bool>(value));
        } else {
            static_cast<QLineEdit *>(entry.widgets.first())
                ->setText(settingText(row, settings, SettingSurface::Cli));
        }
        if (hold == Hold::Shown)
            holdValues(entry.widgets);
    }
    if (reading.instance)
        Label26->setVisible(!isValidDeviceInstance(*reading.instance));
}

BACnetEntries BACnetPage::entries() const
{
    BACnetEntries entries;
    for (const RowEntry &entry : m_rowEntries) {
        if (const auto *check = qobject_cast<const QCheckBox *>(entry.widgets.first())) {
            entries.setOn(*entry.row, check->isChecked());
            continue;
        }
        QStringList parts;
        for (const QWidget *widget : entry.widgets)
            parts << static_cast<const QLineEdit *>(widget)->text();
        entries.setParts(*entry.row, parts);
    }
    return entries;
}

bool BACnetPage::holdsAllEntries() const
{
    return holdsAll(entryWidgets());
}

bool BACnetPage::editTo(const BACnetReading &reading)
{
    const BACnetEntries before = entries();
    show(reading, Hold::Shown);
    if (entries().byRow == before.byRow)
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
    if (reading.instance || reading.name)
        emit deviceIdentityRead(reading.instance ? qint64(*reading.instance) : -1,
                                reading.name ? Edit22->text() : QString());
    finishRequest(Finish::Get, op.ok(), QString(),
                  QStringLiteral("Error Retrieving BACnet Settings."), describe(op));
}

void BACnetPage::SendBACnetSettings()
{
    const QString errorText = QStringLiteral("Error Transmitting BACnet Settings.");
    // A block is written only when the page holds all of it; an entry sent
    // as zeros while its switch is off does not count then.
    const BACnetEntries entries = this->entries();
    BACnetParts parts;
    parts.instance = holdsBlock(Blocks::DeviceObjectId, entries);
    parts.name = holdsBlock(Blocks::DeviceObjectName, entries);
    parts.options = holdsBlock(Blocks::BACnetOptions, entries);
    if (!parts.instance && !parts.name && !parts.options)
        return refuseUnheld();
    // Everything is checked before anything is written; a block left out is
    // neither checked nor sent.
    const BACnetEntryCheck check = checkBACnetEntries(entries, parts);
    if (!check.ok()) {
        for (const RowEntry &entry : m_rowEntries)
            if (entry.row->rule.refusal == check.refused)
                return refuseEntry(
                    qobject_cast<QLineEdit *>(entry.widgets.value(std::max(check.partIndex, 0))),
                    refusalText(check.refused));
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
    finishSendBeforeRestart(op.ok(), sent, errorText, describe(op),
                            sentBACnetSettings(check.settings, parts));
}
