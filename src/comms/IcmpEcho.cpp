#include "IcmpEcho.h"

#include <QStringList>
#include <QTimer>

namespace {

constexpr std::uint8_t EchoReplyType = 0;
constexpr std::uint8_t EchoRequestType = 8;
constexpr int IcmpHeaderSize = 8;

// Every request fails with the reason no backend could be had.
class UnavailableEcho final : public EchoClient
{
public:
    explicit UnavailableEcho(QString reason) : m_reason(std::move(reason)) {}

    void send(const QString &, int) override
    {
        const int request = ++m_request;
        QTimer::singleShot(0, this, [this, request] {
            if (request == m_request)
                emit finished({EchoStatus::Failed, m_reason});
        });
    }
    void cancel() override { ++m_request; }
    EchoBackend backend() const override { return EchoBackend::None; }

private:
    QString m_reason;
    int m_request = 0;
};

std::uint8_t byteAt(const QByteArray &bytes, int i)
{
    return std::uint8_t(bytes[i]);
}

} // namespace

QString echoBackendName(EchoBackend backend)
{
    switch (backend) {
    case EchoBackend::Datagram:
        return QStringLiteral("ICMP datagram socket");
    case EchoBackend::Raw:
        return QStringLiteral("raw ICMP socket");
    case EchoBackend::Program:
        return QStringLiteral("ping program");
    case EchoBackend::System:
        return QStringLiteral("system echo service");
    case EchoBackend::None:
        break;
    }
    return QStringLiteral("none");
}

std::unique_ptr<EchoClient> createEchoClient()
{
    QStringList reasons;
    for (EchoBackend backend :
         {EchoBackend::System, EchoBackend::Datagram, EchoBackend::Raw, EchoBackend::Program}) {
        QString why;
        if (auto client = createEchoClient(backend, &why))
            return client;
        if (!why.isEmpty())
            reasons << why;
    }
    return std::make_unique<UnavailableEcho>(
        QStringLiteral("ICMP echo is not permitted on this system (%1)")
            .arg(reasons.join(QStringLiteral("; "))));
}

std::uint16_t icmpChecksum(const QByteArray &bytes)
{
    std::uint32_t sum = 0;
    int i = 0;
    for (; i + 1 < bytes.size(); i += 2)
        sum += std::uint32_t(byteAt(bytes, i)) << 8 | byteAt(bytes, i + 1);
    if (i < bytes.size())
        sum += std::uint32_t(byteAt(bytes, i)) << 8;
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return std::uint16_t(~sum);
}

QByteArray buildEchoRequest(std::uint16_t identifier, std::uint16_t sequence,
                            const QByteArray &payload)
{
    QByteArray packet(IcmpHeaderSize, '\0');
    packet[0] = char(EchoRequestType);
    packet[4] = char(identifier >> 8);
    packet[5] = char(identifier & 0xFF);
    packet[6] = char(sequence >> 8);
    packet[7] = char(sequence & 0xFF);
    packet += payload;
    const std::uint16_t sum = icmpChecksum(packet);
    packet[2] = char(sum >> 8);
    packet[3] = char(sum & 0xFF);
    return packet;
}

bool isEchoReply(const QByteArray &datagram, bool withIpHeader, std::uint16_t sequence,
                 std::optional<std::uint16_t> identifier)
{
    int at = 0;
    if (withIpHeader) {
        if (datagram.isEmpty() || (byteAt(datagram, 0) >> 4) != 4)
            return false;
        at = (byteAt(datagram, 0) & 0x0F) * 4;
        if (at < 20)
            return false;
    }
    if (datagram.size() < at + IcmpHeaderSize)
        return false;
    if (byteAt(datagram, at) != EchoReplyType || byteAt(datagram, at + 1) != 0)
        return false;
    const auto word = [&](int i) {
        return std::uint16_t(byteAt(datagram, i) << 8 | byteAt(datagram, i + 1));
    };
    return word(at + 6) == sequence && (!identifier || word(at + 4) == *identifier);
}
