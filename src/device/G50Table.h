#pragma once

// The G50 page's one setting: the address of the G50 controller.

#include "SettingTable.h"

inline constexpr SettingRow<Octets4> G50AddressRow =
    SettingRow<Octets4>("address", Blocks::G50Address, 0, Codec::Octets)
        .cli("address")
        .file("ipAddress")
        .report("G50 IP address")
        .show("G50 address")
        .field(whole<Octets4>());

inline constexpr SettingTable<Octets4, 1> G50Rows{G50AddressRow};
