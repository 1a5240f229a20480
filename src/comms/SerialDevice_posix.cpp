// POSIX serial device: termios for the line, poll() on the port and a wake-up
// pipe for the reader, flock() plus TIOCEXCL for exclusive use.

#include "SerialDevice.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// A block ends when the line has been quiet for more than 1 ms: poll() waits
// at least the whole millisecond (and the timer slack on top). Every
// millisecond more would only delay each reply, as the reader posts a block
// only once the line has gone quiet after it.
constexpr int InterByteGapMs = 1;
// A write that the driver cannot take within this time is reported as failed.
constexpr int WriteWaitMs = 200;

speed_t speedFor(std::uint32_t baud)
{
    switch (baud) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    default:
        return B0; // unsupported: the port keeps its speed
    }
}

void applyFraming(termios &tio, const SerialLineSettings &s)
{
    static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    if (s.dataBits >= 5 && s.dataBits <= 8) {
        tio.c_cflag &= ~tcflag_t(CSIZE);
        tio.c_cflag |= sizes[s.dataBits - 5];
    }
    // termios has no 1.5 stop bits; two is the nearest the line can do.
    if (s.stopBits == TStopBits::sb1)
        tio.c_cflag &= ~tcflag_t(CSTOPB);
    else
        tio.c_cflag |= CSTOPB;
    tio.c_cflag &= ~tcflag_t(PARENB | PARODD);
#ifdef CMSPAR
    tio.c_cflag &= ~tcflag_t(CMSPAR);
#endif
    switch (s.parity) {
    case TParity::None:
        break;
    case TParity::Odd:
        tio.c_cflag |= PARENB | PARODD;
        break;
    case TParity::Even:
        tio.c_cflag |= PARENB;
        break;
#ifdef CMSPAR
    case TParity::Mark:
        tio.c_cflag |= PARENB | PARODD | CMSPAR;
        break;
    case TParity::Space:
        tio.c_cflag |= PARENB | CMSPAR;
        break;
#else
    case TParity::Mark:
    case TParity::Space:
        break; // not offered by this platform's termios
#endif
    }
}

// Raw 8-bit line, no flow control, no modem-control hang-up. Input parity is
// not checked and breaks are ignored, so line errors never stop the reading:
// the bytes are delivered as received. The results are not examined, as with
// any serial port whose driver refuses an unusual setting.
void applySettings(int fd, const SerialLineSettings &s)
{
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        return;
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~tcflag_t(CRTSCTS);
    tio.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY | INPCK);
    tio.c_iflag |= IGNBRK;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    applyFraming(tio, s);
    const speed_t speed = speedFor(s.baudRate);
    if (speed != B0) {
        ::cfsetispeed(&tio, speed);
        ::cfsetospeed(&tio, speed);
    }
    ::tcsetattr(fd, TCSANOW, &tio);
}

bool setNonBlockingCloexec(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0 &&
           ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

} // namespace

struct SerialDevice::Impl
{
    int fd = -1;
    int wakeRead = -1;
    int wakeWrite = -1;

    void closeAll()
    {
        for (int *f : {&fd, &wakeRead, &wakeWrite}) {
            if (*f >= 0)
                ::close(*f);
            *f = -1;
        }
    }
    bool waitReadable(int timeoutMs, bool &stopped, bool &failed);
};

SerialDevice::SerialDevice() : d(std::make_unique<Impl>()) {}

SerialDevice::~SerialDevice()
{
    close();
}

bool SerialDevice::isOpen() const
{
    return d->fd >= 0;
}

SerialDevice::OpenResult SerialDevice::open(const QString &path, const SerialLineSettings &settings)
{
    if (isOpen())
        return OpenResult::CannotOpen;
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return OpenResult::CannotOpen;
    if (!::isatty(fd)) {
        ::close(fd);
        return OpenResult::NotACommDevice;
    }
    // TIOCEXCL keeps other openers out but root bypasses it; the lock also
    // keeps out a second user of this code in any process, root included.
    int pipeFds[2] = {-1, -1};
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd, TIOCEXCL) != 0 || ::pipe(pipeFds) != 0) {
        ::close(fd);
        return OpenResult::CannotOpen;
    }
    d->fd = fd;
    d->wakeRead = pipeFds[0];
    d->wakeWrite = pipeFds[1];
    if (!setNonBlockingCloexec(d->wakeRead) || !setNonBlockingCloexec(d->wakeWrite)) {
        close();
        return OpenResult::CannotOpen;
    }
    applySettings(fd, settings);
    purge();
    return OpenResult::Opened;
}

void SerialDevice::purge()
{
    if (isOpen())
        ::tcflush(d->fd, TCIOFLUSH);
}

bool SerialDevice::write(const std::uint8_t *data, std::size_t length)
{
    if (!isOpen())
        return false;
    std::size_t done = 0;
    while (done < length) {
        const ssize_t put = ::write(d->fd, data + done, length - done);
        if (put > 0) {
            done += std::size_t(put);
            continue;
        }
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return false;
        pollfd p{d->fd, POLLOUT, 0};
        if (::poll(&p, 1, WriteWaitMs) <= 0)
            return false;
    }
    return true;
}

bool SerialDevice::Impl::waitReadable(int timeoutMs, bool &stopped, bool &failed)
{
    pollfd p[2] = {{fd, POLLIN, 0}, {wakeRead, POLLIN, 0}};
    const int n = ::poll(p, 2, timeoutMs);
    if (n < 0) {
        failed = errno != EINTR;
        return false;
    }
    if (p[1].revents != 0) {
        stopped = true;
        return false;
    }
    if (p[0].revents & POLLIN)
        return true;
    // A hang-up or error without data (an unplugged adapter, a closed pty
    // master) would wake every poll at once: end the reader instead of spinning.
    failed = (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    return false;
}

SerialDevice::ReadResult SerialDevice::read(std::uint8_t *buffer, std::size_t capacity,
                                            std::size_t &received)
{
    received = 0;
    int timeoutMs = -1; // wait without limit for the first byte
    while (received < capacity) {
        bool stopped = false;
        bool failed = false;
        if (!d->waitReadable(timeoutMs, stopped, failed)) {
            if (stopped)
                return ReadResult::Stopped;
            if (failed && received == 0)
                return ReadResult::Failed;
            if (failed || received > 0)
                break; // quiet line (or a failure after data): deliver the block
            continue;  // interrupted before any data
        }
        const ssize_t n = ::read(d->fd, buffer + received, capacity - received);
        if (n > 0) {
            noteReceived();
            received += std::size_t(n);
            timeoutMs = InterByteGapMs;
        } else if (n == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) {
            if (received == 0)
                return ReadResult::Failed;
            break;
        }
    }
    return ReadResult::Data;
}

void SerialDevice::requestStop()
{
    if (d->wakeWrite >= 0) {
        const char wake = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(d->wakeWrite, &wake, 1);
    }
}

void SerialDevice::close()
{
    if (d->fd >= 0) {
        ::tcflush(d->fd, TCIOFLUSH);
        // Leave the tty shareable again for whoever opens it next.
        ::ioctl(d->fd, TIOCNXCL);
        ::flock(d->fd, LOCK_UN);
    }
    d->closeAll();
}
