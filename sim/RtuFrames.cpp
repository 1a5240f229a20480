#include "RtuFrames.h"

#include "PduHandler.h"

std::uint16_t rtuCrc(const QByteArray &bytes)
{
    std::uint16_t crc = 0xFFFF;
    for (char byte : bytes) {
        crc ^= std::uint8_t(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? std::uint16_t((crc >> 1) ^ 0xA001) : std::uint16_t(crc >> 1);
    }
    return crc;
}

QByteArray withRtuCrc(QByteArray frame)
{
    const std::uint16_t crc = rtuCrc(frame);
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
    return frame;
}

int RtuFrameReader::frontFrameLength() const
{
    if (m_buffer.isEmpty())
        return 0;
    if (!m_unitKnown(std::uint8_t(m_buffer[0])))
        return -1;
    const int pduLength = PduHandler::requestLength(m_buffer.mid(1));
    if (pduLength <= 0)
        return pduLength;
    return 1 + pduLength + 2;
}

QByteArray RtuFrameReader::nextFrame()
{
    for (;;) {
        const int length = frontFrameLength();
        if (length == 0 || length > m_buffer.size())
            return {};
        if (length > 0) {
            const QByteArray frame = m_buffer.left(length);
            const std::uint16_t crc =
                std::uint8_t(frame[length - 2]) | std::uint8_t(frame[length - 1]) << 8;
            if (rtuCrc(frame.left(length - 2)) == crc) {
                m_buffer.remove(0, length);
                return frame;
            }
        }
        // Not a frame by the function's own length rule; the line's silence
        // will tell whether the buffer is one odd frame after all.
        if (bufferIsOneFrame())
            return {};
        m_buffer.remove(0, 1);
        ++m_dropped;
    }
}

bool RtuFrameReader::bufferIsOneFrame() const
{
    return m_buffer.size() >= 4 && m_unitKnown(std::uint8_t(m_buffer[0])) && rtuCrc(m_buffer) == 0;
}

QByteArray RtuFrameReader::takeSilenceDelimitedFrame()
{
    QByteArray frame;
    if (bufferIsOneFrame())
        frame = m_buffer;
    m_dropped += m_buffer.size() - frame.size();
    m_buffer.clear();
    return frame;
}
