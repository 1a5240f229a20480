#include "Outcome.h"

#include "RegisterMap.h"

namespace {

QString refusalText(Refusal why)
{
    switch (why) {
    case Refusal::Count:
        return QStringLiteral("the register count is 0 or more than one frame carries");
    case Refusal::UnitId:
        return QStringLiteral("the unit id does not fit the frame");
    case Refusal::NoFunction:
        return QStringLiteral("the block has no function code for this");
    case Refusal::NoTransport:
        return QStringLiteral("no connection is open");
    case Refusal::Values:
        return QStringLiteral("the values are out of range");
    case Refusal::None:
        break;
    }
    return QStringLiteral("the request was refused");
}

QString exceptionText(const ExchangeDetail &d)
{
    const QString text = QStringLiteral("the unit answered with an exception");
    // An exception reply that stopped after its function code has no code.
    if (d.outcome != FrameOutcome::Exception || d.exceptionCode == 0)
        return text;
    const QString name = exceptionName(d.exceptionCode);
    return name.isEmpty()
               ? QStringLiteral("%1 (code %2)").arg(text).arg(d.exceptionCode)
               : QStringLiteral("%1 (code %2: %3)").arg(text).arg(d.exceptionCode).arg(name);
}

QString invalidReplyText(const ExchangeDetail &d)
{
    const auto invalid = [](const char *why) {
        return QStringLiteral("invalid reply: %1").arg(QLatin1String(why));
    };
    switch (d.outcome) {
    case FrameOutcome::BadCrc:
        return invalid("wrong CRC");
    case FrameOutcome::WrongTransaction:
        return invalid("another exchange's transaction id");
    case FrameOutcome::WrongProtocol:
        return invalid("protocol id not 0");
    case FrameOutcome::WrongUnit:
        return invalid("from another unit id");
    case FrameOutcome::WrongFunction:
        return invalid("wrong function code");
    case FrameOutcome::WrongLength:
        return invalid("wrong length or byte count");
    case FrameOutcome::ShortReply:
        return invalid("it stopped short");
    case FrameOutcome::WrongEcho:
        return invalid("the write was not echoed as sent");
    case FrameOutcome::LinkClosed:
        return d.link == FrameLink::Rtu
                   ? QStringLiteral("the serial port is not open or was closed")
                   : QStringLiteral("the connection was closed or failed");
    case FrameOutcome::Good:
    case FrameOutcome::Exception:
    case FrameOutcome::NoReply:
    case FrameOutcome::Stale:
        break;
    }
    // A result recorded without the exchange's verdict.
    return QStringLiteral("invalid reply or request refused");
}

} // namespace

QString exceptionName(std::uint8_t code)
{
    switch (code) {
    case 1:
        return QStringLiteral("illegal function");
    case 2:
        return QStringLiteral("illegal data address");
    case 3:
        return QStringLiteral("illegal data value");
    case 4:
        return QStringLiteral("server device failure");
    case 5:
        return QStringLiteral("acknowledge");
    case 6:
        return QStringLiteral("server device busy");
    case 8:
        return QStringLiteral("memory parity error");
    case 10:
        return QStringLiteral("gateway path unavailable");
    case 11:
        return QStringLiteral("gateway target device failed to respond");
    default:
        return QString();
    }
}

QString describeCause(const OpResult &op)
{
    const ExchangeDetail &d = op.detail;
    if (!op.ok() && !d.sent())
        return QStringLiteral("nothing sent: %1").arg(refusalText(d.refusal));
    switch (op.result) {
    case RegisterResult::Good:
        return QStringLiteral("good reply");
    case RegisterResult::Exception:
        return exceptionText(d);
    case RegisterResult::NoReply:
        if (d.timeoutTenths == 0)
            return QStringLiteral("no reply in time");
        return QStringLiteral("no reply within %1 s").arg(d.timeoutTenths / 10.0, 0, 'f', 1);
    case RegisterResult::ClosedTwice:
        return QStringLiteral("the serial port was closed twice");
    case RegisterResult::Failure:
        break;
    }
    return invalidReplyText(d);
}

QString describeBlock(const OpResult &op)
{
    if (!op.failedBlock)
        return QString();
    const RegisterBlock &b = *op.failedBlock;
    QString name = QString::fromLatin1(b.name);
    if (b.unitId == NamesUnitId)
        name += QStringLiteral(" %1").arg(b.start / ObjectNameRegisters + 1);
    return name;
}

QString describe(const OpResult &op)
{
    const QString where = describeBlock(op);
    const QString why = describeCause(op);
    return where.isEmpty() ? why : QStringLiteral("%1: %2").arg(where, why);
}
