#include "RxThread.h"

#include "SerialDevice.h"

#include <QCoreApplication>

#include <vector>

QEvent::Type RxDataEvent::eventType()
{
    static const auto type = QEvent::Type(QEvent::registerEventType());
    return type;
}

void TRxThread::RequestStop()
{
    m_stop.store(true);
    m_device.requestStop();
}

void TRxThread::run()
{
    std::vector<std::uint8_t> buffer(ReadBufferSize);
    while (!m_stop.load()) {
        std::size_t received = 0;
        const SerialDevice::ReadResult result =
            m_device.read(buffer.data(), buffer.size(), received);
        // Any failure of the device ends the thread silently; later exchanges
        // then time out.
        if (result != SerialDevice::ReadResult::Data)
            break;
        QCoreApplication::postEvent(
            m_target, new RxDataEvent(QByteArray(reinterpret_cast<const char *>(buffer.data()),
                                                 qsizetype(received))));
    }
    m_ended.store(true, std::memory_order_release);
}
