#pragma once

// Behaviour of the simulated unit chosen on the command line: identity
// overrides, timing, and the faults that tests inject.

#include <QHash>
#include <QSet>
#include <QString>

#include <cstdint>
#include <optional>

struct SimOptions
{
    std::optional<std::uint16_t> product;  // overrides the product code register
    std::optional<std::uint16_t> firmware; // overrides the firmware register
    bool locked = false;                   // configuration lock register holds 61404
    bool animate = true;                   // live status block moves
    int restartMs = 5000;                  // how long a restart keeps the unit away
    QString statePath;                     // written values survive here when set

    // Faults.
    bool silent = false;             // never answer
    int failAfter = -1;              // answer this many requests, then fall silent (-1: never)
    QSet<std::uint32_t> exceptionAt; // (unit << 16 | start): answer with exception 4
    int delayMs = 0;                 // every reply this late
    bool split = false;              // each reply in two pieces a few milliseconds apart
    bool late = false;               // each reply after the client has given up
    bool corruptCrc = false;         // RTU: every reply's CRC is wrong
    bool noise = false;              // RTU: stray bytes before each reply
    int lineRate = 0;                // RTU: pace a pty like a real line at this rate (0: off)
    bool verbose = false;

    static std::uint32_t exceptionKey(int unit, int start)
    {
        return (std::uint32_t(unit) << 16) | std::uint32_t(start & 0xFFFF);
    }
};

// Gap between the two pieces of a split reply.
constexpr int SplitGapMs = 5;
// A late reply arrives after the tool's reply timeout on that transport
// (7.0 s over TCP, 5.0 s plus timer granularity over RTU).
constexpr int LateTcpMs = 7500;
constexpr int LateRtuMs = 5600;
