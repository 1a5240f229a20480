#include "BacnetCheck.h"

#include "Appearance.h"
#include "Codecs.h"
#include "DottedQuad.h"
#include "PageKit.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkInterface>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

using namespace Bacnet;

namespace {

// Interfaces with an IPv4 broadcast address, as "name (broadcast)".
void listInterfaces(QComboBox *box)
{
    for (const QNetworkInterface &interface : QNetworkInterface::allInterfaces()) {
        if (!(interface.flags() & QNetworkInterface::IsUp))
            continue;
        const QHostAddress broadcast = broadcastAddressOf(interface);
        if (!broadcast.isNull())
            box->addItem(QStringLiteral("%1 (%2)").arg(interface.name(), broadcast.toString()),
                         broadcast.toString());
    }
}

} // namespace

BacnetCheck::BacnetCheck(ExpectedUnitSource expected, QWidget *parent)
    : QDialog(parent), m_expected(std::move(expected))
{
    setObjectName(QStringLiteral("BacnetCheck"));
    setWindowTitle(QStringLiteral("BACnet Check"));
    auto *layout = new QVBoxLayout(this);
    auto *form = new QFormLayout;
    directed = new QRadioButton(QStringLiteral("Who-Is to address"), this);
    directed->setObjectName(QStringLiteral("directed"));
    directed->setChecked(true);
    address = new QLineEdit(this);
    address->setObjectName(QStringLiteral("address"));
    address->setPlaceholderText(QStringLiteral("unit address, e.g. 192.0.2.10"));
    form->addRow(directed, address);
    broadcast = new QRadioButton(QStringLiteral("Broadcast on"), this);
    broadcast->setObjectName(QStringLiteral("broadcast"));
    interfaces = new QComboBox(this);
    interfaces->setObjectName(QStringLiteral("interfaces"));
    listInterfaces(interfaces);
    broadcast->setEnabled(interfaces->count() > 0);
    form->addRow(broadcast, interfaces);
    port = new QSpinBox(this);
    port->setObjectName(QStringLiteral("port"));
    port->setRange(1, 65535);
    port->setValue(DefaultPort);
    form->addRow(QStringLiteral("BACnet/IP port"), port);
    seconds = new QSpinBox(this);
    seconds->setObjectName(QStringLiteral("seconds"));
    seconds->setRange(1, 60);
    seconds->setValue(3);
    seconds->setSuffix(QStringLiteral(" s"));
    form->addRow(QStringLiteral("Collect replies for"), seconds);
    layout->addLayout(form);

    table = new QTableWidget(0, int(deviceHeaders().size()), this);
    table->setObjectName(QStringLiteral("devices"));
    QStringList headers;
    for (const QString &h : deviceHeaders())
        headers << h.left(1).toUpper() + h.mid(1);
    table->setHorizontalHeaderLabels(headers);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(table, 1);

    status = new QLabel(this);
    status->setObjectName(QStringLiteral("status"));
    status->setWordWrap(true);
    layout->addWidget(status);

    auto *buttons = new QHBoxLayout;
    sendButton = new QPushButton(QStringLiteral("Send Who-Is"), this);
    sendButton->setObjectName(QStringLiteral("send"));
    copyButton = new QPushButton(QStringLiteral("Copy"), this);
    copyButton->setObjectName(QStringLiteral("copy"));
    saveButton = new QPushButton(QStringLiteral("Save CSV..."), this);
    saveButton->setObjectName(QStringLiteral("save"));
    auto *close = new QPushButton(QStringLiteral("Close"), this);
    buttons->addWidget(sendButton);
    buttons->addStretch(1);
    buttons->addWidget(copyButton);
    buttons->addWidget(saveButton);
    buttons->addWidget(close);
    layout->addLayout(buttons);
    copyButton->setEnabled(false);
    saveButton->setEnabled(false);

    connect(sendButton, &QPushButton::clicked, this, [this] {
        if (running())
            m_discovery->cancel();
        else
            sendWhoIs();
    });
    connect(copyButton, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(listText()); });
    connect(saveButton, &QPushButton::clicked, this, [this] { saveCsv(); });
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    connect(address, &QLineEdit::returnPressed, this, &BacnetCheck::sendWhoIs);
    resize(760, 360);
}

BacnetCheck::~BacnetCheck() = default;

bool BacnetCheck::running() const
{
    return m_discovery && m_discovery->isRunning();
}

const std::vector<FoundDevice> &BacnetCheck::devices() const
{
    static const std::vector<FoundDevice> none;
    return m_discovery ? m_discovery->result().devices : none;
}

void BacnetCheck::prepare()
{
    const std::optional<ExpectedUnit> unit = m_expected ? m_expected() : std::nullopt;
    if (unit && address->text().isEmpty())
        address->setText(unit->address.toString());
}

void BacnetCheck::sendWhoIs()
{
    if (running())
        return;
    DiscoveryTarget target;
    target.port = std::uint16_t(port->value());
    if (broadcast->isChecked()) {
        // Only the interface the engineer picked is broadcast on.
        target.address = QHostAddress(interfaces->currentData().toString());
        target.broadcast = true;
    } else {
        const std::optional<Octets4> octets = dottedOctets(address->text().trimmed());
        if (!octets) {
            status->setText(QStringLiteral("Enter the address as four numbers from 0 to 255, "
                                           "e.g. 192.0.2.10."));
            return;
        }
        target.address = QHostAddress(dottedText(octets->data()));
    }
    m_unit = m_expected ? m_expected() : std::nullopt;
    if (!m_discovery) {
        m_discovery = new Discovery(this);
        connect(m_discovery, &Discovery::deviceFound, this, &BacnetCheck::refill);
        connect(m_discovery, &Discovery::deviceUpdated, this, &BacnetCheck::refill);
        connect(m_discovery, &Discovery::finished, this, &BacnetCheck::searchDone);
    }
    table->setRowCount(0);
    status->setText(QStringLiteral("Who-Is sent to %1:%2; collecting replies for %3 s...")
                        .arg(target.address.toString())
                        .arg(target.port)
                        .arg(seconds->value()));
    sendButton->setText(QStringLiteral("Stop"));
    copyButton->setEnabled(false);
    saveButton->setEnabled(false);
    m_discovery->start({target}, WhoIs{}, seconds->value() * 1000);
}

void BacnetCheck::refill()
{
    const std::vector<FoundDevice> &list = devices();
    table->setRowCount(int(list.size()));
    for (int r = 0; r < int(list.size()); ++r) {
        const FoundDevice &d = list[std::size_t(r)];
        const QStringList texts = deviceRow(d, m_unit);
        const bool alert = d.duplicate || (m_unit && differsFromUnit(d, *m_unit));
        // The warning red, readable on the list's background in either scheme.
        const QColor red = Appearance::readableOn(PageKit::Red, table->palette().base().color());
        for (int c = 0; c < texts.size(); ++c) {
            auto *item = new QTableWidgetItem(texts[c]);
            if (alert)
                item->setForeground(red);
            table->setItem(r, c, item);
        }
    }
    table->resizeColumnsToContents();
    table->horizontalHeader()->setStretchLastSection(true);
}

void BacnetCheck::searchDone()
{
    refill();
    sendButton->setText(QStringLiteral("Send Who-Is"));
    const DiscoveryResult &r = m_discovery->result();
    const std::vector<FoundDevice> &list = r.devices;
    copyButton->setEnabled(!list.empty());
    saveButton->setEnabled(!list.empty());
    QStringList lines;
    if (!r.error.isEmpty())
        lines << r.error;
    else if (list.empty())
        lines << QStringLiteral("No BACnet device answered within %1 s.").arg(seconds->value());
    else
        lines << QStringLiteral("%1 device(s) answered%2.")
                     .arg(list.size())
                     .arg(r.cancelled ? QStringLiteral(" before the search was stopped")
                                      : QString());
    const int duplicates = int(
        std::count_if(list.begin(), list.end(), [](const FoundDevice &d) { return d.duplicate; }));
    if (duplicates > 0)
        lines << QStringLiteral("%1 devices share an instance: every instance on a BACnet "
                                "internetwork must be unique.")
                     .arg(duplicates);
    if (m_unit) {
        for (const FoundDevice &d : list)
            if (differsFromUnit(d, *m_unit))
                lines << QStringLiteral("The unit at %1 announces other values than the BACnet "
                                        "page holds; restart the unit after a Send.")
                             .arg(d.address.toString());
    }
    if (r.malformed > 0)
        lines << QStringLiteral("%1 unreadable datagram(s) ignored.").arg(r.malformed);
    if (!r.note.isEmpty())
        lines << r.note + QLatin1Char('.');
    status->setText(lines.join(QLatin1Char('\n')));
    emit searchFinished();
}

QString BacnetCheck::listText() const
{
    QStringList lines{deviceHeaders().join(QLatin1Char('\t'))};
    for (const FoundDevice &d : devices())
        lines << deviceRow(d, m_unit).join(QLatin1Char('\t'));
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

bool BacnetCheck::saveCsv()
{
    const QString suggested = QStringLiteral("bacnet-devices.csv");
    const QString path =
        m_csvPath ? m_csvPath(suggested)
                  : QFileDialog::getSaveFileName(this, QStringLiteral("Save BACnet devices"),
                                                 suggested, QStringLiteral("CSV files (*.csv)"));
    if (path.isEmpty())
        return false;
    QSaveFile file(path);
    const QByteArray text = devicesCsv(devices(), m_unit).toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        status->setText(QStringLiteral("Could not save %1: %2").arg(path, file.errorString()));
        return false;
    }
    status->setText(QStringLiteral("Saved %1.").arg(path));
    return true;
}
