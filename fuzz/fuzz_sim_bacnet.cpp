// Arbitrary bytes as a BACnet/IP datagram into the simulator's BACnet side:
// no crash, no read past the datagram, and every answer is a whole BACnet/IP
// datagram that fits the reply buffer.

#include "BacnetDevice.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Bacnet::Identity identity;
    identity.instance = 5173;
    identity.nameLength = 5;
    for (int i = 0; i < identity.nameLength; ++i)
        identity.name[i] = "Plant"[i];
    Bacnet::Reply reply;
    const char *why = nullptr;
    const Bacnet::Outcome outcome = Bacnet::answer(data, size, identity, reply, &why);
    if (why == nullptr)
        std::abort();
    if (outcome == Bacnet::Outcome::Answered &&
        (reply.size < 8 || reply.size > sizeof reply.bytes || reply.bytes[0] != 0x81 ||
         std::size_t((reply.bytes[2] << 8) | reply.bytes[3]) != reply.size))
        std::abort();
    return 0;
}
