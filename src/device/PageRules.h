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
// (dottedText) are the codecs'; DefaultTimeToLive and MaxTimeToLive come
// with the BACnet table.

// A device instance from 0 to MaxDeviceInstance.
std::optional<std::uint32_t> deviceInstanceEntry(const QString &text);
// The device name's bytes, one per character; nothing when the text holds
// more than MaxDeviceNameLength characters or a character without a one-byte
// code (it could not be sent unaltered).
std::optional<QByteArray> deviceNameEntry(const QString &text);
// The time to live while registering as a foreign device: a whole number from
// 1 to 65535, nothing otherwise. While not registering, such a number is kept
// and anything else silently becomes DefaultTimeToLive.
std::optional<std::uint16_t> timeToLiveEntry(const QString &text, bool foreignDevice);

// Everything the BACnet page sends, as entered.
struct BACnetEntries
{
    QString instance;
    QString name;
    bool newSettingComparison = false;
    bool foreignDevice = false;
    QStringList bbmd; // four octets, looked at only while foreignDevice is set
    QString timeToLive;
    // The entries of the other BACnet rows, by row id, in the text ravelinctl
    // takes for them ("on" or "off" for a switch).
    QMap<QString, QString> others;
};

// True for the rows whose entries BACnetEntries names above.
bool namedBACnetEntry(const SettingRow<BACnetSettings> &row);

// BACnetEntry, the entry that stopped a send, is named by the BACnet rows.

struct BACnetEntryCheck
{
    BACnetSettings settings; // complete only when nothing was refused
    BACnetEntry refused = BACnetEntry::None;
    int bbmdIndex = -1; // the refused BBMD octet, 0 to 3
    bool ok() const { return refused == BACnetEntry::None; }
};

// Checks the instance, the name, the BBMD octets, the time to live and then
// the other rows' entries in the table's order, and stops at the first
// refused entry. While foreign-device
// registration is off the BBMD address becomes zeros whatever was entered.
BACnetEntryCheck checkBACnetEntries(const BACnetEntries &entries);
