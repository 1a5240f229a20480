#include "BacnetCodec.h"

#include <QStringDecoder>

namespace Bacnet {

namespace {

constexpr std::uint8_t BvlcType = 0x81;
constexpr std::uint8_t ForwardedNpdu = 0x04;
constexpr std::uint8_t OriginalUnicast = 0x0A;
constexpr std::uint8_t OriginalBroadcast = 0x0B;
constexpr std::uint8_t NpduVersion = 0x01;
constexpr std::uint8_t ExpectingReply = 0x04;
constexpr std::uint8_t ServiceIAm = 0x00;
constexpr std::uint8_t ServiceWhoIs = 0x08;
constexpr std::uint8_t ServiceReadProperty = 0x0C;

// --- Writing ---

void putUnsigned(QByteArray &out, std::uint32_t value, int contextTag)
{
    int length = value > 0xFFFFFF ? 4 : value > 0xFFFF ? 3 : value > 0xFF ? 2 : 1;
    out.append(char((contextTag << 4) | 0x08 | length));
    for (int i = length - 1; i >= 0; --i)
        out.append(char((value >> (8 * i)) & 0xFF));
}

void putObjectId(QByteArray &out, const ObjectId &id, int contextTag)
{
    const std::uint32_t word = (id.type << 22) | (id.instance & 0x3FFFFF);
    out.append(char((contextTag << 4) | 0x08 | 4));
    for (int i = 3; i >= 0; --i)
        out.append(char((word >> (8 * i)) & 0xFF));
}

QByteArray framed(std::uint8_t function, std::uint8_t control, const QByteArray &apdu)
{
    QByteArray out;
    const int length = 4 + 2 + int(apdu.size());
    out.append(char(BvlcType));
    out.append(char(function));
    out.append(char(length >> 8));
    out.append(char(length & 0xFF));
    out.append(char(NpduVersion));
    out.append(char(control));
    out.append(apdu);
    return out;
}

// --- Reading ---

// A cursor over the datagram that refuses to read past its end.
class Cursor
{
public:
    explicit Cursor(const QByteArray &bytes) : m_bytes(bytes) {}
    bool atEnd() const { return m_at >= m_bytes.size(); }
    qsizetype left() const { return m_bytes.size() - m_at; }
    std::optional<std::uint8_t> byte()
    {
        if (atEnd())
            return std::nullopt;
        return std::uint8_t(m_bytes[m_at++]);
    }
    std::optional<std::uint8_t> peek() const
    {
        if (atEnd())
            return std::nullopt;
        return std::uint8_t(m_bytes[m_at]);
    }
    bool skip(qsizetype n)
    {
        if (n < 0 || n > left())
            return false;
        m_at += n;
        return true;
    }
    std::optional<QByteArray> take(qsizetype n)
    {
        if (n < 0 || n > left())
            return std::nullopt;
        const QByteArray part = m_bytes.mid(m_at, n);
        m_at += n;
        return part;
    }

private:
    const QByteArray &m_bytes;
    qsizetype m_at = 0;
};

struct Tag
{
    std::uint32_t number = 0;
    bool context = false;
    bool opening = false;
    bool closing = false;
    std::uint32_t length = 0; // content length; the value itself for an application boolean
};

std::optional<Tag> readTag(Cursor &c)
{
    const std::optional<std::uint8_t> first = c.byte();
    if (!first)
        return std::nullopt;
    Tag tag;
    tag.number = *first >> 4;
    tag.context = (*first & 0x08) != 0;
    if (tag.number == 0x0F) {
        const std::optional<std::uint8_t> extended = c.byte();
        if (!extended || *extended == 0xFF)
            return std::nullopt;
        tag.number = *extended;
    }
    const std::uint8_t lvt = *first & 0x07;
    if (tag.context && lvt == 6) {
        tag.opening = true;
        return tag;
    }
    if (tag.context && lvt == 7) {
        tag.closing = true;
        return tag;
    }
    if (lvt < 5) {
        tag.length = lvt;
        return tag;
    }
    const std::optional<std::uint8_t> length = c.byte();
    if (!length)
        return std::nullopt;
    if (*length < 254) {
        tag.length = *length;
        return tag;
    }
    const int width = *length == 254 ? 2 : 4;
    std::uint32_t value = 0;
    for (int i = 0; i < width; ++i) {
        const std::optional<std::uint8_t> b = c.byte();
        if (!b)
            return std::nullopt;
        value = (value << 8) | *b;
    }
    tag.length = value;
    return tag;
}

std::optional<std::uint64_t> readNumber(Cursor &c, std::uint32_t length)
{
    if (length == 0 || length > 8)
        return std::nullopt;
    std::uint64_t value = 0;
    for (std::uint32_t i = 0; i < length; ++i) {
        const std::optional<std::uint8_t> b = c.byte();
        if (!b)
            return std::nullopt;
        value = (value << 8) | *b;
    }
    return value;
}

// An unsigned or enumerated value under the expected tag, at most 32 bits.
std::optional<std::uint32_t> readTagged(Cursor &c, std::uint32_t number, bool context)
{
    const std::optional<Tag> tag = readTag(c);
    if (!tag || tag->context != context || tag->number != number || tag->opening || tag->closing ||
        tag->length > 4)
        return std::nullopt;
    const std::optional<std::uint64_t> value = readNumber(c, tag->length);
    if (!value)
        return std::nullopt;
    return std::uint32_t(*value);
}

std::optional<ObjectId> readObjectId(Cursor &c, std::uint32_t number, bool context)
{
    const std::optional<Tag> tag = readTag(c);
    if (!tag || tag->context != context || tag->number != number || tag->length != 4)
        return std::nullopt;
    const std::optional<std::uint64_t> word = readNumber(c, 4);
    if (!word)
        return std::nullopt;
    return ObjectId{std::uint32_t(*word >> 22), std::uint32_t(*word & 0x3FFFFF)};
}

QString characterString(const QByteArray &content)
{
    if (content.isEmpty())
        return QString();
    const QByteArray text = content.mid(1);
    switch (std::uint8_t(content[0])) {
    case 0: { // UTF-8
        QStringDecoder decoder(QStringDecoder::Utf8);
        return decoder.decode(text);
    }
    case 4: { // UCS-2, big-endian
        QStringDecoder decoder(QStringDecoder::Utf16BE);
        return decoder.decode(text);
    }
    case 5: // ISO 8859-1
        return QString::fromLatin1(text);
    default:
        return QStringLiteral("(character set %1)").arg(std::uint8_t(content[0]));
    }
}

// One application-tagged value.
std::optional<PropertyValue> readValue(Cursor &c)
{
    const std::optional<Tag> tag = readTag(c);
    if (!tag || tag->context)
        return std::nullopt;
    PropertyValue value;
    switch (tag->number) {
    case 2:
    case 9: {
        const std::optional<std::uint64_t> n = readNumber(c, tag->length);
        if (!n)
            return std::nullopt;
        value.kind =
            tag->number == 2 ? PropertyValue::Kind::Unsigned : PropertyValue::Kind::Enumerated;
        value.number = *n;
        return value;
    }
    case 7: {
        const std::optional<QByteArray> content = c.take(qsizetype(tag->length));
        if (!content || content->isEmpty())
            return std::nullopt;
        value.kind = PropertyValue::Kind::Text;
        value.text = characterString(*content);
        return value;
    }
    case 12: {
        if (tag->length != 4)
            return std::nullopt;
        const std::optional<std::uint64_t> word = readNumber(c, 4);
        if (!word)
            return std::nullopt;
        value.kind = PropertyValue::Kind::Object;
        value.object = ObjectId{std::uint32_t(*word >> 22), std::uint32_t(*word & 0x3FFFFF)};
        return value;
    }
    case 1: // boolean: the value is in the tag
        value.text = QStringLiteral("boolean");
        return value;
    default:
        if (!c.skip(qsizetype(tag->length)))
            return std::nullopt;
        value.text = QStringLiteral("application tag %1").arg(tag->number);
        return value;
    }
}

Reply malformed(const QString &problem)
{
    Reply reply;
    reply.problem = problem;
    return reply;
}

Reply ofKind(Reply::Kind kind)
{
    Reply reply;
    reply.kind = kind;
    return reply;
}

Reply readUnconfirmed(Cursor &c)
{
    const std::optional<std::uint8_t> service = c.byte();
    if (!service)
        return malformed(QStringLiteral("no service choice"));
    if (*service == ServiceIAm) {
        Reply reply = ofKind(Reply::Kind::IAm);
        const std::optional<ObjectId> device = readObjectId(c, 12, false);
        const std::optional<std::uint32_t> maxApdu = readTagged(c, 2, false);
        const std::optional<std::uint32_t> segmentation = readTagged(c, 9, false);
        const std::optional<std::uint32_t> vendor = readTagged(c, 2, false);
        if (!device || !maxApdu || !segmentation || !vendor)
            return malformed(QStringLiteral("I-Am without its four values"));
        reply.iam = IAm{*device, *maxApdu, *segmentation, *vendor};
        return reply;
    }
    if (*service == ServiceWhoIs)
        return ofKind(Reply::Kind::WhoIs);
    return ofKind(Reply::Kind::Ignored);
}

Reply readPropertyAck(Cursor &c)
{
    const std::optional<std::uint8_t> invokeId = c.byte();
    const std::optional<std::uint8_t> service = c.byte();
    if (!invokeId || !service)
        return malformed(QStringLiteral("short acknowledgement"));
    if (*service != ServiceReadProperty)
        return ofKind(Reply::Kind::Ignored);
    Reply reply = ofKind(Reply::Kind::PropertyAck);
    reply.invokeId = *invokeId;
    const std::optional<ObjectId> object = readObjectId(c, 0, true);
    const std::optional<std::uint32_t> property = readTagged(c, 1, true);
    if (!object || !property)
        return malformed(QStringLiteral("acknowledgement without object and property"));
    reply.object = *object;
    reply.property = *property;
    std::optional<Tag> tag = readTag(c);
    if (tag && tag->context && tag->number == 2 && !tag->opening && !tag->closing) {
        if (!readNumber(c, tag->length))
            return malformed(QStringLiteral("bad array index"));
        tag = readTag(c);
    }
    if (!tag || !tag->opening || tag->number != 3)
        return malformed(QStringLiteral("acknowledgement without a value"));
    const std::optional<PropertyValue> value = readValue(c);
    if (!value)
        return malformed(QStringLiteral("unreadable property value"));
    reply.value = *value;
    // Further values of a list are skipped up to the closing tag.
    for (;;) {
        const std::optional<std::uint8_t> next = c.peek();
        if (!next)
            return malformed(QStringLiteral("value without its closing tag"));
        if (*next == 0x3F)
            break;
        if (!readValue(c))
            return malformed(QStringLiteral("unreadable property value"));
    }
    c.skip(1);
    return reply;
}

Reply readError(Cursor &c)
{
    const std::optional<std::uint8_t> invokeId = c.byte();
    const std::optional<std::uint8_t> service = c.byte();
    if (!invokeId || !service)
        return malformed(QStringLiteral("short error"));
    Reply reply = ofKind(Reply::Kind::Error);
    reply.invokeId = *invokeId;
    const std::optional<std::uint32_t> errorClass = readTagged(c, 9, false);
    const std::optional<std::uint32_t> errorCode = readTagged(c, 9, false);
    if (!errorClass || !errorCode)
        return malformed(QStringLiteral("error without class and code"));
    reply.errorClass = *errorClass;
    reply.errorCode = *errorCode;
    return reply;
}

Reply readRejectOrAbort(Cursor &c, Reply::Kind kind)
{
    const std::optional<std::uint8_t> invokeId = c.byte();
    const std::optional<std::uint8_t> reason = c.byte();
    if (!invokeId || !reason)
        return malformed(QStringLiteral("short reject or abort"));
    Reply reply = ofKind(kind);
    reply.invokeId = *invokeId;
    reply.errorCode = *reason;
    return reply;
}

} // namespace

QByteArray encodeWhoIs(const WhoIs &whoIs, bool broadcast)
{
    QByteArray apdu;
    apdu.append(char(0x10));
    apdu.append(char(ServiceWhoIs));
    if (whoIs.low && whoIs.high) {
        putUnsigned(apdu, *whoIs.low, 0);
        putUnsigned(apdu, *whoIs.high, 1);
    }
    return framed(broadcast ? OriginalBroadcast : OriginalUnicast, 0x00, apdu);
}

QByteArray encodeReadProperty(const ReadPropertyRequest &request)
{
    QByteArray apdu;
    apdu.append(char(0x00)); // confirmed request, not segmented
    apdu.append(char(0x05)); // replies of up to 1476 bytes
    apdu.append(char(request.invokeId));
    apdu.append(char(ServiceReadProperty));
    putObjectId(apdu, request.object, 0);
    putUnsigned(apdu, request.property, 1);
    return framed(OriginalUnicast, ExpectingReply, apdu);
}

Reply decodeReply(const QByteArray &datagram)
{
    if (datagram.size() > MaxDatagram)
        return malformed(QStringLiteral("longer than %1 bytes").arg(MaxDatagram));
    Cursor c(datagram);
    const std::optional<std::uint8_t> type = c.byte();
    const std::optional<std::uint8_t> function = c.byte();
    const std::optional<std::uint64_t> length = readNumber(c, 2);
    if (!type || *type != BvlcType || !function || !length)
        return malformed(QStringLiteral("no BACnet/IP header"));
    if (*length != std::uint64_t(datagram.size()))
        return malformed(QStringLiteral("length %1 in a datagram of %2 bytes")
                             .arg(*length)
                             .arg(datagram.size()));
    if (*function == ForwardedNpdu) {
        if (!c.skip(6))
            return malformed(QStringLiteral("forwarded without its origin"));
    } else if (*function != OriginalUnicast && *function != OriginalBroadcast) {
        return ofKind(Reply::Kind::Ignored);
    }
    const std::optional<std::uint8_t> version = c.byte();
    const std::optional<std::uint8_t> control = c.byte();
    if (!version || *version != NpduVersion || !control)
        return malformed(QStringLiteral("no network layer header"));
    if (*control & 0x80)
        return ofKind(Reply::Kind::Ignored); // a network layer message
    const bool hasDestination = (*control & 0x20) != 0;
    if (hasDestination) {
        const std::optional<std::uint64_t> net = readNumber(c, 2);
        const std::optional<std::uint8_t> addressLength = c.byte();
        if (!net || !addressLength || !c.skip(*addressLength))
            return malformed(QStringLiteral("short destination address"));
    }
    if (*control & 0x08) {
        const std::optional<std::uint64_t> net = readNumber(c, 2);
        const std::optional<std::uint8_t> addressLength = c.byte();
        if (!net || !addressLength || *addressLength == 0 || !c.skip(*addressLength))
            return malformed(QStringLiteral("short source address"));
    }
    if (hasDestination && !c.skip(1))
        return malformed(QStringLiteral("no hop count"));
    const std::optional<std::uint8_t> pduType = c.byte();
    if (!pduType)
        return malformed(QStringLiteral("no application layer"));
    switch (*pduType >> 4) {
    case 1:
        return readUnconfirmed(c);
    case 3:
        if (*pduType & 0x08)
            return malformed(QStringLiteral("segmented acknowledgement"));
        return readPropertyAck(c);
    case 5:
        return readError(c);
    case 6:
        return readRejectOrAbort(c, Reply::Kind::Reject);
    case 7:
        return readRejectOrAbort(c, Reply::Kind::Abort);
    default:
        return ofKind(Reply::Kind::Ignored);
    }
}

QString propertyName(std::uint32_t property)
{
    switch (Property(property)) {
    case Property::MaxApduLengthAccepted:
        return QStringLiteral("max-apdu-length-accepted");
    case Property::ModelName:
        return QStringLiteral("model-name");
    case Property::ObjectIdentifier:
        return QStringLiteral("object-identifier");
    case Property::ObjectName:
        return QStringLiteral("object-name");
    case Property::ObjectType:
        return QStringLiteral("object-type");
    case Property::ProtocolVersion:
        return QStringLiteral("protocol-version");
    case Property::SegmentationSupported:
        return QStringLiteral("segmentation-supported");
    case Property::VendorIdentifier:
        return QStringLiteral("vendor-identifier");
    case Property::ProtocolRevision:
        return QStringLiteral("protocol-revision");
    }
    return QStringLiteral("property %1").arg(property);
}

QString errorText(std::uint32_t errorClass, std::uint32_t errorCode)
{
    QString code;
    switch (errorCode) {
    case 31:
        code = QStringLiteral("unknown-object");
        break;
    case 32:
        code = QStringLiteral("unknown-property");
        break;
    case 0:
        code = QStringLiteral("other");
        break;
    default:
        code = QStringLiteral("code %1").arg(errorCode);
    }
    static const char *const classes[] = {"device",    "object",   "property",
                                          "resources", "security", "services"};
    const QString cls = errorClass < 6 ? QLatin1String(classes[errorClass])
                                       : QStringLiteral("class %1").arg(errorClass);
    return QStringLiteral("%1 (%2)").arg(code, cls);
}

QString segmentationText(std::uint32_t segmentation)
{
    static const char *const names[] = {"both", "transmit", "receive", "none"};
    return segmentation < 4 ? QLatin1String(names[segmentation])
                            : QStringLiteral("value %1").arg(segmentation);
}

QString valueText(const PropertyValue &value)
{
    switch (value.kind) {
    case PropertyValue::Kind::Unsigned:
    case PropertyValue::Kind::Enumerated:
        return QString::number(value.number);
    case PropertyValue::Kind::Object:
        return QStringLiteral("(%1, %2)").arg(value.object.type).arg(value.object.instance);
    case PropertyValue::Kind::Text:
    case PropertyValue::Kind::Other:
        break;
    }
    return value.text;
}

} // namespace Bacnet
