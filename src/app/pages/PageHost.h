#pragma once

// What a page may ask of the window that holds it: the session's register
// access, the scheduler, the busy window and cursor, and closing the session.
// Pages depend on this interface, never on the main window's class.

#include "RequestScheduler.h"

#include <QList>
#include <QString>

#include <array>
#include <cstdint>

class RegisterAccess;
struct SentSetting;

class PageHost
{
public:
    virtual ~PageHost() = default;

    virtual RegisterAccess &access() = 0;
    virtual RequestScheduler &scheduler() = 0;
    // A page button's request: controls off when its row says so, the row's
    // busy text with the hourglass, then the flag raised.
    virtual void raiseRequest(Request request) = 0;
    // True while ResetDisplays clears every page: no edit counts as a change.
    virtual bool resettingPages() const = 0;
    // Whether any configuration page holds changes not yet sent.
    virtual bool hasUnsentChanges() const = 0;
    virtual bool serviceMode() const = 0;

    virtual void showBusy(const QString &text) = 0;
    virtual void hideBusy() = 0;
    virtual void saveCursor() = 0;
    virtual void restoreCursor() = 0;
    virtual void BeginClose() = 0;

    // An operation of many blocks: the busy window offers Cancel until it is
    // hidden. cancelRequested() lets a click waiting in the queue through and
    // says whether Cancel was pressed since the offer; operations call it
    // between blocks, never while a frame is on its way.
    virtual void offerCancel() {}
    virtual bool cancelRequested() { return false; }
    // True while the request running is part of reading the pages as a
    // session opens: its success goes unannounced.
    virtual bool readingOnConnect() const { return false; }

    // Before a write: the unit's identity read again and compared with the
    // one read when the session opened (product code, firmware, MAC address).
    enum class UnitCheck
    {
        Same,   // the session's unit: the write may go ahead
        Unread, // the identity could not be read: the write fails
        Other   // another unit answers on this connection: nothing may be written
    };
    virtual UnitCheck confirmSessionUnit() = 0;
    // After UnitCheck::Other: tells the engineer which unit answered and ends
    // the session.
    virtual void leaveOtherUnit() = 0;
    // The session's unit now has this MAC address (programmed in service
    // mode); later checks expect it.
    virtual void sessionUnitMacChanged(const std::array<std::uint16_t, 6> &mac) = 0;
    // The link is lost and the session is about to end: changes not yet
    // sent are offered for saving to a file before they are discarded.
    virtual void keepUnsentChanges() = 0;

    // Restart and return. A send went through: these settings take effect
    // at the unit's next restart and are checked once it is back.
    virtual void settingsSent(const QList<SentSetting> &sent) { (void)sent; }
    // "Restart Now" on a send's message: the restart as "Restart Unit" asks for it.
    virtual void restartNow() {}
    // The restart command was sent and the session is closing: once it has
    // ended, wait for the unit to come back and reconnect.
    virtual void followRestart() {}
};
