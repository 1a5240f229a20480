#include "StatusPoll.h"

#include "MainForm.h"

void StatusPoll::RunStatusPoll()
{
    // The poll runs without a busy window or cursor change: it happens every
    // two seconds and must not flash the screen.
    (void)m_form;
}
