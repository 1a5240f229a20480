#pragma once

// A scripted peer on the master end of a pty, served from the test's own event
// loop (the component under test processes events while it waits): once a
// request of the expected size has arrived it writes the scripted reply, in
// chunks separated by a gap so that they reach the component as separate
// blocks.

#include "PtyPair.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <unistd.h>

#include <chrono>
#include <vector>

class RtuPeer : public QObject
{
public:
    explicit RtuPeer(PtyPair &pty) : m_pty(pty), m_notifier(pty.masterFd(), QSocketNotifier::Read)
    {
        connect(&m_notifier, &QSocketNotifier::activated, this, [this] { onReadable(); });
    }

    // Answers the next request of requestSize bytes with these chunks.
    void script(int requestSize, QList<QByteArray> chunks, int gapMs = 30)
    {
        m_requestSize = requestSize;
        m_chunks = std::move(chunks);
        m_gapMs = gapMs;
    }

    // Everything received so far.
    QByteArray received;
    // Steady-clock times: when the first read after each reply (or the first
    // read at all) returned, and just before the last chunk of each reply
    // was handed to the pty.
    std::vector<std::chrono::steady_clock::time_point> requestBegan;
    std::vector<std::chrono::steady_clock::time_point> replyEnded;

private:
    void onReadable()
    {
        char chunk[512];
        const ssize_t n = ::read(m_pty.masterFd(), chunk, sizeof chunk);
        if (n <= 0) {
            m_notifier.setEnabled(false);
            return;
        }
        if (m_awaitingRequest) {
            requestBegan.push_back(std::chrono::steady_clock::now());
            m_awaitingRequest = false;
        }
        received.append(chunk, int(n));
        if (m_requestSize > 0 && received.size() >= m_requestSize) {
            m_requestSize = 0;
            sendChunks(std::move(m_chunks));
        }
    }

    void sendChunks(QList<QByteArray> chunks)
    {
        if (chunks.isEmpty())
            return;
        if (chunks.size() == 1) {
            replyEnded.push_back(std::chrono::steady_clock::now());
            m_awaitingRequest = true;
        }
        m_pty.write(chunks.takeFirst());
        QTimer::singleShot(m_gapMs, this, [this, rest = std::move(chunks)] { sendChunks(rest); });
    }

    PtyPair &m_pty;
    QSocketNotifier m_notifier;
    int m_requestSize = 0;
    QList<QByteArray> m_chunks;
    int m_gapMs = 30;
    bool m_awaitingRequest = true;
};
