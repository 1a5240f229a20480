#include "FrameLog.h"

#include <algorithm>

namespace {

int byteAt(const std::uint8_t *bytes, std::size_t length, std::size_t at)
{
    return at < length ? bytes[at] : -1;
}

int wordAt(const std::uint8_t *bytes, std::size_t length, std::size_t at)
{
    return at + 1 < length ? bytes[at] << 8 | bytes[at + 1] : -1;
}

// The fields from the unit id on, as far as the bytes reach. The layout after
// the function code depends on what was asked: a read reply carries a byte
// count, a write reply echoes start and count (or register and value), an
// exception reply carries its code.
void decodePdu(FrameRecord &r, const std::uint8_t *bytes, std::size_t length, std::size_t at,
               FrameKind kind)
{
    r.unit = byteAt(bytes, length, at);
    r.function = byteAt(bytes, length, at + 1);
    if (r.function < 0)
        return;
    const bool reply = r.direction == FrameDirection::Rx;
    if (reply && (r.function & 0x80)) {
        r.exceptionCode = byteAt(bytes, length, at + 2);
        return;
    }
    if (reply && kind == FrameKind::Read) {
        const int byteCount = byteAt(bytes, length, at + 2);
        r.count = byteCount < 0 ? -1 : byteCount / 2;
        return;
    }
    r.start = wordAt(bytes, length, at + 2);
    if (kind == FrameKind::WriteOne)
        r.count = r.start < 0 ? -1 : 1;
    else
        r.count = wordAt(bytes, length, at + 4);
}

void decode(FrameRecord &r, const std::uint8_t *bytes, std::size_t length, long at, FrameKind kind)
{
    if (at < 0 || bytes == nullptr)
        return;
    if (r.link == FrameLink::Tcp) {
        // MBAP header: transaction, protocol, length, then the unit id.
        r.transaction = wordAt(bytes, length, std::size_t(at));
        decodePdu(r, bytes, length, std::size_t(at) + 6, kind);
    } else {
        decodePdu(r, bytes, length, std::size_t(at), kind);
    }
}

void keepBytes(FrameRecord &r, const std::uint8_t *bytes, std::size_t length)
{
    r.length = bytes ? length : 0;
    r.bytes.assign(bytes, bytes + std::min(r.length, FrameMaxKeptBytes));
}

void resetFields(FrameRecord &r)
{
    r.unit = r.function = r.start = r.count = r.transaction = r.exceptionCode = -1;
    r.roundTripUs = -1;
}

} // namespace

void FrameRecorder::publish()
{
    m_scratch.sequence = ++m_sequence;
    record(m_scratch);
}

void FrameRecorder::discarded(FrameLink link, const std::uint8_t *bytes, std::size_t kept,
                              std::size_t total)
{
    FrameRecord &r = m_scratch;
    resetFields(r);
    r.exchange = m_exchanges + 1;
    r.time = std::chrono::system_clock::now();
    r.link = link;
    r.direction = FrameDirection::Discarded;
    r.outcome = FrameOutcome::Stale;
    keepBytes(r, bytes, std::min(kept, total));
    r.length = total;
    publish();
}

void FrameRecorder::exchanged(const FrameExchange &x)
{
    FrameRecord &r = m_scratch;
    r.exchange = ++m_exchanges;
    r.link = x.link;
    r.outcome = x.outcome;

    resetFields(r);
    r.time = x.sent;
    r.direction = FrameDirection::Tx;
    keepBytes(r, x.request, x.requestLength);
    decode(r, x.request, x.requestLength, 0, x.kind);
    publish();

    resetFields(r);
    r.time = x.sent + std::chrono::duration_cast<std::chrono::system_clock::duration>(x.roundTrip);
    r.direction = FrameDirection::Rx;
    r.roundTripUs = std::chrono::duration_cast<std::chrono::microseconds>(x.roundTrip).count();
    keepBytes(r, x.reply, x.replyLength);
    decode(r, x.reply, r.length, x.replyAt, x.kind);
    publish();
}

FrameLog::FrameLog(std::size_t capacity)
    : m_capacity(std::clamp<std::size_t>(capacity, 1, MaxCapacity))
{}

void FrameLog::setCapacity(std::size_t capacity)
{
    capacity = std::clamp<std::size_t>(capacity, 1, MaxCapacity);
    std::lock_guard lock(m_mutex);
    if (m_ring.size() == m_capacity) // full: put the oldest first
        std::rotate(m_ring.begin(), m_ring.begin() + long(m_next), m_ring.end());
    if (m_ring.size() > capacity)
        m_ring.erase(m_ring.begin(), m_ring.end() - long(capacity));
    m_ring.shrink_to_fit();
    m_capacity = capacity;
    m_next = 0;
}

std::size_t FrameLog::capacity() const
{
    std::lock_guard lock(m_mutex);
    return m_capacity;
}

std::size_t FrameLog::size() const
{
    std::lock_guard lock(m_mutex);
    return m_ring.size();
}

std::uint64_t FrameLog::lastSequence() const
{
    std::lock_guard lock(m_mutex);
    return m_last;
}

void FrameLog::clear()
{
    std::lock_guard lock(m_mutex);
    m_ring.clear();
    m_next = 0;
}

void FrameLog::copySince(std::uint64_t after, std::vector<FrameRecord> &out) const
{
    std::lock_guard lock(m_mutex);
    const std::size_t n = m_ring.size();
    const std::size_t oldest = n == m_capacity ? m_next : 0;
    // Sequence numbers rise from the oldest record to the newest: count the
    // newer ones from the end, so a reader that keeps up touches only those.
    std::size_t newer = 0;
    while (newer < n && m_ring[(oldest + n - 1 - newer) % n].sequence > after)
        ++newer;
    for (std::size_t i = n - newer; i < n; ++i)
        out.push_back(m_ring[(oldest + i) % n]);
}

void FrameLog::record(const FrameRecord &record)
{
    std::lock_guard lock(m_mutex);
    m_last = record.sequence;
    if (m_ring.size() < m_capacity) {
        m_ring.push_back(record);
        return;
    }
    // Copy assignment reuses the slot's byte storage when it is large enough.
    m_ring[m_next] = record;
    m_next = (m_next + 1) % m_capacity;
}
