#include "SimTrace.h"

#include "PduHandler.h"

#include <QTime>

namespace {

const char *exceptionName(int code)
{
    switch (code) {
    case 1:
        return "illegal-function";
    case 2:
        return "illegal-data-address";
    case 3:
        return "illegal-data-value";
    case 4:
        return "server-device-failure";
    case 5:
        return "acknowledge";
    case 6:
        return "server-device-busy";
    case 7:
        return "negative-acknowledge";
    case 8:
        return "memory-parity-error";
    case 10:
        return "gateway-path-unavailable";
    case 11:
        return "gateway-target-no-response";
    default:
        return "unknown";
    }
}

struct Fields
{
    int unit = -1, fn = -1, start = -1, count = -1, tid = -1, exception = -1;
};

int byteAt(const QByteArray &b, qsizetype at)
{
    return at >= 0 && at < b.size() ? quint8(b[at]) : -1;
}

int wordAt(const QByteArray &b, qsizetype at)
{
    return at >= 0 && at + 1 < b.size() ? quint8(b[at]) << 8 | quint8(b[at + 1]) : -1;
}

// Decodes by position as far as the bytes reach. The unit's function codes
// tell the layout: a single-register write carries register and value, a
// read reply a byte count, everything else start and count.
Fields decode(const SimFrame &f)
{
    Fields d;
    if (f.frameAt < 0 || qstrcmp(f.direction, "DROP") == 0)
        return d;
    qsizetype at = f.frameAt;
    if (f.tcp) {
        d.tid = wordAt(f.bytes, at);
        at += 6;
    }
    d.unit = byteAt(f.bytes, at);
    d.fn = byteAt(f.bytes, at + 1);
    if (d.fn < 0)
        return d;
    if (d.fn & 0x80) {
        d.exception = byteAt(f.bytes, at + 2);
        return d;
    }
    const bool reply = qstrcmp(f.direction, "TX") == 0;
    if (reply && d.fn == SimFn::ReadBlock) {
        const int byteCount = byteAt(f.bytes, at + 2);
        d.count = byteCount < 0 ? -1 : byteCount / 2;
        return d;
    }
    d.start = wordAt(f.bytes, at + 2);
    if (d.fn == SimFn::WriteWord || d.fn == SimFn::WriteWordAlt)
        d.count = d.start < 0 ? -1 : 1;
    else
        d.count = wordAt(f.bytes, at + 4);
    return d;
}

QString field(int value)
{
    return value < 0 ? QStringLiteral("-") : QString::number(value);
}

} // namespace

const char *simReplyOutcome(const QByteArray &replyPdu)
{
    if (replyPdu.isEmpty())
        return "no-reply";
    return (quint8(replyPdu[0]) & 0x80) ? "exception" : "good";
}

QString simFrameLine(const SimFrame &f)
{
    const Fields d = decode(f);
    const QString exception = d.exception < 0 ? QStringLiteral("-")
                                              : QStringLiteral("%1:%2")
                                                    .arg(d.exception)
                                                    .arg(QLatin1String(exceptionName(d.exception)));
    const QByteArray hex = f.bytes.toHex(' ').toUpper();
    return QStringLiteral("%1 %2 #%3 %4 unit=%5 fn=%6 start=%7 count=%8 tid=%9 exc=%10 "
                          "outcome=%11 rtt=- len=%12 |%13")
        .arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")),
             QLatin1String(f.tcp ? "TCP" : "RTU"), QString::number(f.exchange),
             QLatin1String(f.direction), field(d.unit), field(d.fn), field(d.start), field(d.count),
             field(d.tid))
        .arg(exception, QLatin1String(f.outcome), QString::number(f.bytes.size()),
             hex.isEmpty() ? QString() : QStringLiteral(" ") + QString::fromLatin1(hex));
}
