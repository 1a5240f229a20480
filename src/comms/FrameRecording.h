#pragma once

// Frames recorded to a file as they happen: every record appended as one
// trace line (docs/frame-trace.md) or one CSV row, until stopped or until the
// file would pass its size bound. At the bound the recording stops: a frame
// is written whole or not at all, and the frames left out are counted so the
// user can be told, never lost silently.

#include "FrameLog.h"

#include <QFile>
#include <QString>

#include <mutex>

class FrameFileRecorder : public FrameRecorder
{
public:
    enum class Format
    {
        Text, // the trace line form
        Csv,  // with a header row when the file starts empty
    };
    enum class State
    {
        Idle, // never started, or stopped by the user
        Recording,
        LimitReached, // stopped: the next frame would have passed the bound
        WriteFailed,  // stopped: the file refused a write (disk full, removed medium)
    };
    static constexpr qint64 DefaultLimit = 50LL * 1024 * 1024;

    ~FrameFileRecorder() override;

    // Opens `path` for appending; the file, old content included, never grows
    // past `limit` bytes. False with a reason when it cannot be opened or is
    // already at the bound.
    bool start(const QString &path, Format format, qint64 limit = DefaultLimit,
               QString *error = nullptr);
    void stop();

    State state() const;
    bool recording() const { return state() == State::Recording; }
    QString path() const;
    qint64 fileSize() const;
    std::uint64_t framesWritten() const;
    // Frames that came after the recording stopped by itself.
    std::uint64_t framesLeftOut() const;
    // Why the recording stopped by itself, as a sentence; empty otherwise.
    QString stopReason() const;

protected:
    void record(const FrameRecord &record) override;

private:
    mutable std::mutex m_mutex;
    QFile m_file;
    Format m_format = Format::Text;
    State m_state = State::Idle;
    qint64 m_limit = DefaultLimit;
    qint64 m_size = 0;
    std::uint64_t m_written = 0;
    std::uint64_t m_leftOut = 0;
    QString m_error;
};

// Hands every exchange to two taps, either of which may be null: the trace
// on standard error and a trace file, or the monitor's ring and a recording.
class FrameTapPair : public FrameTap
{
public:
    FrameTapPair(FrameTap *first, FrameTap *second) : m_first(first), m_second(second) {}
    void discarded(FrameLink link, const std::uint8_t *bytes, std::size_t kept,
                   std::size_t total) override;
    void exchanged(const FrameExchange &exchange) override;

private:
    FrameTap *m_first;
    FrameTap *m_second;
};
