#pragma once

// Modbus RTU client: the unit's register operations as single request/reply
// exchanges through the serial component, plus the RTU CRC.
//
// The end of a reply is recognised by two reply rules installed on the
// component before sending, not by timing gaps: rule 1 the good reply (unit
// id, then the function code, then enough bytes), rule 2 the exception reply
// (unit id, then the function code with bit 0x80, then 4 bytes).
//
// Results: 1 good reply (a read has stored its values), 2 exception reply,
// 0 no reply within the timeout, -1 any other failure (not open, closed during
// the wait, a count of 0 or one the frame buffers cannot hold, or a reply that is not
// exactly what its kind must be: a wrong length or CRC, a read whose byte
// count is not twice the count asked for, a write whose echo differs from
// what was sent), -2 the component was closed twice. Every reply's CRC is
// checked, the exception reply's included. timeout counts the component's
// 100 ms ticks; 65535 never runs out.

#include "FrameTap.h"
#include "RegisterResult.h"

#include <cstddef>
#include <cstdint>

class TVeskComms;

// A block write is built in a 50-byte frame (9 + 2n bytes); a read reply is
// taken from the receive buffer as at most 200 bytes (5 + 2n).
constexpr std::uint16_t RtuMaxReadCount = 97;
constexpr std::uint16_t RtuMaxWriteCount = 20;
constexpr std::uint16_t RtuMaxReplyBytes = 200;

// Modbus CRC-16 (initial 0xFFFF, reflected polynomial 0xA001) over bytes
// first..last inclusive, returned with its bytes swapped so that the frame
// takes the high byte of the result and then the low byte (CRC low byte
// first on the wire). 0xFFFF when last < first.
std::uint16_t ModbusCrc16(const std::uint8_t *data, std::uint16_t first, std::uint16_t last);

// values must have room for count entries; entry i receives register start + i.
// On any result other than 1 values is left untouched. A tap, when given, is
// told of the bytes the send throws away and of the exchange with its verdict
// and every byte received for it (a refused count sends nothing and tells it
// nothing). After an exchange the receive buffer is empty. When detail is
// given it receives the exchange's verdict, the exception code of an
// exception reply, or why nothing was sent.
RegisterResult RtuReadRegisters(TVeskComms &comms, std::uint8_t unitId, std::uint8_t functionCode,
                                std::uint16_t start, std::uint16_t count, std::uint16_t timeout,
                                std::uint16_t *values, FrameTap *tap = nullptr,
                                ExchangeDetail *detail = nullptr);
RegisterResult RtuWriteRegister(TVeskComms &comms, std::uint8_t unitId, std::uint8_t functionCode,
                                std::uint16_t reg, std::uint16_t value, std::uint16_t timeout,
                                FrameTap *tap = nullptr, ExchangeDetail *detail = nullptr);
RegisterResult RtuWriteRegisters(TVeskComms &comms, std::uint8_t unitId, std::uint8_t functionCode,
                                 std::uint16_t start, std::uint16_t count,
                                 const std::uint16_t *values, std::uint16_t timeout,
                                 FrameTap *tap = nullptr, ExchangeDetail *detail = nullptr);

class TRxCondition;

// The pure parts, for tests and fuzzers.
namespace RtuFrame {
// The two reply rules of one exchange: 1 the good reply, whose goodTail bytes
// from the function code on complete it; 2 the exception reply.
void addReplyRules(TRxCondition &condition, std::uint8_t unitId, std::uint8_t functionCode,
                   std::uint16_t goodTail);
// Appends the CRC of frame[0..length-1] at frame[length]; returns length + 2.
std::uint16_t appendCrc(std::uint8_t *frame, std::uint16_t length);
// True when the last two of `length` bytes are the CRC of the ones before.
bool crcMatches(const std::uint8_t *frame, std::uint16_t length);
// True when a reply copied from its unit id on is exactly the unit id plus
// `tail` bytes (the rule's count from the function code on) and ends in the
// CRC of the bytes before it.
bool replyFits(const std::uint8_t *frame, std::uint16_t length, std::uint16_t tail);
// Where findReply found a reply: its first byte within the bytes searched
// (-1 when none), its length and whether it is the exception reply.
struct ReplySpan
{
    long at = -1;
    std::uint16_t length = 0;
    bool exception = false;
};
// The first frame in bytes[0..length-1] that is a whole reply to the request:
// the unit id, then the function code followed by goodTail bytes (and, when
// byteCount >= 0, that byte count right after the code), or the function
// code with bit 0x80 followed by 3 bytes; either way ending in the CRC of
// the bytes before it. Bytes before and after the frame are ignored. Runs in
// time linear in length.
ReplySpan findReply(const std::uint8_t *bytes, std::size_t length, std::uint8_t unitId,
                    std::uint8_t functionCode, std::uint16_t goodTail, int byteCount);
// Stores the registers of a good read reply (unit id, function, byte count,
// data, CRC) into values: byte count / 2 entries (at least one), never more
// than count nor more than the frame carries. Returns the number stored.
int storeReadValues(const std::uint8_t *frame, std::uint16_t length, std::uint16_t count,
                    std::uint16_t *values);
} // namespace RtuFrame
