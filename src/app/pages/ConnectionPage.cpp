#include "ConnectionPage.h"

#include "Codecs.h"
#include "DottedQuad.h"
#include "PageKit.h"
#include "RecentUnits.h"
#include "SerialLink.h"
#include "UiSupport.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QFrame>
#include <QGroupBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QValidator>

using namespace PageKit;

namespace {

constexpr int SearchedComPorts = 32;

// Qt's own built-in picture, read from Qt's resources rather than asked of
// the desktop's icon theme: the theme lookup walks the theme folders and cost
// a quarter of the window's start-up, and the built-in picture is the one
// shown wherever no theme provides it. Falls back to the style's icon.
QIcon builtInIcon(QWidget *parent, QStyle::StandardPixmap picture, const char *builtInName)
{
    QIcon icon;
    for (int size : {16}) {
        const QString file = QStringLiteral(":/qt-project.org/styles/commonstyle/images/%1-%2.png")
                                 .arg(QLatin1String(builtInName))
                                 .arg(size);
        if (QFile::exists(file))
            icon.addFile(file, QSize(size, size));
    }
    return icon.isNull() ? parent->style()->standardIcon(picture) : icon;
}

QToolButton *connectButton(QWidget *parent, const QString &name, const QString &text,
                           QStyle::StandardPixmap picture, const char *builtInName,
                           const QString &hint, const QRect &geo)
{
    auto *b = new QToolButton(parent);
    b->setObjectName(name);
    b->setText(text);
    b->setIcon(builtInIcon(parent, picture, builtInName));
    b->setIconSize(QSize(32, 32));
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setToolTip(hint);
    b->setGeometry(geo);
    return b;
}

// An address box takes up to three characters as before; text that holds a
// whole address (a paste or a drop) fills every box instead, and anything
// else longer is refused.
class AddressBoxValidator : public QValidator
{
public:
    AddressBoxValidator(ConnectionPage *page, QObject *parent) : QValidator(parent), m_page(page) {}
    State validate(QString &input, int &) const override
    {
        if (input.size() <= 3 && !input.contains(QLatin1Char('.')) &&
            !input.contains(QLatin1Char(':')))
            return Acceptable;
        if (const std::optional<AddressEntry> entry = parseAddressEntry(input)) {
            // Not inside the box's own edit: once it has refused the text.
            QMetaObject::invokeMethod(
                m_page, [page = m_page, e = *entry] { page->showAddress(e); },
                Qt::QueuedConnection);
        }
        return Invalid;
    }

private:
    ConnectionPage *m_page;
};

} // namespace

std::optional<AddressEntry> parseAddressEntry(const QString &text)
{
    const QString trimmed = text.trimmed();
    AddressEntry entry;
    QString address = trimmed;
    const qsizetype colon = trimmed.indexOf(QLatin1Char(':'));
    if (colon >= 0) {
        // Decimal digits only after the colon, as a URL writes a port.
        const std::optional<int> port = parseNumberText(QStringView(trimmed).mid(colon + 1),
                                                        NumberRules{false, false, false, 5});
        if (!port || *port < 1 || *port > 65535)
            return std::nullopt;
        entry.port = std::uint16_t(*port);
        address = trimmed.left(colon);
    }
    if (parseDottedQuad(address, StrictAddressRules, entry.octets) != DottedQuadResult::Good)
        return std::nullopt;
    return entry;
}

ConnectionPage::ConnectionPage(PageHost &host, ConnectionHost &connection, QWidget *parent)
    : SessionPage(host, parent), m_connection(connection)
{
    setObjectName(QStringLiteral("Conn_Tab"));
    QGroupBox *group = pageGroup(this, QStringLiteral(" Connection Types "));
    BitBtn1 = connectButton(
        group, QStringLiteral("BitBtn1"), QStringLiteral("Via COM Port"), QStyle::SP_ComputerIcon,
        "computer", QStringLiteral("Click To Connect Using Serial Comms"), QRect(16, 28, 81, 73));
    BitBtn1->setEnabled(false);
    ComboBox1 = new QComboBox(group);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setEditable(false);
    ComboBox1->setGeometry(112, 30, 90, 24);
    for (int n = 1; n <= 8; ++n)
        ComboBox1->addItem(QStringLiteral("COM%1").arg(n));
    BitBtn4 =
        button(group, QStringLiteral("BitBtn4"), QStringLiteral("Find"), QRect(218, 28, 83, 49));

    auto *line = new QFrame(group);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(8, 118, 353, 4);

    BitBtn2 = connectButton(group, QStringLiteral("BitBtn2"), QStringLiteral("Via Network"),
                            QStyle::SP_DriveNetIcon, "networkdrive",
                            QStringLiteral("Click To Connect Using Network Comms"),
                            QRect(16, 136, 81, 73));
    addressBoxes = octetRow(group, QString(), 23, 160, 112);
    Button8 =
        button(group, QStringLiteral("Button8"), QStringLiteral("Ping"), QRect(296, 158, 58, 27));
    label(group, QStringLiteral("Port"), QRect(112, 191, 40, 17));
    portBox = edit(group, QStringLiteral("PortEdit"), 5, QRect(157, 188, 45, 23));
    recentList = new QListWidget(group);
    recentList->setObjectName(QStringLiteral("RecentUnits"));
    recentList->setGeometry(16, 216, 272, 66);
    recentList->setContextMenuPolicy(Qt::ActionsContextMenu);
    removeRecentButton = button(group, QStringLiteral("RemoveRecent"), QStringLiteral("Remove"),
                                QRect(296, 216, 58, 27));
    auto *removeAction = new QAction(QStringLiteral("Remove"), recentList);
    recentList->addAction(removeAction);
    connect(removeAction, &QAction::triggered, this, &ConnectionPage::removeCurrentRecent);
    connect(removeRecentButton, &QPushButton::clicked, this, &ConnectionPage::removeCurrentRecent);
    connect(recentList, &QListWidget::itemClicked, this,
            [this](QListWidgetItem *item) { connectRecent(recentList->row(item)); });
    recentList->installEventFilter(this);
    for (QLineEdit *box : addressBoxes) {
        box->setValidator(new AddressBoxValidator(this, box));
        box->installEventFilter(this);
        connect(box, &QLineEdit::returnPressed, BitBtn2, &QToolButton::click);
        box->setToolTip(QStringLiteral("0 to 255; \".\" or space moves to the next box, a pasted "
                                       "a.b.c.d or a.b.c.d:port fills them all"));
    }
    connect(portBox, &QLineEdit::returnPressed, BitBtn2, &QToolButton::click);
    portBox->setToolTip(QStringLiteral("TCP port 1 to 65535: 502 unless the unit is reached "
                                       "through a port forward"));
    recentList->setToolTip(QStringLiteral("Units reached lately: click (or Enter) to connect, "
                                          "Delete to remove"));

    connect(BitBtn1, &QToolButton::clicked, this, [this] { m_connection.BitBtn1Click(); });
    connect(BitBtn2, &QToolButton::clicked, this, [this] { m_connection.BitBtn2Click(); });
    connect(BitBtn4, &QPushButton::clicked, this, &ConnectionPage::BitBtn4Click);
    connect(Button8, &QPushButton::clicked, this, &ConnectionPage::Button8Click);
    connect(ComboBox1, QOverload<int>::of(&QComboBox::activated), this,
            &ConnectionPage::ComboBox1Select);
    connect(ComboBox1, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &ConnectionPage::showChosenDevice);
}

void ConnectionPage::offerPortSearch(bool offered)
{
    BitBtn4->setText(QStringLiteral("Find Installed\nCOM Ports"));
    BitBtn4->setVisible(offered);
}

void ConnectionPage::showRememberedPort(int comPort)
{
    if (comPort > 8)
        ComboBox1->addItem(QStringLiteral("COM%1").arg(comPort));
    BitBtn1->setEnabled(comPort > 0);
    refreshPortTooltips();
}

std::array<QString, 4> ConnectionPage::addressTexts() const
{
    std::array<QString, 4> texts;
    for (std::size_t i = 0; i < texts.size(); ++i)
        texts[i] = addressBoxes[i]->text();
    return texts;
}

void ConnectionPage::refreshPortTooltips()
{
    for (int i = 0; i < ComboBox1->count(); ++i) {
        const QString text = ComboBox1->itemText(i);
        const QString device = comPortDevice(text.mid(3).toInt());
        ComboBox1->setItemData(i, device.isEmpty() ? text : text + QStringLiteral(": ") + device,
                               Qt::ToolTipRole);
    }
    showChosenDevice(ComboBox1->currentIndex());
}

void ConnectionPage::showChosenDevice(int index)
{
    ComboBox1->setToolTip(index < 0 ? QString()
                                    : ComboBox1->itemData(index, Qt::ToolTipRole).toString());
}

void ConnectionPage::resetDisplay()
{
    resetPortList();
    const std::array<int, 4> octets = m_connection.ipOctets();
    for (int i = 0; i < 4; ++i)
        addressBoxes[size_t(i)]->setText(octetText(octets[size_t(i)]));
    portBox->setText(QString::number(m_connection.tcpPortSetting()));
    showRecentUnits();
}

std::optional<std::uint16_t> ConnectionPage::tcpPortEntry() const
{
    const int port = parseEntryNumber(portBox->text());
    if (port < 1 || port > 65535)
        return std::nullopt;
    return std::uint16_t(port);
}

void ConnectionPage::showAddress(const AddressEntry &entry)
{
    for (int i = 0; i < 4; ++i)
        addressBoxes[size_t(i)]->setText(QString::number(entry.octets[size_t(i)]));
    if (entry.port)
        portBox->setText(QString::number(*entry.port));
    addressBoxes[3]->setFocus();
}

void ConnectionPage::showRecentUnits()
{
    const int current = recentList->currentRow();
    recentList->clear();
    for (const RecentUnit &unit : m_connection.recentUnits().units()) {
        recentList->addItem(unit.text());
        // The list is narrow: the whole line shows on hovering.
        recentList->item(recentList->count() - 1)->setToolTip(unit.text());
    }
    recentList->setCurrentRow(std::min(current, recentList->count() - 1));
    removeRecentButton->setEnabled(recentList->count() > 0);
}

void ConnectionPage::connectRecent(int index)
{
    const QList<RecentUnit> &units = m_connection.recentUnits().units();
    if (index < 0 || index >= units.size())
        return;
    const RecentUnit unit = units[index];
    if (unit.serial()) {
        const QString name = QStringLiteral("COM%1").arg(unit.comPort);
        if (ComboBox1->findText(name) < 0) {
            ComboBox1->addItem(name);
            refreshPortTooltips();
        }
        ComboBox1->setCurrentIndex(ComboBox1->findText(name));
        m_connection.setComPort(unit.comPort, true);
        BitBtn1->setEnabled(true);
        m_connection.BitBtn1Click();
        return;
    }
    if (const std::optional<AddressEntry> entry = parseAddressEntry(unit.address)) {
        AddressEntry withPort = *entry;
        withPort.port = unit.tcpPort;
        showAddress(withPort);
        m_connection.BitBtn2Click();
    }
}

void ConnectionPage::removeCurrentRecent()
{
    const int row = recentList->currentRow();
    if (row < 0)
        return;
    m_connection.removeRecentUnit(row);
    showRecentUnits();
}

bool ConnectionPage::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return SessionPage::eventFilter(watched, event);
    const auto &key = static_cast<const QKeyEvent &>(*event);
    if (watched == recentList) {
        if (key.key() == Qt::Key_Delete) {
            removeCurrentRecent();
            return true;
        }
        if (key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter) {
            connectRecent(recentList->currentRow());
            return true;
        }
        return false;
    }
    auto *box = qobject_cast<QLineEdit *>(watched);
    if (box && addressKey(box, key))
        return true;
    return SessionPage::eventFilter(watched, event);
}

bool ConnectionPage::addressKey(QLineEdit *box, const QKeyEvent &key)
{
    if (key.matches(QKeySequence::Paste))
        return pasteAddress(QApplication::clipboard()->text());
    if (key.text() != QLatin1String(".") && key.text() != QLatin1String(" "))
        return false;
    const auto at = std::find(addressBoxes.begin(), addressBoxes.end(), box);
    if (at != addressBoxes.end() && at + 1 != addressBoxes.end()) {
        (*(at + 1))->setFocus();
        (*(at + 1))->selectAll();
    }
    return true; // neither character belongs in a box
}

bool ConnectionPage::pasteAddress(const QString &text)
{
    const std::optional<AddressEntry> entry = parseAddressEntry(text);
    if (!entry)
        return false; // the box judges it as any other text
    showAddress(*entry);
    return true;
}

void ConnectionPage::resetPortList()
{
    const int comPort = m_connection.comPort();
    if (ComboBox1->count() == 0) {
        BitBtn1->setEnabled(false);
    } else if (comPort <= 0) {
        ComboBox1->setCurrentIndex(-1);
        BitBtn1->setEnabled(false);
    } else {
        ComboBox1->setCurrentIndex(ComboBox1->findText(QStringLiteral("COM%1").arg(comPort)));
        BitBtn1->setEnabled(true);
    }
}

std::array<int, 4> ConnectionPage::addressOctets() const
{
    std::array<int, 4> octets{};
    for (int i = 0; i < 4; ++i)
        octets[size_t(i)] = parseEntryNumber(addressBoxes[size_t(i)]->text());
    return octets;
}

void ConnectionPage::ComboBox1Select(int index)
{
    bool ok = false;
    const int number = ComboBox1->itemText(index).mid(3).toInt(&ok);
    m_connection.setComPort(ok ? number : 1, true);
    BitBtn1->setEnabled(true);
}

void ConnectionPage::BitBtn4Click()
{
    BitBtn4->setEnabled(false);
    ComboBox1->clear();
    for (int n = 1; n <= SearchedComPorts; ++n)
        if (comPortInstalled(n))
            ComboBox1->addItem(QStringLiteral("COM%1").arg(n));
    refreshPortTooltips();
    BitBtn4->setEnabled(true);
    BitBtn1->setEnabled(false);
    m_connection.setComPort(0, false);
    ComboBox1->setCurrentIndex(-1);
}

void ConnectionPage::Button8Click()
{
    const std::array<int, 4> octets = addressOctets();
    for (int octet : octets) {
        if (octet < 0 || octet > 255) {
            BeepMessageDlg(QStringLiteral("Invalid IP Address Selected."), MsgKind::Error,
                           MsgButtons::Ok);
            return;
        }
    }
    m_connection.showPingTest(
        QString::asprintf("%d.%d.%d.%d", octets[0], octets[1], octets[2], octets[3]));
}
