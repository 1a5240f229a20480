#include "StatusPoll.h"

#include "DiagnosticsPage.h"
#include "G50Page.h"
#include "PageHost.h"
#include "RegisterAccess.h"
#include "UiSupport.h"
#include "UnitOps.h"

StatusPoll::StatusPoll(PageHost &host, G50Page &g50, DiagnosticsPage &diagnostics)
    : m_host(host), m_g50(g50), m_diagnostics(diagnostics)
{
    // The poll runs without a busy window or cursor change: it happens every
    // two seconds and must not flash the screen.
    host.scheduler().setHandler(Request::StatusPoll, [this] { RunStatusPoll(); });
}

std::optional<PolledStatus> StatusPoll::RunStatusPoll()
{
    PolledStatus status;
    const OpResult op = readStatusBlock(m_host.access(), status.block);
    if (!op.ok()) {
        countFailure(op.result);
        return std::nullopt;
    }
    G50ProcessFlags = status.block.G50ProcessFlags;
    BACnetProcessFlags = status.block.BACnetProcessFlags;
    status.usage = receiveBufferUsage(status.block.RxWritePos, status.block.RxBoundary);
    ShowStatus(status);
    // What the unit makes of the write-back is its own affair; its outcome
    // neither counts as a failure nor clears one.
    (void)writeStatusPollWriteBack(m_host.access());
    PollFailureCount = 0;
    return status;
}

void StatusPoll::ShowStatus(const PolledStatus &status)
{
    showG50StatusLines(m_g50, status.block);
    m_diagnostics.ShowStatus(status.block, status.usage);
}

void StatusPoll::resetFlags()
{
    G50ProcessFlags = 0;
    BACnetProcessFlags = 0;
}

void StatusPoll::countFailure(RegisterResult result)
{
    // Once a close has been asked for, by the user or by this monitor, a
    // failing poll is expected and says nothing new.
    if (m_host.scheduler().CloseRequested)
        return;
    if (++PollFailureCount <= SilentFailures)
        return;
    // A unit that answers with an exception is there, but refuses the read.
    const QString text =
        result == ResultException
            ? QStringLiteral("The unit refused the status read %1 times in a row (exception "
                             "code %2).\rThe connection will be closed.")
                  .arg(SilentFailures + 1)
                  .arg(m_host.access().lastExchange().exceptionCode)
        : m_host.access().viaComPort() ? QStringLiteral("The Connection Has Been Lost.")
                                       : QStringLiteral("Network Connection Has Been Lost.");
    BeepMessageDlg(text, MsgKind::Warning, MsgButtons::Ok);
    m_host.keepUnsentChanges();
    m_host.BeginClose();
}

void showG50StatusLines(G50Page &page, const StatusBlock &status)
{
    page.showLinkState(status);
}
