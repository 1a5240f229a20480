#include "ModBusTCPPro.h"

#include "ModbusPdu.h"

#include <algorithm>
#include <chrono>

// The MBAP framing: a seven-byte header (transaction id, protocol id 0,
// length of what follows, unit id) before the PDU.

namespace {

using Clock = std::chrono::steady_clock;
using ModbusPdu::getWord;
using ModbusPdu::putWord;

constexpr int HeaderLength = 7;
constexpr int MinimumReply = HeaderLength + 1; // the header plus the function code

// Advances the stream's counter when the exchange ends, however it ends.
struct TransactionAdvance
{
    TcpStream &client;
    ~TransactionAdvance() { ++client.TransactionId; }
};

// Puts the header before a PDU already built at frame + HeaderLength;
// returns the frame's length.
int wrap(std::uint8_t *frame, std::uint16_t transaction, int unitId, std::size_t pduLength)
{
    putWord(frame, transaction);
    putWord(frame + 2, 0);
    putWord(frame + 4, std::uint16_t(pduLength + 1));
    frame[6] = std::uint8_t(unitId & 0xFF);
    return HeaderLength + int(pduLength);
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
    int goodLength; // header plus the good reply PDU: 12 for writes, 2n + 9 for a read

    const std::uint8_t *pdu() const { return frame + HeaderLength; }
};

RegisterResult resultOf(FrameOutcome outcome)
{
    switch (outcome) {
    case FrameOutcome::Good:
        return ResultGood;
    case FrameOutcome::Exception:
        return ResultException;
    case FrameOutcome::NoReply:
        return ResultNoReply;
    default:
        return ResultFailure;
    }
}

// Waits for, receives and judges the reply to a request already sent. `have`
// counts the reply bytes received. On a good verdict the reply buffer holds
// exactly goodLength bytes.
ModbusPdu::Verdict judge(TcpStream &client, const Request &rq, std::uint16_t timeout,
                         std::uint8_t *reply, int &have)
{
    const int waitMs = int(timeout) * 100;
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    have = 0;
    if (!client.waitForData(waitMs))
        return {FrameOutcome::NoReply};

    have = client.receive(reply, rq.goodLength);
    if (have <= 0) {
        have = 0;
        return {FrameOutcome::LinkClosed};
    }
    // A reply may arrive in several segments: collect at least the header and
    // function code before judging it.
    if (!gather(client, reply, have, MinimumReply, deadline))
        return {FrameOutcome::ShortReply};

    if (getWord(reply) != client.TransactionId)
        return {FrameOutcome::WrongTransaction};
    if (getWord(reply + 2) != 0)
        return {FrameOutcome::WrongProtocol};
    if (reply[6] != rq.unitId)
        return {FrameOutcome::WrongUnit};

    const std::uint8_t replyFunction = reply[HeaderLength];
    if (replyFunction == std::uint8_t(rq.pdu()[0] | ModbusPdu::ExceptionBit)) {
        // The exception code completes the reply; take it if it comes, so it
        // is neither lost to the log nor left for the next exchange. Its
        // length field is not examined.
        gather(client, reply, have, HeaderLength + int(ModbusPdu::ExceptionReplyLength), deadline);
    } else if (replyFunction == rq.pdu()[0]) {
        if (getWord(reply + 4) != rq.goodLength - 6)
            return {FrameOutcome::WrongLength};
        // The length field is right: the rest of the reply is owed to us.
        if (!gather(client, reply, have, rq.goodLength, deadline))
            return {FrameOutcome::ShortReply};
    }
    return ModbusPdu::judgeReply(rq.kind, rq.pdu(), reply + HeaderLength,
                                 std::size_t(have - HeaderLength));
}

// One exchange: drop what nobody waits for, send, judge the reply, and tell
// the tap, if there is one, what happened.
ModbusPdu::Verdict exchange(TcpStream &client, const Request &rq, std::uint16_t timeout,
                            std::uint8_t *reply, FrameTap *tap)
{
    // A reply that arrived after an earlier exchange gave up would otherwise be
    // read as this exchange's reply, and every later exchange would be one behind.
    std::uint8_t stale[TcpFrameBufferSize];
    const std::size_t dropped = client.discardPending(tap ? stale : nullptr, sizeof stale);
    if (!tap) {
        client.send(rq.frame, std::size_t(rq.length));
        int have = 0;
        return judge(client, rq, timeout, reply, have);
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
    const ModbusPdu::Verdict v = judge(client, rq, timeout, reply, have);
    x.roundTrip = Clock::now() - began;
    x.outcome = v.outcome;
    x.reply = reply;
    x.replyLength = std::size_t(have);
    x.replyAt = have > 0 ? 0 : -1;
    tap->exchanged(x);
    return v;
}

// Runs the exchange of a request whose PDU is built at frame + HeaderLength,
// and reports its detail when asked.
RegisterResult run(TcpStream &client, std::uint8_t *frame, std::size_t pduLength, FrameKind kind,
                   int unitId, std::uint16_t count, std::uint16_t timeout, std::uint8_t *reply,
                   FrameTap *tap, ExchangeDetail *detail)
{
    const int length = wrap(frame, client.TransactionId, unitId, pduLength);
    const int goodLength = HeaderLength + int(ModbusPdu::goodReplyLength(kind, count));
    const Request rq{frame, length, kind, unitId, goodLength};
    const ModbusPdu::Verdict v = exchange(client, rq, timeout, reply, tap);
    if (detail) {
        *detail = ExchangeDetail{};
        detail->outcome = v.outcome;
        detail->exceptionCode = v.exceptionCode;
        detail->timeoutTenths = timeout;
        detail->link = FrameLink::Tcp;
    }
    return resultOf(v.outcome);
}

RegisterResult refuse(ExchangeDetail *detail, Refusal why)
{
    if (detail) {
        *detail = refusedDetail(why);
        detail->link = FrameLink::Tcp;
    }
    return ResultFailure;
}

} // namespace

RegisterResult TcpReadRegisters(TcpStream &client, int unitId, std::uint8_t functionCode,
                                std::uint16_t start, std::uint16_t count, std::uint16_t timeout,
                                std::uint16_t *values, FrameTap *tap, ExchangeDetail *detail)
{
    TransactionAdvance advance{client};
    if (!ModbusPdu::countFits(count, TcpMaxReadCount))
        return refuse(detail, Refusal::Count);

    std::uint8_t request[TcpFrameBufferSize];
    std::uint8_t reply[TcpFrameBufferSize];
    const std::size_t pdu =
        ModbusPdu::buildRead(request + HeaderLength, functionCode, start, count);
    const RegisterResult result =
        run(client, request, pdu, FrameKind::Read, unitId, count, timeout, reply, tap, detail);
    if (result == ResultGood)
        ModbusPdu::storeReadValues(reply + HeaderLength, count, values);
    return result;
}

RegisterResult TcpWriteRegister(TcpStream &client, int unitId, std::uint8_t functionCode,
                                std::uint16_t reg, std::uint16_t value, std::uint16_t timeout,
                                FrameTap *tap, ExchangeDetail *detail)
{
    TransactionAdvance advance{client};
    std::uint8_t request[TcpFrameBufferSize];
    std::uint8_t reply[TcpFrameBufferSize];
    const std::size_t pdu =
        ModbusPdu::buildWriteOne(request + HeaderLength, functionCode, reg, value);
    return run(client, request, pdu, FrameKind::WriteOne, unitId, 1, timeout, reply, tap, detail);
}

RegisterResult TcpWriteRegisters(TcpStream &client, int unitId, std::uint8_t functionCode,
                                 std::uint16_t start, std::uint16_t count,
                                 const std::uint16_t *values, std::uint16_t timeout, FrameTap *tap,
                                 ExchangeDetail *detail)
{
    TransactionAdvance advance{client};
    if (!ModbusPdu::countFits(count, TcpMaxWriteCount))
        return refuse(detail, Refusal::Count);

    std::uint8_t request[TcpFrameBufferSize];
    std::uint8_t reply[TcpFrameBufferSize];
    const std::size_t pdu =
        ModbusPdu::buildWriteMany(request + HeaderLength, functionCode, start, count, values);
    return run(client, request, pdu, FrameKind::WriteMany, unitId, count, timeout, reply, tap,
               detail);
}

namespace {

// Decimal conversion of one address part: leading spaces are skipped; an empty
// part or a space after or between digits gives -1. Large values saturate so
// they fail the range test instead of wrapping into it.
int partValue(const QString &part)
{
    int i = 0;
    while (i < part.size() && part[i] == QLatin1Char(' '))
        ++i;
    if (i == part.size())
        return -1;
    long long value = 0;
    for (; i < part.size(); ++i) {
        const QChar c = part[i];
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
        value = std::min(value * 10 + (c.unicode() - '0'), 1000000LL);
    }
    return int(value);
}

} // namespace

bool ParseIPAddress(const QString &text, int octets[4])
{
    if (text.size() < 7)
        return false;
    int i = 0;
    while (i < text.size() && text[i] == QLatin1Char(' '))
        ++i;

    int part = 0;
    QString partText;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('.')) {
            if (part >= 4)
                return false; // a fifth dot: four entries are already stored
            octets[part] = partValue(partText);
            if (octets[part] < 0 || octets[part] > 255)
                return false;
            partText.clear();
            ++part;
        } else if (c == QLatin1Char(' ') || (c >= QLatin1Char('0') && c <= QLatin1Char('9'))) {
            partText += c;
        } else {
            return false;
        }
    }
    if (part != 3)
        return false;
    octets[3] = partValue(partText);
    return octets[3] >= 0 && octets[3] <= 255;
}
