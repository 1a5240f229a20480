#include "BacnetDiscovery.h"

#include <QEventLoop>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QStringList>
#include <QTimer>
#include <QUdpSocket>
#include <QVariant>

#include <algorithm>
#include <map>

namespace Bacnet {

void markDuplicates(std::vector<FoundDevice> &devices)
{
    // Per instance: where it was first announced from, and whether it was
    // announced from anywhere else too.
    struct Origin
    {
        QHostAddress address;
        std::uint16_t port;
        bool elsewhere;
    };
    std::map<std::uint32_t, Origin> origins;
    for (const FoundDevice &d : devices) {
        const auto [at, added] =
            origins.try_emplace(d.iam.device.instance, Origin{d.address, d.port, false});
        if (!added && (at->second.port != d.port ||
                       !at->second.address.isEqual(d.address, QHostAddress::TolerantConversion)))
            at->second.elsewhere = true;
    }
    for (FoundDevice &d : devices)
        d.duplicate = origins[d.iam.device.instance].elsewhere;
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
    m_directed.clear();
    const bool anyBroadcast = std::any_of(targets.begin(), targets.end(),
                                          [](const DiscoveryTarget &t) { return t.broadcast; });
    if (!anyBroadcast)
        for (const DiscoveryTarget &t : targets)
            m_directed.push_back(t.address);
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
        QUdpSocket *socket = m_socket;
        connect(socket, &QUdpSocket::readyRead, this, [this, socket] { readPending(socket); });
        // Listening before the Who-Is goes out, so that no early I-Am is missed.
        listen(targets);
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

void Discovery::listen(const std::vector<DiscoveryTarget> &targets)
{
    std::vector<std::uint16_t> ports;
    for (const DiscoveryTarget &t : targets)
        if (t.port != 0 && std::find(ports.begin(), ports.end(), t.port) == ports.end())
            ports.push_back(t.port);
    QStringList held;
    for (const std::uint16_t port : ports) {
        auto *socket = new QUdpSocket(this);
        // Shared, so that another BACnet program on this port that allows
        // sharing goes on beside it; closed when the discovery ends.
        if (!socket->bind(QHostAddress(QHostAddress::AnyIPv4), port,
                          QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint)) {
            held << QString::number(port);
            delete socket;
            continue;
        }
        socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, QVariant(1 << 20));
        connect(socket, &QUdpSocket::readyRead, this, [this, socket] { readPending(socket); });
        m_listeners.push_back(socket);
    }
    // Not an error: devices that answer the tool's own port are still found.
    if (!held.isEmpty())
        m_result.note = QStringLiteral("UDP port %1 is in use by another program, so I-Ams that "
                                       "devices broadcast to that port could not be heard; only "
                                       "devices that answer the tool directly are listed")
                            .arg(held.join(QStringLiteral(", ")));
}

void Discovery::readPending(QUdpSocket *socket)
{
    const bool heard = socket != m_socket;
    // A bounded number per wake-up, so a flood cannot starve the window.
    for (int i = 0; i < 256 && isRunning() && socket->hasPendingDatagrams(); ++i) {
        const QNetworkDatagram datagram = socket->receiveDatagram(MaxDatagram + 1);
        take(datagram.data(), datagram.senderAddress(), std::uint16_t(datagram.senderPort()),
             heard);
    }
    // The socket as context: a read still due when the discovery has ended
    // and deleted the socket is dropped with it.
    if (isRunning() && socket->hasPendingDatagrams())
        QTimer::singleShot(0, socket, [this, socket] { readPending(socket); });
}

// After a directed Who-Is, an I-Am heard on the BACnet port is taken only from
// an address asked: any other device's broadcast (answering someone else) is
// not listed, so no address beyond those given is sent a name request.
bool Discovery::mayAsk(const QHostAddress &from) const
{
    return m_directed.empty() ||
           std::any_of(m_directed.begin(), m_directed.end(), [&from](const QHostAddress &a) {
               return a.isEqual(from, QHostAddress::TolerantConversion);
           });
}

void Discovery::take(const QByteArray &datagram, const QHostAddress &from, std::uint16_t port,
                     bool heard)
{
    const Reply reply = decodeReply(datagram);
    // The BACnet port carries the whole site's traffic, our own Who-Is among
    // it; only I-Ams are ours to take there.
    if (heard && (reply.kind != Reply::Kind::IAm || !mayAsk(from)))
        return;
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
                return; // the same device again, or heard on both sockets
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
        // Always from the socket the Who-Is left from, where the answer comes.
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
    for (QUdpSocket *listener : m_listeners) {
        listener->close();
        listener->deleteLater();
    }
    m_listeners.clear();
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
