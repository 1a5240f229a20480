#pragma once

// Outcome of one register operation (one request/reply exchange). Callers treat
// only Good as success; the other values stay distinct so that tools and tests
// can tell the failures apart. The numbers are documented behaviour (scripts
// see them in ravelinctl's JSON output) and never change.

#include "FrameTap.h"

#include <cstdint>

enum class RegisterResult : int
{
    Good = 1,         // a good reply arrived (a read has stored its values)
    Exception = 2,    // the unit answered with an exception reply
    NoReply = 0,      // nothing arrived within the timeout, or no connection
    Failure = -1,     // anything else: malformed, foreign or short reply, or refused
    ClosedTwice = -2, // serial component closed a second time
};

// The short names most callers use.
constexpr RegisterResult ResultGood = RegisterResult::Good;
constexpr RegisterResult ResultException = RegisterResult::Exception;
constexpr RegisterResult ResultNoReply = RegisterResult::NoReply;
constexpr RegisterResult ResultFailure = RegisterResult::Failure;
constexpr RegisterResult ResultClosedTwice = RegisterResult::ClosedTwice;

// Why a request never left: the frames could not carry it, or there was
// nothing to send it over. None when it was sent.
enum class Refusal : std::uint8_t
{
    None,
    Count,       // a register count of 0, or more than the frames hold
    UnitId,      // a unit id that the framing cannot address
    NoFunction,  // the block has no function code for this direction
    NoTransport, // no session transport chosen
    Values,      // a value the unit's registers cannot carry
};

// What one exchange came to beyond its result: the client's verdict on the
// reply, the exception code of an exception reply, or why nothing was sent.
struct ExchangeDetail
{
    FrameOutcome outcome = FrameOutcome::Good; // meaningful only when sent
    Refusal refusal = Refusal::None;
    std::uint8_t exceptionCode = 0;  // 0 when the reply stopped before it
    std::uint16_t timeoutTenths = 0; // the reply wait the exchange allowed
    FrameLink link = FrameLink::Tcp;

    bool sent() const { return refusal == Refusal::None; }
};

// Detail of a request refused before sending.
inline ExchangeDetail refusedDetail(Refusal why)
{
    ExchangeDetail d;
    d.refusal = why;
    d.outcome = FrameOutcome::NoReply;
    return d;
}
