#pragma once

// The live status block's registers (StatusUnitId 0 to 39). decodeStatusBlock
// fills StatusBlock (with its flag masking and transmit-buffer states); the
// rows place each word and name the ones the report shows as plain numbers.

#include "SettingTable.h"
#include "StatusBlock.h"

inline constexpr SettingTable<StatusBlock, 11> StatusRows{
    SettingRow<StatusBlock>("mnet", Blocks::Status, 0, Codec::Word)
        .field(member<&StatusBlock::MnetState>()),
    SettingRow<StatusBlock>("g50Link", Blocks::Status, 3, Codec::Word)
        .field(member<&StatusBlock::G50LinkState>()),
    SettingRow<StatusBlock>("g50Flags", Blocks::Status, 14, Codec::Word)
        .field(member<&StatusBlock::G50ProcessFlags>()),
    SettingRow<StatusBlock>("bacnetFlags", Blocks::Status, 15, Codec::Word)
        .field(member<&StatusBlock::BACnetProcessFlags>()),
    SettingRow<StatusBlock>("rxPending", Blocks::Status, 18, Codec::Word)
        .report("Received packets pending")
        .field(member<&StatusBlock::RxPacketsPending>()),
    SettingRow<StatusBlock>("rxWritePos", Blocks::Status, 19, Codec::Word)
        .field(member<&StatusBlock::RxWritePos>()),
    SettingRow<StatusBlock>("rxBoundary", Blocks::Status, 20, Codec::Word)
        .field(member<&StatusBlock::RxBoundary>()),
    SettingRow<StatusBlock>("nicRevision", Blocks::Status, 21, Codec::Word)
        .report("NIC revision ID")
        .field(member<&StatusBlock::NicRevision>()),
    SettingRow<StatusBlock>("txBuffers", Blocks::Status, 22, Codec::Word)
        .field(member<&StatusBlock::TxBufferCount>()),
    SettingRow<StatusBlock>("g50Poll", Blocks::Status, 38, Codec::Word)
        .field(member<&StatusBlock::G50PollProgress>()),
    SettingRow<StatusBlock>("bitSwitches", Blocks::Status, 39, Codec::Word)
        .field(member<&StatusBlock::BitSwitches>()),
};

inline constexpr const SettingRow<StatusBlock> &RxPendingRow = StatusRows[4];
inline constexpr const SettingRow<StatusBlock> &NicRevisionRow = StatusRows[7];
