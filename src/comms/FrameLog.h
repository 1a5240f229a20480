#pragma once

// Frame records: one per frame sent, received or discarded, decoded from what
// a client reported to its tap, and the bounded ring that keeps the latest.

#include "FrameTap.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

// A record keeps at most this many bytes of its frame (every client frame
// fits; only a long run of line noise is cut) and the full length beside them.
constexpr std::size_t FrameMaxKeptBytes = 1024;

struct FrameRecord
{
    std::uint64_t sequence = 0; // position in the recorder's output, from 1
    // A request and its reply share the number; discarded bytes carry the
    // number of the exchange whose request they preceded.
    std::uint64_t exchange = 0;
    std::chrono::system_clock::time_point time;
    FrameLink link = FrameLink::Tcp;
    FrameDirection direction = FrameDirection::Tx;
    FrameOutcome outcome = FrameOutcome::NoReply; // the exchange's, on request and reply alike
    // Decoded where the frame carries them, -1 otherwise. A single write
    // shows its register as start and a count of 1.
    int unit = -1;
    int function = -1;
    int start = -1;
    int count = -1;
    int transaction = -1; // TCP only
    int exceptionCode = -1;
    std::int64_t roundTripUs = -1; // replies only
    std::size_t length = 0;        // bytes of the frame
    std::vector<std::uint8_t> bytes;

    bool truncated() const { return bytes.size() < length; }
};

// Turns what the clients report into records and hands each to record().
class FrameRecorder : public FrameTap
{
public:
    void discarded(FrameLink link, const std::uint8_t *bytes, std::size_t kept,
                   std::size_t total) final;
    void exchanged(const FrameExchange &exchange) final;

protected:
    // The record is reused for the next frame: copy what must be kept.
    virtual void record(const FrameRecord &record) = 0;

private:
    void publish();

    FrameRecord m_scratch;
    std::uint64_t m_sequence = 0;
    std::uint64_t m_exchanges = 0;
};

// The latest `capacity` records. Once the ring has wrapped, recording a frame
// reuses the storage of the one it replaces, so memory stays flat however long
// a listener stays attached. Safe to read from another thread.
class FrameLog : public FrameRecorder
{
public:
    static constexpr std::size_t DefaultCapacity = 2000;
    static constexpr std::size_t MaxCapacity = 1000000;

    explicit FrameLog(std::size_t capacity = DefaultCapacity);

    // Keeps the newest records that fit (capacity at least 1, at most MaxCapacity).
    void setCapacity(std::size_t capacity);
    std::size_t capacity() const;
    std::size_t size() const;
    // Sequence number of the newest record, 0 before the first.
    std::uint64_t lastSequence() const;
    // Forgets every record; sequence numbers keep counting.
    void clear();
    // Appends to `out`, oldest first, the records newer than `after` that the
    // ring still holds.
    void copySince(std::uint64_t after, std::vector<FrameRecord> &out) const;

protected:
    void record(const FrameRecord &record) override;

private:
    mutable std::mutex m_mutex;
    std::vector<FrameRecord> m_ring; // grows to capacity, then wraps
    std::size_t m_capacity;
    std::size_t m_next = 0; // where the next record goes once the ring is full
    std::uint64_t m_last = 0;
};
