#include "FrameFilter.h"

#include "RegisterMap.h"

bool isStatusPollRequest(const FrameRecord &r)
{
    if (r.direction != FrameDirection::Tx)
        return false;
    const RegisterBlock &read = Blocks::Status;
    const RegisterBlock &writeBack = Blocks::StatusPollWriteBack;
    return (r.unit == read.unitId && r.function == read.readFunction && r.start == read.start &&
            r.count == read.count) ||
           (r.unit == writeBack.unitId && r.function == writeBack.writeFunction &&
            r.start == writeBack.start && r.count == writeBack.count);
}

FrameExchangeKey FrameExchangeKeys::next(const FrameRecord &r)
{
    if (r.direction == FrameDirection::Tx) {
        m_requestExchange = r.exchange;
        m_requestKey = {r.unit, r.function < 0 ? -1 : (r.function & 0x7F), isStatusPollRequest(r)};
        return m_requestKey;
    }
    if (r.direction == FrameDirection::Rx && r.exchange == m_requestExchange)
        return m_requestKey;
    return {r.unit, r.function < 0 ? -1 : (r.function & 0x7F), false};
}

bool frameRowShown(const FrameRecord &row, const FrameExchangeKey &exchange,
                   const FrameFilterSettings &s)
{
    if (s.outcome == FrameFilterSettings::AllFailures && row.outcome == FrameOutcome::Good)
        return false;
    if (s.outcome >= 0 && int(row.outcome) != s.outcome)
        return false;
    if (s.direction && row.direction != *s.direction)
        return false;
    if (s.hideStatusPolls && exchange.statusPoll)
        return false;
    if (s.unit >= 0 && exchange.unit >= 0 && exchange.unit != s.unit)
        return false;
    if (s.function >= 0 && exchange.function >= 0 && exchange.function != s.function)
        return false;
    return true;
}
