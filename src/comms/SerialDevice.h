#pragma once

// The thin native layer under the serial component: open a serial device
// exclusively with given line settings, purge, write, and a blocking read that
// another thread can wake. One implementation per platform
// (SerialDevice_posix.cpp, SerialDevice_win.cpp).
//
// Threading: read() runs on the receive thread; everything else on the thread
// that owns the device. requestStop() may be called from any thread. close()
// must only run once the reading thread has ended.

#include <QString>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

enum class TStopBits
{
    sb1,
    sb1_5,
    sb2
};
enum class TParity
{
    None,
    Odd,
    Even,
    Mark,
    Space
};

struct SerialLineSettings
{
    std::uint32_t baudRate = 9600;
    std::uint8_t dataBits = 8;
    TStopBits stopBits = TStopBits::sb1;
    TParity parity = TParity::None;
};

class SerialDevice
{
public:
    enum class OpenResult
    {
        Opened,
        CannotOpen,     // missing, in use elsewhere, no rights, or no wake-up channel
        NotACommDevice, // opened, but not a serial character device; closed again
    };
    enum class ReadResult
    {
        Data,    // at least one byte was read
        Stopped, // requestStop() woke the reader
        Failed,  // the device failed or hung up; the reader should end
    };

    SerialDevice();
    ~SerialDevice();
    SerialDevice(const SerialDevice &) = delete;
    SerialDevice &operator=(const SerialDevice &) = delete;

    OpenResult open(const QString &path, const SerialLineSettings &settings);
    bool isOpen() const;
    // Drops whatever waits in both directions.
    void purge();
    // True only when every byte was handed to the driver without waiting long.
    bool write(const std::uint8_t *data, std::size_t length);
    // Waits without time limit until data arrives or a stop is requested. Once
    // data has arrived it keeps collecting until the line has been quiet for
    // more than 1 ms or `capacity` bytes are in, so a block is what arrived in
    // one burst.
    ReadResult read(std::uint8_t *buffer, std::size_t capacity, std::size_t &received);
    // When read() last took bytes from the driver: the epoch of the steady
    // clock before any. Safe to call from any thread while the reader runs.
    std::chrono::steady_clock::time_point lastReceived() const
    {
        return std::chrono::steady_clock::time_point(
            std::chrono::steady_clock::duration(m_lastReceived.load(std::memory_order_acquire)));
    }
    // Wakes a read() in progress (or the next one) so it returns Stopped.
    void requestStop();
    void close();

private:
    // Called by read() whenever the driver has handed over bytes.
    void noteReceived()
    {
        m_lastReceived.store(std::chrono::steady_clock::now().time_since_epoch().count(),
                             std::memory_order_release);
    }

    struct Impl;
    std::unique_ptr<Impl> d;
    std::atomic<std::chrono::steady_clock::rep> m_lastReceived{0};
};
