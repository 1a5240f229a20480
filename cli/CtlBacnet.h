#pragma once

// ravelinctl bacnet discover|check: the unit seen from the BACnet/IP side.

#include "BacnetDiscovery.h"
#include "CtlSession.h"

#include <QString>
#include <QStringList>

// Runs `bacnet ARGUMENTS`; `session` is the Modbus session to the unit (used by
// check), `unitHost` its address (the default Who-Is target over TCP; over a
// serial line check needs --target). Returns the exit status.
int runBacnet(const QStringList &arguments, CtlSession &session, const QString &unitHost,
              bool serial, bool json);

// Compares the Device instance and name the unit's registers hold with what
// `target` announces: 0 when both agree, 1 when one differs, 3 when nothing
// answered, 4 when the unit could not be read.
int checkUnit(const Bacnet::DiscoveryTarget &target, int milliseconds, CtlSession &session,
              bool json);
