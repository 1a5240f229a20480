#include "ConnectionPage.h"

#include "Codecs.h"
#include "PageKit.h"
#include "SerialLink.h"
#include "UiSupport.h"

#include <QComboBox>
#include <QFile>
#include <QFrame>
#include <QGroupBox>
#include <QIcon>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>

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

} // namespace

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
