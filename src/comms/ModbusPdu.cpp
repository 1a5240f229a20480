#include "ModbusPdu.h"

#include <algorithm>

namespace ModbusPdu {

namespace {

std::size_t buildHead(std::uint8_t *pdu, std::uint8_t functionCode, std::uint16_t first,
                      std::uint16_t second)
{
    pdu[0] = functionCode;
    putWord(pdu + 1, first);
    putWord(pdu + 3, second);
    return RequestHeadLength;
}

} // namespace

std::size_t buildRead(std::uint8_t *pdu, std::uint8_t functionCode, std::uint16_t start,
                      std::uint16_t count)
{
    return buildHead(pdu, functionCode, start, count);
}

std::size_t buildWriteOne(std::uint8_t *pdu, std::uint8_t functionCode, std::uint16_t reg,
                          std::uint16_t value)
{
    return buildHead(pdu, functionCode, reg, value);
}

std::size_t buildWriteMany(std::uint8_t *pdu, std::uint8_t functionCode, std::uint16_t start,
                           std::uint16_t count, const std::uint16_t *values)
{
    std::size_t length = buildHead(pdu, functionCode, start, count);
    pdu[length++] = std::uint8_t(2 * count);
    for (std::uint16_t i = 0; i < count; ++i, length += 2)
        putWord(pdu + length, values[i]);
    return length;
}

Verdict judgeReply(FrameKind kind, const std::uint8_t *request, const std::uint8_t *reply,
                   std::size_t length)
{
    if (length == 0)
        return {FrameOutcome::ShortReply};
    const std::uint8_t functionCode = request[0];
    if (reply[0] == std::uint8_t(functionCode | ExceptionBit))
        return {FrameOutcome::Exception,
                length >= ExceptionReplyLength ? reply[1] : std::uint8_t(0)};
    if (reply[0] != functionCode)
        return {FrameOutcome::WrongFunction};
    const std::uint16_t count = getWord(request + 3);
    const std::size_t want = goodReplyLength(kind, count);
    if (length < want)
        return {FrameOutcome::ShortReply};
    // A read reply that does not carry exactly the registers asked for is
    // refused: storing part of it would leave stale entries looking like
    // fresh values.
    if (length > want || (kind == FrameKind::Read && reply[1] != 2 * count))
        return {FrameOutcome::WrongLength};
    // A write is confirmed only by the echo of what was sent: register and
    // value, or start and count.
    if (kind != FrameKind::Read && !std::equal(request + 1, request + 5, reply + 1))
        return {FrameOutcome::WrongEcho};
    return {FrameOutcome::Good};
}

void storeReadValues(const std::uint8_t *reply, std::uint16_t count, std::uint16_t *values)
{
    for (std::uint16_t i = 0; i < count; ++i)
        values[i] = getWord(reply + 2 + 2 * i);
}

} // namespace ModbusPdu
