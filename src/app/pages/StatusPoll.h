#pragma once

// The periodic status poll that doubles as link monitor. Served by the
// scheduler when Timer1 has raised PendingStatusPoll.

class PageHost;

class StatusPoll
{
public:
    explicit StatusPoll(PageHost &host);
    void RunStatusPoll();

private:
    PageHost &m_host;
};
