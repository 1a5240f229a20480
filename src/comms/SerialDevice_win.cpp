// Win32 serial device: overlapped I/O on a COM handle opened without sharing.
// The reader keeps one read and one line-error wait pending and sleeps on
// them together with a stop event.

#include "SerialDevice.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr DWORD WriteWaitMs = 200;
constexpr std::size_t ReadChunk = 16384;
constexpr DWORD PurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

HANDLE manualResetEvent()
{
    return CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

// The line settings and time-outs; the results are not examined, as with any
// port whose driver refuses an unusual setting. A read completes once at
// least one byte has arrived and the line has then been quiet for more than
// 1 ms; writes never time out.
void applySettings(HANDLE port, const SerialLineSettings &s)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (GetCommState(port, &dcb)) {
        dcb.BaudRate = s.baudRate;
        dcb.ByteSize = s.dataBits;
        dcb.Parity = BYTE(s.parity);     // ordinals match NOPARITY..SPACEPARITY
        dcb.StopBits = BYTE(s.stopBits); // ordinals match ONESTOPBIT..TWOSTOPBITS
        dcb.fAbortOnError = FALSE;
        SetCommState(port, &dcb);
    }
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 1;
    SetCommTimeouts(port, &timeouts);
    SetCommMask(port, EV_ERR);
}

} // namespace

struct SerialDevice::Impl
{
    HANDLE port = INVALID_HANDLE_VALUE;
    HANDLE stopEvent = nullptr;
    OVERLAPPED readOv{};
    OVERLAPPED lineOv{};
    OVERLAPPED writeOv{};
    bool readPending = false;
    bool linePending = false;
    // Set when the port cannot wait for line errors at all (a driver without
    // modem status, Wine on a pseudo-terminal): data is still read, line
    // errors just go unwatched, rather than the whole receive side ending.
    bool lineWaitUnsupported = false;
    bool writePending = false;
    DWORD lineMask = 0;
    std::vector<std::uint8_t> readBuffer = std::vector<std::uint8_t>(ReadChunk);
    // A pending write reads from here, so the caller's frame may go away.
    std::vector<std::uint8_t> writeBuffer;

    bool createEvents()
    {
        stopEvent = manualResetEvent();
        readOv.hEvent = manualResetEvent();
        lineOv.hEvent = manualResetEvent();
        writeOv.hEvent = manualResetEvent();
        return stopEvent && readOv.hEvent && lineOv.hEvent && writeOv.hEvent;
    }
    // Cancels what this thread has pending and waits until the driver lets go
    // of the records and buffers. Runs on the reader thread, which issued them.
    void cancelReader()
    {
        DWORD ignored = 0;
        if (readPending || linePending)
            CancelIo(port);
        if (readPending)
            GetOverlappedResult(port, &readOv, &ignored, TRUE);
        if (linePending)
            GetOverlappedResult(port, &lineOv, &ignored, TRUE);
        readPending = linePending = false;
    }
    void finishWrite()
    {
        DWORD ignored = 0;
        if (writePending) {
            CancelIoEx(port, &writeOv);
            GetOverlappedResult(port, &writeOv, &ignored, TRUE);
        }
        writePending = false;
    }
    bool armRead(std::size_t &received);
    bool armLineWait();
};

SerialDevice::SerialDevice() : d(std::make_unique<Impl>()) {}

SerialDevice::~SerialDevice()
{
    close();
}

bool SerialDevice::isOpen() const
{
    return d->port != INVALID_HANDLE_VALUE;
}

SerialDevice::OpenResult SerialDevice::open(const QString &path, const SerialLineSettings &settings)
{
    if (isOpen())
        return OpenResult::CannotOpen;
    const std::wstring name = path.toStdWString();
    HANDLE port = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE)
        return OpenResult::CannotOpen;
    if (GetFileType(port) != FILE_TYPE_CHAR) {
        CloseHandle(port);
        return OpenResult::NotACommDevice;
    }
    d->port = port;
    d->lineWaitUnsupported = false;
    if (!d->createEvents()) {
        close();
        return OpenResult::CannotOpen;
    }
    PurgeComm(port, PurgeAll);
    DWORD errors = 0;
    ClearCommError(port, &errors, nullptr);
    applySettings(port, settings);
    return OpenResult::Opened;
}

void SerialDevice::purge()
{
    if (isOpen())
        PurgeComm(d->port, PurgeAll);
}

bool SerialDevice::write(const std::uint8_t *data, std::size_t length)
{
    if (!isOpen())
        return false;
    // One write in flight at a time; the previous one normally ended long ago.
    if (d->writePending) {
        DWORD ignored = 0;
        GetOverlappedResult(d->port, &d->writeOv, &ignored, TRUE);
        d->writePending = false;
    }
    d->writeBuffer.assign(data, data + length);
    ResetEvent(d->writeOv.hEvent);
    DWORD written = 0;
    if (WriteFile(d->port, d->writeBuffer.data(), DWORD(length), &written, &d->writeOv))
        return written == length;
    if (GetLastError() != ERROR_IO_PENDING)
        return false;
    d->writePending = true;
    if (WaitForSingleObject(d->writeOv.hEvent, WriteWaitMs) != WAIT_OBJECT_0)
        return false; // still pending: finished or cancelled later
    d->writePending = false;
    return GetOverlappedResult(d->port, &d->writeOv, &written, FALSE) && written == length;
}

// Issues a read unless one is pending. True with received > 0 when data came
// at once; false on failure.
bool SerialDevice::Impl::armRead(std::size_t &received)
{
    if (readPending)
        return true;
    ResetEvent(readOv.hEvent);
    DWORD n = 0;
    if (ReadFile(port, readBuffer.data(), DWORD(readBuffer.size()), &n, &readOv)) {
        received = n;
        return true;
    }
    readPending = GetLastError() == ERROR_IO_PENDING;
    return readPending;
}

// Keeps a line-error wait pending; errors that completed at once are cleared.
bool SerialDevice::Impl::armLineWait()
{
    if (lineWaitUnsupported)
        return true;
    while (!linePending) {
        ResetEvent(lineOv.hEvent);
        lineMask = 0;
        if (!WaitCommEvent(port, &lineMask, &lineOv)) {
            linePending = GetLastError() == ERROR_IO_PENDING;
            // A port that refuses the wait is still read; a port that is
            // gone fails its next read instead.
            lineWaitUnsupported = !linePending;
            return true;
        }
        DWORD errors = 0;
        if (!(lineMask & EV_ERR) || !ClearCommError(port, &errors, nullptr))
            return false;
    }
    return true;
}

SerialDevice::ReadResult SerialDevice::read(std::uint8_t *buffer, std::size_t capacity,
                                            std::size_t &received)
{
    received = 0;
    for (;;) {
        std::size_t now = 0;
        if (!d->armRead(now) || !d->armLineWait())
            break;
        if (now > 0) {
            received = std::min(now, capacity);
            std::memcpy(buffer, d->readBuffer.data(), received);
            noteReceived();
            return ReadResult::Data;
        }
        if (!d->readPending)
            continue; // completed at once with nothing
        // Without a line wait, the read's event takes the line wait's place.
        const HANDLE waits[3] = {d->stopEvent,
                                 d->lineWaitUnsupported ? d->readOv.hEvent : d->lineOv.hEvent,
                                 d->readOv.hEvent};
        const DWORD which =
            WaitForMultipleObjects(d->lineWaitUnsupported ? 2 : 3, waits, FALSE, INFINITE);
        DWORD n = 0;
        if (which == WAIT_OBJECT_0 + 1 && !d->lineWaitUnsupported) {
            d->linePending = false;
            DWORD errors = 0;
            if (!GetOverlappedResult(d->port, &d->lineOv, &n, FALSE)) {
                d->lineWaitUnsupported = true;
                continue;
            }
            if (!(d->lineMask & EV_ERR) || !ClearCommError(d->port, &errors, nullptr))
                break;
        } else if (which == WAIT_OBJECT_0 + 2 ||
                   (which == WAIT_OBJECT_0 + 1 && d->lineWaitUnsupported)) {
            d->readPending = false;
            if (!GetOverlappedResult(d->port, &d->readOv, &n, FALSE))
                break;
            if (n > 0) {
                received = std::min<std::size_t>(n, capacity);
                std::memcpy(buffer, d->readBuffer.data(), received);
                noteReceived();
                return ReadResult::Data;
            }
        } else {
            d->cancelReader();
            return which == WAIT_OBJECT_0 ? ReadResult::Stopped : ReadResult::Failed;
        }
    }
    d->cancelReader();
    return ReadResult::Failed;
}

void SerialDevice::requestStop()
{
    if (d->stopEvent)
        SetEvent(d->stopEvent);
}

void SerialDevice::close()
{
    if (isOpen()) {
        d->finishWrite();
        PurgeComm(d->port, PurgeAll);
        CloseHandle(d->port);
        d->port = INVALID_HANDLE_VALUE;
    }
    for (HANDLE *h : {&d->stopEvent, &d->readOv.hEvent, &d->lineOv.hEvent, &d->writeOv.hEvent}) {
        if (*h)
            CloseHandle(*h);
        *h = nullptr;
    }
}
