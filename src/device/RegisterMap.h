#pragma once

// The unit's register map: address spaces (unit ids), the user-defined function
// codes, the fixed register values, and one table of every block the tool uses.

#include <array>
#include <cstdint>

// Address spaces, each reached under its own Modbus unit id.
constexpr int SystemUnitId = 19;  // identity, MAC address, restart, configuration lock
constexpr int NetworkUnitId = 20; // IP, gateway, mask, G50 address, poll write-back
constexpr int StatusUnitId = 21;  // live status block; BACnet options at 4 to 10
constexpr int BACnetUnitId = 22;  // Device object identifier and name
constexpr int NamesUnitId = 26;   // object names, ten registers each

// User-defined function codes (the 100 to 110 range of the Modbus protocol).
constexpr std::uint8_t FnReadBlock = 107;
constexpr std::uint8_t FnWriteBlock = 109;
constexpr std::uint8_t FnWriteWord = 103;
constexpr std::uint8_t FnWriteWordAlt = 108; // status-poll write-back only
constexpr std::uint8_t FnWriteMacBlock = 104; // MAC block, serial sessions only

// Reply timeouts in tenths of a second.
constexpr std::uint16_t RtuTimeout = 50;
constexpr std::uint16_t TcpTimeout = 70;

// Fixed register values.
constexpr std::uint16_t RestartCommandWord = 7109;     // 0x1BC5 to SystemUnitId register 29
constexpr std::uint16_t ConfigLockedWord = 61404;      // 0xEFDC: configuration via network forbidden
constexpr std::uint16_t StatusPollWriteBackWord = 0xFFFF;
constexpr std::uint16_t DeviceObjectIdTagWord = 3076;  // 0x0C04: tag 12, length 4
constexpr std::uint16_t QuorixProductCode = 5173;

// Register numbers inside SystemUnitId and NetworkUnitId.
constexpr std::uint16_t ProductCodeRegister = 20;
constexpr std::uint16_t FirmwareRegister = 21;
constexpr std::uint16_t MacFirstRegister = 22;
constexpr std::uint16_t RestartRegister = 29;
constexpr std::uint16_t ConfigLockRegister = 32;
constexpr std::uint16_t StatusPollWriteBackRegister = 29;

enum class BlockAccess { Read, Write, ReadWrite, WriteOne, ReadWriteOne };

// One block: a run of consecutive registers in one address space.
struct RegisterBlock {
    const char *name;
    int unitId;
    std::uint8_t readFunction;  // 0 when the block is never read
    std::uint8_t writeFunction; // 0 when the block is never written
    std::uint16_t start;
    std::uint16_t count;
    BlockAccess access;
};

namespace Blocks {
constexpr RegisterBlock NetworkAddresses{"Network addresses", NetworkUnitId, FnReadBlock,
                                         FnWriteBlock, 7, 12, BlockAccess::ReadWrite};
constexpr RegisterBlock Product{"Product block", SystemUnitId, FnReadBlock, 0, 20, 8,
                                BlockAccess::Read};
constexpr RegisterBlock ConfigLock{"Network-configuration lock", SystemUnitId, FnReadBlock,
                                   FnWriteWord, ConfigLockRegister, 1, BlockAccess::ReadWriteOne};
constexpr RegisterBlock Restart{"Restart command", SystemUnitId, 0, FnWriteWord, RestartRegister, 1,
                                BlockAccess::WriteOne};
constexpr RegisterBlock G50Address{"G50 address", NetworkUnitId, FnReadBlock, FnWriteBlock, 19, 4,
                                   BlockAccess::ReadWrite};
constexpr RegisterBlock DeviceObjectId{"Device object identifier", BACnetUnitId, FnReadBlock,
                                       FnWriteBlock, 0, 3, BlockAccess::ReadWrite};
constexpr RegisterBlock DeviceObjectName{"Device object name", BACnetUnitId, FnReadBlock,
                                         FnWriteBlock, 3, 11, BlockAccess::ReadWrite};
constexpr RegisterBlock BACnetOptions{"BACnet options", StatusUnitId, FnReadBlock, FnWriteBlock, 4,
                                      7, BlockAccess::ReadWrite};
constexpr RegisterBlock Identity{"Identity", SystemUnitId, FnReadBlock, 0, ProductCodeRegister, 2,
                                 BlockAccess::Read};
constexpr RegisterBlock Status{"Status block", StatusUnitId, FnReadBlock, 0, 0, 40,
                               BlockAccess::Read};
constexpr RegisterBlock StatusPollWriteBack{"Status-poll write-back", NetworkUnitId, 0,
                                            FnWriteWordAlt, StatusPollWriteBackRegister, 1,
                                            BlockAccess::WriteOne};
constexpr RegisterBlock MacAddress{"MAC address", SystemUnitId, 0, FnWriteMacBlock,
                                   MacFirstRegister, 6, BlockAccess::Write};
} // namespace Blocks

constexpr int ObjectNameCount = 100;
constexpr std::uint16_t ObjectNameRegisters = 10;

// Object name n (1 to 100): ten registers of NamesUnitId from (n - 1) * 10.
constexpr RegisterBlock objectNameBlock(int n)
{
    return {"Object name", NamesUnitId, FnReadBlock, FnWriteBlock,
            std::uint16_t((n - 1) * ObjectNameRegisters), ObjectNameRegisters,
            BlockAccess::ReadWrite};
}

// Every fixed block, for tools and tests that walk the whole map (the object
// names are the hundred blocks of objectNameBlock()).
constexpr std::array<RegisterBlock, 12> FixedBlocks{
    Blocks::NetworkAddresses, Blocks::Product,        Blocks::ConfigLock,
    Blocks::Restart,          Blocks::G50Address,     Blocks::DeviceObjectId,
    Blocks::DeviceObjectName, Blocks::BACnetOptions,  Blocks::Identity,
    Blocks::Status,           Blocks::StatusPollWriteBack, Blocks::MacAddress,
};
