#include "BacnetDevice.h"

#include "UnitModel.h"

#include <cstring>

namespace Bacnet {

namespace {

constexpr int BacnetUnit = 22;

constexpr std::uint8_t BvlcType = 0x81;
constexpr std::uint8_t OriginalUnicast = 0x0A;
constexpr std::uint8_t OriginalBroadcast = 0x0B;
constexpr std::uint8_t NpduVersion = 0x01;

// NPDU control bits.
constexpr std::uint8_t NetworkMessage = 0x80;
constexpr std::uint8_t HasDestination = 0x20;
constexpr std::uint8_t HasSource = 0x08;
constexpr std::uint16_t GlobalBroadcastNet = 0xFFFF;

// APDU types and flags (high nibble is the type).
constexpr std::uint8_t ConfirmedRequest = 0x00;
constexpr std::uint8_t UnconfirmedRequest = 0x10;
constexpr std::uint8_t ComplexAck = 0x30;
constexpr std::uint8_t ErrorPdu = 0x50;
constexpr std::uint8_t SegmentedMessage = 0x08;

constexpr std::uint8_t ServiceIAm = 0x00;
constexpr std::uint8_t ServiceWhoIs = 0x08;
constexpr std::uint8_t ServiceReadProperty = 0x0C;

// Application tag numbers.
constexpr int TagUnsigned = 2;
constexpr int TagCharacterString = 7;
constexpr int TagEnumerated = 9;
constexpr int TagObjectId = 12;

// Device object properties served.
enum Property : std::uint32_t
{
    MaxApduLengthAccepted = 62,
    ModelNameProperty = 70,
    ObjectIdentifier = 75,
    ObjectName = 77,
    ObjectType = 79,
    ProtocolVersionProperty = 98,
    SegmentationSupported = 107,
    VendorIdentifier = 120,
    ProtocolRevisionProperty = 139,
};

constexpr std::uint32_t NoSegmentation = 3;
constexpr std::uint32_t ErrorClassObject = 1;
constexpr std::uint32_t ErrorClassProperty = 2;
constexpr std::uint32_t UnknownObject = 31;
constexpr std::uint32_t UnknownProperty = 32;
constexpr std::uint32_t PropertyIsNotAnArray = 50;

// A cursor over the received bytes that never passes their end: every take
// fails once the bytes run out, and the failure sticks.
class Reader
{
public:
    Reader(const std::uint8_t *data, std::size_t size) : m_data(data), m_size(size) {}

    bool ok() const { return m_ok; }
    bool atEnd() const { return m_at == m_size; }
    std::size_t left() const { return m_size - m_at; }

    std::uint8_t byte()
    {
        if (!m_ok || m_at >= m_size) {
            m_ok = false;
            return 0;
        }
        return m_data[m_at++];
    }
    std::uint32_t bigEndian(std::size_t count)
    {
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < count; ++i)
            value = value << 8 | byte();
        return value;
    }
    void skip(std::size_t count)
    {
        if (!m_ok || count > left())
            m_ok = false;
        else
            m_at += count;
    }

    // A context-tagged value of 1 to 4 octets with this tag number; fails on
    // any other tag, an opening or closing tag, or an extended length.
    bool contextUnsigned(int tag, std::uint32_t *value)
    {
        const std::uint8_t head = byte();
        const std::size_t length = head & 0x07;
        if (!m_ok || (head >> 4) != tag || (head & 0x08) == 0 || length < 1 || length > 4 ||
            length > left()) {
            m_ok = false;
            return false;
        }
        *value = bigEndian(length);
        return m_ok;
    }
    bool nextIsContext(int tag) const
    {
        return m_ok && m_at < m_size && (m_data[m_at] >> 4) == tag && (m_data[m_at] & 0x08) != 0;
    }

private:
    const std::uint8_t *m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
    bool m_ok = true;
};

// Appends to a Reply, never past its end (the answers are short and their
// longest form fits; a write past it is dropped rather than overrun).
class Writer
{
public:
    explicit Writer(Reply &reply) : m_reply(reply) { m_reply.size = 0; }

    void byte(std::uint32_t value)
    {
        if (m_reply.size < sizeof m_reply.bytes)
            m_reply.bytes[m_reply.size++] = std::uint8_t(value);
    }
    void bigEndian(std::uint32_t value, int count)
    {
        for (int i = count - 1; i >= 0; --i)
            byte(value >> (8 * i));
    }
    // Shortest big-endian form of an unsigned, 1 to 4 octets.
    static int octets(std::uint32_t value)
    {
        return value < 0x100 ? 1 : value < 0x10000 ? 2 : value < 0x1000000 ? 3 : 4;
    }
    void applicationUnsigned(int tag, std::uint32_t value)
    {
        const int n = octets(value);
        byte(std::uint32_t(tag << 4 | n));
        bigEndian(value, n);
    }
    void contextUnsigned(int tag, std::uint32_t value)
    {
        const int n = octets(value);
        byte(std::uint32_t(tag << 4 | 0x08 | n));
        bigEndian(value, n);
    }
    void objectId(std::uint32_t instance)
    {
        byte(TagObjectId << 4 | 4);
        bigEndian(DeviceType << 22 | instance, 4);
    }
    // Character set 0 (UTF-8; plain ASCII here) and the characters.
    void characterString(const char *text, int length)
    {
        const int valueLength = length + 1;
        if (valueLength <= 4) {
            byte(std::uint32_t(TagCharacterString << 4 | valueLength));
        } else {
            byte(TagCharacterString << 4 | 5);
            byte(std::uint32_t(valueLength)); // names are far below the 254 needing more
        }
        byte(0);
        for (int i = 0; i < length; ++i)
            byte(std::uint8_t(text[i]));
    }
    // BVLC header: written first with a placeholder length, fixed by finish().
    void begin()
    {
        byte(BvlcType);
        byte(OriginalUnicast);
        byte(0);
        byte(0);
        byte(NpduVersion);
        byte(0); // NPDU control: normal priority, no addresses
    }
    void finish()
    {
        m_reply.bytes[2] = std::uint8_t(m_reply.size >> 8);
        m_reply.bytes[3] = std::uint8_t(m_reply.size & 0xFF);
    }

private:
    Reply &m_reply;
};

Outcome malformed(const char **why, const char *reason)
{
    *why = reason;
    return Outcome::Malformed;
}

Outcome whoIs(Reader &in, const Identity &identity, Reply &reply, const char **why)
{
    if (!in.atEnd()) {
        std::uint32_t low = 0;
        std::uint32_t high = 0;
        // Both limits or neither; nothing after them.
        if (!in.contextUnsigned(0, &low) || !in.contextUnsigned(1, &high) || !in.atEnd())
            return malformed(why, "who-is range");
        if (low > WildcardInstance || high > WildcardInstance)
            return malformed(why, "who-is limit above 4194303");
        if (identity.instance < low || identity.instance > high) {
            *why = "who-is range excludes this device";
            return Outcome::NotForUs;
        }
    }
    Writer out(reply);
    out.begin();
    out.byte(UnconfirmedRequest);
    out.byte(ServiceIAm);
    out.objectId(identity.instance);
    out.applicationUnsigned(TagUnsigned, MaxApduAccepted);
    out.applicationUnsigned(TagEnumerated, NoSegmentation);
    out.applicationUnsigned(TagUnsigned, SimVendorId);
    out.finish();
    *why = "i-am";
    return Outcome::Answered;
}

void errorReply(Writer &out, std::uint8_t invokeId, std::uint32_t errorClass,
                std::uint32_t errorCode)
{
    out.byte(ErrorPdu);
    out.byte(invokeId);
    out.byte(ServiceReadProperty);
    out.applicationUnsigned(TagEnumerated, errorClass);
    out.applicationUnsigned(TagEnumerated, errorCode);
}

// Writes the application-tagged value of a served property; false when the
// Device object has no such property.
bool propertyValue(Writer &out, std::uint32_t property, const Identity &identity)
{
    switch (property) {
    case ObjectIdentifier:
        out.objectId(identity.instance);
        return true;
    case ObjectName:
        out.characterString(identity.name, identity.nameLength);
        return true;
    case ObjectType:
        out.applicationUnsigned(TagEnumerated, DeviceType);
        return true;
    case VendorIdentifier:
        out.applicationUnsigned(TagUnsigned, SimVendorId);
        return true;
    case ModelNameProperty:
        out.characterString(ModelName, int(std::strlen(ModelName)));
        return true;
    case ProtocolVersionProperty:
        out.applicationUnsigned(TagUnsigned, ProtocolVersion);
        return true;
    case ProtocolRevisionProperty:
        out.applicationUnsigned(TagUnsigned, ProtocolRevision);
        return true;
    case MaxApduLengthAccepted:
        out.applicationUnsigned(TagUnsigned, MaxApduAccepted);
        return true;
    case SegmentationSupported:
        out.applicationUnsigned(TagEnumerated, NoSegmentation);
        return true;
    default:
        return false;
    }
}

Outcome readProperty(Reader &in, std::uint8_t invokeId, const Identity &identity, Reply &reply,
                     const char **why)
{
    // Context 0: the object identifier, always four octets.
    if (in.byte() != 0x0C || in.left() < 4)
        return malformed(why, "read-property object identifier");
    const std::uint32_t objectId = in.bigEndian(4);
    std::uint32_t property = 0;
    if (!in.contextUnsigned(1, &property))
        return malformed(why, "read-property property identifier");
    bool hasIndex = false;
    std::uint32_t index = 0;
    if (in.nextIsContext(2)) {
        if (!in.contextUnsigned(2, &index))
            return malformed(why, "read-property array index");
        hasIndex = true;
    }
    if (!in.ok() || !in.atEnd())
        return malformed(why, "read-property trailing bytes");

    Writer out(reply);
    out.begin();
    const std::uint32_t type = objectId >> 22;
    const std::uint32_t instance = objectId & WildcardInstance;
    *why = "read-property";
    if (type != DeviceType || (instance != identity.instance && instance != WildcardInstance)) {
        errorReply(out, invokeId, ErrorClassObject, UnknownObject);
    } else {
        Reply value;
        Writer valueOut(value);
        if (!propertyValue(valueOut, property, identity)) {
            errorReply(out, invokeId, ErrorClassProperty, UnknownProperty);
        } else if (hasIndex) {
            // None of the served properties is an array.
            errorReply(out, invokeId, ErrorClassProperty, PropertyIsNotAnArray);
        } else {
            out.byte(ComplexAck);
            out.byte(invokeId);
            out.byte(ServiceReadProperty);
            out.byte(0x0C); // the device's own identifier, also when asked by wildcard
            out.bigEndian(DeviceType << 22 | identity.instance, 4);
            out.contextUnsigned(1, property);
            out.byte(0x3E);
            for (std::size_t i = 0; i < value.size; ++i)
                out.byte(value.bytes[i]);
            out.byte(0x3F);
        }
    }
    out.finish();
    return Outcome::Answered;
}

// Skips the NPDU's address fields. Messages routed from another network
// (a source address) are not served: the simulator is no router and would
// need one to answer them. A destination is accepted only as the global
// broadcast, which a Who-Is may carry.
bool skipNpduAddresses(Reader &in, std::uint8_t control, const char **why)
{
    if (control & HasDestination) {
        const std::uint32_t net = in.bigEndian(2);
        in.skip(in.byte());
        if (!in.ok() || net != GlobalBroadcastNet) {
            *why = "npdu destination is another network";
            return false;
        }
    }
    if (control & HasSource) {
        *why = "npdu from another network";
        return false;
    }
    if (control & HasDestination)
        in.byte(); // hop count
    if (!in.ok()) {
        *why = "npdu truncated";
        return false;
    }
    return true;
}

} // namespace

Identity identityOf(const UnitModel &model)
{
    Identity identity;
    identity.instance =
        std::uint32_t(model.value(BacnetUnit, 1) & 63) << 16 | model.value(BacnetUnit, 2);
    const auto byteAt = [&model](int i) {
        const std::uint16_t word = model.value(BacnetUnit, 3 + i / 2);
        return char(i % 2 == 0 ? word >> 8 : word & 0xFF);
    };
    const int declared = std::uint8_t(byteAt(1));
    identity.nameLength = declared <= 1 ? 0 : declared - 1 > 19 ? 19 : declared - 1;
    for (int i = 0; i < identity.nameLength; ++i)
        identity.name[i] = byteAt(3 + i);
    return identity;
}

Outcome answer(const std::uint8_t *datagram, std::size_t size, const Identity &identity,
               Reply &reply, const char **why)
{
    reply.size = 0;
    if (size > MaxDatagram)
        return malformed(why, "datagram longer than 1497 bytes");
    Reader in(datagram, size);
    if (in.byte() != BvlcType)
        return malformed(why, "not BACnet/IP");
    const std::uint8_t function = in.byte();
    const std::uint32_t length = in.bigEndian(2);
    if (!in.ok() || length != size)
        return malformed(why, "bvlc length disagrees with the datagram");
    if (function != OriginalUnicast && function != OriginalBroadcast)
        return malformed(why, "bvlc function not served");

    const std::uint8_t version = in.byte();
    const std::uint8_t control = in.byte();
    if (!in.ok() || version != NpduVersion)
        return malformed(why, "npdu version");
    if (control & NetworkMessage)
        return malformed(why, "network-layer message");
    if (!skipNpduAddresses(in, control, why))
        return Outcome::Malformed;

    const std::uint8_t pduType = in.byte();
    if (!in.ok())
        return malformed(why, "no apdu");
    if (pduType == UnconfirmedRequest) {
        const std::uint8_t service = in.byte();
        if (!in.ok() || service != ServiceWhoIs)
            return malformed(why, "unconfirmed service not served");
        return whoIs(in, identity, reply, why);
    }
    if ((pduType & 0xF0) == ConfirmedRequest) {
        if (pduType & SegmentedMessage)
            return malformed(why, "segmented request");
        in.byte(); // maximum segments and APDU size the requester accepts
        const std::uint8_t invokeId = in.byte();
        const std::uint8_t service = in.byte();
        if (!in.ok() || service != ServiceReadProperty)
            return malformed(why, "confirmed service not served");
        return readProperty(in, invokeId, identity, reply, why);
    }
    return malformed(why, "apdu type not served");
}

bool asBroadcastIAm(Reply &reply)
{
    // Every answer starts with the 4-byte BVLC header and a 2-byte NPDU
    // without addresses, so the APDU begins at byte 6.
    if (reply.size < 8 || reply.bytes[1] != OriginalUnicast ||
        reply.bytes[6] != UnconfirmedRequest || reply.bytes[7] != ServiceIAm)
        return false;
    reply.bytes[1] = OriginalBroadcast;
    return true;
}

} // namespace Bacnet
