#pragma once

// The register access facade: the one way the pages, the session code and the
// status poll reach the unit. The transport (Modbus TCP or Modbus RTU) is
// chosen once, when a session opens; the calls never branch on it.

#include "RegisterMap.h"
#include "RegisterResult.h"

#include <cstdint>
#include <memory>

class FrameTap;
class SerialLink;
class TVeskComms;
class TcpStream;

// One request/reply exchange over a session's transport; each call fills
// `detail` with what the exchange came to.
class RegisterTransport
{
public:
    virtual ~RegisterTransport() = default;
    virtual RegisterResult read(int unitId, std::uint8_t functionCode, std::uint16_t start,
                                std::uint16_t count, std::uint16_t *buffer,
                                ExchangeDetail &detail) = 0;
    virtual RegisterResult writeOne(int unitId, std::uint8_t functionCode, std::uint16_t reg,
                                    std::uint16_t value, ExchangeDetail &detail) = 0;
    virtual RegisterResult writeMany(int unitId, std::uint8_t functionCode, std::uint16_t start,
                                     std::uint16_t count, const std::uint16_t *buffer,
                                     ExchangeDetail &detail) = 0;
};

class RegisterAccess
{
public:
    RegisterAccess();
    ~RegisterAccess();
    RegisterAccess(const RegisterAccess &) = delete;
    RegisterAccess &operator=(const RegisterAccess &) = delete;

    // Modbus TCP over a connected client, which the caller keeps and closes.
    void useTcp(TcpStream &client);
    // Modbus RTU over an open serial component that the caller keeps.
    void useSerial(TVeskComms &comms);
    // Modbus RTU over an open serial link that the facade owns from now on:
    // closeTransport() closes and releases it.
    void useSerial(std::unique_ptr<SerialLink> link);
    // Ends the session's transport: an owned serial link is closed and
    // released. Every call fails afterwards until a transport is chosen again.
    void closeTransport();

    // True while the session runs over the serial component, false over
    // Modbus TCP. Set when a transport is chosen; true before any session.
    bool viaComPort() const { return m_viaComPort; }
    bool hasTransport() const { return m_transport != nullptr; }
    // The owned serial link of the current serial session, if any.
    SerialLink *serialLink() const { return m_link.get(); }

    // The frame tap every exchange reports to, whatever the transport, from
    // the next call on; null (the default) records nothing. The facade does
    // not own it; it stays set when sessions end and begin.
    void setFrameTap(FrameTap *tap) { m_tap = tap; }
    FrameTap *frameTap() const { return m_tap; }

    // Reply timeouts in tenths of a second, read at every call. The tool keeps
    // the defaults; command-line scripts and tests may shorten them.
    std::uint16_t tcpTimeout = TcpTimeout;
    std::uint16_t rtuTimeout = RtuTimeout;

    // Results pass through unchanged from the chosen client: no retry, no
    // exception. Function codes and counts are the caller's.
    // Without a transport every call returns ResultFailure.
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

    // What the last call came to beyond its result: the verdict on the reply,
    // an exception reply's code, or why nothing was sent (no transport, a
    // block without the function code, a count or unit id the frames cannot
    // carry).
    const ExchangeDetail &lastExchange() const { return m_last; }

private:
    RegisterResult refuse(Refusal why);

    std::unique_ptr<RegisterTransport> m_transport;
    std::unique_ptr<SerialLink> m_link;
    bool m_viaComPort = true;
    FrameTap *m_tap = nullptr;
    ExchangeDetail m_last;
};
