#pragma once

// Modbus RTU framing for the simulated unit: the CRC and a frame reader that
// finds whole requests in a byte stream and resynchronises after garbage.

#include <QByteArray>

#include <cstdint>
#include <functional>

// CRC-16 of Modbus RTU (initial 0xFFFF, reflected polynomial 0xA001).
std::uint16_t rtuCrc(const char *bytes, qsizetype size);
inline std::uint16_t rtuCrc(const QByteArray &bytes)
{
    return rtuCrc(bytes.constData(), bytes.size());
}
// Appends the CRC, low byte first as it goes on the wire.
QByteArray withRtuCrc(QByteArray frame);

class RtuFrameReader
{
public:
    // The longest frame the unit's length rules allow: unit id, a block write
    // header of six bytes with a byte count of 255, and the CRC.
    static constexpr int MaxFrameSize = 1 + 6 + 255 + 2;

    // unitKnown decides which unit ids this station answers to.
    explicit RtuFrameReader(std::function<bool(int)> unitKnown) : m_unitKnown(std::move(unitKnown))
    {}

    void feed(const QByteArray &bytes) { m_buffer.append(bytes); }
    // The next complete request with a correct CRC addressed to a known unit,
    // or an empty array when none is complete yet. Bytes that cannot start
    // such a frame are dropped one at a time, so a frame after garbage or
    // after a broken frame is still found. Whenever it returns empty, at most
    // MaxFrameSize bytes are kept, so the work per byte fed is bounded.
    QByteArray nextFrame();
    // After the line has been silent for longer than the gap between frames:
    // what is buffered ends there. When it is one frame with a correct CRC for
    // a known unit, yet of a length its function code does not allow (an
    // unknown function, a byte count that disagrees), it is returned so the
    // unit can answer it with an exception; anything else is dropped.
    QByteArray takeSilenceDelimitedFrame();
    int pending() const { return int(m_buffer.size()); }
    const QByteArray &buffered() const { return m_buffer; }
    qint64 droppedBytes() const { return m_dropped; }

private:
    // Full length of the frame starting at `at`, 0 while unknown, -1 if that
    // byte cannot start a frame.
    int frameLengthAt(qsizetype at) const;
    // True when the bytes from `at` to the end are one frame with a correct
    // CRC for a known unit (never true for more than MaxFrameSize bytes).
    bool restIsOneFrame(qsizetype at) const;

    std::function<bool(int)> m_unitKnown;
    QByteArray m_buffer;
    qint64 m_dropped = 0;
};
