#pragma once

// The periodic status poll that doubles as link monitor. Served by the
// scheduler when Timer1 has raised PendingStatusPoll.

class TMainForm;

class StatusPoll
{
public:
    explicit StatusPoll(TMainForm &form) : m_form(form) {}
    void RunStatusPoll();

private:
    TMainForm &m_form;
};
