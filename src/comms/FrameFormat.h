#pragma once

// Frame records as text: the one-line form (the frame monitor's copy and text
// file, `ravelinctl --trace`; docs/frame-trace.md describes it), CSV rows,
// and the names of outcomes and Modbus exception codes.

#include "FrameLog.h"

#include <QString>

#include <cstdio>

// Short names used in lines and CSV ("no-reply") and labels for people ("No reply").
const char *frameOutcomeToken(FrameOutcome outcome);
QString frameOutcomeLabel(FrameOutcome outcome);
const char *frameDirectionToken(FrameDirection direction);
const char *frameLinkToken(FrameLink link);
// Standard Modbus exception codes; "unknown" / "Unknown exception" for others.
const char *modbusExceptionToken(int code);
QString modbusExceptionLabel(int code);

// The kept bytes as two-digit upper-case hexadecimal separated by spaces,
// followed by " ..." when the frame was longer than what was kept.
QString frameHex(const FrameRecord &record);
// Round-trip time in milliseconds with microsecond resolution ("12.345").
QString frameRoundTrip(const FrameRecord &record);

QString frameLine(const FrameRecord &record);
QString frameCsvHeader();
QString frameCsvRow(const FrameRecord &record);

// Writes every record as one line to a stdio stream as it happens.
class FrameTracePrinter : public FrameRecorder
{
public:
    explicit FrameTracePrinter(std::FILE *out) : m_out(out) {}

protected:
    void record(const FrameRecord &record) override;

private:
    std::FILE *m_out;
};
