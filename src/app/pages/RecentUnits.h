#pragma once

// The units reached lately, newest first, as the "Choose Connection" page
// lists them: where each was reached (address and TCP port, or COM port),
// what it said it was, and when. No widgets: the page shows it, the settings
// file keeps it as one text entry per unit.

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>

struct RecentUnit
{
    // A network unit has an address; a serial unit has none and a COM number.
    QString address;
    std::uint16_t tcpPort = 502;
    int comPort = 0;
    // The identity read when the session accepted the unit: firmware in
    // hundredths (0: not read) and the MAC address (all zero: not read).
    std::uint16_t firmware = 0;
    std::array<std::uint16_t, 6> mac{};
    // Filled when the BACnet page was read in a session with the unit.
    std::optional<std::uint32_t> instance;
    QString deviceName;
    QDateTime reached; // UTC

    bool serial() const { return address.isEmpty(); }
    bool macKnown() const;
    // Where the unit was reached: "127.0.0.1:1502" or "COM3".
    QString location() const;
    bool sameLocation(const RecentUnit &other) const;
    // One line of the page's list: the location, then what is known of the
    // unit, then when it was reached (local time).
    QString text() const;

    // The settings-file form: comma-separated fields, each percent-encoded.
    QString entry() const;
    // Nothing when the entry is not one this class wrote (a wrong field
    // count, an address that is not a dotted quad, a port or COM number out
    // of range, no valid time).
    static std::optional<RecentUnit> fromEntry(const QString &entry);
};

class RecentUnits
{
public:
    static constexpr int MaxUnits = 20;

    const QList<RecentUnit> &units() const { return m_units; }
    int size() const { return int(m_units.size()); }

    // The unit goes first; an older entry for the same location goes. When
    // that older entry was the same unit (the same MAC address), its BACnet
    // instance and name stay until read again. At most MaxUnits are kept.
    void reached(RecentUnit unit);
    // The BACnet instance and name read from the unit at the newest entry's
    // location; false when the list is empty or the newest entry is another
    // location.
    bool setBACnetIdentity(const RecentUnit &at, std::optional<std::uint32_t> instance,
                           const QString &deviceName);
    // False when the index is out of range.
    bool removeAt(int index);

    // The entries in order; entries that do not read (see fromEntry), second
    // entries for one location and entries beyond MaxUnits are dropped.
    QStringList entries() const;
    void setEntries(const QStringList &entries);

private:
    QList<RecentUnit> m_units;
};
