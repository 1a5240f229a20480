#pragma once

// Decoding of the unit's live status block (StatusUnitId, registers 0 to 39).

#include <array>
#include <cstdint>

constexpr int StatusBlockSize = 40;
constexpr int MaxTxBuffers = 15;     // registers 23 to 37
constexpr int ReceiveRingSize = 4352; // 0x1100 units

struct StatusBlock {
    std::uint16_t MnetState = 0;          // register 0: non-zero when Mnet runs
    std::uint16_t G50LinkState = 0;       // register 3: non-zero when the G50 link is good
    std::uint16_t G50ProcessFlags = 0;    // register 14, bits 0 to 4
    std::uint16_t BACnetProcessFlags = 0; // register 15, bits 0 to 4 (masked, see below)
    std::uint16_t RxPacketsPending = 0;   // register 18
    std::uint16_t RxWritePos = 0;         // register 19
    std::uint16_t RxBoundary = 0;         // register 20
    std::uint16_t NicRevision = 0;        // register 21
    std::uint16_t TxBufferCount = 0;      // register 22; 0: no transmitter information
    std::array<std::uint16_t, MaxTxBuffers> TxBufferState{}; // registers 23 to 37
    std::uint16_t G50PollProgress = 0;    // register 38: poll state high, group low
    std::uint16_t BitSwitches = 0;        // register 39: bit 5 switch 1, bit 4 switch 2 (set = OFF)
};

// Bits 2 and 3 of the BACnet flags (registration sent / reply received) only
// mean something while bit 1 (foreign-device registration) is set; they are
// cleared otherwise.
std::uint16_t maskBACnetProcessFlags(std::uint16_t flags);

StatusBlock decodeStatusBlock(const std::uint16_t registers[StatusBlockSize]);

// Receive buffer usage in percent from the ring's write position and boundary.
int receiveBufferUsage(std::uint16_t rxWritePos, std::uint16_t rxBoundary);
