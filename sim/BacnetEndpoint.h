#pragma once

// BACnet/IP endpoint: one UDP socket on one of the addresses the simulator
// serves Modbus TCP on, answering for the unit's Device object
// (BacnetDevice.h). Each datagram is read into a fixed buffer and answered at
// once, so a flood costs time but no memory; while the unit restarts every
// datagram is read and dropped unanswered, like the Modbus side.
//
// A socket bound to a unicast address never sees a datagram sent to the
// subnet's broadcast address, so when that address belongs to an interface
// with an IPv4 broadcast address a second socket listens there on the same
// port (shared, so several simulators on one subnet all hear it). What comes
// in on it is answered from the unicast socket, so the reply's source is the
// unit's own address.
//
// With --bacnet-iam-broadcast the I-Am goes to that broadcast address and the
// BACnet port instead of back to the asker, as many devices send it.

#include "BacnetDevice.h"

#include <QHostAddress>
#include <QObject>
#include <QUdpSocket>

#include <functional>
#include <memory>
#include <vector>

class SimCore;

class BacnetEndpoint : public QObject
{
    Q_OBJECT
public:
    BacnetEndpoint(const QHostAddress &address, quint16 port, SimCore &core,
                   QObject *parent = nullptr);

    bool open(QString *error);
    QString readyLine() const;

    // Opens one endpoint on each distinct address of `listen` (two Modbus
    // ports on one address share its BACnet socket) and announces each ready
    // line; none when port is 0. False, after saying why on standard error,
    // when one cannot be opened.
    static bool openAll(const QList<QPair<QHostAddress, quint16>> &listen, int port, SimCore &core,
                        std::vector<std::unique_ptr<BacnetEndpoint>> &endpoints,
                        const std::function<void(const QString &)> &announce);

private:
    void readDatagrams(QUdpSocket &socket);
    void log(const char *direction, const QHostAddress &peer, quint16 peerPort,
             const std::uint8_t *bytes, std::size_t size, const char *note) const;

    QHostAddress m_address;
    quint16 m_port;
    SimCore &m_core;
    QUdpSocket m_socket;
    // Bound only when the address has a broadcast address (null otherwise).
    QUdpSocket m_broadcast;
    QHostAddress m_broadcastAddress;
    // Where an I-Am is broadcast to (null: back to the asker).
    QHostAddress m_iAmTo;
    qint64 m_dropped = 0; // datagrams thrown away unanswered, for the log
    // One byte more than the largest datagram taken, to tell an over-long one.
    std::uint8_t m_buffer[Bacnet::MaxDatagram + 1] = {};
};
