#include "ConnectRead.h"

#include "FrameTap.h"
#include "MainForm.h"
#include "MsgFrm.h"

#include <algorithm>

namespace {

QString captionOf(Request request)
{
    switch (request) {
    case Request::GetNetwork:
        return QStringLiteral("Network");
    case Request::GetG50:
        return QStringLiteral("G50");
    case Request::GetBACnet:
        return QStringLiteral("BACnet");
    default:
        return QStringLiteral("Unit Names");
    }
}

} // namespace

ConnectRead::ConnectRead(TMainForm &window, QObject *parent) : QObject(parent), m_window(window) {}

QString ConnectRead::progressLine(int n)
{
    return QStringLiteral("Reading the pages from the unit: %1 of %2").arg(n).arg(Reads.size());
}

void ConnectRead::start()
{
    forget();
    RequestScheduler &scheduler = m_window.scheduler();
    for (Request request : Reads) {
        m_left.push_back(request);
        scheduler.setPending(request, true);
    }
}

void ConnectRead::forget()
{
    m_left.clear();
    m_read.clear();
    m_serving = false;
    m_cancelled = false;
}

bool ConnectRead::ours(Request request) const
{
    return std::find(m_left.begin(), m_left.end(), request) != m_left.end();
}

void ConnectRead::starting(Request request)
{
    if (!ours(request))
        return;
    m_serving = true;
    // The get was raised without the button's preparations: they are made
    // here, as the get starts.
    m_window.DisableControls();
    m_window.showBusy(QString::fromLatin1(requestRow(request).busyText));
    m_window.saveCursor();
    if (TMsg_Frm *busy = m_window.busyWindow()) {
        busy->offerCancel();
        busy->setDetail(progressLine(int(Reads.size() - m_left.size()) + 1));
    }
}

void ConnectRead::served(Request request)
{
    if (!ours(request))
        return;
    m_serving = false;
    m_left.erase(std::find(m_left.begin(), m_left.end(), request));
    m_read << captionOf(request);
    // A unit that stopped answering would make each get left wait out its
    // timeout and show its own error; an exception reply concerns one page.
    const ExchangeDetail &last = m_window.Access.lastExchange();
    const bool unanswered = !last.sent() || last.outcome == FrameOutcome::NoReply ||
                            last.outcome == FrameOutcome::LinkClosed;
    if (m_cancelled)
        finishEarly(QStringLiteral("Reading the pages from the unit was cancelled."));
    else if (unanswered)
        finishEarly(QStringLiteral("Reading the pages from the unit stopped: the unit did not "
                                   "answer."));
    else if (m_left.empty())
        forget();
}

void ConnectRead::cancel()
{
    if (m_serving)
        m_cancelled = true;
}

void ConnectRead::finishEarly(const QString &why)
{
    QStringList notRead;
    for (Request request : m_left) {
        m_window.scheduler().setPending(request, false);
        notRead << captionOf(request);
    }
    const QStringList read = m_read;
    forget();
    // Ended during the last get: that page has said what it kept.
    if (notRead.isEmpty())
        return;
    BeepMessageDlg(
        QStringLiteral("%1\rRead: %2.\rNot read: %3. Use \"Get From Unit\" on those "
                       "pages.")
            .arg(why, read.join(QStringLiteral(", ")), notRead.join(QStringLiteral(", "))),
        MsgKind::Information, MsgButtons::Ok);
}
