#include "RegisterAccess.h"

#include "ModBusPro.h"
#include "ModBusTCPPro.h"
#include "SerialLink.h"

#include <algorithm>

namespace {

class TcpTransport : public RegisterTransport
{
public:
    TcpTransport(TcpStream &client, const std::uint16_t &timeout, FrameTap *const &tap)
        : m_client(client), m_timeout(timeout), m_tap(tap)
    {}
    RegisterResult read(int unitId, std::uint8_t fn, std::uint16_t start, std::uint16_t count,
                        std::uint16_t *buffer, ExchangeDetail &detail) override
    {
        return TcpReadRegisters(m_client, unitId, fn, start, count, m_timeout, buffer, m_tap,
                                &detail);
    }
    RegisterResult writeOne(int unitId, std::uint8_t fn, std::uint16_t reg, std::uint16_t value,
                            ExchangeDetail &detail) override
    {
        return TcpWriteRegister(m_client, unitId, fn, reg, value, m_timeout, m_tap, &detail);
    }
    RegisterResult writeMany(int unitId, std::uint8_t fn, std::uint16_t start, std::uint16_t count,
                             const std::uint16_t *buffer, ExchangeDetail &detail) override
    {
        return TcpWriteRegisters(m_client, unitId, fn, start, count, buffer, m_timeout, m_tap,
                                 &detail);
    }

private:
    TcpStream &m_client;
    const std::uint16_t &m_timeout;
    FrameTap *const &m_tap;
};

// The RTU unit id is one byte; an id that does not fit fails without touching
// the port.
class RtuTransport : public RegisterTransport
{
public:
    RtuTransport(TVeskComms &comms, const std::uint16_t &timeout, FrameTap *const &tap)
        : m_comms(comms), m_timeout(timeout), m_tap(tap)
    {}
    RegisterResult read(int unitId, std::uint8_t fn, std::uint16_t start, std::uint16_t count,
                        std::uint16_t *buffer, ExchangeDetail &detail) override
    {
        if (!fits(unitId, detail))
            return ResultFailure;
        return RtuReadRegisters(m_comms, std::uint8_t(unitId), fn, start, count, m_timeout, buffer,
                                m_tap, &detail);
    }
    RegisterResult writeOne(int unitId, std::uint8_t fn, std::uint16_t reg, std::uint16_t value,
                            ExchangeDetail &detail) override
    {
        if (!fits(unitId, detail))
            return ResultFailure;
        return RtuWriteRegister(m_comms, std::uint8_t(unitId), fn, reg, value, m_timeout, m_tap,
                                &detail);
    }
    RegisterResult writeMany(int unitId, std::uint8_t fn, std::uint16_t start, std::uint16_t count,
                             const std::uint16_t *buffer, ExchangeDetail &detail) override
    {
        if (!fits(unitId, detail))
            return ResultFailure;
        return RtuWriteRegisters(m_comms, std::uint8_t(unitId), fn, start, count, buffer, m_timeout,
                                 m_tap, &detail);
    }

private:
    static bool fits(int unitId, ExchangeDetail &detail)
    {
        if (unitId >= 0 && unitId <= 255)
            return true;
        detail = refusedDetail(Refusal::UnitId);
        detail.link = FrameLink::Rtu;
        return false;
    }

    TVeskComms &m_comms;
    const std::uint16_t &m_timeout;
    FrameTap *const &m_tap;
};

} // namespace

RegisterAccess::RegisterAccess() = default;

RegisterAccess::~RegisterAccess()
{
    closeTransport();
}

void RegisterAccess::useTcp(TcpStream &client)
{
    closeTransport();
    m_transport = std::make_unique<TcpTransport>(client, tcpTimeout, m_tap);
    m_viaComPort = false;
}

void RegisterAccess::useSerial(TVeskComms &comms)
{
    closeTransport();
    m_transport = std::make_unique<RtuTransport>(comms, rtuTimeout, m_tap);
    m_viaComPort = true;
}

void RegisterAccess::useSerial(std::unique_ptr<SerialLink> link)
{
    closeTransport();
    m_viaComPort = true;
    if (!link)
        return;
    // A link without a component is still owned (and closed at the end);
    // every call over it fails.
    if (TVeskComms *comms = link->comms())
        m_transport = std::make_unique<RtuTransport>(*comms, rtuTimeout, m_tap);
    m_link = std::move(link);
}

void RegisterAccess::closeTransport()
{
    m_transport.reset();
    if (m_link) {
        m_link->ClosePort();
        m_link.reset();
    }
}

RegisterResult RegisterAccess::refuse(Refusal why)
{
    m_last = refusedDetail(why);
    m_last.link = m_viaComPort ? FrameLink::Rtu : FrameLink::Tcp;
    return ResultFailure;
}

RegisterResult RegisterAccess::ReadRegisters(int unitId, std::uint8_t functionCode,
                                             std::uint16_t start, std::uint16_t count,
                                             std::uint16_t *buffer)
{
    return m_transport ? m_transport->read(unitId, functionCode, start, count, buffer, m_last)
                       : refuse(Refusal::NoTransport);
}

RegisterResult RegisterAccess::WriteRegister(int unitId, std::uint8_t functionCode,
                                             std::uint16_t reg, std::uint16_t value)
{
    return m_transport ? m_transport->writeOne(unitId, functionCode, reg, value, m_last)
                       : refuse(Refusal::NoTransport);
}

RegisterResult RegisterAccess::WriteRegisters(int unitId, std::uint8_t functionCode,
                                              std::uint16_t start, std::uint16_t count,
                                              const std::uint16_t *buffer)
{
    return m_transport ? m_transport->writeMany(unitId, functionCode, start, count, buffer, m_last)
                       : refuse(Refusal::NoTransport);
}

RegisterResult RegisterAccess::ReadBlock(const RegisterBlock &block, std::uint16_t *buffer)
{
    std::fill(buffer, buffer + block.count, std::uint16_t(0));
    if (block.readFunction == 0)
        return refuse(Refusal::NoFunction);
    return ReadRegisters(block.unitId, block.readFunction, block.start, block.count, buffer);
}

RegisterResult RegisterAccess::WriteBlock(const RegisterBlock &block, const std::uint16_t *buffer)
{
    if (block.writeFunction == 0)
        return refuse(Refusal::NoFunction);
    const bool single =
        block.access == BlockAccess::WriteOne || block.access == BlockAccess::ReadWriteOne;
    if (single && block.count == 1)
        return WriteRegister(block.unitId, block.writeFunction, block.start, buffer[0]);
    return WriteRegisters(block.unitId, block.writeFunction, block.start, block.count, buffer);
}
