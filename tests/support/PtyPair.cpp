#include "PtyPair.h"

#include <QElapsedTimer>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair()
{
    char name[256] = {};
    termios raw{};
    ::cfmakeraw(&raw);
    if (::openpty(&m_master, &m_slaveKeeper, name, &raw, nullptr) != 0) {
        m_master = m_slaveKeeper = -1;
        return;
    }
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_slaveKeeper, F_SETFD, FD_CLOEXEC);
    m_slavePath = QString::fromLocal8Bit(name);
}

PtyPair::~PtyPair()
{
    if (m_master >= 0)
        ::close(m_master);
    if (m_slaveKeeper >= 0)
        ::close(m_slaveKeeper);
}

bool PtyPair::write(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t put =
            ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (put < 0 && errno != EINTR)
            return false;
        if (put > 0)
            done += put;
    }
    return true;
}

QByteArray PtyPair::read(int size, int timeoutMs)
{
    QByteArray got;
    m_reads = 0;
    QElapsedTimer clock;
    clock.start();
    while (got.size() < size) {
        const qint64 left = timeoutMs - clock.elapsed();
        pollfd p{m_master, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, int(left)) <= 0)
            break;
        char chunk[512];
        const ssize_t n =
            ::read(m_master, chunk, std::min<size_t>(sizeof chunk, size_t(size - got.size())));
        if (n <= 0)
            break;
        got.append(chunk, int(n));
        ++m_reads;
    }
    return got;
}

QByteArray PtyPair::readFor(int timeoutMs)
{
    return read(1 << 20, timeoutMs);
}
