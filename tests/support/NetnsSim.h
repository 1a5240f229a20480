#pragma once

// For tests that run_in_netns.sh runs inside a network of their own: the
// program's interface and simulators started on the units' side of it.

#include "SimProcess.h"

#include <QDeadlineTimer>
#include <QTest>

namespace NetnsSim {

// The program side's interface; empty when not run by run_in_netns.sh.
inline QString interfaceName()
{
    return qEnvironmentVariable("RAVELIN_NETNS_IFACE");
}

// True inside the namespaces. Otherwise the test is skipped, or failed when
// CI is set, and the caller (initTestCase) returns.
inline bool inside()
{
    if (!interfaceName().isEmpty())
        return true;
    const char *why = "not inside run_in_netns.sh (ctest runs it so)";
    if (qEnvironmentVariableIsSet("CI"))
        QTest::qFail(why, __FILE__, __LINE__);
    else
        QTest::qSkip(why, __FILE__, __LINE__);
    return false;
}

// A unit at `address` (10.77.0.2 or 10.77.0.3) on the standard BACnet port,
// with `more` simulator options, ready once it says it also hears the
// subnet's broadcasts.
inline bool startUnit(SimProcess &sim, const QString &address, const QStringList &more = {})
{
    if (!sim.startWith(QStringList{QStringLiteral("--listen"), address + QStringLiteral(":1502"),
                                   QStringLiteral("--no-animate"), QStringLiteral("--bacnet-port"),
                                   QStringLiteral("47808")} +
                       more))
        return false;
    const QDeadlineTimer deadline(5000);
    while (!sim.output().contains(QLatin1String("(and broadcasts to 10.77.0.255)")))
        if (deadline.hasExpired() || !sim.running())
            return false;
        else
            QTest::qWait(10);
    return true;
}

} // namespace NetnsSim
