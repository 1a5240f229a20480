#pragma once

// What both endpoints share: the options, the unit model, the request
// handler, the request count behind --silent and --fail-after, the fault
// commands that change them while running, and the log.

#include "PduHandler.h"
#include "SimOptions.h"
#include "SimTrace.h"
#include "UnitModel.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>

// Where a TCP endpoint that follows the unit's address listens after a
// restart: the IP address the network registers now hold, as dotted text,
// when it lies in 127.0.0.0/8. The simulator never listens anywhere else, so
// any other address (or a register above 255) is refused with `refusal` set
// to why.
std::optional<QString> loopbackListenAddress(const std::array<std::uint16_t, 4> &octets,
                                             QString *refusal);

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
    // "error ...". A blank line changes nothing and is answered "ok"; a line
    // with a control character is refused without being echoed.
    QString command(const QString &line);

    // Numbers the requests of every endpoint, for the log.
    int nextExchange() { return ++m_exchanges; }
    int exchanges() const { return m_exchanges; }

    void log(const SimFrame &frame) const
    {
        if (options.verbose)
            qInfo("%s", qPrintable(simFrameLine(frame)));
    }

    const SimOptions &options;
    UnitModel model;
    PduHandler handler;

private:
    qint64 m_requests = 0;
    int m_exchanges = 0;
    bool m_silent;
};
