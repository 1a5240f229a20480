#include "RxCondition.h"

#include <algorithm>

namespace {

// One pattern step for byte b. Returns true when the byte completes the pattern.
// In sequence mode a mismatching byte sends the position back to 0 and is not
// tried again as the pattern's first byte.
bool advancePattern(const std::uint8_t *pattern, std::uint16_t len, bool exact, std::uint16_t &pos,
                    std::uint8_t b)
{
    if (!exact)
        return b != 0 && std::find(pattern, pattern + len, b) != pattern + len;
    if (b == pattern[pos]) {
        ++pos;
        return pos >= len;
    }
    pos = 0;
    return false;
}

void copyPattern(std::uint8_t (&dest)[TRxConditionItem::MaxPatternLen + 1], std::uint16_t &len,
                 const void *src)
{
    len = std::min(len, TRxConditionItem::MaxPatternLen);
    std::fill(std::begin(dest), std::end(dest), std::uint8_t(0));
    const auto *bytes = static_cast<const std::uint8_t *>(src);
    for (std::uint16_t i = 0; bytes && i < len && bytes[i] != 0; ++i)
        dest[i] = bytes[i];
}

} // namespace

bool TRxConditionItem::Step(std::uint8_t b)
{
    // Only one pattern is examined per byte: the byte that completes the start
    // is never also tried against the end.
    if (StartLen > 0 && !StartFound) {
        StartFound = advancePattern(StartStr, StartLen, StartExact, StartPos, b);
    } else if (EndLen > 0 && !EndFound) {
        EndFound = advancePattern(EndStr, EndLen, EndExact, EndPos, b);
    }
    Count();
    if (StartFound && EndLen == 0)
        EndFound = true;
    return StartFound && EndFound;
}

void TRxConditionItem::Count()
{
    if (!StartFound)
        ++CountBefore;
    else if (EndFound)
        ++CountAfter;
    else
        ++CountBetween;
}

bool TRxConditionItem::IsComplete() const
{
    return StartFound && EndFound && CountBefore >= MinBefore && CountBetween >= MinBetween &&
           CountAfter >= MinAfter;
}

void TRxConditionItem::Reset()
{
    StartPos = EndPos = 0;
    CountBefore = CountBetween = CountAfter = 0;
    StartFound = EndFound = false;
}

void TRxCondition::AddItem(std::uint16_t startLen, const void *startStr, bool startExact,
                           std::uint16_t endLen, const void *endStr, bool endExact,
                           std::uint16_t minBefore, std::uint16_t minBetween,
                           std::uint16_t minAfter)
{
    if (m_count >= MaxItems)
        return;
    auto item = std::make_unique<TRxConditionItem>();
    item->StartLen = startLen;
    copyPattern(item->StartStr, item->StartLen, startStr);
    item->StartExact = startExact;
    item->EndLen = endLen;
    copyPattern(item->EndStr, item->EndLen, endStr);
    item->EndExact = endExact;
    item->MinBefore = minBefore;
    item->MinBetween = minBetween;
    item->MinAfter = minAfter;
    m_items[m_count++] = std::move(item);
}

void TRxCondition::Clear()
{
    while (m_count > 0)
        m_items[--m_count].reset();
}

void TRxCondition::Reset()
{
    for (std::uint16_t i = 0; i < m_count; ++i)
        m_items[i]->Reset();
}

int TRxCondition::CheckChar(std::uint8_t b)
{
    for (std::uint16_t i = 0; i < m_count; ++i) {
        if (m_items[i]->Step(b))
            return i;
    }
    return -1;
}

void TRxCondition::CountChar()
{
    for (std::uint16_t i = 0; i < m_count; ++i)
        m_items[i]->Count();
}

bool TRxCondition::IsComplete(int k) const
{
    const TRxConditionItem *item = Item(k);
    return item && item->IsComplete();
}

const TRxConditionItem *TRxCondition::Item(int k) const
{
    if (k < 1 || k > m_count)
        return nullptr;
    return m_items[std::size_t(k - 1)].get();
}
