#include "RegisterAccess.h"

#include "ModBusTCPPro.h"

// The serial transport is not built in yet: every serial operation fails
// without touching any port.

RegisterResult RegisterAccess::ReadRegisters(int unitId, std::uint8_t functionCode,
                                             std::uint16_t start, std::uint16_t count,
                                             std::uint16_t *buffer)
{
    if (ViaComPort)
        return ResultFailure;
    return TcpReadRegisters(m_tcpClient, unitId, functionCode, start, count, tcpTimeout, buffer);
}

RegisterResult RegisterAccess::WriteRegister(int unitId, std::uint8_t functionCode,
                                             std::uint16_t reg, std::uint16_t value)
{
    if (ViaComPort)
        return ResultFailure;
    return TcpWriteRegister(m_tcpClient, unitId, functionCode, reg, value, tcpTimeout);
}

RegisterResult RegisterAccess::WriteRegisters(int unitId, std::uint8_t functionCode,
                                              std::uint16_t start, std::uint16_t count,
                                              const std::uint16_t *buffer)
{
    if (ViaComPort)
        return ResultFailure;
    return TcpWriteRegisters(m_tcpClient, unitId, functionCode, start, count, buffer, tcpTimeout);
}
