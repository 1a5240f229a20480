#pragma once

// A scripted TCP peer on 127.0.0.1 running in its own thread, so that the
// blocking client can be exercised against real sockets: it accepts one
// connection and plays its steps in order.

#include <QByteArray>
#include <QtGlobal>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

class LoopbackPeer
{
public:
    struct Step {
        enum Kind { Receive, Send, Pause, Close } kind;
        int count = 0;        // Receive: bytes to read; Pause: milliseconds
        QByteArray bytes = {}; // Send
    };

    LoopbackPeer();  // listens on 127.0.0.1, port chosen by the kernel
    ~LoopbackPeer(); // joins the thread (bounded: sockets are shut down first)

    std::uint16_t port() const { return m_port; }
    void play(std::vector<Step> steps);
    // Everything the peer received, once the script has finished.
    QByteArray received();
    bool finished(int timeoutMs);

private:
    // Socket handles: descriptors on POSIX, SOCKET values on Windows.
    qintptr m_listener = -1;
    qintptr m_connection = -1;
    std::uint16_t m_port = 0;
    std::thread m_thread;
    QByteArray m_received;
    std::atomic<bool> m_done{false};
};
