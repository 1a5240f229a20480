#include "VeskComms.h"

#include "ComPortNames.h"
#include "RxCondition.h"
#include "RxThread.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <thread>

namespace {

constexpr int TimerIntervalMs = 100;
constexpr std::uint16_t NoTimeout = 65535;
// The longest WaitReply waits for events before it looks at its flags again.
constexpr int WaitSliceMs = 3;
// How long ClosePort waits for the receive thread to end.
constexpr unsigned long ThreadStopMs = 10000;
// The longest a request waits for the line to fall silent: a peer that never
// stops talking must not hold the user interface for good.
constexpr std::chrono::milliseconds SilenceWaitLimit(250);

using Clock = std::chrono::steady_clock;

// Bits of one character in halves (one and a half stop bits count three).
std::int64_t characterHalfBits(const SerialLineSettings &line)
{
    const int stopHalves = line.stopBits == TStopBits::sb2     ? 4
                           : line.stopBits == TStopBits::sb1_5 ? 3
                                                               : 2;
    const int parity = line.parity == TParity::None ? 0 : 1;
    return 2 * (1 + line.dataBits + parity) + stopHalves;
}

} // namespace

std::chrono::nanoseconds InterFrameSilence(const SerialLineSettings &line)
{
    if (line.baudRate == 0 || line.baudRate > 19200)
        return std::chrono::microseconds(1750);
    // 3.5 characters = 7/4 of the character's half bits, in bit times.
    return std::chrono::nanoseconds(7 * characterHalfBits(line) * 1'000'000'000LL /
                                    (4 * std::int64_t(line.baudRate)));
}

TVeskComms::TVeskComms(QObject *owner) : QObject(owner)
{
    m_timer.setInterval(TimerIntervalMs);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &TVeskComms::TimerTick);
}

TVeskComms::~TVeskComms()
{
    if (IsOpen())
        ClosePort();
    m_condition = nullptr;
}

bool TVeskComms::IsOpen() const
{
    return m_device && m_device->isOpen();
}

QString TVeskComms::DeviceName() const
{
    if (!DevicePath.isEmpty())
        return DevicePath;
    return ComPortNames::deviceForPort(CommPort + 1);
}

bool TVeskComms::OpenPort()
{
    if (IsOpen())
        throw ECommsError("Already have a Comm File Open");
    const QString path = DeviceName();
    if (path.isEmpty())
        return false;
    auto device = std::make_unique<SerialDevice>();
    const SerialLineSettings settings{BaudRate, DataBits, StopBits, Parity};
    switch (device->open(path, settings)) {
    case SerialDevice::OpenResult::CannotOpen:
        return false;
    case SerialDevice::OpenResult::NotACommDevice:
        throw ECommsError("File Handle is not a Comm Handle.");
    case SerialDevice::OpenResult::Opened:
        break;
    }
    m_device = std::move(device);
    m_line = settings;
    m_sentEnd = Clock::time_point();
    PrepareRxBuffer();
    m_matchFlag = m_timeoutFlag = false;
    m_flagsValid = true;
    try {
        m_thread = std::make_unique<TRxThread>(*m_device, this);
        m_thread->start(QThread::HighestPriority);
    } catch (...) {
        m_thread.reset();
    }
    if (!m_thread || (!m_thread->isRunning() && !m_thread->isFinished())) {
        m_thread.reset();
        m_flagsValid = false;
        m_device->close();
        m_device.reset();
        m_rxBuffer.clear();
        throw ECommsError("Unable To Create Rx Thread");
    }
    // A fresh opening leaves the closing state of an earlier double close
    // behind; otherwise SendData would refuse for the rest of its life.
    if (m_rxStatus == -2)
        m_rxStatus = 0;
    return true;
}

void TVeskComms::ClosePort()
{
    m_timer.stop();
    m_rxStatus = -2;
    m_matchFlag = true; // a WaitReply in progress returns
    m_timeoutTicks = 0;
    if (!IsOpen())
        return;
    m_device->purge();
    stopRxThread();
    // Blocks the thread posted before it ended belong to this opening only.
    QCoreApplication::removePostedEvents(this, RxDataEvent::eventType());
    m_flagsValid = false;
    m_device->close();
    m_device.reset();
    m_rxBuffer.clear();
    m_rxBuffer.shrink_to_fit();
    m_rxHead = 0;
    ++m_closeCount;
    m_rxStatus = -1;
}

void TVeskComms::stopRxThread()
{
    if (!m_thread)
        return;
    m_thread->RequestStop();
    if (!m_thread->wait(ThreadStopMs)) {
        // The reader blocks only in a wait that the stop request interrupts,
        // so this cannot last; the port is never closed under a live read.
        qWarning("TVeskComms: receive thread did not stop within %lu ms; still waiting",
                 ThreadStopMs);
        m_thread->wait();
    }
    if (!m_thread->HasEnded())
        qWarning("TVeskComms: receive thread finished without ending its loop");
    m_thread.reset();
}

bool TVeskComms::SendData(const std::uint8_t *data, std::uint16_t length, std::uint16_t timeout)
{
    if (m_rxStatus == -2)
        return false;
    if (IsOpen())
        waitForSilence();
    ClearRxBuffer();
    m_matchFlag = m_timeoutFlag = false;
    m_timeoutTicks = timeout;
    m_rxStatus = -1;
    m_pastFirstTick = false;
    m_timer.start();
    if (!IsOpen())
        return false;
    const bool written = m_device->write(data, length);
    // The driver takes the bytes at once; the last one leaves the line after
    // all of them have been clocked out.
    const std::int64_t halfBits = characterHalfBits(m_line) * length;
    m_sentEnd =
        Clock::now() + std::chrono::nanoseconds(halfBits * 1'000'000'000LL /
                                                (2 * std::max<std::uint32_t>(1, m_line.baudRate)));
    return written;
}

void TVeskComms::waitForSilence() const
{
    // The silence runs from the later of the last byte the receive thread
    // took and the last byte sent. Bytes may still arrive while waiting, so
    // the deadline is looked at again after each sleep; only the remainder
    // of the silence is ever waited, never a fixed delay on top.
    const std::chrono::nanoseconds silence = InterFrameSilence(m_line);
    const Clock::time_point limit = Clock::now() + SilenceWaitLimit;
    for (;;) {
        const Clock::time_point due = std::max(m_device->lastReceived(), m_sentEnd) + silence;
        const Clock::time_point now = Clock::now();
        if (now >= due || now >= limit)
            return;
        std::this_thread::sleep_until(std::min(due, limit));
    }
}

int TVeskComms::WaitReply()
{
    // Each slice serves the pending events, then waits for more, at most one
    // slice long. A block posted by the receive thread ends the wait at once
    // instead of at the end of a fixed sleep, so a reply is matched as soon
    // as it has been read.
    QTimer slice;
    slice.setSingleShot(true);
    slice.setTimerType(Qt::PreciseTimer);
    for (;;) {
        // Closed (never opened, or closed by a handler during the wait).
        if (!m_flagsValid)
            return m_rxStatus;
        if (m_timeoutFlag) {
            m_rxStatus = 0;
            return 0;
        }
        if (m_matchFlag)
            return m_rxStatus;
        slice.start(WaitSliceMs);
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

void TVeskComms::TimerTick()
{
    if (m_rxStatus != -1) {
        m_timer.stop();
        return;
    }
    // The first tick after a send never counts down, so a timeout of T ticks
    // runs out on tick T + 1, about (T + 1) x 100 ms after the send.
    if (m_pastFirstTick && m_timeoutTicks > 0 && m_timeoutTicks < NoTimeout)
        --m_timeoutTicks;
    if (m_timeoutTicks == 0) {
        m_timer.stop();
        m_timeoutFlag = true;
        if (OnTimeOut)
            OnTimeOut();
    }
    m_pastFirstTick = true;
}

void TVeskComms::customEvent(QEvent *event)
{
    if (event->type() != RxDataEvent::eventType())
        return;
    // The event owns the block; it is freed with the event after this returns.
    const QByteArray &block = static_cast<RxDataEvent *>(event)->block;
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(block.constData());
    ProcessRxData(bytes, std::size_t(block.size()));
    if (OnReceiveData)
        OnReceiveData(bytes, std::uint16_t(std::min<qsizetype>(block.size(), 65535)));
}

void TVeskComms::PrepareRxBuffer()
{
    m_rxBuffer.assign(RxBufferSize, 0);
    m_rxHead = 0;
}

void TVeskComms::storeByte(std::uint8_t b)
{
    if (m_rxBuffer.empty())
        return;
    m_rxBuffer[m_rxHead] = b;
    // Once the buffer is full every further byte overwrites the last position.
    if (++m_rxHead >= m_rxBuffer.size())
        m_rxHead = std::uint16_t(m_rxBuffer.size() - 1);
}

void TVeskComms::matchByte(std::uint8_t b)
{
    // Until a rule matches, bytes are examined; afterwards every rule only
    // counts, so the match position stays put while the reply's tail arrives.
    if (!m_condition)
        m_matchedItem = -1;
    else if (m_matchedItem < 0)
        m_matchedItem = m_condition->CheckChar(b);
    else
        m_condition->CountChar();
    if (!OnReceiveMsg)
        return;
    const int k = FindComplete();
    if (k < 1)
        return;
    m_timer.stop();
    OnReceiveMsg(k);
    ResetRxCondition();
    ClearRxBuffer();
}

void TVeskComms::ProcessRxData(const std::uint8_t *block, std::size_t length)
{
    const unsigned closeCount = m_closeCount;
    for (std::size_t i = 0; i < length; ++i) {
        storeByte(block[i]);
        matchByte(block[i]);
        if (m_closeCount != closeCount)
            return; // a handler closed the port: the rest belongs to no exchange
    }
    // Completion is judged once per block.
    if (m_rxStatus == -1) {
        const int k = FindComplete();
        if (k > 0) {
            m_rxStatus = k;
            m_timer.stop();
            m_matchFlag = true;
        }
    }
}

void TVeskComms::ResetRxCondition()
{
    m_matchedItem = -1;
    if (m_condition)
        m_condition->Reset();
}

int TVeskComms::FindComplete() const
{
    if (!m_condition)
        return -1;
    for (int k = 1; k <= m_condition->Count(); ++k) {
        if (m_condition->IsComplete(k))
            return k;
    }
    return -1;
}

namespace {

// Copies receive-buffer bytes into dest, never past maxLen bytes in all and
// never from outside the buffer (the counters keep growing after the buffer
// is full, so positions derived from them may lie beyond it).
class RxCopier
{
public:
    RxCopier(const std::vector<std::uint8_t> &buffer, std::uint8_t *dest, std::uint16_t maxLen)
        : m_buffer(buffer), m_dest(dest), m_maxLen(maxLen)
    {}
    bool copy(long pos)
    {
        if (m_copied >= m_maxLen || pos < 0 || std::size_t(pos) >= m_buffer.size())
            return false;
        m_dest[m_copied++] = m_buffer[std::size_t(pos)];
        return true;
    }
    void copyRun(long from, long count)
    {
        for (long i = 0; i < count && copy(from + i); ++i) {
        }
    }
    std::uint16_t finish()
    {
        m_dest[m_copied] = 0;
        return m_copied;
    }

private:
    const std::vector<std::uint8_t> &m_buffer;
    std::uint8_t *m_dest;
    std::uint16_t m_maxLen;
    std::uint16_t m_copied = 0;
};

} // namespace

std::uint16_t TVeskComms::GetRxData(std::uint16_t itemNo, std::uint8_t *dest, std::uint16_t maxLen,
                                    int before, int between, int after) const
{
    const TRxConditionItem *item = m_condition ? m_condition->Item(itemNo) : nullptr;
    RxCopier out(m_rxBuffer, dest, maxLen);
    if (!item)
        return out.finish();
    const long startPos = item->CountBefore;
    const long first = before < 0 ? 0 : std::max(0L, startPos - before);
    out.copyRun(first, startPos - first);
    if (between > 0)
        out.copyRun(startPos, between);
    else if (between < 0)
        out.copyRun(startPos, item->CountBetween);
    long pos = startPos + item->CountBetween;
    if (after > 0) {
        out.copyRun(pos, after);
    } else if (after < 0) {
        // Up to the last byte received, but at least one byte.
        do {
            if (!out.copy(pos))
                break;
            ++pos;
        } while (pos < m_rxHead);
    }
    return out.finish();
}
