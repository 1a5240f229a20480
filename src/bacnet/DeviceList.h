#pragma once

// The devices a discovery found, as the BACnet Check window and ravelinctl
// list them: one row of texts per device, the notes that mark a duplicate
// instance or a unit announcing other values than its page holds, and CSV.

#include "BacnetDiscovery.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace Bacnet {

// What the session's unit should announce: its address and the BACnet
// page's instance and name (either may be unknown).
struct ExpectedUnit
{
    QHostAddress address;
    std::optional<std::uint32_t> instance;
    std::optional<QString> name;
};

// "instance", "address", "vendor", "max APDU", "segmentation", "name", "notes"
QStringList deviceHeaders();
QStringList deviceRow(const FoundDevice &device, const std::optional<ExpectedUnit> &unit = {});
// Duplicate instance, the name's problem, and for the unit's address what
// differs from the page ("differs from the BACnet page: instance 7, name
// \"Plant\""); empty when nothing is to be said.
QString deviceNotes(const FoundDevice &device, const std::optional<ExpectedUnit> &unit = {});
// True when the device answers from the unit's address with another instance
// or name than expected.
bool differsFromUnit(const FoundDevice &device, const ExpectedUnit &unit);
// The name read, empty when it could not be read.
QString deviceName(const FoundDevice &device);
// Rows as CSV with a header line; fields quoted where needed.
QString devicesCsv(const std::vector<FoundDevice> &devices,
                   const std::optional<ExpectedUnit> &unit = {});

} // namespace Bacnet
