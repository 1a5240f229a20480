#pragma once

// The line under a failed connect or a refused unit that says what happened,
// in the words ravelinctl uses for the same faults.

#include "Outcome.h"

#include <QString>

#include <cstdint>

// "cannot connect to 127.0.0.1:1502: Connection refused".
QString tcpConnectReason(const QString &host, std::uint16_t port, const QString &error);

// Why a unit was refused after the identity read: the read's own failure
// ("identity: no reply within 7.0 s"), or the product code it reported
// ("product code 1234 found where 5173 was expected").
QString refusedUnitReason(const OpResult &identityRead, std::uint16_t productCode);

// What stands between the tool and a serial device, as far as the file
// system tells.
struct SerialDeviceState
{
    bool exists = false;
    bool accessible = false; // readable and writable by this user
    QString group;           // the device's owning group
};
SerialDeviceState probeSerialDevice(const QString &devicePath);
// "cannot open /dev/ttyUSB0: ..." with missing, no rights (and the group to
// join) or in use by another program; without a device, the COM number has
// none on this system.
QString serialOpenReason(int comPort, const QString &devicePath, const SerialDeviceState &state);
