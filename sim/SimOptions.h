#pragma once

// Behaviour of the simulated unit chosen on the command line: identity
// overrides, timing, and the faults that tests inject.

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

// One injected exception: requests to `unit` starting at `start` (and, when
// count is set, carrying exactly that many registers) are answered with
// exception 4, for the first `limit` such requests or for all of them.
struct ExceptionRule
{
    int unit = 0;
    int start = 0;
    int count = -1; // -1: any count
    int limit = -1; // -1: no limit; otherwise how many requests are still failed

    bool matches(int requestUnit, int requestStart, int requestCount) const
    {
        return requestUnit == unit && requestStart == start &&
               (count < 0 || requestCount == count) && limit != 0;
    }
    // The rule as UNIT:START[:COUNT][@N], the form parseExceptionRule reads.
    QString text() const;
};

// Reads UNIT:START[:COUNT][@N]; nothing when the text is not of that form or
// a number is out of range (unit 0-255, start 0-65535, count 1-125, N >= 1).
std::optional<ExceptionRule> parseExceptionRule(const QString &text);

// The exception rules in force; they change while the simulator runs.
class ExceptionRules
{
public:
    ExceptionRules() = default;
    explicit ExceptionRules(std::vector<ExceptionRule> rules) : m_rules(std::move(rules)) {}

    void add(const ExceptionRule &rule) { m_rules.push_back(rule); }
    void clear() { m_rules.clear(); }
    // True when a rule fails this request; that rule's limit counts it.
    bool take(int unit, int start, int count);

private:
    std::vector<ExceptionRule> m_rules;
};

struct SimOptions
{
    std::optional<std::uint16_t> product;  // overrides the product code register
    std::optional<std::uint16_t> firmware; // overrides the firmware register
    bool locked = false;                   // configuration lock register holds 61404
    bool animate = true;                   // live status block moves
    int restartMs = 5000;                  // how long a restart keeps the unit away
    QString statePath;                     // written values survive here when set
    bool commands = false;                 // read fault commands from standard input
    int bacnetPort = 0;                    // BACnet/IP UDP port on each listen address (0: none)
    bool bacnetIAmBroadcast = false;       // I-Am broadcast to the subnet where it has one

    // Faults.
    bool silent = false; // never answer
    int failAfter = -1;  // answer this many requests, then fall silent (-1: never)
    std::vector<ExceptionRule> exceptions; // requests answered with exception 4
    int delayMs = 0;                       // every reply this late
    bool split = false;                    // each reply in two pieces a few milliseconds apart
    bool late = false;                     // each reply after the client has given up
    bool corruptCrc = false;               // RTU: every reply's CRC is wrong
    bool noise = false;                    // RTU: stray bytes before each reply
    int lineRate = 0;                      // RTU: pace a pty like a real line at this rate (0: off)
    bool verbose = false;
};

// Gap between the two pieces of a split reply.
constexpr int SplitGapMs = 5;
// A late reply arrives after the tool's reply timeout on that transport
// (7.0 s over TCP, 5.0 s plus timer granularity over RTU).
constexpr int LateTcpMs = 7500;
constexpr int LateRtuMs = 5600;
