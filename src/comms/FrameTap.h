#pragma once

// The frame tap: an observer that the Modbus clients report every exchange
// to, with the bytes as they went out and came in and the verdict the client
// reached. A client that has no tap does nothing more than one null check per
// exchange; it takes no time stamps and copies no bytes.
//
// Calls come from the thread that runs the exchanges, one exchange at a time.
// Every pointer handed to a tap is valid only during the call.

#include <chrono>
#include <cstddef>
#include <cstdint>

enum class FrameLink : std::uint8_t
{
    Tcp,
    Rtu,
};

// What the request asked for; it tells which fields a frame carries (a single
// write's second word is a value, a block's is a count).
enum class FrameKind : std::uint8_t
{
    Read,
    WriteOne,
    WriteMany,
};

enum class FrameDirection : std::uint8_t
{
    Tx,        // a request sent
    Rx,        // what came back (possibly nothing)
    Discarded, // bytes thrown away before a request because no exchange wanted them
};

// The client's verdict on one exchange. Each failure kind stays distinct even
// though the register result folds most of them into one code.
enum class FrameOutcome : std::uint8_t
{
    Good,             // result 1
    Exception,        // result 2: the unit refused, with an exception code
    NoReply,          // result 0: nothing usable arrived in time
    BadCrc,           // RTU: the right length, a wrong CRC
    WrongTransaction, // TCP: another exchange's transaction id
    WrongProtocol,    // TCP: protocol id not 0
    WrongUnit,        // TCP: another unit id
    WrongFunction,    // neither the function code nor its exception form
    WrongLength,      // length field, frame length or byte count not what was asked
    ShortReply,       // the reply stopped before it was complete
    WrongEcho,        // a write reply that does not echo what was written
    LinkClosed,       // the port or connection closed, or a receive failed
    Stale,            // bytes discarded before a request
};
constexpr int FrameOutcomeCount = int(FrameOutcome::Stale) + 1;

// One finished exchange as a client saw it.
struct FrameExchange
{
    FrameLink link = FrameLink::Tcp;
    FrameKind kind = FrameKind::Read;
    FrameOutcome outcome = FrameOutcome::NoReply;
    const std::uint8_t *request = nullptr;
    std::size_t requestLength = 0;
    // Every byte the exchange received, in order of arrival, noise included.
    const std::uint8_t *reply = nullptr;
    std::size_t replyLength = 0;
    // Where the reply the client judged starts within `reply`; -1 when the
    // bytes hold no recognisable reply (nothing came, or only noise).
    long replyAt = -1;
    std::chrono::system_clock::time_point sent;
    // From just before the request was sent to the verdict.
    std::chrono::nanoseconds roundTrip{0};
};

class FrameTap
{
public:
    virtual ~FrameTap() = default;
    // Bytes found waiting before a request and thrown away: `total` of them,
    // the first `kept` of which are in `bytes`.
    virtual void discarded(FrameLink link, const std::uint8_t *bytes, std::size_t kept,
                           std::size_t total) = 0;
    virtual void exchanged(const FrameExchange &exchange) = 0;
};
