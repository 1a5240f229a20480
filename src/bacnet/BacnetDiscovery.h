#pragma once

// Finds the BACnet devices that answer a Who-Is and reads each one's Device
// object name. The Who-Is goes to the addresses given (directed) or to the
// broadcast address of a network interface the engineer chose; nothing else
// is contacted. Replies are collected for a fixed time; the object name
// is asked of each device as soon as its I-Am arrives.
//
// Many devices answer a Who-Is with an I-Am broadcast to the BACnet port
// rather than sent back to the asker's port, so besides the socket the Who-Is
// leaves from, the discovery listens on the targets' port as well (shared
// with any other BACnet program that allows it). Only I-Ams are taken there,
// and after a directed Who-Is only those from a target's address.

#include "BacnetCodec.h"

#include <QHostAddress>
#include <QObject>
#include <QString>

#include <vector>

class QNetworkInterface;
class QTimer;
class QUdpSocket;

namespace Bacnet {

struct DiscoveryTarget
{
    QHostAddress address;
    std::uint16_t port = DefaultPort;
    bool broadcast = false;
};

struct FoundDevice
{
    IAm iam;
    QHostAddress address;
    std::uint16_t port = 0;
    bool nameRead = false;
    QString name;
    QString nameProblem;    // why the name is missing: an error reply, no answer
    bool duplicate = false; // another device answered with the same instance
};

// What came of a discovery.
struct DiscoveryResult
{
    std::vector<FoundDevice> devices;
    QString error;     // the socket could not be opened or the Who-Is not sent
    QString note;      // said alongside the list: the BACnet port could not be listened on
    int malformed = 0; // datagrams that were not BACnet/IP the tool can read
    int dropped = 0;   // I-Ams beyond the device limit
    bool cancelled = false;
};

// Marks every device whose instance another device (another address or
// port) also announced; one device listed twice is no duplicate.
void markDuplicates(std::vector<FoundDevice> &devices);

// The broadcast address of the interface's first IPv4 address; null when the
// interface cannot broadcast (loopback, point-to-point links) or has no IPv4
// address.
QHostAddress broadcastAddressOf(const QNetworkInterface &iface);

class Discovery : public QObject
{
    Q_OBJECT
public:
    // A site may have many devices; a flood of I-Ams is cut off here.
    static constexpr int MaxDevices = 1000;

    explicit Discovery(QObject *parent = nullptr);
    ~Discovery() override;

    // The most devices listed; further I-Ams are counted as dropped.
    void setDeviceLimit(int limit) { m_deviceLimit = limit; }

    // Sends the Who-Is to each target and collects for `milliseconds`;
    // finished() follows.
    void start(const std::vector<DiscoveryTarget> &targets, const WhoIs &whoIs, int milliseconds);
    void cancel();
    bool isRunning() const;
    const DiscoveryResult &result() const { return m_result; }

    // Runs a discovery to its end (ravelinctl, tests).
    static DiscoveryResult run(const std::vector<DiscoveryTarget> &targets, const WhoIs &whoIs,
                               int milliseconds, int deviceLimit = MaxDevices);

signals:
    void deviceFound(int index);
    void deviceUpdated(int index);
    void finished();

private:
    void listen(const std::vector<DiscoveryTarget> &targets);
    void readPending(QUdpSocket *socket);
    // `heard`: arrived on a listening socket, where only I-Ams count.
    void take(const QByteArray &datagram, const QHostAddress &from, std::uint16_t port, bool heard);
    bool mayAsk(const QHostAddress &from) const;
    void finish();

    QUdpSocket *m_socket = nullptr;
    // On the targets' ports, for I-Ams broadcast there.
    std::vector<QUdpSocket *> m_listeners;
    // Directed targets' addresses; empty when a Who-Is was broadcast.
    std::vector<QHostAddress> m_directed;
    QTimer *m_timer = nullptr;
    DiscoveryResult m_result;
    // The invoke id each device's name request was sent with.
    std::vector<std::uint8_t> m_invokeIds;
    std::uint8_t m_nextInvokeId = 1;
    int m_deviceLimit = MaxDevices;
};

} // namespace Bacnet
