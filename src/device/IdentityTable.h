#pragma once

// What the unit says it is: the product block (SystemUnitId registers 20 to 27).

#include "SettingTable.h"

struct ProductInfo
{
    std::uint16_t productCode = 0;
    std::uint16_t firmware = 0; // hundredths: 134 is version 1.34
    MacOctets mac{};
};

inline constexpr SettingRow<ProductInfo> ProductCodeRow =
    SettingRow<ProductInfo>("productCode", Blocks::Product, 0, Codec::Word)
        .entry({0, 65535})
        .file("productCode")
        .report("Product code")
        .field(member<&ProductInfo::productCode>());
inline constexpr SettingRow<ProductInfo> FirmwareRow =
    SettingRow<ProductInfo>("firmware", Blocks::Product, 1, Codec::Firmware)
        .file("firmware")
        .report("Firmware version")
        .field(member<&ProductInfo::firmware>());
inline constexpr SettingRow<ProductInfo> MacRow =
    SettingRow<ProductInfo>("mac", Blocks::Product, 2, Codec::Mac)
        .cli("mac")
        .file("mac")
        .report("MAC address")
        .show("MAC address")
        .field(member<&ProductInfo::mac>());

inline constexpr SettingTable<ProductInfo, 3> IdentityRows{ProductCodeRow, FirmwareRow, MacRow};
