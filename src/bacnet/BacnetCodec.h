#pragma once

// The part of BACnet/IP the tool speaks to check what a unit announces:
// Who-Is out, I-Am back; ReadProperty of a Device object's properties out,
// its acknowledgement, error, reject or abort back. Plain functions on byte
// arrays, no sockets: every datagram is built and judged here.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

namespace Bacnet {

constexpr std::uint16_t DefaultPort = 47808;
// The largest instance a Device object can have (the wildcard 4194303 is no
// device's instance).
constexpr std::uint32_t MaxInstance = 4194302;
constexpr std::uint32_t DeviceObjectType = 8;
// The largest datagram the tool sends or reads.
constexpr int MaxDatagram = 1497;

// The Device object's properties the tool reads.
enum class Property : std::uint32_t
{
    MaxApduLengthAccepted = 62,
    ModelName = 70,
    ObjectIdentifier = 75,
    ObjectName = 77,
    ObjectType = 79,
    ProtocolVersion = 98,
    SegmentationSupported = 107,
    VendorIdentifier = 120,
    ProtocolRevision = 139,
};

struct ObjectId
{
    std::uint32_t type = 0;
    std::uint32_t instance = 0;
    bool operator==(const ObjectId &o) const { return type == o.type && instance == o.instance; }
};

// Who-Is, optionally limited to a range of device instances (both or none).
struct WhoIs
{
    std::optional<std::uint32_t> low;
    std::optional<std::uint32_t> high;
};

struct IAm
{
    ObjectId device;
    std::uint32_t maxApdu = 0;
    std::uint32_t segmentation = 0; // 0 both, 1 transmit, 2 receive, 3 none
    std::uint32_t vendorId = 0;
};

// A property's value, as far as the tool shows it.
struct PropertyValue
{
    enum class Kind
    {
        Unsigned,
        Enumerated,
        Text,
        Object,
        Other, // a type the tool does not show; `text` says which
    };
    Kind kind = Kind::Other;
    std::uint64_t number = 0; // Unsigned, Enumerated
    QString text;             // Text (decoded), Other (the type)
    ObjectId object;          // Object
};

struct ReadPropertyRequest
{
    std::uint8_t invokeId = 0;
    ObjectId object;
    std::uint32_t property = 0;
};

// What a datagram came to.
struct Reply
{
    enum class Kind
    {
        Malformed, // not a BACnet/IP datagram the tool can read
        Ignored,   // well formed, but nothing the tool asked for
        IAm,
        WhoIs, // another station's Who-Is (the tool's own, looped back)
        PropertyAck,
        Error, // BACnet-Error-PDU
        Reject,
        Abort,
    };
    Kind kind = Kind::Malformed;
    std::uint8_t invokeId = 0;
    IAm iam;
    ObjectId object;              // PropertyAck
    std::uint32_t property = 0;   // PropertyAck
    PropertyValue value;          // PropertyAck
    std::uint32_t errorClass = 0; // Error
    std::uint32_t errorCode = 0;  // Error; the reason of a Reject or Abort
    QString problem;              // Malformed: what was wrong, for the trace
};

// A Who-Is as an Original-Unicast-NPDU, or Original-Broadcast-NPDU for a
// local broadcast.
QByteArray encodeWhoIs(const WhoIs &whoIs, bool broadcast);
// A confirmed ReadProperty request (no segmentation, replies up to 1476 bytes).
QByteArray encodeReadProperty(const ReadPropertyRequest &request);
// Judges a received datagram; never reads outside it.
Reply decodeReply(const QByteArray &datagram);

// "object-name", "unknown-property", for messages and the trace.
QString propertyName(std::uint32_t property);
QString errorText(std::uint32_t errorClass, std::uint32_t errorCode);
QString segmentationText(std::uint32_t segmentation);
QString valueText(const PropertyValue &value);

} // namespace Bacnet
