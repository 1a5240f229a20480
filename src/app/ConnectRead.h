#pragma once

// Reading the Network, G50, BACnet and Unit Names pages as a session opens.
// The four gets are raised together and the scheduler serves them one per
// tick in its usual order, so each page is filled (and usable) as soon as its
// own get has run, the names last. While one of them runs the window is
// disabled and the busy window shows the get's own text, where the read
// stands, and a Cancel button that ends the whole read after the block in
// flight.

#include "RequestScheduler.h"

#include <QObject>
#include <QStringList>

#include <array>
#include <vector>

class TMainForm;

class ConnectRead : public QObject
{
    Q_OBJECT
public:
    // The gets, in the order the scheduler serves them.
    static constexpr std::array<Request, 4> Reads{Request::GetNetwork, Request::GetG50,
                                                  Request::GetBACnet, Request::GetNames};

    ConnectRead(TMainForm &window, QObject *parent);

    // Raises the four gets; what a read under way still had to do is dropped.
    void start();
    // The read is under way: some of its gets have not run yet.
    bool running() const { return !m_left.empty(); }
    // One of its gets is running now.
    bool serving() const { return m_serving; }

    // The scheduler's hooks around every request.
    void starting(Request request);
    void served(Request request);
    // Cancel on the busy window: the read ends once the get running now has.
    void cancel();
    // Every flag was dropped (the session closes or another one opens).
    void forget();

    // "Reading the pages from the unit: 2 of 4".
    static QString progressLine(int n);

private:
    bool ours(Request request) const;
    // Drops the gets left and says which pages were read and which not.
    void finishEarly(const QString &why);

    TMainForm &m_window;
    std::vector<Request> m_left;
    QStringList m_read; // captions of the pages whose get ran
    bool m_serving = false;
    bool m_cancelled = false;
};
