#include "RtuFrames.h"

#include "PduHandler.h"

#include <array>

namespace {

// The CRC one byte at a time: the eight shift steps of each byte value folded
// into a table, so resynchronising over a long stream stays cheap.
constexpr std::array<std::uint16_t, 256> crcTable()
{
    std::array<std::uint16_t, 256> table{};
    for (unsigned value = 0; value < 256; ++value) {
        std::uint16_t crc = std::uint16_t(value);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? std::uint16_t((crc >> 1) ^ 0xA001) : std::uint16_t(crc >> 1);
        table[value] = crc;
    }
    return table;
}

constexpr std::array<std::uint16_t, 256> CrcTable = crcTable();

} // namespace

std::uint16_t rtuCrc(const char *bytes, qsizetype size)
{
    std::uint16_t crc = 0xFFFF;
    for (qsizetype i = 0; i < size; ++i)
        crc = std::uint16_t((crc >> 8) ^ CrcTable[(crc ^ std::uint8_t(bytes[i])) & 0xFF]);
    return crc;
}

QByteArray withRtuCrc(QByteArray frame)
{
    const std::uint16_t crc = rtuCrc(frame);
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
    return frame;
}

int RtuFrameReader::frameLengthAt(qsizetype at) const
{
    if (at >= m_buffer.size())
        return 0;
    if (!m_unitKnown(std::uint8_t(m_buffer[at])))
        return -1;
    // The function code and a block write's header tell the length.
    const int pduLength = PduHandler::requestLength(m_buffer.mid(at + 1, 6));
    if (pduLength <= 0)
        return pduLength;
    return 1 + pduLength + 2;
}

QByteArray RtuFrameReader::nextFrame()
{
    qsizetype at = 0; // bytes at the front already judged garbage
    QByteArray frame;
    for (;;) {
        const qsizetype left = m_buffer.size() - at;
        const int length = frameLengthAt(at);
        if (length == 0 || length > left)
            break; // more bytes needed (never more than MaxFrameSize in all)
        if (length > 0 && rtuCrc(m_buffer.constData() + at, length) == 0) {
            frame = m_buffer.mid(at, length);
            m_buffer.remove(0, at + length);
            m_dropped += at;
            return frame;
        }
        // Not a frame by the function's own length rule; the line's silence
        // will tell whether the rest is one odd frame after all.
        if (restIsOneFrame(at))
            break;
        ++at;
    }
    m_buffer.remove(0, at);
    m_dropped += at;
    return frame;
}

bool RtuFrameReader::restIsOneFrame(qsizetype at) const
{
    const qsizetype size = m_buffer.size() - at;
    return size >= 4 && size <= MaxFrameSize && m_unitKnown(std::uint8_t(m_buffer[at])) &&
           rtuCrc(m_buffer.constData() + at, size) == 0;
}

QByteArray RtuFrameReader::takeSilenceDelimitedFrame()
{
    QByteArray frame;
    if (restIsOneFrame(0))
        frame = m_buffer;
    m_dropped += m_buffer.size() - frame.size();
    m_buffer.clear();
    return frame;
}
