#include "StatusBlock.h"

std::uint16_t maskBACnetProcessFlags(std::uint16_t flags)
{
    return (flags & 0x0002) ? flags : std::uint16_t(flags & 0xFFF3);
}

StatusBlock decodeStatusBlock(const std::uint16_t registers[StatusBlockSize])
{
    StatusBlock s;
    s.MnetState = registers[0];
    s.G50LinkState = registers[3];
    s.G50ProcessFlags = registers[14];
    s.BACnetProcessFlags = maskBACnetProcessFlags(registers[15]);
    s.RxPacketsPending = registers[18];
    s.RxWritePos = registers[19];
    s.RxBoundary = registers[20];
    s.NicRevision = registers[21];
    s.TxBufferCount = registers[22];
    for (int i = 0; i < MaxTxBuffers; ++i)
        s.TxBufferState[std::size_t(i)] = registers[23 + i];
    s.G50PollProgress = registers[38];
    s.BitSwitches = registers[39];
    return s;
}

int receiveBufferUsage(std::uint16_t rxWritePos, std::uint16_t rxBoundary)
{
    const int n = rxWritePos >= rxBoundary ? rxWritePos - rxBoundary - 1
                                           : rxWritePos + ReceiveRingSize - rxBoundary - 1;
    return n > 0 ? n * 100 / ReceiveRingSize : 0;
}
