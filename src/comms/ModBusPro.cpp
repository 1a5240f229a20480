#include "ModBusPro.h"

#include "RxCondition.h"
#include "VeskComms.h"

#include <algorithm>

namespace {

constexpr std::uint8_t ExceptionBit = 0x80;
constexpr int RequestBufferSize = 50;
constexpr int ReplyBufferSize = 256;
// The exception reply from the function code on: code, exception code, CRC.
constexpr std::uint16_t ExceptionTail = 4;
// A write reply from the function code on: 4 echoed bytes and the CRC.
constexpr std::uint16_t WriteReplyTail = 7;

void putWord(std::uint8_t *at, std::uint16_t value)
{
    at[0] = std::uint8_t(value >> 8);
    at[1] = std::uint8_t(value & 0xFF);
}

std::uint16_t buildHeader(std::uint8_t *frame, std::uint8_t unitId, std::uint8_t functionCode,
                          std::uint16_t first, std::uint16_t second)
{
    frame[0] = unitId;
    frame[1] = functionCode;
    putWord(frame + 2, first);
    putWord(frame + 4, second);
    return 6;
}

// One exchange: installs the good and exception rules, sends, waits. For
// either kind of reply it copies the reply out of the receive buffer (from the
// unit id to the last byte received) and checks it: a reply that is not
// exactly as long as its rule asks or whose CRC is wrong is no reply of the
// unit's, whatever it looks like. `reply` must hold ReplyBufferSize bytes.
RegisterResult exchange(TVeskComms &comms, const std::uint8_t *frame, std::uint16_t length,
                        std::uint16_t goodTail, std::uint16_t timeout, std::uint8_t *reply,
                        std::uint16_t &replyLength)
{
    TRxCondition condition;
    RtuFrame::addReplyRules(condition, frame[0], frame[1], goodTail);
    comms.SetRxCondition(&condition);
    comms.ResetRxCondition();
    comms.SendData(frame, length, timeout);
    RegisterResult result = comms.WaitReply();
    replyLength = 0;
    if (result == ResultGood || result == ResultException) {
        // The rule number is the result: 1 good reply, 2 exception reply.
        replyLength = comms.GetRxData(std::uint16_t(result), reply, RtuMaxReplyBytes, 0, -1, -1);
        const std::uint16_t tail = result == ResultGood ? goodTail : ExceptionTail;
        if (!RtuFrame::replyFits(reply, replyLength, tail))
            result = ResultFailure;
    }
    comms.ClearRxCondition();
    return result;
}

// A write is confirmed only by the echo of what was sent: register and value,
// or start and count, at bytes 2 to 5 of request and reply alike.
RegisterResult confirmedByEcho(RegisterResult result, const std::uint8_t *frame,
                               const std::uint8_t *reply)
{
    if (result == ResultGood && !std::equal(frame + 2, frame + 6, reply + 2))
        return ResultFailure;
    return result;
}

} // namespace

std::uint16_t ModbusCrc16(const std::uint8_t *data, std::uint16_t first, std::uint16_t last)
{
    if (last < first)
        return 0xFFFF;
    std::uint16_t crc = 0xFFFF;
    for (std::uint32_t i = first; i <= last; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? std::uint16_t((crc >> 1) ^ 0xA001) : std::uint16_t(crc >> 1);
    }
    return std::uint16_t((crc << 8) | (crc >> 8));
}

void RtuFrame::addReplyRules(TRxCondition &condition, std::uint8_t unitId,
                             std::uint8_t functionCode, std::uint16_t goodTail)
{
    // Both patterns are single bytes matched as sets; at least one byte (the
    // unit id) lies between the start and the end.
    const std::uint8_t exceptionCode = functionCode | ExceptionBit;
    condition.Clear();
    condition.AddItem(1, &unitId, false, 1, &functionCode, false, 0, 1, goodTail);
    condition.AddItem(1, &unitId, false, 1, &exceptionCode, false, 0, 1, ExceptionTail);
}

std::uint16_t RtuFrame::appendCrc(std::uint8_t *frame, std::uint16_t length)
{
    const std::uint16_t crc =
        length == 0 ? std::uint16_t(0xFFFF) : ModbusCrc16(frame, 0, std::uint16_t(length - 1));
    putWord(frame + length, crc);
    return std::uint16_t(length + 2);
}

bool RtuFrame::crcMatches(const std::uint8_t *frame, std::uint16_t length)
{
    // The shortest reply is the exception reply: unit id, code, exception, CRC.
    if (length < 5)
        return false;
    const std::uint16_t crc = ModbusCrc16(frame, 0, std::uint16_t(length - 3));
    return frame[length - 2] == std::uint8_t(crc >> 8) &&
           frame[length - 1] == std::uint8_t(crc & 0xFF);
}

bool RtuFrame::replyFits(const std::uint8_t *frame, std::uint16_t length, std::uint16_t tail)
{
    // Unit id, then `tail` bytes from the function code on, the CRC last.
    return length == tail + 1 && crcMatches(frame, length);
}

int RtuFrame::storeReadValues(const std::uint8_t *frame, std::uint16_t length, std::uint16_t count,
                              std::uint16_t *values)
{
    if (length < 5 || count == 0)
        return 0;
    const int carried = (length - 5) / 2; // data words before the CRC
    const int announced = std::max(1, frame[2] / 2);
    const int n = std::min({announced, int(count), carried});
    for (int i = 0; i < n; ++i)
        values[i] = std::uint16_t(frame[3 + 2 * i] << 8 | frame[4 + 2 * i]);
    return n;
}

RegisterResult RtuReadRegisters(TVeskComms &comms, std::uint8_t unitId, std::uint8_t functionCode,
                                std::uint16_t start, std::uint16_t count, std::uint16_t timeout,
                                std::uint16_t *values)
{
    if (count == 0 || count > RtuMaxReadCount)
        return ResultFailure;
    std::uint8_t frame[RequestBufferSize] = {};
    const std::uint16_t length =
        RtuFrame::appendCrc(frame, buildHeader(frame, unitId, functionCode, start, count));
    std::uint8_t reply[ReplyBufferSize] = {};
    std::uint16_t replyLength = 0;
    const std::uint16_t goodTail = std::uint16_t(2 * count + 4); // count, data, CRC
    const RegisterResult result =
        exchange(comms, frame, length, goodTail, timeout, reply, replyLength);
    if (result != ResultGood)
        return result;
    // The frame length is right; the byte count must say the same, or the
    // reply does not carry the registers asked for.
    if (reply[2] != 2 * count)
        return ResultFailure;
    RtuFrame::storeReadValues(reply, replyLength, count, values);
    return ResultGood;
}

RegisterResult RtuWriteRegister(TVeskComms &comms, std::uint8_t unitId, std::uint8_t functionCode,
                                std::uint16_t reg, std::uint16_t value, std::uint16_t timeout)
{
    std::uint8_t frame[RequestBufferSize] = {};
    const std::uint16_t length =
        RtuFrame::appendCrc(frame, buildHeader(frame, unitId, functionCode, reg, value));
    std::uint8_t reply[ReplyBufferSize] = {};
    std::uint16_t replyLength = 0;
    return confirmedByEcho(
        exchange(comms, frame, length, WriteReplyTail, timeout, reply, replyLength), frame, reply);
}

RegisterResult RtuWriteRegisters(TVeskComms &comms, std::uint8_t unitId, std::uint8_t functionCode,
                                 std::uint16_t start, std::uint16_t count,
                                 const std::uint16_t *values, std::uint16_t timeout)
{
    if (count == 0 || count > RtuMaxWriteCount)
        return ResultFailure;
    std::uint8_t frame[RequestBufferSize] = {};
    std::uint16_t length = buildHeader(frame, unitId, functionCode, start, count);
    frame[length++] = std::uint8_t(2 * count);
    for (std::uint16_t i = 0; i < count; ++i, length += 2)
        putWord(frame + length, values[i]);
    length = RtuFrame::appendCrc(frame, length);
    std::uint8_t reply[ReplyBufferSize] = {};
    std::uint16_t replyLength = 0;
    return confirmedByEcho(
        exchange(comms, frame, length, WriteReplyTail, timeout, reply, replyLength), frame, reply);
}
