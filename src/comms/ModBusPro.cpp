#include "ModBusPro.h"

#include "ModbusPdu.h"
#include "RxCondition.h"
#include "VeskComms.h"

#include <algorithm>
#include <array>
#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint8_t ExceptionBit = ModbusPdu::ExceptionBit;
constexpr int RequestBufferSize = 50;
constexpr int ReplyBufferSize = 256;
// The exception reply from the function code on: code, exception code, CRC.
constexpr std::uint16_t ExceptionTail = 4;

using ModbusPdu::putWord;

// One byte through the CRC register (reflected polynomial 0xA001).
std::uint16_t crcStep(std::uint16_t crc, std::uint8_t b)
{
    crc ^= b;
    for (int bit = 0; bit < 8; ++bit)
        crc = (crc & 1) ? std::uint16_t((crc >> 1) ^ 0xA001) : std::uint16_t(crc >> 1);
    return crc;
}

// The first start i at which the `window` bytes from i on end in their own
// CRC (run from 0xFFFF over a frame and its CRC, low byte first, the register
// ends at 0) and accept(i) holds; -1 when there is none.
//
// The register is linear in its input: over a window it is the register run
// from 0 over the window, xor the register run from 0xFFFF over as many zero
// bytes. Sliding the window one byte on feeds the next byte and cancels the
// byte that leaves, whose share is its own register followed by `window`
// zero bytes (taken from a table). So every window costs one step, and the
// whole search is linear in the number of bytes.
template <typename Accept>
long firstCheckedWindow(const std::uint8_t *bytes, std::size_t length, std::size_t window,
                        Accept accept)
{
    if (window == 0 || length < window)
        return -1;
    std::array<std::uint16_t, 8> bitShare{};
    for (int k = 0; k < 8; ++k) {
        std::uint16_t r = crcStep(0, std::uint8_t(1u << k));
        for (std::size_t i = 0; i < window; ++i)
            r = crcStep(r, 0);
        bitShare[std::size_t(k)] = r;
    }
    std::array<std::uint16_t, 256> leaving{};
    for (unsigned v = 0; v < 256; ++v) {
        for (int k = 0; k < 8; ++k) {
            if (v & (1u << k))
                leaving[v] ^= bitShare[std::size_t(k)];
        }
    }
    std::uint16_t zeros = 0xFFFF;
    std::uint16_t r = 0;
    for (std::size_t i = 0; i < window; ++i) {
        zeros = crcStep(zeros, 0);
        r = crcStep(r, bytes[i]);
    }
    for (std::size_t i = 0;; ++i) {
        if (r == zeros && accept(i))
            return long(i);
        if (i + window >= length)
            return -1;
        r = std::uint16_t(crcStep(r, bytes[i + window]) ^ leaving[bytes[i]]);
    }
}

struct Request
{
    const std::uint8_t *frame;
    std::uint16_t length;
    FrameKind kind;
    std::uint16_t goodTail; // the good reply from the function code on
};

struct Verdict
{
    RegisterResult result;
    FrameOutcome outcome;
    std::uint8_t exceptionCode = 0;
};

// Judges how the reply wait ended. Once a rule has completed, the first
// whole reply anywhere in what the exchange received is taken (noise may lead
// it and stray bytes may follow it in the same burst): unit id, function code
// or its exception form, length (for a read the byte count it announces) and
// CRC must all agree. When there is none, the bytes the rule matched are
// judged as they are, only to tell what was wrong with them: a reply that is
// not exactly as long as its rule asks or whose CRC is wrong is no reply of
// the unit's, whatever it looks like. A write is confirmed only by the echo
// of what was sent (register and value, or start and count, at bytes 2 to 5
// of request and reply alike). `reply` must hold ReplyBufferSize bytes;
// `replyAt` is where the reply taken starts in the receive buffer.
Verdict judge(TVeskComms &comms, int waited, const Request &rq, std::uint8_t *reply,
              std::uint16_t &replyLength, long &replyAt)
{
    replyLength = 0;
    replyAt = -1;
    if (waited == 0)
        return {ResultNoReply, FrameOutcome::NoReply};
    if (waited != 1 && waited != 2) // not open (-1), or closed meanwhile (-1, -2 when twice)
        return {RegisterResult(waited), FrameOutcome::LinkClosed};
    const std::vector<std::uint8_t> &received = comms.RxBuffer();
    const std::size_t have = std::min<std::size_t>(comms.RxHead(), received.size());
    const int byteCount = rq.kind == FrameKind::Read ? rq.goodTail - 4 : -1;
    const RtuFrame::ReplySpan found = RtuFrame::findReply(received.data(), have, rq.frame[0],
                                                          rq.frame[1], rq.goodTail, byteCount);
    if (found.at >= 0 && found.length <= RtuMaxReplyBytes) {
        replyAt = found.at;
        replyLength = found.length;
        std::copy_n(received.data() + found.at, found.length, reply);
        // Unit id and CRC are the framing's; what lies between is the PDU.
        const ModbusPdu::Verdict v =
            ModbusPdu::judgeReply(rq.kind, rq.frame + 1, reply + 1, std::size_t(found.length - 3));
        const RegisterResult result = v.outcome == FrameOutcome::Good        ? ResultGood
                                      : v.outcome == FrameOutcome::Exception ? ResultException
                                                                             : ResultFailure;
        return {result, v.outcome, v.exceptionCode};
    }
    // The rule number says which kind of reply the bytes looked like.
    replyLength = comms.GetRxData(std::uint16_t(waited), reply, RtuMaxReplyBytes, 0, -1, -1);
    const std::uint16_t tail = waited == 1 ? rq.goodTail : ExceptionTail;
    if (replyLength != tail + 1)
        return {ResultFailure, FrameOutcome::WrongLength};
    if (!RtuFrame::crcMatches(reply, replyLength))
        return {ResultFailure, FrameOutcome::BadCrc};
    // Length and CRC agree, so what did not is a read's byte count.
    return {ResultFailure, FrameOutcome::WrongLength};
}

// One exchange: installs the good and exception rules, sends, waits and
// judges, and tells the tap, if there is one, what happened.
Verdict exchange(TVeskComms &comms, const Request &rq, std::uint16_t timeout, std::uint8_t *reply,
                 std::uint16_t &replyLength, FrameTap *tap)
{
    TRxCondition condition;
    RtuFrame::addReplyRules(condition, rq.frame[0], rq.frame[1], rq.goodTail);
    comms.SetRxCondition(&condition);
    comms.ResetRxCondition();
    FrameExchange x;
    Clock::time_point began;
    if (tap) {
        // SendData empties the receive buffer: what is in it now came after
        // the last exchange ended and is thrown away unseen by any rule.
        const std::vector<std::uint8_t> &pending = comms.RxBuffer();
        const std::size_t dropped = std::min<std::size_t>(comms.RxHead(), pending.size());
        if (dropped > 0)
            tap->discarded(FrameLink::Rtu, pending.data(), dropped, dropped);
        x.sent = std::chrono::system_clock::now();
        began = Clock::now();
    }
    comms.SendData(rq.frame, rq.length, timeout);
    const int waited = comms.WaitReply();
    long replyAt = -1;
    const Verdict v = judge(comms, waited, rq, reply, replyLength, replyAt);
    if (tap) {
        x.roundTrip = Clock::now() - began;
        x.link = FrameLink::Rtu;
        x.kind = rq.kind;
        x.outcome = v.outcome;
        x.request = rq.frame;
        x.requestLength = rq.length;
        const std::vector<std::uint8_t> &received = comms.RxBuffer();
        x.reply = received.data();
        x.replyLength = std::min<std::size_t>(comms.RxHead(), received.size());
        // Where the reply taken starts; failing that, where the rule that
        // completed saw its unit id.
        const TRxConditionItem *matched =
            waited == 1 || waited == 2 ? condition.Item(waited) : nullptr;
        x.replyAt = replyAt >= 0 ? replyAt : matched ? long(matched->CountBefore) : -1;
        tap->exchanged(x);
    }
    comms.ClearRxCondition();
    // The reply has been taken: whatever the buffer holds at the next send
    // arrived after this exchange.
    comms.ClearRxBuffer();
    return v;
}

// Frames the request PDU built at frame + 1 (unit id before it, CRC after it),
// runs the exchange and reports its detail when asked.
RegisterResult run(TVeskComms &comms, std::uint8_t *frame, std::size_t pduLength, FrameKind kind,
                   std::uint16_t count, std::uint16_t timeout, std::uint8_t *reply,
                   std::uint16_t &replyLength, FrameTap *tap, ExchangeDetail *detail)
{
    const std::uint16_t length = RtuFrame::appendCrc(frame, std::uint16_t(pduLength + 1));
    // The good reply from the function code on: its PDU and the CRC.
    const auto goodTail = std::uint16_t(ModbusPdu::goodReplyLength(kind, count) + 2);
    const Request rq{frame, length, kind, goodTail};
    const Verdict v = exchange(comms, rq, timeout, reply, replyLength, tap);
    if (detail) {
        *detail = ExchangeDetail{};
        detail->outcome = v.outcome;
        detail->exceptionCode = v.exceptionCode;
        detail->timeoutTenths = timeout;
        detail->link = FrameLink::Rtu;
    }
    return v.result;
}

RegisterResult refuse(ExchangeDetail *detail, Refusal why)
{
    if (detail) {
        *detail = refusedDetail(why);
        detail->link = FrameLink::Rtu;
    }
    return ResultFailure;
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

RtuFrame::ReplySpan RtuFrame::findReply(const std::uint8_t *bytes, std::size_t length,
                                        std::uint8_t unitId, std::uint8_t functionCode,
                                        std::uint16_t goodTail, int byteCount)
{
    const std::uint8_t exceptionCode = functionCode | ExceptionBit;
    const std::size_t goodLength = std::size_t(goodTail) + 1;
    const std::size_t exceptionLength = std::size_t(ExceptionTail) + 1;
    const long good = firstCheckedWindow(bytes, length, goodLength, [&](std::size_t i) {
        return bytes[i] == unitId && bytes[i + 1] == functionCode &&
               (byteCount < 0 || bytes[i + 2] == byteCount);
    });
    const long exception = firstCheckedWindow(bytes, length, exceptionLength, [&](std::size_t i) {
        return bytes[i] == unitId && bytes[i + 1] == exceptionCode;
    });
    ReplySpan span;
    if (exception >= 0 && (good < 0 || exception < good))
        span = {exception, std::uint16_t(exceptionLength), true};
    else if (good >= 0)
        span = {good, std::uint16_t(goodLength), false};
    return span;
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
                                std::uint16_t *values, FrameTap *tap, ExchangeDetail *detail)
{
    if (!ModbusPdu::countFits(count, RtuMaxReadCount))
        return refuse(detail, Refusal::Count);
    std::uint8_t frame[RequestBufferSize] = {unitId};
    const std::size_t pdu = ModbusPdu::buildRead(frame + 1, functionCode, start, count);
    std::uint8_t reply[ReplyBufferSize] = {};
    std::uint16_t replyLength = 0;
    const RegisterResult result =
        run(comms, frame, pdu, FrameKind::Read, count, timeout, reply, replyLength, tap, detail);
    if (result == ResultGood)
        RtuFrame::storeReadValues(reply, replyLength, count, values);
    return result;
}

RegisterResult RtuWriteRegister(TVeskComms &comms, std::uint8_t unitId, std::uint8_t functionCode,
                                std::uint16_t reg, std::uint16_t value, std::uint16_t timeout,
                                FrameTap *tap, ExchangeDetail *detail)
{
    std::uint8_t frame[RequestBufferSize] = {unitId};
    const std::size_t pdu = ModbusPdu::buildWriteOne(frame + 1, functionCode, reg, value);
    std::uint8_t reply[ReplyBufferSize] = {};
    std::uint16_t replyLength = 0;
    return run(comms, frame, pdu, FrameKind::WriteOne, 1, timeout, reply, replyLength, tap, detail);
}

RegisterResult RtuWriteRegisters(TVeskComms &comms, std::uint8_t unitId, std::uint8_t functionCode,
                                 std::uint16_t start, std::uint16_t count,
                                 const std::uint16_t *values, std::uint16_t timeout, FrameTap *tap,
                                 ExchangeDetail *detail)
{
    if (!ModbusPdu::countFits(count, RtuMaxWriteCount))
        return refuse(detail, Refusal::Count);
    std::uint8_t frame[RequestBufferSize] = {unitId};
    const std::size_t pdu =
        ModbusPdu::buildWriteMany(frame + 1, functionCode, start, count, values);
    std::uint8_t reply[ReplyBufferSize] = {};
    std::uint16_t replyLength = 0;
    return run(comms, frame, pdu, FrameKind::WriteMany, count, timeout, reply, replyLength, tap,
               detail);
}
