#pragma once

// The register access facade: the one way the pages, the session code and the
// status poll reach the unit, whichever transport the session runs over.

#include "RegisterResult.h"
#include "RegisterMap.h"
#include "TcpStream.h"

#include <cstdint>

class TVeskComms;

class RegisterAccess
{
public:
    explicit RegisterAccess(TcpStream &tcpClient) : m_tcpClient(tcpClient) {}

    // True while the session runs over the serial component, false over Modbus TCP.
    bool ViaComPort = true;
    // The serial component of the current serial session; not owned.
    TVeskComms *SerialComms = nullptr;
    // Reply timeouts in tenths of a second. The tool keeps the defaults;
    // command-line scripts and tests may shorten them.
    std::uint16_t tcpTimeout = TcpTimeout;
    std::uint16_t rtuTimeout = RtuTimeout;

    // Results pass through unchanged from the chosen client: no retry, no
    // logging, no exception. Function codes and counts are the caller's.
    RegisterResult ReadRegisters(int unitId, std::uint8_t functionCode, std::uint16_t start,
                                 std::uint16_t count, std::uint16_t *buffer);
    RegisterResult WriteRegister(int unitId, std::uint8_t functionCode, std::uint16_t reg,
                                 std::uint16_t value);
    RegisterResult WriteRegisters(int unitId, std::uint8_t functionCode, std::uint16_t start,
                                  std::uint16_t count, const std::uint16_t *buffer);

    // One block of the register map with its own function code and count. A
    // read zeroes the block's registers in buffer before the exchange, so a
    // failed read leaves zeros, never stale values. A one-register block
    // whose access is WriteOne or ReadWriteOne is written with WriteRegister.
    // A block without the needed function code fails without sending.
    RegisterResult ReadBlock(const RegisterBlock &block, std::uint16_t *buffer);
    RegisterResult WriteBlock(const RegisterBlock &block, const std::uint16_t *buffer);

private:
    TcpStream &m_tcpClient;
};
