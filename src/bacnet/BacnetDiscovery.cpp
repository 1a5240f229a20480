#include "BacnetDiscovery.h"

#include <QEventLoop>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QTimer>
#include <QUdpSocket>
#include <QVariant>

#include <algorithm>
#include <map>

namespace Bacnet {

void markDuplicates(std::vector<FoundDevice> &devices)
{
    std::map<std::uint32_t, int> count;
    for (const FoundDevice &d : devices)
        ++count[d.iam.device.instance];
    for (FoundDevice &d : devices)
        d.duplicate = count[d.iam.device.instance] > 1;
}

QHostAddress broadcastAddressOf(const QNetworkInterface &iface)
{
    // Qt derives a broadcast address from the netmask even for loopback
    // (127.255.255.255), which is no broadcast domain of any device; only an
    // interface flagged as able to broadcast has a real one.
    if (!(iface.flags() & QNetworkInterface::CanBroadcast))
        return {};
    for (const QNetworkAddressEntry &entry : iface.addressEntries())
        if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol && !entry.broadcast().isNull())
            return entry.broadcast();
    return {};
}

Discovery::Discovery(QObject *parent) : QObject(parent), m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &Discovery::finish);
}

Discovery::~Discovery() = default;

bool Discovery::isRunning() const
{
    return m_socket != nullptr;
}

void Discovery::start(const std::vector<DiscoveryTarget> &targets, const WhoIs &whoIs,
                      int milliseconds)
{
    cancel();
    m_result = DiscoveryResult{};
    m_invokeIds.clear();
    m_socket = new QUdpSocket(this);
    // Replies come back to this socket's port; loopback targets are asked
    // from a loopback address so nothing leaves the machine.
    const bool loopback = std::all_of(targets.begin(), targets.end(), [](const DiscoveryTarget &t) {
        return t.address.isLoopback();
    });
    const QHostAddress local =
        loopback ? QHostAddress(QHostAddress::LocalHost) : QHostAddress(QHostAddress::AnyIPv4);
    if (targets.empty()) {
        m_result.error = QStringLiteral("no address to send the Who-Is to");
    } else if (!m_socket->bind(local, 0)) {
        m_result.error =
            QStringLiteral("cannot open a UDP socket: %1").arg(m_socket->errorString());
    } else {
        // Room for a burst of replies from a large site.
        m_socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption,
                                  QVariant(1 << 20));
        connect(m_socket, &QUdpSocket::readyRead, this, &Discovery::readPending);
        for (const DiscoveryTarget &target : targets) {
            const QByteArray request = encodeWhoIs(whoIs, target.broadcast);
            if (m_socket->writeDatagram(request, target.address, target.port) == request.size())
                continue;
            m_result.error = QStringLiteral("cannot send the Who-Is to %1:%2: %3")
                                 .arg(target.address.toString())
                                 .arg(target.port)
                                 .arg(m_socket->errorString());
            break;
        }
    }
    if (!m_result.error.isEmpty()) {
        QTimer::singleShot(0, this, &Discovery::finish);
        return;
    }
    m_timer->start(milliseconds);
}

void Discovery::cancel()
{
    if (!m_socket)
        return;
    m_result.cancelled = true;
    finish();
}

void Discovery::readPending()
{
    // A bounded number per wake-up, so a flood cannot starve the window.
    for (int i = 0; i < 256 && m_socket && m_socket->hasPendingDatagrams(); ++i) {
        const QNetworkDatagram datagram = m_socket->receiveDatagram(MaxDatagram + 1);
        take(datagram.data(), datagram.senderAddress(), std::uint16_t(datagram.senderPort()));
    }
    if (m_socket && m_socket->hasPendingDatagrams())
        QTimer::singleShot(0, this, &Discovery::readPending);
}

void Discovery::take(const QByteArray &datagram, const QHostAddress &from, std::uint16_t port)
{
    const Reply reply = decodeReply(datagram);
    std::vector<FoundDevice> &devices = m_result.devices;
    switch (reply.kind) {
    case Reply::Kind::Malformed:
        ++m_result.malformed;
        return;
    case Reply::Kind::IAm: {
        if (reply.iam.device.type != DeviceObjectType) {
            ++m_result.malformed;
            return;
        }
        for (const FoundDevice &d : devices)
            if (d.address.isEqual(from, QHostAddress::TolerantConversion) && d.port == port &&
                d.iam.device.instance == reply.iam.device.instance)
                return; // the same device again
        if (int(devices.size()) >= m_deviceLimit) {
            ++m_result.dropped;
            return;
        }
        FoundDevice device;
        device.iam = reply.iam;
        device.address = from;
        device.port = port;
        devices.push_back(device);
        const std::uint8_t invokeId = m_nextInvokeId++;
        m_invokeIds.push_back(invokeId);
        markDuplicates(devices);
        const QByteArray ask =
            encodeReadProperty({invokeId, reply.iam.device, std::uint32_t(Property::ObjectName)});
        m_socket->writeDatagram(ask, from, port);
        emit deviceFound(int(devices.size()) - 1);
        return;
    }
    case Reply::Kind::PropertyAck:
    case Reply::Kind::Error:
    case Reply::Kind::Reject:
    case Reply::Kind::Abort:
        break;
    case Reply::Kind::Ignored:
    case Reply::Kind::WhoIs:
        return;
    }
    // The answer to a name request: the device it was sent to, by invoke id
    // and address.
    for (std::size_t i = 0; i < devices.size(); ++i) {
        FoundDevice &d = devices[i];
        if (m_invokeIds[i] != reply.invokeId || d.nameRead ||
            !d.address.isEqual(from, QHostAddress::TolerantConversion))
            continue;
        if (reply.kind == Reply::Kind::PropertyAck) {
            if (reply.property != std::uint32_t(Property::ObjectName) ||
                reply.value.kind != PropertyValue::Kind::Text)
                continue;
            d.name = reply.value.text;
        } else if (reply.kind == Reply::Kind::Error) {
            d.nameProblem = errorText(reply.errorClass, reply.errorCode);
        } else {
            d.nameProblem = QStringLiteral("%1 (reason %2)")
                                .arg(reply.kind == Reply::Kind::Reject ? QStringLiteral("rejected")
                                                                       : QStringLiteral("aborted"))
                                .arg(reply.errorCode);
        }
        d.nameRead = true;
        emit deviceUpdated(int(i));
        return;
    }
}

void Discovery::finish()
{
    if (!m_socket)
        return;
    m_timer->stop();
    m_socket->close();
    m_socket->deleteLater();
    m_socket = nullptr;
    for (FoundDevice &d : m_result.devices)
        if (!d.nameRead && d.nameProblem.isEmpty())
            d.nameProblem = QStringLiteral("no answer to the name request");
    emit finished();
}

DiscoveryResult Discovery::run(const std::vector<DiscoveryTarget> &targets, const WhoIs &whoIs,
                               int milliseconds, int deviceLimit)
{
    Discovery discovery;
    discovery.setDeviceLimit(deviceLimit);
    QEventLoop loop;
    connect(&discovery, &Discovery::finished, &loop, &QEventLoop::quit);
    discovery.start(targets, whoIs, milliseconds);
    // finished() always follows start(), from the event loop.
    loop.exec();
    return discovery.result();
}

} // namespace Bacnet
