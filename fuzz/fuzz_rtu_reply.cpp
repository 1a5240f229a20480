// Feeds arbitrary bytes, in arbitrary block splits, to the serial component's
// block handler with the reply rules of an RTU read installed, then takes the
// reply out as the RTU read does and checks it. Whatever arrives, nothing may
// be read or written outside the receive buffer, the copy or the values, and a
// reply the read accepts fills every value asked for. The same bytes go to the
// resynchronising reply search and the PDU judge: a frame the search finds
// lies inside the bytes, carries its CRC, and is a reply the judge accepts.

#include "ModBusPro.h"
#include "ModbusPdu.h"
#include "RxCondition.h"
#include "VeskComms.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr std::uint16_t Canary = 0xC5C5;

struct Input
{
    const std::uint8_t *data;
    std::size_t size;
    std::size_t pos = 0;
    std::uint8_t take() { return pos < size ? data[pos++] : 0; }
};

// Processes the rest of the input in blocks whose sizes the input chooses.
void feedBlocks(TVeskComms &comms, Input &in, std::uint8_t splits)
{
    std::size_t segment = (splits & 0x1F) + 1;
    while (in.pos < in.size) {
        const std::size_t n = std::min(segment, in.size - in.pos);
        comms.ProcessRxData(in.data + in.pos, n);
        in.pos += n;
        segment = segment * 5 % 37 + 1;
    }
}

void takeReply(const TVeskComms &comms, std::uint16_t count)
{
    std::uint8_t reply[256];
    std::memset(reply, 0xAB, sizeof reply);
    const std::uint16_t length = comms.GetRxData(1, reply, RtuMaxReplyBytes, 0, -1, -1);
    if (length > RtuMaxReplyBytes || reply[length] != 0)
        std::abort();
    std::uint16_t values[RtuMaxReadCount + 1];
    for (std::uint16_t &v : values)
        v = Canary;
    if (RtuFrame::crcMatches(reply, length)) {
        const int stored = RtuFrame::storeReadValues(reply, length, count, values);
        if (stored < 0 || stored > count)
            std::abort();
        // A reply the read accepts carries every register asked for.
        const bool accepted = RtuFrame::replyFits(reply, length, std::uint16_t(2 * count + 4)) &&
                              reply[2] == 2 * count;
        if (accepted && stored != count)
            std::abort();
    }
    for (int i = count; i <= RtuMaxReadCount; ++i) {
        if (values[i] != Canary)
            std::abort();
    }
}

// Searches the bytes for the reply to a read of `count` registers from 0 at
// unit 0x14 and judges what it finds as the exchange does.
void searchReply(const std::uint8_t *bytes, std::size_t length, std::uint16_t count)
{
    const auto goodTail = std::uint16_t(2 * count + 4);
    const RtuFrame::ReplySpan span =
        RtuFrame::findReply(bytes, length, 0x14, 107, goodTail, 2 * count);
    if (span.at < 0)
        return;
    const std::size_t at = std::size_t(span.at);
    if (at + span.length > length || span.length < 5 || bytes[at] != 0x14 ||
        !RtuFrame::crcMatches(bytes + at, span.length))
        std::abort();
    std::uint8_t request[ModbusPdu::RequestHeadLength];
    ModbusPdu::buildRead(request, 107, 0, count);
    const ModbusPdu::Verdict v =
        ModbusPdu::judgeReply(FrameKind::Read, request, bytes + at + 1, span.length - 3u);
    const FrameOutcome expected = span.exception ? FrameOutcome::Exception : FrameOutcome::Good;
    if (v.outcome != expected || (span.exception && v.exceptionCode != bytes[at + 2]))
        std::abort();
    if (!span.exception) {
        std::uint16_t values[RtuMaxReadCount + 1];
        for (std::uint16_t &value : values)
            value = Canary;
        ModbusPdu::storeReadValues(bytes + at + 1, count, values);
        if (values[count] != Canary)
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Input in{data, size};
    const std::uint16_t count = std::uint16_t(in.take() % RtuMaxReadCount + 1);
    const std::uint8_t splits = in.take();
    // Small buffers reach the overflow position quickly.
    const std::uint16_t bufferSize = (splits & 0x20) ? 200 : std::uint16_t(in.take() % 64);

    searchReply(in.data + in.pos, in.size - in.pos, count);

    TVeskComms comms;
    comms.RxBufferSize = bufferSize;
    comms.PrepareRxBuffer();
    TRxCondition condition;
    RtuFrame::addReplyRules(condition, 0x14, 107, std::uint16_t(2 * count + 4));
    comms.SetRxCondition(&condition);
    comms.ResetRxCondition();
    feedBlocks(comms, in, splits);
    if (comms.RxHead() >= std::max<std::uint16_t>(bufferSize, 1))
        std::abort();
    const int k = comms.FindComplete();
    if (k == 1)
        takeReply(comms, count);
    // Any part sizes, for any rule number, stay inside the copy's bounds.
    std::uint8_t copy[64];
    const std::uint16_t maxLen = std::uint16_t(splits % 63);
    copy[maxLen + 1] = 0x5A;
    const std::uint16_t n =
        comms.GetRxData(std::uint16_t(splits >> 6), copy, maxLen, std::int8_t(count),
                        std::int8_t(splits) / 4, std::int8_t(bufferSize) - 20);
    if (n > maxLen || copy[n] != 0 || copy[maxLen + 1] != 0x5A)
        std::abort();
    comms.ClearRxCondition();
    return 0;
}
