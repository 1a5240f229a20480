#pragma once

// The periodic status poll that doubles as link monitor. Served by the
// scheduler when Timer1 has raised PendingStatusPoll. A good read is shown on
// the G50 page's status lines and the Diagnostics tab and is followed by the
// write-back; four failed reads in a row end the session.

#include "RegisterResult.h"
#include "StatusBlock.h"

#include <QtGlobal>

#include <optional>

class DiagnosticsPage;
class G50Page;
class PageHost;

// One good poll: the decoded block (BACnet flags already masked) and the
// receive buffer usage in percent.
struct PolledStatus
{
    StatusBlock block;
    int usage = 0;
};

class StatusPoll
{
public:
    // Consecutive failed polls that are still silent; the next one ends the
    // session.
    static constexpr int SilentFailures = 3;

    StatusPoll(PageHost &host, G50Page &g50, DiagnosticsPage &diagnostics);

    // One poll: read, show, write back. Returns what was shown, or nothing
    // when the read failed (the displays then keep the last good poll).
    std::optional<PolledStatus> RunStatusPoll();
    // Shows a polled status on the pages that display it.
    void ShowStatus(const PolledStatus &status);
    // No session: the flag words zero.
    void resetFlags();
    // A session opens: no failures counted yet.
    void sessionOpened() { PollFailureCount = 0; }

    quint16 G50ProcessFlags = 0;
    quint16 BACnetProcessFlags = 0;
    qint32 PollFailureCount = 0;

private:
    // One failed poll; the last read's result says how the final message
    // words the end of the session.
    void countFailure(RegisterResult result);

    PageHost &m_host;
    G50Page &m_g50;
    DiagnosticsPage &m_diagnostics;
};

// The G50 page's two status lines (Label32 the link, Label31 Mnet) for a
// polled block.
void showG50StatusLines(G50Page &page, const StatusBlock &status);
