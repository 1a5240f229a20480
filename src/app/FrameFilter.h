#pragma once

// Which frames the Frame Monitor shows: plain functions over the records,
// no widgets, so that every rule is tested directly.
//
// Unit and function filters judge the exchange a row belongs to, as its
// request shows it: a reply that carries nothing (no reply, only noise) or
// another unit's id still shows beside its request. A row whose exchange is
// not known (bytes discarded before a request) passes those two filters.

#include "FrameLog.h"

#include <optional>

// The exchange a row belongs to.
struct FrameExchangeKey
{
    int unit = -1;     // -1: not known
    int function = -1; // without the exception bit; -1: not known
    bool statusPoll = false;
};

struct FrameFilterSettings
{
    static constexpr int AllFrames = -1;
    static constexpr int AllFailures = -2;

    int outcome = AllFrames; // AllFrames, AllFailures or an int(FrameOutcome)
    int unit = -1;           // -1: any
    int function = -1;       // -1: any
    std::optional<FrameDirection> direction;
    bool hideStatusPolls = false;
};

// A request of the status poll: the read of the whole status block every two
// seconds, or the write-back that follows each successful read. Known by the
// frame's unit, function, start and count alone, never by its timing.
bool isStatusPollRequest(const FrameRecord &request);

// Turns records, in the order they were recorded, into the keys of their
// exchanges: a reply takes the key of the request before it.
class FrameExchangeKeys
{
public:
    FrameExchangeKey next(const FrameRecord &record);

private:
    std::uint64_t m_requestExchange = 0;
    FrameExchangeKey m_requestKey;
};

bool frameRowShown(const FrameRecord &row, const FrameExchangeKey &exchange,
                   const FrameFilterSettings &settings);
