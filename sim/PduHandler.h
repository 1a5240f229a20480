#pragma once

// Executes one request PDU (function code and data, no framing) against the
// unit model and builds the reply PDU. Shared by the TCP and RTU endpoints.

#include "SimOptions.h"

#include <QByteArray>

class UnitModel;

// Function codes the unit answers.
namespace SimFn {
constexpr quint8 ReadBlock = 107;
constexpr quint8 WriteBlock = 109;
constexpr quint8 WriteWord = 103;
constexpr quint8 WriteWordAlt = 108;
constexpr quint8 WriteMacBlock = 104;
} // namespace SimFn

// Exception codes of the replies.
namespace SimException {
constexpr quint8 IllegalFunction = 1;
constexpr quint8 IllegalAddress = 2;
constexpr quint8 IllegalValue = 3;
constexpr quint8 DeviceFailure = 4;
constexpr quint8 GatewayTargetFailed = 0x0B;
} // namespace SimException

struct PduOutcome
{
    QByteArray reply;      // empty: nothing to answer
    bool restart = false;  // the request was the restart command
    bool knownUnit = true; // false: no address space with that unit id
};

class PduHandler
{
public:
    PduHandler(UnitModel &model, const SimOptions &options)
        : m_model(model), m_exceptions(options.exceptions)
    {}

    PduOutcome handle(int unit, const QByteArray &pdu);

    // The injected exceptions, starting with those of the command line.
    ExceptionRules &exceptions() { return m_exceptions; }

    // Length of the request PDU that starts with these bytes: the full length
    // once it can be told, 0 while more bytes are needed, -1 for a function
    // code the unit does not know.
    static int requestLength(const QByteArray &pduStart);

    // Largest counts one request may carry.
    static constexpr int MaxReadCount = 125;
    static constexpr int MaxWriteCount = 123;

private:
    QByteArray readBlock(int unit, const QByteArray &pdu);
    QByteArray writeBlock(int unit, const QByteArray &pdu);
    QByteArray writeWord(int unit, const QByteArray &pdu, bool *restart);

    UnitModel &m_model;
    ExceptionRules m_exceptions;
};

QByteArray exceptionPdu(quint8 function, quint8 code);
