#pragma once

// RTU frames the serial tests script: hexadecimal text to bytes, a CRC
// appended, the unit's answer to the network-address read, and the line a
// scripted peer answers on.

#include "ModBusPro.h"
#include "PtyPair.h"
#include "RtuPeer.h"
#include "VeskComms.h"

#include <QByteArray>

#include <cstdint>

inline QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

inline QByteArray withCrc(QByteArray frame)
{
    const std::uint16_t crc = ModbusCrc16(reinterpret_cast<const std::uint8_t *>(frame.constData()),
                                          0, std::uint16_t(frame.size() - 1));
    frame.append(char(crc >> 8)).append(char(crc & 0xFF));
    return frame;
}

// Reply to the read of 12 registers from 7 at unit 20: 192.168.0.10 and so on,
// with a correct CRC whatever byte count it announces.
inline QByteArray networkReply(char byteCount = 0x18)
{
    QByteArray reply = hex("146b");
    reply.append(byteCount);
    for (int v : {192, 168, 0, 10, 192, 168, 0, 1, 255, 255, 255, 0})
        reply.append('\0').append(char(v));
    return withCrc(reply);
}

inline const QByteArray ReadNetwork = hex("146b0007000c9702");

// A component open on the slave end of a fresh pty, with the session's
// receive buffer.
struct Line
{
    PtyPair pty;
    RtuPeer peer{pty};
    TVeskComms comms;

    bool open()
    {
        comms.DevicePath = pty.slavePath();
        comms.RxBufferSize = 200;
        return comms.OpenPort();
    }
};
