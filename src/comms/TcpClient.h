#pragma once

#include "TcpStream.h"

#include <QString>

#include <cstdint>
#include <functional>

// Blocking Modbus TCP client socket. One connection at a time; every call
// returns within its own time bound, so an unreachable unit cannot freeze the
// caller for longer than ConnectTimeoutMs.
class TTcpClient : public TcpStream
{
public:
    // An unreachable address fails after this long instead of the operating
    // system's minutes-long SYN retry schedule. A unit on the engineer's LAN
    // answers a connect in milliseconds, so three seconds is a generous bound.
    static constexpr int ConnectTimeoutMs = 3000;

    TTcpClient() = default;
    ~TTcpClient() override;
    TTcpClient(const TTcpClient &) = delete;
    TTcpClient &operator=(const TTcpClient &) = delete;

    // Changing the host or port of an open client closes it first.
    void setRemoteHost(const QString &host);
    void setRemotePort(std::uint16_t port);
    QString remoteHost() const { return m_host; }
    std::uint16_t remotePort() const { return m_port; }

    // Connects to the remote host and port; returns connected().
    bool open(int connectTimeoutMs = ConnectTimeoutMs);
    void close();
    bool connected() const { return m_socket >= 0; }
    bool active() const { return connected(); }

    // Why the last open() failed, for messages and logs.
    QString lastError() const { return m_lastError; }

    // A wait for data longer than one slice calls `waiting` after every
    // slice with the milliseconds waited so far, and `ended` once when it is
    // over: the window keeps painting while a reply is awaited. Without them
    // (the command line) a wait simply blocks. The wait's length is unchanged.
    struct WaitHooks
    {
        std::function<void(int waitedMs)> waiting;
        std::function<void()> ended;
    };
    static constexpr int WaitSliceMs = 20;
    void setWaitHooks(WaitHooks hooks) { m_waitHooks = std::move(hooks); }

    bool send(const std::uint8_t *data, std::size_t length) override;
    bool waitForData(int timeoutMs) override;
    int receive(std::uint8_t *buffer, int maxLength) override;
    std::size_t discardPending(std::uint8_t *keep, std::size_t keepMax) override;

    // True when the peer has closed the connection or it has failed (bytes
    // still unread do not count as closed); never waits.
    bool connectionLost();

private:
    bool connectTo(const void *address, unsigned addressLength, int family, int timeoutMs);

    QString m_host;
    std::uint16_t m_port = 502;
    QString m_lastError;
    long long m_socket = -1;
    WaitHooks m_waitHooks;
};
