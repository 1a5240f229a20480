// Feeds arbitrary bytes, in arbitrary block splits, to the serial component's
// block handler with the reply rules of an RTU read installed, then takes the
// reply out as the RTU read does and checks it. Whatever arrives, nothing may
// be read or written outside the receive buffer, the copy or the values, and a
// reply the read accepts fills every value asked for.

#include "ModBusPro.h"
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Input in{data, size};
    const std::uint16_t count = std::uint16_t(in.take() % RtuMaxReadCount + 1);
    const std::uint8_t splits = in.take();
    // Small buffers reach the overflow position quickly.
    const std::uint16_t bufferSize = (splits & 0x20) ? 200 : std::uint16_t(in.take() % 64);

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
