#pragma once

// Reply conditions: a set of up to ten rules that tells the serial component
// when the bytes received since a request form a complete reply, and which
// rule (good reply, exception reply, ...) it was.
//
// A rule has a start pattern, an end pattern and three minimum byte counts.
// Every received byte goes to the rules in order. The counters double as
// positions in the component's receive buffer, which is emptied and reset
// together with the rules when a request is sent: byte CountBefore of the
// buffer completed the start pattern, byte CountBefore + CountBetween the end.

#include <array>
#include <cstdint>
#include <memory>

class TRxConditionItem
{
public:
    static constexpr std::uint16_t MaxPatternLen = 5;

    std::uint8_t StartStr[MaxPatternLen + 1] = {};
    bool StartExact = false; // true: consecutive sequence; false: any one byte of the set
    std::uint8_t EndStr[MaxPatternLen + 1] = {};
    bool EndExact = false;
    bool StartFound = false;
    bool EndFound = false;
    std::uint16_t MinBefore = 0;
    std::uint16_t MinBetween = 0;
    std::uint16_t MinAfter = 0;
    // From the byte that completed the start up to, not including, the end byte.
    std::uint16_t CountBetween = 0;
    std::uint16_t StartLen = 0;
    std::uint16_t StartPos = 0;
    std::uint16_t EndLen = 0;
    std::uint16_t EndPos = 0;
    // Bytes before the byte that completed the start pattern.
    std::uint16_t CountBefore = 0;
    // From the byte that completed the end pattern on, that byte included.
    std::uint16_t CountAfter = 0;

    // Examines b against one pattern (the start until it is complete, then the
    // end), counts it, and reports whether both patterns are complete.
    bool Step(std::uint8_t b);
    // Counts b in the current phase without examining it.
    void Count();
    bool IsComplete() const;
    void Reset();
};

class TRxCondition
{
public:
    static constexpr int MaxItems = 10;

    TRxCondition() = default;
    ~TRxCondition() { Clear(); }
    TRxCondition(const TRxCondition &) = delete;
    TRxCondition &operator=(const TRxCondition &) = delete;

    // Appends a rule; ignored once the set holds MaxItems. Lengths above 5 are
    // cut to 5; pattern bytes are copied up to that length or up to a 0 byte.
    // A null pattern is an empty one.
    void AddItem(std::uint16_t startLen, const void *startStr, bool startExact,
                 std::uint16_t endLen, const void *endStr, bool endExact, std::uint16_t minBefore,
                 std::uint16_t minBetween, std::uint16_t minAfter);
    void Clear();
    // Back to "nothing found" with zero counters; patterns and minimums stay.
    void Reset();
    // Feeds b to the rules in order and stops at the first one that reports
    // both patterns complete: returns its zero-based index, or -1. Rules after
    // it do not see b.
    int CheckChar(std::uint8_t b);
    // Every rule counts one more byte without examining it.
    void CountChar();
    // k counts from 1; false for a number outside 1..Count.
    bool IsComplete(int k) const;
    // Rule k (from 1), or null when there is none.
    const TRxConditionItem *Item(int k) const;
    std::uint16_t Count() const { return m_count; }

private:
    std::array<std::unique_ptr<TRxConditionItem>, MaxItems> m_items;
    std::uint16_t m_count = 0;
};
