#include "ModBusTCPPro.h"

#include <algorithm>
#include <chrono>

thread_local std::uint16_t TransactionId = 0;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int MinimumReply = 8; // header plus the function code
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

// One exchange: send, wait, receive and judge the reply. goodLength is the
// size of a good reply (12 for writes, 2n + 9 for a read). On ResultGood the
// reply buffer holds exactly goodLength bytes.
RegisterResult exchange(TcpStream &client, const std::uint8_t *request, int requestLength,
                        int unitId, std::uint8_t functionCode, int goodLength,
                        std::uint16_t timeout, std::uint8_t *reply)
{
    // A reply that arrived after an earlier exchange gave up would otherwise be
    // read as this exchange's reply, and every later exchange would be one behind.
    client.discardPending();
    client.send(request, std::size_t(requestLength));

    const int waitMs = int(timeout) * 100;
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    if (!client.waitForData(waitMs))
        return ResultNoReply;

    int have = client.receive(reply, goodLength);
    if (have <= 0)
        return ResultFailure;
    // A reply may arrive in several segments: collect at least the header and
    // function code before judging it.
    if (!gather(client, reply, have, MinimumReply, deadline))
        return ResultFailure;

    if (getWord(reply) != TransactionId || getWord(reply + 2) != 0 || reply[6] != unitId)
        return ResultFailure;

    const std::uint8_t replyFunction = reply[7];
    if (replyFunction == std::uint8_t(functionCode | 0x80))
        return ResultException;
    if (replyFunction != functionCode)
        return ResultFailure;
    if (getWord(reply + 4) != goodLength - 6)
        return ResultFailure;
    // The length field is right: the rest of the reply is owed to us.
    if (!gather(client, reply, have, goodLength, deadline))
        return ResultFailure;
    return ResultGood;
}

// A write is confirmed only by a reply that echoes what was sent: register
// and value for a single write, start and count for a block write. Both sit
// at bytes 8 to 11 of request and reply.
RegisterResult confirmedByEcho(RegisterResult result, const std::uint8_t *request,
                               const std::uint8_t *reply)
{
    if (result == ResultGood && !std::equal(request + 8, request + 12, reply + 8))
        return ResultFailure;
    return result;
}

} // namespace

RegisterResult TcpReadRegisters(TcpStream &client, int unitId, std::uint8_t functionCode,
                                std::uint16_t start, std::uint16_t count, std::uint16_t timeout,
                                std::uint16_t *values)
{
    TransactionAdvance advance;
    if (count > TcpMaxReadCount)
        return ResultFailure;

    std::uint8_t request[TcpFrameBufferSize];
    std::uint8_t reply[TcpFrameBufferSize];
    putRequestHead(request, 6, unitId, functionCode, start, count);
    const int goodLength = 2 * count + 9;
    const RegisterResult result =
        exchange(client, request, 12, unitId, functionCode, goodLength, timeout, reply);
    if (result != ResultGood)
        return result;

    // A reply that does not carry exactly the registers asked for is refused:
    // storing part of it would leave stale entries looking like fresh values.
    if (reply[8] != 2 * count)
        return ResultFailure;
    for (int i = 0; i < count; ++i)
        values[i] = getWord(reply + 9 + 2 * i);
    return ResultGood;
}

RegisterResult TcpWriteRegister(TcpStream &client, int unitId, std::uint8_t functionCode,
                                std::uint16_t reg, std::uint16_t value, std::uint16_t timeout)
{
    TransactionAdvance advance;
    std::uint8_t request[TcpFrameBufferSize];
    std::uint8_t reply[TcpFrameBufferSize];
    putRequestHead(request, 6, unitId, functionCode, reg, value);
    return confirmedByEcho(
        exchange(client, request, 12, unitId, functionCode, WriteReplyLength, timeout, reply),
        request, reply);
}

RegisterResult TcpWriteRegisters(TcpStream &client, int unitId, std::uint8_t functionCode,
                                 std::uint16_t start, std::uint16_t count,
                                 const std::uint16_t *values, std::uint16_t timeout)
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
    return confirmedByEcho(exchange(client, request, 13 + 2 * count, unitId, functionCode,
                                    WriteReplyLength, timeout, reply),
                           request, reply);
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
