#pragma once

// The serial component's receive thread: it only reads the port and posts
// every block it reads, as an RxDataEvent that owns a fresh copy of the bytes,
// to the component on its own thread. It touches nothing else.

#include <QByteArray>
#include <QEvent>
#include <QThread>

#include <atomic>

class SerialDevice;

class RxDataEvent : public QEvent
{
public:
    explicit RxDataEvent(QByteArray data) : QEvent(eventType()), block(std::move(data)) {}
    static QEvent::Type eventType();

    const QByteArray block; // the bytes read, owned by the event
};

class TRxThread : public QThread
{
public:
    // The target must outlive the thread; the component joins the thread
    // before it goes away.
    TRxThread(SerialDevice &device, QObject *target) : m_device(device), m_target(target) {}

    // Wakes the thread; it ends at its next check.
    void RequestStop();
    // True once run() has returned. Read after wait(): the release/acquire pair
    // makes the thread's last touches of the device visible to whoever closes
    // it, in a form race detectors see (Qt's own join is invisible to them).
    bool HasEnded() const { return m_ended.load(std::memory_order_acquire); }

protected:
    void run() override;

private:
    static constexpr std::size_t ReadBufferSize = 16384;

    SerialDevice &m_device;
    QObject *m_target;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_ended{false};
};
