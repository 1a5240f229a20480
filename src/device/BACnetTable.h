#pragma once

// The BACnet page's settings: the Device object's identifier and name
// (BACnetUnitId) and the options block (StatusUnitId registers 4 to 10).

#include "SettingTable.h"

// The time to live sent while foreign-device registration is off and the
// time-to-live entry holds no usable number, and the largest one.
constexpr std::uint16_t DefaultTimeToLive = 1800;
constexpr int MaxTimeToLive = 65535;

// The entry that stopped a send of the BACnet page, in the order they are
// checked; the page shows one message for each. A new BACnet entry that can
// be refused adds its kind here.
enum class BACnetEntry
{
    None,
    Instance,
    Name,
    Bbmd,
    TimeToLive
};

struct BACnetOptions
{
    bool newSettingComparison = false; // register 4; only the value 1 reads as on
    bool foreignDevice = false;        // register 5; only the value 1 reads as on
    Octets4 bbmd{};                    // registers 6 to 9
    std::uint16_t timeToLive = 0;      // register 10, seconds
};

struct BACnetSettings
{
    std::uint32_t instance = 0;
    QByteArray name; // at most MaxDeviceNameLength bytes; longer is refused
    BACnetOptions options;
};

inline constexpr SettingRow<BACnetSettings> DeviceInstanceRow =
    SettingRow<BACnetSettings>("instance", Blocks::DeviceObjectId, 0, Codec::Instance)
        .entry({0, MaxDeviceInstance, BACnetEntry::Instance})
        .cli("instance")
        .file("deviceInstance")
        .report("Device instance")
        .show("BACnet device id")
        .field(member<&BACnetSettings::instance>());
inline constexpr SettingRow<BACnetSettings> DeviceNameRow =
    SettingRow<BACnetSettings>("name", Blocks::DeviceObjectName, 0, Codec::DeviceName)
        .entry({0, MaxDeviceNameLength, BACnetEntry::Name})
        .cli("name")
        .file("deviceName")
        .report("Device name")
        .show("BACnet device name")
        .field(member<&BACnetSettings::name>());
inline constexpr SettingRow<BACnetSettings> ComparisonRow =
    SettingRow<BACnetSettings>("comparison", Blocks::BACnetOptions, 0, Codec::BoolAsOne)
        .cli("comparison", OnOffWords)
        .file("newSettingComparison")
        .report("New setting comparison", {"Off", "On"})
        .show("New setting comparison")
        .brief("comparison %1")
        .field(member<&BACnetSettings::options, &BACnetOptions::newSettingComparison>());
// Its show line carries the phrases of the rows it gates while it is on.
inline constexpr SettingRow<BACnetSettings> ForeignDeviceRow =
    SettingRow<BACnetSettings>("foreign", Blocks::BACnetOptions, 1, Codec::BoolAsOne)
        .cli("foreign", OnOffWords)
        .file("foreignDevice")
        .report("Register as a foreign device", {"No", "Yes"})
        .show("Foreign device")
        .brief("foreign device %1")
        .field(member<&BACnetSettings::options, &BACnetOptions::foreignDevice>());
inline constexpr SettingRow<BACnetSettings> BbmdRow =
    SettingRow<BACnetSettings>("bbmd", Blocks::BACnetOptions, 2, Codec::Octets)
        .entry({0, 255, BACnetEntry::Bbmd, "foreign", 0, WhileOff::SentAsZero})
        .cli("bbmd")
        .file("bbmdAddress")
        .report("BBMD IP address")
        .brief("BBMD %1")
        .field(member<&BACnetSettings::options, &BACnetOptions::bbmd>());
// While registration is off a usable entry is sent as it is, anything else
// (a 0 from a file, an empty box) as DefaultTimeToLive.
inline constexpr SettingRow<BACnetSettings> TimeToLiveRow =
    SettingRow<BACnetSettings>("ttl", Blocks::BACnetOptions, 6, Codec::Word)
        .entry({1, MaxTimeToLive, BACnetEntry::TimeToLive, "foreign", 0, WhileOff::KeptOrFallback,
                DefaultTimeToLive})
        .cli("ttl")
        .file("timeToLive")
        .report("Time to live", {}, "%1 seconds")
        .brief("TTL %1 s")
        .field(member<&BACnetSettings::options, &BACnetOptions::timeToLive>());

inline constexpr SettingTable<BACnetSettings, 6> BACnetRows{
    DeviceInstanceRow, DeviceNameRow, ComparisonRow, ForeignDeviceRow, BbmdRow, TimeToLiveRow};
