#pragma once

// What both endpoints share: the options, the unit model, the request
// handler, the request count behind --silent and --fail-after, and the log.

#include "PduHandler.h"
#include "SimOptions.h"
#include "UnitModel.h"

#include <QByteArray>
#include <QString>

class SimCore
{
public:
    explicit SimCore(const SimOptions &simOptions)
        : options(simOptions), model(simOptions), handler(model, simOptions)
    {}

    // Counts one request and tells whether it is to be answered at all.
    bool admit()
    {
        ++m_requests;
        if (options.silent)
            return false;
        return options.failAfter < 0 || m_requests <= options.failAfter;
    }

    // Extra time before a reply leaves, on a transport whose client gives up
    // after lateMs.
    int replyDelayMs(int lateMs) const { return options.late ? lateMs : options.delayMs; }

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
};
