#pragma once

// How values entered on the configuration pages, or given to ravelinctl,
// become the values written to the unit. The pages and ravelinctl apply the
// same rules, so both refuse the same entries and send the same registers.

#include "UnitOps.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

// An address octet is a whole number from 0 to OctetMax.
constexpr int OctetMax = 255;

// The address entries' rule (dottedOctets) and the one written form
// (dottedText) are the codecs'; the BACnet entries' ranges, defaults and
// refusals come with the BACnet table's rows.

// Everything the BACnet page sends, as entered: each row's entry under its
// row id, in the text ravelinctl takes for it ("on" or "off" for a switch),
// an address as its four octets' texts.
struct BACnetEntries
{
    QMap<QString, QStringList> byRow;

    // The entry's parts: one text, or four for an address.
    QStringList parts(const SettingRow<BACnetSettings> &row) const;
    // The entry as one text ("192.0.2.1" for an address).
    QString text(const SettingRow<BACnetSettings> &row) const;
    // Sets the entry from one text; an address is split at its dots.
    void set(const SettingRow<BACnetSettings> &row, const QString &text);
    void setParts(const SettingRow<BACnetSettings> &row, const QStringList &parts);
    // A switch's entry.
    bool isOn(const SettingRow<BACnetSettings> &row) const;
    void setOn(const SettingRow<BACnetSettings> &row, bool on);
};

// The entries that show `settings` ("on"/"off", numbers, octets).
BACnetEntries bacnetEntriesFor(const BACnetSettings &settings);

// BACnetEntry, the entry that stopped a send, is named by the BACnet rows.

struct BACnetEntryCheck
{
    BACnetSettings settings; // complete only when nothing was refused
    BACnetEntry refused = BACnetEntry::None;
    int partIndex = -1; // the refused part of an address entry, 0 to 3
    bool ok() const { return refused == BACnetEntry::None; }
};

// Checks each row's entry in the table's order and stops at the first refused
// one. A row gated by a switch that is off comes to what its rule says (the
// BBMD address is not checked and becomes zeros; a time to live that is no
// usable number becomes the default). Rows outside `parts` are not checked
// and keep their default values (they are not sent).
BACnetEntryCheck checkBACnetEntries(const BACnetEntries &entries, BACnetParts parts = {});
// Whether `parts` includes the block of `row`.
bool partHolds(const BACnetParts &parts, const SettingRow<BACnetSettings> &row);
