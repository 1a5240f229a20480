#include "LoopbackPeer.h"

#include <QElapsedTimer>

#ifdef _WIN32
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on
namespace {
using socklen_t = int;
constexpr int SHUT_RDWR = SD_BOTH;
constexpr int MSG_NOSIGNAL = 0;
int poll(WSAPOLLFD *fds, ULONG count, int timeoutMs)
{
    return ::WSAPoll(fds, count, timeoutMs);
}
using pollfd = WSAPOLLFD;
int closeSocket(qintptr s)
{
    return ::closesocket(SOCKET(s));
}
// Winsock is started once per process and left running.
const bool winsockStarted = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
}();
} // namespace
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
namespace {
int closeSocket(qintptr s)
{
    return ::close(int(s));
}
} // namespace
#endif

#include <chrono>

LoopbackPeer::LoopbackPeer()
{
    m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    ::bind(m_listener, reinterpret_cast<sockaddr *>(&a), sizeof a);
    ::listen(m_listener, 4);
    socklen_t len = sizeof a;
    ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&a), &len);
    m_port = ntohs(a.sin_port);
}

LoopbackPeer::~LoopbackPeer()
{
    ::shutdown(m_listener, SHUT_RDWR);
    if (m_connection >= 0)
        ::shutdown(m_connection, SHUT_RDWR);
    if (m_thread.joinable())
        m_thread.join();
    if (m_connection >= 0)
        closeSocket(m_connection);
    closeSocket(m_listener);
}

void LoopbackPeer::play(std::vector<Step> steps)
{
    m_thread = std::thread([this, steps = std::move(steps)] {
        pollfd p{};
        p.fd = decltype(p.fd)(m_listener);
        p.events = POLLIN;
        if (poll(&p, 1, 10000) <= 0) {
            m_done = true;
            return;
        }
        m_connection = ::accept(m_listener, nullptr, nullptr);
        int one = 1;
        ::setsockopt(m_connection, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&one),
                     sizeof one);
        for (const Step &step : steps) {
            if (step.kind == Step::Receive) {
                char buffer[512];
                int wanted = step.count;
                while (wanted > 0) {
                    const auto n = ::recv(m_connection, buffer, std::min<int>(wanted, 512), 0);
                    if (n <= 0)
                        break;
                    m_received.append(buffer, int(n));
                    wanted -= int(n);
                }
            } else if (step.kind == Step::Send) {
                ::send(m_connection, step.bytes.constData(), int(step.bytes.size()), MSG_NOSIGNAL);
            } else if (step.kind == Step::Pause) {
                std::this_thread::sleep_for(std::chrono::milliseconds(step.count));
            } else {
                ::shutdown(m_connection, SHUT_RDWR);
            }
        }
        m_done = true;
    });
}

bool LoopbackPeer::finished(int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!m_done && t.elapsed() < timeoutMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return m_done;
}

QByteArray LoopbackPeer::received()
{
    if (m_thread.joinable() && m_done)
        m_thread.join();
    return m_received;
}
