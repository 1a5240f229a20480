#include "FrameRecording.h"

#include "FrameFormat.h"

#include <QFileInfo>

FrameFileRecorder::~FrameFileRecorder()
{
    stop();
}

bool FrameFileRecorder::start(const QString &path, Format format, qint64 limit, QString *error)
{
    const std::lock_guard lock(m_mutex);
    if (m_file.isOpen())
        m_file.close();
    m_state = State::Idle;
    m_file.setFileName(path);
    const auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        m_file.close();
        return false;
    };
    // A FIFO or a device would block the open or take endless bytes.
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        return fail(QStringLiteral("not a regular file"));
    // Unbuffered: each frame reaches the file as it happens, so a crash
    // loses nothing already seen.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return fail(m_file.errorString());
    m_format = format;
    m_limit = limit;
    m_size = m_file.size();
    m_written = 0;
    m_leftOut = 0;
    m_error.clear();
    if (m_size >= m_limit)
        return fail(QStringLiteral("the file already holds %1 bytes, the most a recording may "
                                   "reach")
                        .arg(m_size));
    if (format == Format::Csv && m_size == 0) {
        const QByteArray header = frameCsvHeader().toUtf8() + '\n';
        if (m_file.write(header) != header.size())
            return fail(m_file.errorString());
        m_size += header.size();
    }
    m_state = State::Recording;
    return true;
}

void FrameFileRecorder::stop()
{
    const std::lock_guard lock(m_mutex);
    m_file.close();
    m_state = State::Idle;
}

void FrameFileRecorder::record(const FrameRecord &r)
{
    const std::lock_guard lock(m_mutex);
    if (m_state != State::Recording) {
        if (m_state != State::Idle)
            ++m_leftOut;
        return;
    }
    const QByteArray line =
        (m_format == Format::Csv ? frameCsvRow(r) : frameLine(r)).toUtf8() + '\n';
    if (m_size + line.size() > m_limit) {
        m_state = State::LimitReached;
        m_file.close();
        ++m_leftOut;
        return;
    }
    const qint64 written = m_file.write(line);
    if (written != line.size()) {
        m_error = m_file.errorString();
        m_state = State::WriteFailed;
        m_file.close();
        ++m_leftOut;
        if (written > 0)
            m_size += written;
        return;
    }
    m_size += written;
    ++m_written;
}

FrameFileRecorder::State FrameFileRecorder::state() const
{
    const std::lock_guard lock(m_mutex);
    return m_state;
}

QString FrameFileRecorder::path() const
{
    const std::lock_guard lock(m_mutex);
    return m_file.fileName();
}

qint64 FrameFileRecorder::fileSize() const
{
    const std::lock_guard lock(m_mutex);
    return m_size;
}

std::uint64_t FrameFileRecorder::framesWritten() const
{
    const std::lock_guard lock(m_mutex);
    return m_written;
}

std::uint64_t FrameFileRecorder::framesLeftOut() const
{
    const std::lock_guard lock(m_mutex);
    return m_leftOut;
}

QString FrameFileRecorder::stopReason() const
{
    const std::lock_guard lock(m_mutex);
    switch (m_state) {
    case State::LimitReached:
        return QStringLiteral("The recording to %1 stopped at %2 MB, its size limit; later "
                              "frames are not in the file.")
            .arg(m_file.fileName())
            .arg(double(m_limit) / (1024 * 1024), 0, 'g', 3);
    case State::WriteFailed:
        return QStringLiteral("The recording to %1 stopped: %2; later frames are not in the "
                              "file.")
            .arg(m_file.fileName(), m_error);
    case State::Idle:
    case State::Recording:
        break;
    }
    return {};
}

void FrameTapPair::discarded(FrameLink link, const std::uint8_t *bytes, std::size_t kept,
                             std::size_t total)
{
    if (m_first)
        m_first->discarded(link, bytes, kept, total);
    if (m_second)
        m_second->discarded(link, bytes, kept, total);
}

void FrameTapPair::exchanged(const FrameExchange &exchange)
{
    if (m_first)
        m_first->exchanged(exchange);
    if (m_second)
        m_second->exchanged(exchange);
}
