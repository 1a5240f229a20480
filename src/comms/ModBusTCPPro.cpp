#include "ModBusTCPPro.h"

#include "DottedQuad.h"

#include <algorithm>
#include <chrono>

thread_local std::uint16_t TransactionId = 0;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int MinimumReply = 8; // header plus the function code
constexpr int ExceptionReplyLength = 9;
constexpr int WriteReplyLength = 12;

// Advances the counter when the exchange ends, however it ends.
struct TransactionAdvance
{
    ~TransactionAdvance() { ++TransactionId; }
};

void putWord(std::uint8_t *at, std::uint16_t value)
{
    at[0] = std::uint8_t(value >> 8);
    at[1] = std::uint8_t(value & 0xFF);
}

std::uint16_t getWord(const std::uint8_t *at)
{
    return std::uint16_t((at[0] << 8) | at[1]);
}

// Header and the first four PDU bytes shared by every request.
void putRequestHead(std::uint8_t *frame, std::uint16_t lengthField, int unitId,
                    std::uint8_t functionCode, std::uint16_t first, std::uint16_t second)
{
    putWord(frame, TransactionId);
    putWord(frame + 2, 0);
    putWord(frame + 4, lengthField);
    frame[6] = std::uint8_t(unitId & 0xFF);
    frame[7] = functionCode;
    putWord(frame + 8, first);
    putWord(frame + 10, second);
}

// Receives more of a reply until `want` bytes are in or the deadline passes.
// Returns false when the reply stays short (timeout, peer closed, error).
bool gather(TcpStream &client, std::uint8_t *reply, int &have, int want, Clock::time_point deadline)
{
    while (have < want) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || !client.waitForData(int(left.count())))
            return false;
        const int n = client.receive(reply + have, want - have);
        if (n <= 0)
            return false;
        have += n;
    }
    return true;
}

// What the exchange asked: the request, its kind and what a good reply must be.
struct Request
{
    const std::uint8_t *frame;
    int length;
    FrameKind kind;
    int unitId;
    std::uint8_t functionCode;
    int goodLength; // 12 for writes, 2n + 9 for a read
};

struct Verdict
{
    RegisterResult result;
    FrameOutcome outcome;
};

Verdict verdict(FrameOutcome outcome)
{
    switch (outcome) {
    case FrameOutcome::Good:
        return {ResultGood, outcome};
    case FrameOutcome::Exception:
        return {ResultException, outcome};
    case FrameOutcome::NoReply:
        return {ResultNoReply, outcome};
    default:
        return {ResultFailure, outcome};
    }
}

// Waits for, receives and judges the reply to a request already sent. `have`
// counts the reply bytes received. On a good verdict the reply buffer holds
// exactly goodLength bytes.
Verdict judge(TcpStream &client, const Request &rq, std::uint16_t timeout, std::uint8_t *reply,
              int &have)
{
    const int waitMs = int(timeout) * 100;
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    have = 0;
    if (!client.waitForData(waitMs))
        return verdict(FrameOutcome::NoReply);

    have = client.receive(reply, rq.goodLength);
    if (have <= 0) {
        have = 0;
        return verdict(FrameOutcome::LinkClosed);
    }
    // A reply may arrive in several segments: collect at least the header and
    // function code before judging it.
    if (!gather(client, reply, have, MinimumReply, deadline))
        return verdict(FrameOutcome::ShortReply);

    if (getWord(reply) != TransactionId)
        return verdict(FrameOutcome::WrongTransaction);
    if (getWord(reply + 2) != 0)
        return verdict(FrameOutcome::WrongProtocol);
    if (reply[6] != rq.unitId)
        return verdict(FrameOutcome::WrongUnit);

    const std::uint8_t replyFunction = reply[7];
    if (replyFunction == std::uint8_t(rq.functionCode | 0x80)) {
        // The exception code completes the reply; take it if it comes, so it
        // is neither lost to the log nor left for the next exchange.
        gather(client, reply, have, ExceptionReplyLength, deadline);
        return verdict(FrameOutcome::Exception);
    }
    if (replyFunction != rq.functionCode)
        return verdict(FrameOutcome::WrongFunction);
    if (getWord(reply + 4) != rq.goodLength - 6)
        return verdict(FrameOutcome::WrongLength);
    // The length field is right: the rest of the reply is owed to us.
    if (!gather(client, reply, have, rq.goodLength, deadline))
        return verdict(FrameOutcome::ShortReply);

    // A read reply that does not carry exactly the registers asked for is
    // refused: storing part of it would leave stale entries looking like
    // fresh values. A write is confirmed only by the echo of what was sent:
    // register and value, or start and count, at bytes 8 to 11 of both.
    if (rq.kind == FrameKind::Read) {
        if (reply[8] != rq.goodLength - 9)
            return verdict(FrameOutcome::WrongLength);
    } else if (!std::equal(rq.frame + 8, rq.frame + 12, reply + 8)) {
        return verdict(FrameOutcome::WrongEcho);
    }
    return verdict(FrameOutcome::Good);
}

// One exchange: drop what nobody waits for, send, judge the reply, and tell
// the tap, if there is one, what happened.
RegisterResult exchange(TcpStream &client, const Request &rq, std::uint16_t timeout,
                        std::uint8_t *reply, FrameTap *tap)
{
    // A reply that arrived after an earlier exchange gave up would otherwise be
    // read as this exchange's reply, and every later exchange would be one behind.
    std::uint8_t stale[TcpFrameBufferSize];
    const std::size_t dropped = client.discardPending(tap ? stale : nullptr, sizeof stale);
    if (!tap) {
        client.send(rq.frame, std::size_t(rq.length));
        int have = 0;
        return judge(client, rq, timeout, reply, have).result;
    }

    if (dropped > 0)
        tap->discarded(FrameLink::Tcp, stale, std::min(dropped, sizeof stale), dropped);
    FrameExchange x;
    x.link = FrameLink::Tcp;
    x.kind = rq.kind;
    x.request = rq.frame;
    x.requestLength = std::size_t(rq.length);
    x.sent = std::chrono::system_clock::now();
    const auto began = Clock::now();
    client.send(rq.frame, std::size_t(rq.length));
    int have = 0;
    const Verdict v = judge(client, rq, timeout, reply, have);
    x.roundTrip = Clock::now() - began;
    x.outcome = v.outcome;
    x.reply = reply;
    x.replyLength = std::size_t(have);
    x.replyAt = have > 0 ? 0 : -1;
    tap->exchanged(x);
    return v.result;
}

} // namespace

RegisterResult TcpReadRegisters(TcpStream &client, int unitId, std::uint8_t functionCode,
                                std::uint16_t start, std::uint16_t count, std::uint16_t timeout,
                                std::uint16_t *values, FrameTap *tap)
{
    TransactionAdvance advance;
    if (count > TcpMaxReadCount)
        return ResultFailure;

    std::uint8_t request[TcpFrameBufferSize];
    std::uint8_t reply[TcpFrameBufferSize];
    putRequestHead(request, 6, unitId, functionCode, start, count);
    const Request rq{request, 12, FrameKind::Read, unitId, functionCode, 2 * count + 9};
    const RegisterResult result = exchange(client, rq, timeout, reply, tap);
    if (result == ResultGood) {
        for (int i = 0; i < count; ++i)
            values[i] = getWord(reply + 9 + 2 * i);
    }
    return result;
}

RegisterResult TcpWriteRegister(TcpStream &client, int unitId, std::uint8_t functionCode,
                                std::uint16_t reg, std::uint16_t value, std::uint16_t timeout,
                                FrameTap *tap)
{
    TransactionAdvance advance;
    std::uint8_t request[TcpFrameBufferSize];
    std::uint8_t reply[TcpFrameBufferSize];
    putRequestHead(request, 6, unitId, functionCode, reg, value);
    const Request rq{request, 12, FrameKind::WriteOne, unitId, functionCode, WriteReplyLength};
    return exchange(client, rq, timeout, reply, tap);
}

RegisterResult TcpWriteRegisters(TcpStream &client, int unitId, std::uint8_t functionCode,
                                 std::uint16_t start, std::uint16_t count,
                                 const std::uint16_t *values, std::uint16_t timeout, FrameTap *tap)
{
    TransactionAdvance advance;
    if (count > TcpMaxWriteCount)
        return ResultFailure;

    std::uint8_t request[TcpFrameBufferSize];
    std::uint8_t reply[TcpFrameBufferSize];
    putRequestHead(request, std::uint16_t(2 * count + 7), unitId, functionCode, start, count);
    request[12] = std::uint8_t(2 * count);
    for (int i = 0; i < count; ++i)
        putWord(request + 13 + 2 * i, values[i]);
    const Request rq{request, 13 + 2 * count, FrameKind::WriteMany,
                     unitId,  functionCode,   WriteReplyLength};
    return exchange(client, rq, timeout, reply, tap);
}

bool ParseIPAddress(const QString &text, int octets[4])
{
    std::array<int, 4> parsed{};
    if (parseDottedQuad(text, StrictAddressRules, parsed) != DottedQuadResult::Good)
        return false;
    std::copy(parsed.begin(), parsed.end(), octets);
    return true;
}
