#pragma once

// The simulated unit's BACnet/IP side: the Device object that the unit
// presents for its G50 network, answering Who-Is with I-Am and ReadProperty
// of the Device object's identity properties. Pure byte work on caller-owned
// buffers: one datagram in, at most one reply out, no allocation, nothing
// read outside the datagram. Written here from scratch: the simulator is the
// independent peer the tool's BACnet client is tested against, so it shares
// no encoding code with it.

#include <cstddef>
#include <cstdint>

class UnitModel;

namespace Bacnet {

// The largest BACnet/IP datagram: a 1476-octet APDU plus the NPDU and BVLC
// headers. Anything longer is not taken.
constexpr std::size_t MaxDatagram = 1497;
constexpr std::uint32_t MaxApduAccepted = 1476;
constexpr std::uint32_t WildcardInstance = 4194303;
constexpr std::uint32_t DeviceType = 8;
// The simulator's vendor identifier. A fixed placeholder that only tests and
// demos see; the real unit reports its maker's own number.
constexpr std::uint32_t SimVendorId = 999;
constexpr const char *ModelName = "Ravelin simulator";
constexpr int ProtocolVersion = 1;
constexpr int ProtocolRevision = 14;

// The Device object's identity as the unit's registers hold it now.
struct Identity
{
    std::uint32_t instance = 0;
    char name[20] = {}; // at most 19 characters, not terminated
    int nameLength = 0;
};

// Reads the Device object identifier (registers 0 to 2) and name (3 to 13)
// of the BACnet block, with the length rules the tool applies when it reads
// them: instance = (register 1 AND 63) * 65536 + register 2; the name is
// byte 1 minus 1 characters from byte 3 on, none for 0 or 1, at most 19.
Identity identityOf(const UnitModel &model);

// What became of one datagram.
enum class Outcome
{
    Answered,  // reply holds the answer
    NotForUs,  // well formed, but no answer is due (a Who-Is range that excludes us)
    Malformed, // dropped: broken framing, a message we do not serve, too long
};

struct Reply
{
    std::uint8_t bytes[64] = {}; // the longest answer (object-name) is well below this
    std::size_t size = 0;
};

// Answers one BACnet/IP datagram. `why` receives a short fixed reason for a
// Malformed or NotForUs outcome (for the log); it is never null on return.
Outcome answer(const std::uint8_t *datagram, std::size_t size, const Identity &identity,
               Reply &reply, const char **why);

// Turns an I-Am answer into an Original-Broadcast-NPDU, for a unit that
// broadcasts its I-Am to the subnet instead of answering the asker. False,
// the reply untouched, for any other answer.
bool asBroadcastIAm(Reply &reply);

} // namespace Bacnet
