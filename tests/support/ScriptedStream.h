#pragma once

// A TcpStream whose peer is a script: each queued chunk becomes readable at
// one wait, as if it had arrived in its own segment. Used to judge replies
// byte for byte without sockets, and by the reply fuzzer.

#include "TcpStream.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <vector>

class ScriptedStream : public TcpStream
{
public:
    using Bytes = std::vector<std::uint8_t>;

    Bytes sent;               // every byte sent, in order
    std::deque<Bytes> chunks; // what the peer will send, one chunk per wait
    Bytes pending;            // received, not yet read
    bool open = true;
    int waits = 0;
    int lastWaitMs = -1;
    int discardedBytes = 0;

    void queue(const Bytes &chunk) { chunks.push_back(chunk); }

    bool send(const std::uint8_t *data, std::size_t length) override
    {
        if (!open)
            return false;
        sent.insert(sent.end(), data, data + length);
        return true;
    }

    bool waitForData(int timeoutMs) override
    {
        ++waits;
        lastWaitMs = timeoutMs;
        if (!open)
            return false;
        if (pending.empty() && !chunks.empty()) {
            pending = chunks.front();
            chunks.pop_front();
        }
        return !pending.empty();
    }

    int receive(std::uint8_t *buffer, int maxLength) override
    {
        if (!open)
            return -1;
        const int n = std::min<int>(maxLength, int(pending.size()));
        std::copy_n(pending.begin(), n, buffer);
        pending.erase(pending.begin(), pending.begin() + n);
        return n;
    }

    std::size_t discardPending(std::uint8_t *keep, std::size_t keepMax) override
    {
        const std::size_t n = pending.size();
        if (keep)
            std::copy_n(pending.begin(), std::min(n, keepMax), keep);
        discardedBytes += int(n);
        pending.clear();
        return n;
    }
};
