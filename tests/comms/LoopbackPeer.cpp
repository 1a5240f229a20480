#include "LoopbackPeer.h"

#include <QElapsedTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

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
        ::close(m_connection);
    ::close(m_listener);
}

void LoopbackPeer::play(std::vector<Step> steps)
{
    m_thread = std::thread([this, steps = std::move(steps)] {
        pollfd p{m_listener, POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0) {
            m_done = true;
            return;
        }
        m_connection = ::accept(m_listener, nullptr, nullptr);
        int one = 1;
        ::setsockopt(m_connection, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
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
                ::send(m_connection, step.bytes.constData(), std::size_t(step.bytes.size()),
                       MSG_NOSIGNAL);
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
