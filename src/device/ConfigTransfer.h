#pragma once

// Moving a configuration between a unit and a UnitConfig: the conversions
// from what the register operations read, a whole-unit read, the comparison
// that says block by block what a restore would change, and the restore.
//
// A restore writes what the pages would send for the same values: the BACnet
// options follow the BACnet page's rule for a cleared foreign-device option,
// the lock register gets 0 or ConfigLockedWord. The MAC address and the
// product block are never written. The network block (addresses and lock) is
// written only when asked for, because two units with one IP address break a
// site, and then last, so a restore that fails earlier leaves the unit's
// address alone. For the same reason the BACnet identity (Device object
// identifier and name) goes only back to the unit the file was saved from,
// told by its MAC address, unless asked for: two devices with one instance
// break a BACnet network.

#include "ConfigFile.h"
#include "PageRules.h"
#include "UnitOps.h"

#include <QString>

#include <functional>
#include <optional>
#include <vector>

// --- Conversions from the register operations' readings ---

// Nothing when a part of the reading is missing (its block failed).
std::optional<NetworkConfig> networkConfigFrom(const NetworkReading &reading);
std::optional<BACnetSettings> bacnetSettingsFrom(const BACnetReading &reading);

// The BACnet settings as the BACnet page sends them: a setting gated by a
// switch that is off comes to what its row says (the BBMD address goes as
// zeros while foreign-device registration is off, for example).
BACnetSettings bacnetSettingsToSend(const BACnetSettings &settings);

// --- Reading a whole unit ---

// Which part of the unit a whole read or a restore is working on, for
// progress displays: a block name ("G50 address"), or "Object name" with n.
using TransferProgress = std::function<void(const QString &block, int nameNumber)>;

// Network page (addresses, product block, lock), G50 address, BACnet
// settings, then the object names, stopping at the first failure. The parts
// read before a failure are in `out`; the tool's name, version and time of
// saving are the caller's to set. The BACnet instance is taken as read, even
// when it is no valid instance (the file reader then refuses it).
// `stop` is asked after each progress report, before the block goes out; a
// stop leaves the parts read before it and returns with OpResult::stopped.
OpResult readUnitConfig(RegisterAccess &access, UnitConfig &out,
                        const TransferProgress &progress = {}, const StopRequested &stop = {});

// --- Restore ---

struct RestoreOptions
{
    bool includeNetwork = false;  // write the addresses and the lock as well
    bool includeIdentity = false; // write the Device instance and name to another unit as well
};

// Why a restore of `target` onto the unit with product block `unit` leaves the
// BACnet identity alone ("the file comes from MAC ..., this unit has MAC
// ..."), or nothing when the identity is written: the file's MAC address is
// the unit's, or options.includeIdentity is set. A file that records no MAC
// address, or a unit whose product block is unknown, counts as another unit.
std::optional<QString> identityLeftAlone(const UnitConfig &target,
                                         const std::optional<ProductInfo> &unit,
                                         const RestoreOptions &options);

// One register block, or one group of them, as a restore would treat it.
struct BlockChange
{
    enum Kind
    {
        Unchanged,
        Changed,
        NotInFile,
        Skipped
    };
    QString block; // "G50 address", "Object name 5", ...
    Kind kind = Unchanged;
    QString before; // the unit's value as text
    QString after;  // what would be written (Changed) or why not (Skipped, NotInFile)
};

// What restoring `target` onto a unit that holds `current` (its identity
// included, for the MAC address) would do, block by block, in the order a
// restore writes. Object names that stay the same are summed up in one entry.
std::vector<BlockChange> planRestore(const UnitConfig &current, const UnitConfig &target,
                                     const RestoreOptions &options);

// Writes the blocks that `target` holds onto the unit with product block
// `unit`, in the order of planRestore, stopping at the first failing block
// (named in the result). `written` is called after each block the unit has
// accepted, with the block's name as planRestore gives it ("G50 address",
// "Object name 5") and, for an object name, its number (0 for the other
// blocks), so a failed restore can tell exactly what it changed.
using BlockWritten = std::function<void(const QString &block, int nameNumber)>;
OpResult restoreUnitConfig(RegisterAccess &access, const UnitConfig &target,
                           const ProductInfo &unit, const RestoreOptions &options,
                           const BlockWritten &written = {}, const TransferProgress &progress = {});
