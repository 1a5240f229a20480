#include "TcpClient.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstring>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using SocketLength = int;
namespace {
using NativeSocket = SOCKET;
constexpr int NoSignal = 0;
int closeSocket(NativeSocket s)
{
    return closesocket(s);
}
int pollSockets(WSAPOLLFD *fds, unsigned n, int ms)
{
    return WSAPoll(fds, n, ms);
}
using PollFd = WSAPOLLFD;
bool setNonBlocking(NativeSocket s, bool on)
{
    u_long mode = on ? 1 : 0;
    return ioctlsocket(s, FIONBIO, &mode) == 0;
}
bool inProgress()
{
    return WSAGetLastError() == WSAEWOULDBLOCK;
}
QString lastSocketError()
{
    return QStringLiteral("socket error %1").arg(WSAGetLastError());
}
struct WinsockInit
{
    WinsockInit()
    {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
} winsockInit;
} // namespace
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
using SocketLength = socklen_t;
namespace {
using NativeSocket = int;
#ifdef MSG_NOSIGNAL
constexpr int NoSignal = MSG_NOSIGNAL; // a vanished peer must not kill the tool with SIGPIPE
#else
constexpr int NoSignal = 0;
#endif
int closeSocket(NativeSocket s)
{
    return ::close(s);
}
using PollFd = pollfd;
int pollSockets(pollfd *fds, unsigned n, int ms)
{
    return ::poll(fds, n, ms);
}
bool setNonBlocking(NativeSocket s, bool on)
{
    const int flags = fcntl(s, F_GETFL, 0);
    return flags >= 0 && fcntl(s, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK)) == 0;
}
bool inProgress()
{
    return errno == EINPROGRESS;
}
QString lastSocketError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}
} // namespace
#endif

namespace {

NativeSocket native(long long s)
{
    return static_cast<NativeSocket>(s);
}

// Waits for the given events, retrying when a signal interrupts the wait and
// keeping the total within timeoutMs. Returns the revents, 0 on timeout, -1 on error.
int waitFor(NativeSocket s, short events, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        PollFd fd{};
        fd.fd = s;
        fd.events = events;
        const int left = timeoutMs < 0 ? -1 : int(std::max<qint64>(0, timeoutMs - clock.elapsed()));
        const int n = pollSockets(&fd, 1, left);
        if (n > 0)
            return fd.revents;
        if (n == 0)
            return 0;
#ifndef _WIN32
        if (errno == EINTR)
            continue;
#endif
        return -1;
    }
}

} // namespace

TTcpClient::~TTcpClient()
{
    close();
}

void TTcpClient::setRemoteHost(const QString &host)
{
    if (host != m_host)
        close();
    m_host = host;
}

void TTcpClient::setRemotePort(std::uint16_t port)
{
    if (port != m_port)
        close();
    m_port = port;
}

bool TTcpClient::open(int connectTimeoutMs)
{
    close();
    m_lastError.clear();

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo *found = nullptr;
    const QByteArray host = m_host.trimmed().toUtf8();
    const QByteArray port = QByteArray::number(m_port);
    const int rc = getaddrinfo(host.constData(), port.constData(), &hints, &found);
    if (rc != 0 || !found) {
        m_lastError = QStringLiteral("cannot resolve %1").arg(m_host);
        return false;
    }
    for (addrinfo *a = found; a && !connected(); a = a->ai_next)
        connectTo(a->ai_addr, unsigned(a->ai_addrlen), a->ai_family, connectTimeoutMs);
    freeaddrinfo(found);
    return connected();
}

bool TTcpClient::connectTo(const void *address, unsigned addressLength, int family, int timeoutMs)
{
    const NativeSocket s = ::socket(family, SOCK_STREAM, IPPROTO_TCP);
#ifdef _WIN32
    if (s == INVALID_SOCKET) {
#else
    if (s < 0) {
#endif
        m_lastError = lastSocketError();
        return false;
    }
    // Requests are sent whole in one call; no reason to let Nagle hold them back.
    int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&one), sizeof one);
#if !defined(_WIN32) && defined(SO_NOSIGPIPE)
    setsockopt(s, SOL_SOCKET, SO_NOSIGPIPE, &one, sizeof one);
#endif

    bool ok = setNonBlocking(s, true);
    if (ok &&
        ::connect(s, static_cast<const sockaddr *>(address), SocketLength(addressLength)) != 0) {
        ok = false;
        if (inProgress()) {
            const int ev = waitFor(s, POLLOUT, timeoutMs);
            int error = 0;
            SocketLength len = sizeof error;
            if (ev > 0 &&
                getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error), &len) == 0) {
                ok = error == 0;
                if (!ok)
                    m_lastError = QString::fromLocal8Bit(std::strerror(error));
            } else {
                m_lastError = ev == 0 ? QStringLiteral("connection timed out") : lastSocketError();
            }
        } else {
            m_lastError = lastSocketError();
        }
    }
    if (!ok || !setNonBlocking(s, false)) {
        closeSocket(s);
        return false;
    }
    m_socket = static_cast<long long>(s);
    return true;
}

void TTcpClient::close()
{
    if (m_socket >= 0)
        closeSocket(native(m_socket));
    m_socket = -1;
}

bool TTcpClient::send(const std::uint8_t *data, std::size_t length)
{
    if (!connected())
        return false;
    std::size_t sent = 0;
    while (sent < length) {
        const auto n = ::send(native(m_socket), reinterpret_cast<const char *>(data + sent),
                              int(length - sent), NoSignal);
        if (n <= 0) {
#ifndef _WIN32
            if (n < 0 && errno == EINTR)
                continue;
#endif
            return false;
        }
        sent += std::size_t(n);
    }
    return true;
}

bool TTcpClient::waitForData(int timeoutMs)
{
    if (!connected())
        return false;
    int ev = 0;
    if (!m_waitHooks.waiting || timeoutMs < 0) {
        ev = waitFor(native(m_socket), POLLIN, timeoutMs);
    } else {
        // The same wait in slices, with the hook run between them.
        QElapsedTimer clock;
        clock.start();
        bool hooked = false;
        for (;;) {
            const int left = int(std::max<qint64>(0, timeoutMs - clock.elapsed()));
            ev = waitFor(native(m_socket), POLLIN, std::min(left, WaitSliceMs));
            if (ev != 0 || left <= WaitSliceMs)
                break;
            hooked = true;
            m_waitHooks.waiting(int(clock.elapsed()));
            // The hook may have closed the connection (the window's events).
            if (!connected())
                break;
        }
        if (hooked && m_waitHooks.ended)
            m_waitHooks.ended();
        if (!connected())
            return false;
    }
    if (ev <= 0)
        return false;
    // Readable also means "closed" or "failed": a one-byte peek tells them apart.
    char probe;
    const auto n = ::recv(native(m_socket), &probe, 1, MSG_PEEK);
    return n > 0;
}

int TTcpClient::receive(std::uint8_t *buffer, int maxLength)
{
    if (!connected() || maxLength <= 0)
        return -1;
    for (;;) {
        const auto n = ::recv(native(m_socket), reinterpret_cast<char *>(buffer), maxLength, 0);
#ifndef _WIN32
        if (n < 0 && errno == EINTR)
            continue;
#endif
        return n < 0 ? -1 : int(n);
    }
}

std::size_t TTcpClient::discardPending(std::uint8_t *keep, std::size_t keepMax)
{
    if (!connected())
        return 0;
    std::uint8_t scrap[256];
    std::size_t dropped = 0;
    for (;;) {
        const int ev = waitFor(native(m_socket), POLLIN, 0);
        if (ev <= 0 || !(ev & POLLIN))
            return dropped;
        const auto n = ::recv(native(m_socket), reinterpret_cast<char *>(scrap), sizeof scrap, 0);
        if (n <= 0) // closed or failed: the next exchange will see it
            return dropped;
        if (keep && dropped < keepMax)
            std::memcpy(keep + dropped, scrap, std::min(std::size_t(n), keepMax - dropped));
        dropped += std::size_t(n);
    }
}

bool TTcpClient::connectionLost()
{
    if (!connected())
        return true;
    const int ev = waitFor(native(m_socket), POLLIN, 0);
    if (ev == 0)
        return false;
    if (ev < 0 || (ev & (POLLERR | POLLNVAL)))
        return true;
    // Readable: either data (still alive) or the end of the stream.
    char probe;
    for (;;) {
        const auto n = ::recv(native(m_socket), &probe, 1, MSG_PEEK);
#ifndef _WIN32
        if (n < 0 && errno == EINTR)
            continue;
#endif
        return n <= 0;
    }
}
