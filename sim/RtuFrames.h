#pragma once

// Modbus RTU framing for the simulated unit: the CRC and a frame reader that
// finds whole requests in a byte stream and resynchronises after garbage.

#include <QByteArray>

#include <cstdint>
#include <functional>

// CRC-16 of Modbus RTU (initial 0xFFFF, reflected polynomial 0xA001).
std::uint16_t rtuCrc(const QByteArray &bytes);
// Appends the CRC, low byte first as it goes on the wire.
QByteArray withRtuCrc(QByteArray frame);

class RtuFrameReader
{
public:
    // unitKnown decides which unit ids this station answers to.
    explicit RtuFrameReader(std::function<bool(int)> unitKnown) : m_unitKnown(std::move(unitKnown))
    {}

    void feed(const QByteArray &bytes) { m_buffer.append(bytes); }
    // The next complete request with a correct CRC addressed to a known unit,
    // or an empty array when none is complete yet. Bytes that cannot start
    // such a frame are dropped one at a time, so a frame after garbage or
    // after a broken frame is still found.
    QByteArray nextFrame();
    // After the line has been silent for longer than the gap between frames:
    // what is buffered ends there. When it is one frame with a correct CRC for
    // a known unit, yet of a length its function code does not allow (an
    // unknown function, a byte count that disagrees), it is returned so the
    // unit can answer it with an exception; anything else is dropped.
    QByteArray takeSilenceDelimitedFrame();
    int pending() const { return int(m_buffer.size()); }
    qint64 droppedBytes() const { return m_dropped; }

private:
    // Full length of the frame at the front, 0 while unknown, -1 if the
    // front cannot start a frame.
    int frontFrameLength() const;
    // True when the whole buffer is one frame with a correct CRC for a known unit.
    bool bufferIsOneFrame() const;

    std::function<bool(int)> m_unitKnown;
    QByteArray m_buffer;
    qint64 m_dropped = 0;
};
