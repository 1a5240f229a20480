#include "StatusPoll.h"

#include "PageHost.h"

StatusPoll::StatusPoll(PageHost &host) : m_host(host)
{
    host.scheduler().setHandler(Request::StatusPoll, [this] { RunStatusPoll(); });
}

void StatusPoll::RunStatusPoll()
{
    // The poll runs without a busy window or cursor change: it happens every
    // two seconds and must not flash the screen.
    (void)m_host;
}
