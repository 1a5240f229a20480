#include "PduHandler.h"

#include "UnitModel.h"

namespace {

constexpr int SystemUnit = 19;
constexpr int RestartRegister = 29;
constexpr std::uint16_t RestartWord = 7109;

int word(const QByteArray &bytes, int at)
{
    return std::uint8_t(bytes[at]) << 8 | std::uint8_t(bytes[at + 1]);
}

void appendWord(QByteArray &bytes, int value)
{
    bytes.append(char(value >> 8 & 0xFF));
    bytes.append(char(value & 0xFF));
}

bool isWriteBlock(quint8 fn)
{
    return fn == SimFn::WriteBlock || fn == SimFn::WriteMacBlock;
}

bool isWriteWord(quint8 fn)
{
    return fn == SimFn::WriteWord || fn == SimFn::WriteWordAlt;
}

} // namespace

QByteArray exceptionPdu(quint8 function, quint8 code)
{
    QByteArray pdu;
    pdu.append(char(function | 0x80));
    pdu.append(char(code));
    return pdu;
}

int PduHandler::requestLength(const QByteArray &pduStart)
{
    if (pduStart.isEmpty())
        return 0;
    const quint8 fn = std::uint8_t(pduStart[0]);
    if (fn == SimFn::ReadBlock || isWriteWord(fn))
        return 5;
    if (isWriteBlock(fn))
        return pduStart.size() < 6 ? 0 : 6 + std::uint8_t(pduStart[5]);
    return -1;
}

PduOutcome PduHandler::handle(int unit, const QByteArray &pdu)
{
    PduOutcome outcome;
    if (pdu.isEmpty())
        return outcome;
    const quint8 fn = std::uint8_t(pdu[0]);
    if (!m_model.hasSpace(unit)) {
        outcome.knownUnit = false;
        outcome.reply = exceptionPdu(fn, SimException::GatewayTargetFailed);
        return outcome;
    }
    const int expected = requestLength(pdu);
    if (expected < 0) {
        outcome.reply = exceptionPdu(fn, SimException::IllegalFunction);
        return outcome;
    }
    if (expected == 0 || pdu.size() != expected) {
        outcome.reply = exceptionPdu(fn, SimException::IllegalValue);
        return outcome;
    }
    // A single-register write carries a value where the others carry a count.
    const int count = isWriteWord(fn) ? 1 : word(pdu, 3);
    if (m_exceptions.take(unit, word(pdu, 1), count)) {
        outcome.reply = exceptionPdu(fn, SimException::DeviceFailure);
        return outcome;
    }
    if (fn == SimFn::ReadBlock)
        outcome.reply = readBlock(unit, pdu);
    else if (isWriteBlock(fn))
        outcome.reply = writeBlock(unit, pdu);
    else
        outcome.reply = writeWord(unit, pdu, &outcome.restart);
    return outcome;
}

QByteArray PduHandler::readBlock(int unit, const QByteArray &pdu)
{
    const int start = word(pdu, 1);
    const int count = word(pdu, 3);
    if (count < 1 || count > MaxReadCount)
        return exceptionPdu(pdu[0], SimException::IllegalValue);
    if (!m_model.inRange(unit, start, count))
        return exceptionPdu(pdu[0], SimException::IllegalAddress);
    QByteArray reply;
    reply.append(pdu[0]);
    reply.append(char(count * 2));
    for (std::uint16_t value : m_model.read(unit, start, count))
        appendWord(reply, value);
    return reply;
}

QByteArray PduHandler::writeBlock(int unit, const QByteArray &pdu)
{
    const int start = word(pdu, 1);
    const int count = word(pdu, 3);
    if (count < 1 || count > MaxWriteCount || std::uint8_t(pdu[5]) != count * 2)
        return exceptionPdu(pdu[0], SimException::IllegalValue);
    if (!m_model.inRange(unit, start, count) || m_model.isReadOnly(unit, start, count))
        return exceptionPdu(pdu[0], SimException::IllegalAddress);
    QVector<std::uint16_t> values;
    for (int i = 0; i < count; ++i)
        values.append(std::uint16_t(word(pdu, 6 + 2 * i)));
    m_model.write(unit, start, values);
    return pdu.left(5);
}

QByteArray PduHandler::writeWord(int unit, const QByteArray &pdu, bool *restart)
{
    const int reg = word(pdu, 1);
    const int value = word(pdu, 3);
    if (!m_model.inRange(unit, reg, 1) || m_model.isReadOnly(unit, reg, 1))
        return exceptionPdu(pdu[0], SimException::IllegalAddress);
    if (std::uint8_t(pdu[0]) == SimFn::WriteWord && unit == SystemUnit && reg == RestartRegister &&
        value == RestartWord)
        *restart = true; // a command, not a value to keep
    else
        m_model.write(unit, reg, {std::uint16_t(value)});
    return pdu;
}
