#pragma once

// The simulator's --verbose lines, in the one-line form of
// docs/frame-trace.md that the tool's traces use too, so both can be read side
// by side. Written from scratch here: the simulator shares no framing code
// with the clients.

#include <QByteArray>
#include <QString>

struct SimFrame
{
    bool tcp = true;
    int exchange = 0;             // request number; a reply piece carries its request's
    const char *direction = "RX"; // RX, TX or DROP
    const char *outcome = "good"; // what the simulator made of it (docs/frame-trace.md)
    QByteArray bytes;
    // Where the frame starts in bytes (after stray bytes sent before a reply);
    // -1: the bytes are not the start of a frame and nothing is decoded.
    int frameAt = 0;
};

QString simFrameLine(const SimFrame &frame);
// "good", "exception" or "no-reply" for a reply PDU (empty: none).
const char *simReplyOutcome(const QByteArray &replyPdu);
