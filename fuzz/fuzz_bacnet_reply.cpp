// Arbitrary bytes as a BACnet/IP datagram into the tool's reply reader: no
// crash, no read past the datagram, and what it accepts is consistent with
// the bytes it was given.

#include "BacnetCodec.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray datagram(reinterpret_cast<const char *>(data), qsizetype(size));
    const Bacnet::Reply reply = Bacnet::decodeReply(datagram);
    using Kind = Bacnet::Reply::Kind;
    if (reply.kind == Kind::Malformed && reply.problem.isEmpty())
        std::abort(); // a refusal always says why
    if (reply.kind != Kind::Malformed) {
        // Anything read came from a datagram whose header gives its length
        // (four bytes at least: a header-only message is well formed).
        if (size < 4 || data[0] != 0x81 || ((data[2] << 8) | data[3]) != int(size))
            std::abort();
    }
    if (reply.kind == Kind::PropertyAck && reply.value.kind == Bacnet::PropertyValue::Kind::Text &&
        reply.value.text.size() > qsizetype(size))
        std::abort();
    (void)Bacnet::valueText(reply.value);
    return 0;
}
