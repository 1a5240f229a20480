#pragma once

// A BACnet device played by a test on a loopback address: answers a Who-Is
// with its I-Am (after any `extra` datagrams), and a ReadProperty with its
// object name or, with an empty name, with the unknown-property error. Its
// bytes are written here, independently of the tool's encoder.
//
// With `iAmTo` set it sends its I-Am to that address and its own port, the
// BACnet port, as a device broadcasting its I-Am does (loopback has no
// broadcast address), and back to the asker as well with `iAmToAskerToo`.

#include <QByteArray>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtTest>

#include <cstdint>

namespace BacnetTest {

constexpr std::uint32_t DeviceType = 8;

inline QByteArray withLength(QByteArray datagram)
{
    datagram[2] = char(datagram.size() >> 8);
    datagram[3] = char(datagram.size() & 0xff);
    return datagram;
}

// As Original-Broadcast-NPDU with `broadcast`.
inline QByteArray iAm(std::uint32_t instance, bool broadcast = false)
{
    QByteArray d =
        QByteArray::fromHex(broadcast ? "810b0000 0100 1000 c4" : "810a0000 0100 1000 c4");
    const std::uint32_t word = (DeviceType << 22) | instance;
    for (int i = 3; i >= 0; --i)
        d.append(char(word >> (8 * i)));
    d.append(QByteArray::fromHex("2205c4 9103 220104"));
    return withLength(d);
}

class FakeDevice : public QObject
{
public:
    FakeDevice(const QString &address, std::uint32_t instance, const QByteArray &name,
               QAbstractSocket::BindMode mode = QAbstractSocket::DefaultForPlatform)
        : m_instance(instance), m_name(name)
    {
        QVERIFY(m_socket.bind(QHostAddress(address), 0, mode));
        connect(&m_socket, &QUdpSocket::readyRead, this, &FakeDevice::answer);
    }
    std::uint16_t port() const { return m_socket.localPort(); }
    QList<QByteArray> extra;
    QHostAddress iAmTo;
    bool iAmToAskerToo = false;
    int asked = 0;

private:
    void answer()
    {
        while (m_socket.hasPendingDatagrams()) {
            const QNetworkDatagram in = m_socket.receiveDatagram();
            const QByteArray d = in.data();
            if (d.size() >= 8 && d[6] == char(0x10) && d[7] == char(0x08)) {
                for (const QByteArray &x : std::as_const(extra))
                    m_socket.writeDatagram(x, in.senderAddress(), quint16(in.senderPort()));
                if (!iAmTo.isNull())
                    m_socket.writeDatagram(iAm(m_instance, true), iAmTo, port());
                if (iAmTo.isNull() || iAmToAskerToo)
                    m_socket.writeDatagram(iAm(m_instance), in.senderAddress(),
                                           quint16(in.senderPort()));
            } else if (d.size() >= 10 && d[6] == char(0x00)) {
                ++asked;
                const char invokeId = d[8];
                QByteArray reply = QByteArray::fromHex("810a0000 0100 30");
                reply.append(invokeId);
                if (m_name.isEmpty()) {
                    reply = QByteArray::fromHex("810a0000 0100 50");
                    reply.append(invokeId);
                    reply.append(QByteArray::fromHex("0c 9102 9120"));
                } else {
                    reply.append(char(0x0c));
                    reply.append(d.mid(10, 5)); // the object identifier asked for
                    reply.append(QByteArray::fromHex("194d 3e 75"));
                    reply.append(char(m_name.size() + 1));
                    reply.append(char(0));
                    reply.append(m_name);
                    reply.append(char(0x3f));
                }
                m_socket.writeDatagram(withLength(reply), in.senderAddress(),
                                       quint16(in.senderPort()));
            }
        }
    }

    QUdpSocket m_socket;
    std::uint32_t m_instance;
    QByteArray m_name;
};

} // namespace BacnetTest
