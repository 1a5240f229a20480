#include "NamesPage.h"

#include "Appearance.h"
#include "Codecs.h"
#include "Outcome.h"
#include "PageHost.h"
#include "PageKit.h"
#include "RegisterAccess.h"
#include "RegisterMap.h"
#include "UnitOps.h"

#include <QEvent>
#include <QFocusEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QValidator>

#include <algorithm>
#include <utility>

using namespace PageKit;

namespace {

const char *const SystemObjectNames[] = {"Sys_Mnet_State", "Sys_Forced_Off_w", "Sys_Forced_Off_r",
                                         "Sys_G50_Comms_State", "Sys_New_Setting_Compare"};

const QString ReadOkText = QStringLiteral("Object Names Retrieved OK.");
const QString ReadErrorText = QStringLiteral("Error Retrieving Object Names.");
const QString SendOkText = QStringLiteral("Object Names Transmitted OK.");
const QString SendErrorText = QStringLiteral("Error Transmitting Object Names.");
const char *const ReadBusyText = "Retrieving Object Names....";
const char *const SendBusyText = "Transmitting Object Names....";

// What the editor lets the user put in a name: at most 19 characters, each
// with a byte of its own on the unit. Typing is further limited by the key
// filter; this also refuses pasted text that could not be sent unaltered
// (the paste is dropped, never cut or converted). Text set by the program is
// not validated.
class NameEntryRule : public QValidator
{
public:
    using QValidator::QValidator;
    State validate(QString &input, int &) const override
    {
        return input.size() <= MaxObjectNameLength && nameBytes(input) ? Acceptable : Invalid;
    }
};

// The characters a name may be typed with.
bool typedNameCharacter(QChar c)
{
    static const QString punctuation = QStringLiteral("#&()*+,-./:<>[\\]_{}");
    const char16_t u = c.unicode();
    return u == u' ' || (u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'Z') ||
           (u >= u'a' && u <= u'z') || punctuation.contains(c);
}

// Rows the editor's navigation keys move by; 0 for any other key.
int navigationStep(int key)
{
    switch (key) {
    case Qt::Key_Up:
        return -1;
    case Qt::Key_Down:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 1;
    case Qt::Key_PageUp:
        return -NamesPage::PageStep;
    case Qt::Key_PageDown:
        return NamesPage::PageStep;
    default:
        return 0;
    }
}

// A cell the user cannot edit: black on the button face, or a lighter grey
// where the button face is dark.
void colourFixedItem(QTableWidgetItem *item, const QBrush &background)
{
    item->setBackground(background);
    item->setForeground(Appearance::readableOn(Qt::black, background.color()));
}

QTableWidgetItem *fixedItem(const QString &text, const QBrush &background)
{
    auto *item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled);
    colourFixedItem(item, background);
    return item;
}

} // namespace

QString NameColumn::value(int row) const
{
    return row >= 1 && row <= NamesPage::NameRows ? m_page.cellText(row, 1) : QString();
}

NamesPage::NamesPage(PageHost &host, QWidget *parent) : SessionPage(host, parent)
{
    setObjectName(QStringLiteral("Name_Tab"));
    QGroupBox *group = pageGroup(this, QStringLiteral(" Unit Names "));
    StringGrid1 = new QTableWidget(NameRows, 2, group);
    StringGrid1->setObjectName(QStringLiteral("StringGrid1"));
    StringGrid1->setGeometry(16, 24, 264, 206);
    StringGrid1->setHorizontalHeaderLabels({QStringLiteral("Address"), QStringLiteral("Name")});
    StringGrid1->verticalHeader()->hide();
    StringGrid1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    StringGrid1->verticalHeader()->setDefaultSectionSize(18);
    StringGrid1->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    StringGrid1->setColumnWidth(0, 64);
    StringGrid1->setColumnWidth(1, 178);
    StringGrid1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    StringGrid1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    StringGrid1->setShowGrid(true);

    // A child of the grid's viewport: it scrolls with its cell and is clipped
    // by the grid.
    Edit27 = new QLineEdit(StringGrid1->viewport());
    Edit27->setObjectName(QStringLiteral("Edit27"));
    Edit27->setValidator(new NameEntryRule(Edit27));
    Edit27->setFrame(false);
    Edit27->setStyleSheet(QStringLiteral("background-color: palette(button);"));
    Edit27->hide();
    Edit27->installEventFilter(this);
    Edit27->setToolTip(QStringLiteral("Up to %1 characters").arg(ObjectNameRow.rule.max));
    // The fixed cells and the editor take the button face of a new palette.
    connect(Appearance::PaletteWatch::instance(), &Appearance::PaletteWatch::paletteChanged, this,
            [this] {
                const QBrush fixed = palette().button();
                for (int row = 1; row <= NameRows; ++row)
                    for (int column = 0; column < (row <= ObjectNameCount ? 1 : 2); ++column)
                        if (QTableWidgetItem *item = StringGrid1->item(row - 1, column))
                            colourFixedItem(item, fixed);
                Edit27->setStyleSheet(Edit27->styleSheet());
            });

    BitBtn3 = button(group, QStringLiteral("BitBtn3"), QStringLiteral("Load\nDefaults"),
                     QRect(288, 24, 70, 52));
    const GetSendPair pair = getSendButtons(group, 9, 10);
    Button9 = pair.get;
    Button10 = pair.send;
    setRequestButtons({Button9, BitBtn3}, Button10);
    connect(Button9, &QPushButton::clicked, this, &NamesPage::Button9Click);
    connect(Button10, &QPushButton::clicked, this, &NamesPage::Button10Click);
    connect(BitBtn3, &QPushButton::clicked, this, &NamesPage::LoadDefaultNames);
    connect(StringGrid1, &QTableWidget::currentCellChanged, this,
            [this](int row, int column) { StringGrid1SelectCell(row + 1, column); });
    // A click on the current cell changes nothing, yet brings the editor back.
    connect(StringGrid1, &QTableWidget::cellPressed, this,
            [this](int row, int column) { StringGrid1SelectCell(row + 1, column); });
    // Only typed edits count; text the program puts into the editor does not.
    connect(Edit27, &QLineEdit::textEdited, this, [this] {
        if (!Edit27->hasFocus())
            return;
        if (m_editRow >= 1 && m_editRow <= ObjectNameCount && !loading() &&
            !m_host.resettingPages())
            m_held.set(std::size_t(m_editRow - 1));
        MarkNamesChanged();
    });

    host.scheduler().setHandler(Request::GetNames, [this] { ReadObjectNames(); });
    host.scheduler().setHandler(Request::SendNames, [this] { SendObjectNames(); });
}

void NamesPage::resetDisplay()
{
    resetGrid();
    BitBtn3->setText(QStringLiteral("Load\nDefaults"));
}

void NamesPage::resetGrid()
{
    dropEditor();
    const QBrush fixed = palette().button();
    for (int row = 1; row <= NameRows; ++row) {
        const bool unit = row <= ObjectNameCount;
        const QString address = unit ? QString::asprintf("%03d", row)
                                     : QStringLiteral("Sys-%1").arg(row - ObjectNameCount);
        StringGrid1->setItem(row - 1, 0, fixedItem(address, fixed));
        if (unit) {
            auto *name = new QTableWidgetItem();
            name->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            StringGrid1->setItem(row - 1, 1, name);
        } else {
            // The system objects' names look greyed and fixed; their cells can
            // be selected (which hides the editor) but never edited.
            QTableWidgetItem *name =
                fixedItem(QString::fromLatin1(SystemObjectNames[row - ObjectNameCount - 1]), fixed);
            name->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            StringGrid1->setItem(row - 1, 1, name);
        }
    }
    StringGrid1->scrollToTop();
}

QString NamesPage::cellText(int row, int column) const
{
    if (row == 0)
        return StringGrid1->horizontalHeaderItem(column)->text();
    const QTableWidgetItem *item = StringGrid1->item(row - 1, column);
    return item ? item->text() : QString();
}

int NamesPage::currentRow() const
{
    return StringGrid1->currentRow() + 1;
}

void NamesPage::setName(int row, const QString &name)
{
    if (QTableWidgetItem *item = StringGrid1->item(row - 1, 1))
        item->setText(name);
}

QStringList NamesPage::unitNames() const
{
    QStringList names;
    for (int row = 1; row <= ObjectNameCount; ++row)
        names << (row == m_editRow ? Edit27->text() : cellText(row, 1));
    return names;
}

bool NamesPage::editUnitNames(const QStringList &names)
{
    std::map<int, QString> byAddress;
    for (int row = 1; row <= ObjectNameCount && row <= names.size(); ++row)
        byAddress.emplace(row, names[row - 1]);
    return editUnitNames(byAddress);
}

bool NamesPage::editUnitNames(const std::map<int, QString> &names)
{
    const QStringList before = unitNames();
    {
        const Loading loading(*this);
        Edit27Exit();
        for (const auto &[row, name] : names) {
            if (row < 1 || row > ObjectNameCount)
                continue;
            setName(row, name);
            m_held.set(std::size_t(row - 1));
        }
    }
    const bool changed = unitNames() != before;
    if (changed)
        markUnsent();
    return changed;
}

std::vector<int> NamesPage::heldNames() const
{
    std::vector<int> rows;
    for (int row = 1; row <= ObjectNameCount; ++row)
        if (m_held.test(std::size_t(row - 1)))
            rows.push_back(row);
    return rows;
}

void NamesPage::show(const NameUpdates &names, Hold hold)
{
    const Loading loading(*this);
    for (const auto &[row, name] : names) {
        if (row < 1 || row > ObjectNameCount)
            continue;
        setName(row, nameText(name));
        if (hold == Hold::Shown)
            m_held.set(std::size_t(row - 1));
    }
}

std::map<int, QString> NamesPage::entries() const
{
    const QStringList shown = unitNames();
    std::map<int, QString> names;
    for (int row : heldNames())
        names.emplace(row, shown[row - 1]);
    return names;
}

void NamesPage::releaseValues()
{
    SessionPage::releaseValues();
    m_held.reset();
}

void NamesPage::Button9Click()
{
    m_host.raiseRequest(Request::GetNames);
}

void NamesPage::Button10Click()
{
    m_host.raiseRequest(Request::SendNames);
}

void NamesPage::MarkNamesChanged()
{
    if (m_host.scheduler().isPending(Request::GetNames) || m_host.resettingPages())
        return;
    markUnsent();
}

void NamesPage::LoadDefaultNames()
{
    dropEditor();
    for (int row = 1; row <= ObjectNameCount; ++row) {
        StringGrid1->item(row - 1, 0)->setText(QString::asprintf("%03d", row));
        setName(row, QString::asprintf("Unit%03d", row));
    }
    m_held.set();
    MarkNamesChanged();
}

void NamesPage::showProgress(const char *text, int n)
{
    // The busy window repaints at once and lets the main window repaint too.
    m_host.showBusy(QString::fromLatin1(text) + QString::number(n) + QLatin1Char('%'));
}

bool NamesPage::transportOpen()
{
    // Requests are served only while a session is open; should one come
    // without a transport there is no unit to ask and nothing to report.
    if (m_host.access().hasTransport())
        return true;
    commonTail();
    return false;
}

void NamesPage::ReadObjectNames()
{
    const Loading loading(*this);
    if (!transportOpen())
        return;
    dropEditor();
    ObjectNameList names;
    int shown = 0; // names already in the grid
    const auto showReadNames = [&](int upTo) {
        NameUpdates arrived;
        for (; shown < upTo; ++shown)
            arrived.emplace(shown + 1, names[std::size_t(shown)]);
        show(arrived, Hold::Shown);
    };
    // Before the exchange of name n, names 1 to n - 1 have arrived.
    const OpResult op = readObjectNames(m_host.access(), names, [&](int n) {
        showReadNames(n - 1);
        showProgress(ReadBusyText, n);
    });
    if (op.ok()) {
        showReadNames(ObjectNameCount);
        showProgress(ReadBusyText, ObjectNameCount);
    }
    finishRequest(Finish::Get, op.ok(), ReadOkText, ReadErrorText, describe(op));
}

void NamesPage::SendObjectNames()
{
    if (!transportOpen())
        return;
    // Only the names the page holds are written: a name nobody read, typed
    // or loaded would blank the unit's own.
    const std::vector<int> held = heldNames();
    if (held.empty())
        return refuseUnheld();
    ObjectNameList names;
    for (int row : held) {
        const std::optional<QByteArray> bytes = nameBytes(cellText(row, 1));
        // Only the editor writes names and it refuses such text; should one
        // get there anyway, nothing is sent and the row is shown.
        if (!bytes || bytes->size() > MaxObjectNameLength) {
            finishRequest(Finish::Send, false, SendOkText, SendErrorText);
            StringGrid1->scrollToItem(StringGrid1->item(row - 1, 1));
            return;
        }
        names[std::size_t(row - 1)] = *bytes;
    }
    if (!confirmUnit(SendErrorText))
        return;
    const int count = int(held.size());
    int started = 0;
    int written = 0;
    const OpResult op = writeSomeObjectNames(m_host.access(), names, held, &written, [&](int) {
        showProgress(SendBusyText, ++started * ObjectNameCount / count);
    });
    if (op.ok())
        showProgress(SendBusyText, ObjectNameCount);
    const std::vector<int> done(held.begin(), held.begin() + written);
    QString okText = SendOkText;
    if (count < ObjectNameCount)
        okText = QStringLiteral("%1 Object Names Transmitted OK (addresses %2).\rThe other names "
                                "were not sent: they were not read from this unit in this "
                                "session. Use \"Get From Unit\" first to send them all.")
                     .arg(count)
                     .arg(numberRanges(held));
    const QString errorText =
        SendErrorText + QLatin1Char('\r') +
        (written == 0 ? QStringLiteral("No name was written.")
                      : QStringLiteral("%1 of %2 names were written before the error "
                                       "(addresses %3).")
                            .arg(written)
                            .arg(count)
                            .arg(numberRanges(done)));
    finishRequest(Finish::Send, op.ok(), okText, errorText, describe(op));
}

// --- The overlay editor ---

void NamesPage::selectNameCell(int row)
{
    row = std::clamp(row, 1, NameRows);
    if (currentRow() == row && StringGrid1->currentColumn() == 1)
        StringGrid1SelectCell(row, 1); // no change signal for the current cell
    else
        StringGrid1->setCurrentCell(row - 1, 1);
}

void NamesPage::StringGrid1SelectCell(int row, int column)
{
    if (column != 1 || row < 1)
        return;
    if (row <= ObjectNameCount)
        placeEditor(row);
    else
        Edit27Exit();
}

void NamesPage::placeEditor(int row)
{
    if (m_editRow != 0 && m_editRow != row)
        Edit27Exit();
    QTableWidgetItem *cell = StringGrid1->item(row - 1, 1);
    StringGrid1->scrollToItem(cell);
    m_editRow = row;
    Edit27->setGeometry(StringGrid1->visualItemRect(cell));
    Edit27->setText(cell->text());
    Edit27->selectAll();
    Edit27->show();
    Edit27->raise();
    Edit27->setFocus(Qt::OtherFocusReason);
}

void NamesPage::Edit27Exit()
{
    const int row = std::exchange(m_editRow, 0);
    if (row >= 1 && row <= ObjectNameCount)
        setName(row, Edit27->text());
    Edit27->hide();
}

void NamesPage::dropEditor()
{
    m_editRow = 0;
    Edit27->hide();
    Edit27->clear();
}

bool NamesPage::Edit27KeyDown(int key, Qt::KeyboardModifiers modifiers)
{
    const int step = navigationStep(key);
    if (step == 0 || (modifiers & Qt::ShiftModifier))
        return false;
    const int target = std::clamp(currentRow() + step, 1, NameRows);
    Edit27Exit();
    StringGrid1->setFocus(Qt::OtherFocusReason);
    selectNameCell(target);
    return true;
}

bool NamesPage::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != Edit27)
        return SessionPage::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::KeyPress: {
        const auto *key = static_cast<QKeyEvent *>(event);
        // Characters outside the name set are dropped; keys that type
        // nothing (editing, shortcuts, control characters) go to the editor.
        const QString text = key->text();
        const bool refused = !text.isEmpty() && text.front().isPrint() &&
                             !std::all_of(text.begin(), text.end(), typedNameCharacter);
        if (!refused && !Edit27KeyDown(key->key(), key->modifiers()))
            static_cast<QObject *>(Edit27)->event(event);
        // No key reaches the grid behind the editor (Shift+Down would move
        // its selection).
        event->accept();
        return true;
    }
    case QEvent::FocusOut: {
        // Another window taking the activation (a message box) is not
        // leaving the editor; a focus change inside the window is.
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (m_editRow != 0 && reason != Qt::ActiveWindowFocusReason &&
            reason != Qt::PopupFocusReason)
            Edit27Exit();
        return false;
    }
    default:
        return false;
    }
}
