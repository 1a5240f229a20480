#pragma once

// The Network page's settings: the unit's addresses and the configuration lock.

#include "SettingTable.h"

// IP address, gateway and subnet mask: one register per octet, in that order.
using NetworkAddresses = std::array<std::uint16_t, 12>;

struct NetworkConfig
{
    NetworkAddresses addresses{}; // IP address, gateway, subnet mask: one octet per entry
    bool allowConfigViaNetwork = true;
};

// One of the three addresses inside the addresses block.
template <int At> constexpr SettingField<NetworkConfig> addressAt()
{
    return {[](const NetworkConfig &n) {
                Octets4 octets{};
                std::copy_n(n.addresses.begin() + 4 * At, 4, octets.begin());
                return SettingValue(octets);
            },
            [](NetworkConfig &n, const SettingValue &v) {
                const Octets4 &octets = std::get<Octets4>(v);
                std::copy(octets.begin(), octets.end(), n.addresses.begin() + 4 * At);
            }};
}

inline constexpr SettingRow<NetworkConfig> IpAddressRow =
    SettingRow<NetworkConfig>("ip", Blocks::NetworkAddresses, 0, Codec::Octets)
        .cli("ip")
        .file("ipAddress")
        .report("IP address")
        .show("IP address")
        .field(addressAt<0>());
inline constexpr SettingRow<NetworkConfig> GatewayRow =
    SettingRow<NetworkConfig>("gateway", Blocks::NetworkAddresses, 4, Codec::Octets)
        .cli("gateway")
        .file("gateway")
        .report("Gateway address")
        .show("Gateway")
        .field(addressAt<1>());
inline constexpr SettingRow<NetworkConfig> SubnetMaskRow =
    SettingRow<NetworkConfig>("mask", Blocks::NetworkAddresses, 8, Codec::Octets)
        .cli("mask")
        .file("subnetMask")
        .report("Subnet mask")
        .show("Subnet mask")
        .field(addressAt<2>());
inline constexpr SettingRow<NetworkConfig> ConfigLockRow =
    SettingRow<NetworkConfig>("config", Blocks::ConfigLock, 0, Codec::LockWord)
        .cli("config", {"forbidden", "allowed"})
        .file("allowConfigViaNetwork")
        .report("Allow config via network", {"No", "Yes"})
        .show("Config via network")
        .field(member<&NetworkConfig::allowConfigViaNetwork>());

inline constexpr SettingTable<NetworkConfig, 4> NetworkRows{IpAddressRow, GatewayRow, SubnetMaskRow,
                                                            ConfigLockRow};
