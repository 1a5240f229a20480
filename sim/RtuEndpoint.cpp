#include "RtuEndpoint.h"

#include "SimCore.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// A partial frame is dropped after this much silence on top of its own
// transmission time: generous for a pty, whose writes arrive at once.
constexpr int SilenceMs = 50;
// Stray bytes sent before a reply with --noise: no unit id of the unit, so no
// reader can take them for the start of a reply frame.
const QByteArray NoiseBytes("\x00\xFF\x55", 3);
// Reply bytes waiting for a line that takes none: beyond this, new replies are
// dropped rather than kept without limit for a peer that does not read.
constexpr qsizetype MaxUnsentBytes = 64 * 1024;
// Reads per wake-up: a peer that never stops writing still leaves the event
// loop to the other endpoints.
constexpr int MaxReadsPerWake = 16;
// With a line rate, frames are taken at once when this much is buffered.
constexpr int MaxPendingBytes = 4096;

} // namespace

RtuEndpoint::RtuEndpoint(const QString &device, SimCore &core, QObject *parent)
    : QObject(parent), m_device(device), m_core(core),
      m_reader([&core](int unit) { return core.model.hasSpace(unit); })
{
    m_clock.start();
    for (QTimer *timer : {&m_silence, &m_handle, &m_sendTimer}) {
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
    }
    connect(&m_silence, &QTimer::timeout, this, [this] {
        takeFrames();
        if (m_reader.pending() > 0) {
            const QByteArray pending = m_reader.buffered();
            const QByteArray frame = m_reader.takeSilenceDelimitedFrame();
            if (frame.isEmpty())
                m_core.log({false, m_core.exchanges() + 1, "DROP", "garbage", pending, -1});
            else
                answer(frame);
            m_firstByteUs = -1;
        }
    });
    connect(&m_handle, &QTimer::timeout, this, &RtuEndpoint::takeFrames);
    connect(&m_sendTimer, &QTimer::timeout, this, &RtuEndpoint::sendDue);
}

RtuEndpoint::~RtuEndpoint()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool RtuEndpoint::open(QString *error)
{
    m_fd = ::open(m_device.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    termios tio{};
    if (!::isatty(m_fd) || ::tcgetattr(m_fd, &tio) != 0) {
        *error = QStringLiteral("not a serial line");
        return false;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~tcflag_t(PARENB | CSTOPB | CSIZE);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    if (::tcsetattr(m_fd, TCSANOW, &tio) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    ::tcflush(m_fd, TCIOFLUSH);
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &RtuEndpoint::readIncoming);
    m_writeNotifier = new QSocketNotifier(m_fd, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &RtuEndpoint::writeUnsent);
    return true;
}

QString RtuEndpoint::readyLine() const
{
    return QStringLiteral("ravelin-sim: serving Modbus RTU on %1").arg(m_device);
}

qint64 RtuEndpoint::characterUs() const
{
    return m_core.options.lineRate > 0 ? 10'000'000 / m_core.options.lineRate : 0;
}

void RtuEndpoint::readIncoming()
{
    const qint64 c = characterUs();
    char chunk[512];
    for (int reads = 0; reads < MaxReadsPerWake; ++reads) {
        const ssize_t got = ::read(m_fd, chunk, sizeof chunk);
        if (got <= 0) {
            // A pty whose other end closed reports EIO until it is reopened:
            // stop watching for a moment rather than spin.
            if (got < 0 && errno == EIO) {
                m_notifier->setEnabled(false);
                QTimer::singleShot(100, this, [this] { m_notifier->setEnabled(true); });
            }
            break;
        }
        if (m_reader.pending() == 0)
            m_firstByteUs = nowUs();
        m_reader.feed(QByteArray(chunk, int(got)));
        // Frames are taken as they come, so the reader never holds more than
        // a frame's worth of bytes it has not judged.
        if (c == 0 || m_reader.pending() > MaxPendingBytes)
            takeFrames();
    }
    m_silence.start(SilenceMs + int((m_reader.pending() * c + 35 * c / 10) / 1000));
    if (c == 0 || m_reader.pending() == 0)
        return;
    // On a real line the request is only complete once its last character
    // and the gap after it have passed.
    const qint64 readyUs = m_firstByteUs + m_reader.pending() * c + 35 * c / 10;
    m_handle.start(int(std::max<qint64>(0, (readyUs - nowUs() + 999) / 1000)));
}

void RtuEndpoint::takeFrames()
{
    for (QByteArray frame = m_reader.nextFrame(); !frame.isEmpty(); frame = m_reader.nextFrame())
        answer(frame);
    m_firstByteUs = m_reader.pending() > 0 ? nowUs() : -1;
}

void RtuEndpoint::answer(const QByteArray &frame)
{
    const int exchange = m_core.nextExchange();
    if (m_core.model.restarting() || !m_core.admit()) {
        m_core.log({false, exchange, "RX", "no-reply", frame});
        return;
    }
    const int unit = std::uint8_t(frame[0]);
    const PduOutcome outcome = m_core.handler.handle(unit, frame.mid(1, frame.size() - 3));
    const bool answered = !outcome.reply.isEmpty() && outcome.knownUnit;
    m_core.log(
        {false, exchange, "RX", answered ? simReplyOutcome(outcome.reply) : "no-reply", frame});
    if (!answered)
        return;
    QByteArray reply = withRtuCrc(char(unit) + outcome.reply);
    const char *sent = simReplyOutcome(outcome.reply);
    if (m_core.options.corruptCrc) {
        reply[reply.size() - 1] = char(reply[reply.size() - 1] ^ 0x5A);
        sent = "bad-crc";
    }
    if (m_core.options.noise)
        reply.prepend(NoiseBytes);
    const int frameAt = m_core.options.noise ? int(NoiseBytes.size()) : 0;
    if (m_unsent.size() + qsizetype(m_outgoing.size()) + reply.size() > MaxUnsentBytes) {
        // The line takes no more bytes.
        m_core.log({false, exchange, "DROP", "overflow", reply, frameAt});
        return;
    }
    const qint64 dueUs = nowUs() + qint64(m_core.replyDelayMs(LateRtuMs)) * 1000;
    if (m_core.options.split && reply.size() > 1) {
        const int half = int(reply.size() / 2);
        queueBytes(reply.left(half), dueUs, false, {exchange, frameAt, sent});
        queueBytes(reply.mid(half), dueUs + SplitGapMs * 1000, outcome.restart,
                   {exchange, -1, sent});
    } else {
        queueBytes(reply, dueUs, outcome.restart, {exchange, frameAt, sent});
    }
    sendDue();
}

// Each byte gets its due time; with a line rate one character time apart,
// and never before the bytes queued ahead of it.
void RtuEndpoint::queueBytes(const QByteArray &bytes, qint64 firstDueUs, bool restartAfter,
                             const ReplyLog &log)
{
    const qint64 c = characterUs();
    qint64 due = firstDueUs;
    for (int i = 0; i < bytes.size(); ++i) {
        if (!m_outgoing.empty())
            due = std::max(due, m_outgoing.back().dueUs + c);
        due = std::max(due, firstDueUs + (i + 1) * c);
        m_outgoing.push_back({bytes[i], due, restartAfter && i == bytes.size() - 1, log.exchange,
                              i == 0 ? log.frameAt : -1, log.outcome});
    }
}

void RtuEndpoint::sendDue()
{
    QByteArray chunk;
    bool restart = false;
    const qint64 now = nowUs();
    const Outgoing first = m_outgoing.empty() ? Outgoing{} : m_outgoing.front();
    while (!m_outgoing.empty() && m_outgoing.front().dueUs <= now) {
        chunk.append(m_outgoing.front().byte);
        restart = restart || m_outgoing.front().restartAfter;
        m_outgoing.pop_front();
    }
    if (!chunk.isEmpty()) {
        m_core.log({false, first.exchange, "TX", first.outcome, chunk, first.frameAt});
        m_unsent.append(chunk);
        writeUnsent();
    }
    if (restart)
        m_core.model.beginRestart();
    if (!m_outgoing.empty())
        m_sendTimer.start(
            int(std::max<qint64>(0, (m_outgoing.front().dueUs - nowUs() + 999) / 1000)));
}

// Hands the line what it takes now; when it is full, the write notifier says
// when it takes more, so a peer that stops reading costs no processor time.
void RtuEndpoint::writeUnsent()
{
    qsizetype done = 0;
    while (done < m_unsent.size()) {
        const ssize_t put =
            ::write(m_fd, m_unsent.constData() + done, size_t(m_unsent.size() - done));
        if (put > 0) {
            done += put;
            continue;
        }
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            done = m_unsent.size(); // the line is gone; the rest is lost as on a cut cable
        break;
    }
    m_unsent.remove(0, done);
    m_writeNotifier->setEnabled(!m_unsent.isEmpty());
}
