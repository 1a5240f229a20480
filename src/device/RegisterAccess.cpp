#include "RegisterAccess.h"

#include "ModBusPro.h"
#include "ModBusTCPPro.h"

#include <algorithm>

namespace {

// The RTU unit id is one byte; a serial session without a component (or an id
// that does not fit) fails without touching any port.
bool serialUsable(const TVeskComms *comms, int unitId)
{
    return comms && unitId >= 0 && unitId <= 255;
}

} // namespace

RegisterResult RegisterAccess::ReadRegisters(int unitId, std::uint8_t functionCode,
                                             std::uint16_t start, std::uint16_t count,
                                             std::uint16_t *buffer)
{
    if (ViaComPort) {
        if (!serialUsable(SerialComms, unitId))
            return ResultFailure;
        return RtuReadRegisters(*SerialComms, std::uint8_t(unitId), functionCode, start, count,
                                rtuTimeout, buffer);
    }
    return TcpReadRegisters(m_tcpClient, unitId, functionCode, start, count, tcpTimeout, buffer);
}

RegisterResult RegisterAccess::WriteRegister(int unitId, std::uint8_t functionCode,
                                             std::uint16_t reg, std::uint16_t value)
{
    if (ViaComPort) {
        if (!serialUsable(SerialComms, unitId))
            return ResultFailure;
        return RtuWriteRegister(*SerialComms, std::uint8_t(unitId), functionCode, reg, value,
                                rtuTimeout);
    }
    return TcpWriteRegister(m_tcpClient, unitId, functionCode, reg, value, tcpTimeout);
}

RegisterResult RegisterAccess::WriteRegisters(int unitId, std::uint8_t functionCode,
                                              std::uint16_t start, std::uint16_t count,
                                              const std::uint16_t *buffer)
{
    if (ViaComPort) {
        if (!serialUsable(SerialComms, unitId))
            return ResultFailure;
        return RtuWriteRegisters(*SerialComms, std::uint8_t(unitId), functionCode, start, count,
                                 buffer, rtuTimeout);
    }
    return TcpWriteRegisters(m_tcpClient, unitId, functionCode, start, count, buffer, tcpTimeout);
}

RegisterResult RegisterAccess::ReadBlock(const RegisterBlock &block, std::uint16_t *buffer)
{
    std::fill(buffer, buffer + block.count, std::uint16_t(0));
    if (block.readFunction == 0)
        return ResultFailure;
    return ReadRegisters(block.unitId, block.readFunction, block.start, block.count, buffer);
}

RegisterResult RegisterAccess::WriteBlock(const RegisterBlock &block, const std::uint16_t *buffer)
{
    if (block.writeFunction == 0)
        return ResultFailure;
    const bool single =
        block.access == BlockAccess::WriteOne || block.access == BlockAccess::ReadWriteOne;
    if (single && block.count == 1)
        return WriteRegister(block.unitId, block.writeFunction, block.start, buffer[0]);
    return WriteRegisters(block.unitId, block.writeFunction, block.start, block.count, buffer);
}
