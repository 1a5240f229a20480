#pragma once

#include <cstddef>
#include <cstdint>

// What a Modbus TCP exchange needs of a connected byte stream. The blocking
// socket client implements it; tests and fuzzers substitute scripted streams.
class TcpStream
{
public:
    virtual ~TcpStream() = default;

    // Blocking send of the whole buffer; returns whether every byte was sent.
    virtual bool send(const std::uint8_t *data, std::size_t length) = 0;

    // True when at least one byte can be read within timeoutMs. False when the
    // time runs out, the stream is not open, an error is signalled on it, or the
    // peer has closed it.
    virtual bool waitForData(int timeoutMs) = 0;

    // One receive of at most maxLength bytes of what is available; the number
    // of bytes received, 0 when the peer has closed, -1 on an error.
    virtual int receive(std::uint8_t *buffer, int maxLength) = 0;

    // Drops every byte already received but not yet read (a reply that came
    // after its exchange gave up), so that it cannot be taken for the next one.
    // Returns how many were dropped; when keep is not null the first keepMax
    // of them are copied there first.
    virtual std::size_t discardPending(std::uint8_t *keep, std::size_t keepMax) = 0;

    // The Modbus TCP transaction counter of the exchanges run over this
    // stream. Every operation sends its current value and expects it back;
    // every operation, whatever its outcome, advances it by one (wrapping
    // 65535 to 0). The session code sets it to 1 once a unit is accepted.
    // Each stream has its own, so clients that talk to different units (the
    // site survey's threads) never move each other's counter.
    std::uint16_t TransactionId = 0;
};
