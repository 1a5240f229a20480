// Feeds arbitrary bytes, in arbitrary segment splits, as the reply to each of
// the three Modbus TCP operations. Whatever arrives, an operation must return
// one of its result codes, read nothing past what was received, and leave a
// read's values untouched unless it reports a good reply. Half of the runs
// have a frame tap attached, whose records are then written out as lines:
// decoding and formatting must hold for whatever arrived.

#include "FrameFormat.h"
#include "ModBusTCPPro.h"
#include "ScriptedStream.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// The first bytes steer the run: operation, count, segment sizes; the rest is
// the reply as received.
struct Input
{
    const std::uint8_t *data;
    std::size_t size;
    std::size_t pos = 0;
    std::uint8_t take() { return pos < size ? data[pos++] : 0; }
};

ScriptedStream scriptFrom(Input &in, std::uint16_t transaction)
{
    ScriptedStream stream;
    const std::uint8_t splits = in.take();
    ScriptedStream::Bytes reply(in.data + in.pos, in.data + in.size);
    // Let a fraction of runs carry the right transaction id, so the fuzzer
    // gets past the first check without having to guess the counter.
    if ((splits & 0x80) && reply.size() >= 2) {
        reply[0] = std::uint8_t(transaction >> 8);
        reply[1] = std::uint8_t(transaction);
    }
    std::size_t at = 0;
    int segment = (splits & 0x0F) + 1;
    while (at < reply.size()) {
        const std::size_t n = std::min<std::size_t>(std::size_t(segment), reply.size() - at);
        stream.queue(ScriptedStream::Bytes(reply.begin() + long(at), reply.begin() + long(at + n)));
        at += n;
        segment = segment * 3 % 17 + 1;
    }
    return stream;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Input in{data, size};
    const std::uint8_t steer = in.take();
    const std::uint8_t operation = steer % 3;
    static FrameLog log(4);
    FrameTap *tap = (steer & 0x80) ? &log : nullptr;
    const std::uint16_t count = std::uint16_t(in.take() % (TcpMaxReadCount + 2));
    const std::uint16_t sentTransaction = std::uint16_t(in.take() << 8 | in.take());
    ScriptedStream stream = scriptFrom(in, sentTransaction);
    stream.TransactionId = sentTransaction;

    RegisterResult result = ResultNoReply;
    if (operation == 0) {
        std::uint16_t values[TcpMaxReadCount + 2];
        std::memset(values, 0xAB, sizeof values);
        result = TcpReadRegisters(stream, 21, 107, 0, count, 10, values, tap);
        // Entries beyond count must never be written, whatever the reply says.
        for (std::size_t i = count; i < TcpMaxReadCount + 2; ++i)
            if (values[i] != 0xABAB)
                std::abort();
        if (result != ResultGood)
            for (std::size_t i = 0; i < count; ++i)
                if (values[i] != 0xABAB)
                    std::abort();
    } else if (operation == 1) {
        result = TcpWriteRegister(stream, 19, 103, 29, 7109, 10, tap);
    } else {
        std::uint16_t values[TcpMaxWriteCount] = {};
        result = TcpWriteRegisters(stream, 20, 109, 7, std::uint16_t(count % 13), values, 10, tap);
    }
    if (int(result) < -1 || int(result) > 2)
        std::abort();
    if (std::uint16_t(sentTransaction + 1) != stream.TransactionId)
        std::abort();
    if (tap) {
        std::vector<FrameRecord> records;
        log.copySince(0, records);
        for (const FrameRecord &r : records)
            if (frameLine(r).isEmpty() || frameCsvRow(r).isEmpty())
                std::abort();
        log.clear();
    }
    return 0;
}
