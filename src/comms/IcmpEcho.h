#pragma once

// ICMP echo ("ping") of one IPv4 address at a time, answered asynchronously
// on the thread that owns the client, so a window stays live while it waits.
//
// Backends, in the order createEchoClient() tries them:
//   - an ICMP datagram socket, where the system grants one to this user (the
//     kernel chooses the identifier there, so replies are matched on the
//     sequence number);
//   - a raw ICMP socket (needs the raw-socket privilege; every ICMP datagram
//     of the host arrives there, so replies are matched on identifier,
//     sequence and source, and the host's own echo requests are skipped);
//   - the system's ping program, when one is installed;
//   - on Windows, the system's asynchronous echo call instead of all three.

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

enum class EchoStatus
{
    Reply,   // an echo reply from the address arrived in time
    NoReply, // time-out, unreachable, or any ICMP error
    Failed   // the request could not be sent at all (see detail)
};

struct EchoOutcome
{
    EchoStatus status = EchoStatus::NoReply;
    QString detail; // why a request Failed, in words for the user
};

enum class EchoBackend
{
    Datagram,
    Raw,
    Program,
    System, // Windows
    None    // nothing permitted: every request Fails with the reason
};

QString echoBackendName(EchoBackend backend);

class EchoClient : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Sends one echo request to address (dotted quad) and reports its outcome
    // through finished() within about timeoutMs. finished() is never emitted
    // before send() returns. A request still outstanding is cancelled first.
    virtual void send(const QString &address, int timeoutMs) = 0;
    // Drops the outstanding request: no finished() follows for it.
    virtual void cancel() = 0;
    virtual EchoBackend backend() const = 0;

signals:
    void finished(const EchoOutcome &outcome);
};

// The first backend this system permits; when none is, a client whose
// requests all fail with the reason.
std::unique_ptr<EchoClient> createEchoClient();
// Exactly that backend, or nothing (with the reason in *why) when this system
// does not offer or permit it.
std::unique_ptr<EchoClient> createEchoClient(EchoBackend backend, QString *why = nullptr);

// --- Packet format (RFC 792), independent of any socket ---

// The Internet checksum (RFC 1071) of bytes; an odd last byte counts as the
// high half of a final word.
std::uint16_t icmpChecksum(const QByteArray &bytes);
// Type 8, code 0, checksummed.
QByteArray buildEchoRequest(std::uint16_t identifier, std::uint16_t sequence,
                            const QByteArray &payload);
// Whether datagram is an echo reply (type 0, code 0) with this sequence and,
// when given, this identifier. With withIpHeader (raw sockets) the datagram
// starts with the IPv4 header, whose length is taken from the header itself.
bool isEchoReply(const QByteArray &datagram, bool withIpHeader, std::uint16_t sequence,
                 std::optional<std::uint16_t> identifier);
