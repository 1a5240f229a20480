#pragma once

// What both endpoints share: the options, the unit model, the request
// handler, the request count behind --silent and --fail-after, the fault
// commands that change them while running, and the log.

#include "PduHandler.h"
#include "SimOptions.h"
#include "UnitModel.h"

#include <QByteArray>
#include <QString>

class SimCore
{
public:
    explicit SimCore(const SimOptions &simOptions)
        : options(simOptions), model(simOptions), handler(model, simOptions),
          m_silent(simOptions.silent)
    {}

    // Counts one request and tells whether it is to be answered at all.
    bool admit()
    {
        ++m_requests;
        if (m_silent)
            return false;
        return options.failAfter < 0 || m_requests <= options.failAfter;
    }

    // Extra time before a reply leaves, on a transport whose client gives up
    // after lateMs.
    int replyDelayMs(int lateMs) const { return options.late ? lateMs : options.delayMs; }

    // Carries out one fault command line ("silent on", "exception add 21:0:40@3",
    // "restart", ...) and returns its one-line acknowledgement: "ok ..." or
    // "error ...". A blank line is no command and gets an empty answer.
    QString command(const QString &line);

    void log(const char *direction, const QString &endpoint, const QByteArray &bytes) const
    {
        if (options.verbose)
            qInfo("%s %s %s", direction, qPrintable(endpoint), bytes.toHex(' ').constData());
    }

    const SimOptions &options;
    UnitModel model;
    PduHandler handler;

private:
    qint64 m_requests = 0;
    bool m_silent;
};
