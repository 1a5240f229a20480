#include "BacnetEndpoint.h"

#include "SimCore.h"

#include <QNetworkInterface>

#include <cstdio>

namespace {

// The IPv4 broadcast address of the interface that holds `address`; null when
// none holds it or the interface cannot broadcast (loopback, point-to-point
// links: Qt still derives an address like 127.255.255.255 from the netmask).
QHostAddress broadcastOf(const QHostAddress &address)
{
    if (address.protocol() != QAbstractSocket::IPv4Protocol)
        return {};
    for (const QNetworkInterface &interface : QNetworkInterface::allInterfaces()) {
        if (!(interface.flags() & QNetworkInterface::CanBroadcast))
            continue;
        for (const QNetworkAddressEntry &entry : interface.addressEntries())
            if (entry.ip() == address && !entry.broadcast().isNull())
                return entry.broadcast();
    }
    return {};
}

} // namespace

BacnetEndpoint::BacnetEndpoint(const QHostAddress &address, quint16 port, SimCore &core,
                               QObject *parent)
    : QObject(parent), m_address(address), m_port(port), m_core(core)
{
    connect(&m_socket, &QUdpSocket::readyRead, this, [this] { readDatagrams(m_socket); });
    connect(&m_broadcast, &QUdpSocket::readyRead, this, [this] { readDatagrams(m_broadcast); });
}

bool BacnetEndpoint::open(QString *error)
{
    if (!m_socket.bind(m_address, m_port)) {
        *error = m_socket.errorString();
        return false;
    }
    const QHostAddress broadcast = broadcastOf(m_address);
    if (broadcast.isNull())
        return true;
    if (m_core.options.bacnetIAmBroadcast)
        m_iAmTo = broadcast;
#ifndef Q_OS_WIN
    // Windows hands a subnet broadcast to a socket bound to the interface's
    // own address and refuses a bind to the broadcast address; elsewhere the
    // broadcast address needs a socket of its own.
    if (!m_broadcast.bind(broadcast, m_socket.localPort(),
                          QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint)) {
        *error = QStringLiteral("broadcast address %1: %2")
                     .arg(broadcast.toString(), m_broadcast.errorString());
        return false;
    }
    m_broadcastAddress = broadcast;
#endif
    return true;
}

bool BacnetEndpoint::openAll(const QList<QPair<QHostAddress, quint16>> &listen, int port,
                             SimCore &core, std::vector<std::unique_ptr<BacnetEndpoint>> &endpoints,
                             const std::function<void(const QString &)> &announce)
{
    if (port == 0)
        return true;
    QList<QHostAddress> opened;
    for (const auto &entry : listen) {
        const QHostAddress &address = entry.first;
        if (opened.contains(address))
            continue;
        opened.append(address);
        endpoints.push_back(std::make_unique<BacnetEndpoint>(address, quint16(port), core));
        QString error;
        if (!endpoints.back()->open(&error)) {
            std::fprintf(stderr, "ravelin-sim: cannot use UDP %s:%d for BACnet/IP: %s\n",
                         qPrintable(address.toString()), port, qPrintable(error));
            return false;
        }
        announce(endpoints.back()->readyLine());
    }
    return true;
}

QString BacnetEndpoint::readyLine() const
{
    const QString line = QStringLiteral("ravelin-sim: BACnet/IP on %1:%2")
                             .arg(m_address.toString())
                             .arg(m_socket.localPort());
    QString hears;
    if (!m_broadcastAddress.isNull())
        hears = QStringLiteral(" (and broadcasts to %1)").arg(m_broadcastAddress.toString());
    if (m_iAmTo.isNull())
        return line + hears;
    return line + hears +
           QStringLiteral(", I-Am broadcast to %1:%2")
               .arg(m_iAmTo.toString())
               .arg(m_socket.localPort());
}

// Reads what `socket` (the unicast or the broadcast one) holds; every answer
// leaves through the unicast socket.
void BacnetEndpoint::readDatagrams(QUdpSocket &socket)
{
    QHostAddress peer;
    quint16 peerPort = 0;
    while (socket.hasPendingDatagrams()) {
        // Reading at most sizeof m_buffer discards the rest of a longer
        // datagram; the size left over tells that it was too long.
        const qint64 got = socket.readDatagram(reinterpret_cast<char *>(m_buffer),
                                               qint64(sizeof m_buffer), &peer, &peerPort);
        if (got < 0)
            break;
        const auto size = std::size_t(got);
        // Our own broadcast I-Am, heard back: nothing to answer or count.
        if (peer == m_address && peerPort == m_socket.localPort())
            continue;
        if (m_core.model.restarting()) {
            ++m_dropped;
            log("DROP", peer, peerPort, m_buffer, size, "the unit is restarting");
            continue;
        }
        Bacnet::Reply reply;
        const char *why = "";
        const Bacnet::Outcome outcome =
            Bacnet::answer(m_buffer, size, Bacnet::identityOf(m_core.model), reply, &why);
        if (outcome != Bacnet::Outcome::Answered) {
            ++m_dropped;
            log(outcome == Bacnet::Outcome::Malformed ? "DROP" : "RX", peer, peerPort, m_buffer,
                size, why);
            continue;
        }
        log("RX", peer, peerPort, m_buffer, size, why);
        QHostAddress to = peer;
        quint16 toPort = peerPort;
        if (!m_iAmTo.isNull() && Bacnet::asBroadcastIAm(reply)) {
            to = m_iAmTo;
            toPort = m_socket.localPort();
        }
        // A full send buffer loses the reply, as a busy device would.
        m_socket.writeDatagram(reinterpret_cast<const char *>(reply.bytes), qint64(reply.size), to,
                               toPort);
        log("TX", to, toPort, reply.bytes, reply.size, why);
    }
}

// --verbose: one line per datagram on standard error, the first 64 bytes in
// hexadecimal; a dropped one says why and how many were dropped so far.
void BacnetEndpoint::log(const char *direction, const QHostAddress &peer, quint16 peerPort,
                         const std::uint8_t *bytes, std::size_t size, const char *note) const
{
    if (!m_core.options.verbose)
        return;
    const QByteArray shown = QByteArray::fromRawData(reinterpret_cast<const char *>(bytes),
                                                     qsizetype(qMin<std::size_t>(size, 64)))
                                 .toHex(' ');
    qInfo("BACnet %s %s:%u len=%zu note=\"%s\" dropped=%lld | %s%s", direction,
          qPrintable(peer.toString()), peerPort, size, note, m_dropped, shown.constData(),
          size > 64 ? " ..." : "");
}
