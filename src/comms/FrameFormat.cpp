#include "FrameFormat.h"

#include <QDateTime>
#include <QStringList>

namespace {

struct OutcomeName
{
    const char *token;
    const char *label;
};

// Indexed by FrameOutcome.
constexpr OutcomeName OutcomeNames[FrameOutcomeCount] = {
    {"good", "Good"},
    {"exception", "Exception"},
    {"no-reply", "No reply"},
    {"bad-crc", "Bad CRC"},
    {"wrong-transaction", "Wrong transaction"},
    {"wrong-protocol", "Wrong protocol"},
    {"wrong-unit", "Wrong unit"},
    {"wrong-function", "Wrong function"},
    {"wrong-length", "Wrong length"},
    {"short-reply", "Short reply"},
    {"wrong-echo", "Wrong echo"},
    {"link-closed", "Link closed"},
    {"stale", "Discarded stale bytes"},
};

struct ExceptionName
{
    int code;
    const char *token;
    const char *label;
};

constexpr ExceptionName ExceptionNames[] = {
    {1, "illegal-function", "Illegal function"},
    {2, "illegal-data-address", "Illegal data address"},
    {3, "illegal-data-value", "Illegal data value"},
    {4, "server-device-failure", "Server device failure"},
    {5, "acknowledge", "Acknowledge"},
    {6, "server-device-busy", "Server device busy"},
    {7, "negative-acknowledge", "Negative acknowledge"},
    {8, "memory-parity-error", "Memory parity error"},
    {10, "gateway-path-unavailable", "Gateway path unavailable"},
    {11, "gateway-target-no-response", "Gateway target failed to respond"},
};

const ExceptionName *exceptionName(int code)
{
    for (const ExceptionName &e : ExceptionNames)
        if (e.code == code)
            return &e;
    return nullptr;
}

QString field(int value)
{
    return value < 0 ? QStringLiteral("-") : QString::number(value);
}

QDateTime localTime(const FrameRecord &r)
{
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(r.time.time_since_epoch()).count();
    return QDateTime::fromMSecsSinceEpoch(ms);
}

QString exceptionField(const FrameRecord &r)
{
    if (r.exceptionCode < 0)
        return QStringLiteral("-");
    return QStringLiteral("%1:%2")
        .arg(r.exceptionCode)
        .arg(QLatin1String(modbusExceptionToken(r.exceptionCode)));
}

QString csvQuoted(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

const char *frameOutcomeToken(FrameOutcome outcome)
{
    return OutcomeNames[int(outcome)].token;
}

QString frameOutcomeLabel(FrameOutcome outcome)
{
    return QLatin1String(OutcomeNames[int(outcome)].label);
}

const char *frameDirectionToken(FrameDirection direction)
{
    switch (direction) {
    case FrameDirection::Tx:
        return "TX";
    case FrameDirection::Rx:
        return "RX";
    case FrameDirection::Discarded:
        return "DROP";
    }
    return "?";
}

const char *frameLinkToken(FrameLink link)
{
    return link == FrameLink::Tcp ? "TCP" : "RTU";
}

const char *modbusExceptionToken(int code)
{
    const ExceptionName *e = exceptionName(code);
    return e ? e->token : "unknown";
}

QString modbusExceptionLabel(int code)
{
    const ExceptionName *e = exceptionName(code);
    return e ? QLatin1String(e->label) : QStringLiteral("Unknown exception");
}

QString frameHex(const FrameRecord &r)
{
    static const char digits[] = "0123456789ABCDEF";
    QString text;
    text.reserve(int(r.bytes.size()) * 3 + 4);
    for (std::size_t i = 0; i < r.bytes.size(); ++i) {
        if (i > 0)
            text += QLatin1Char(' ');
        text += QLatin1Char(digits[r.bytes[i] >> 4]);
        text += QLatin1Char(digits[r.bytes[i] & 0x0F]);
    }
    if (r.truncated())
        text += QLatin1String(" ...");
    return text;
}

QString frameRoundTrip(const FrameRecord &r)
{
    if (r.roundTripUs < 0)
        return QString();
    return QString::number(double(r.roundTripUs) / 1000.0, 'f', 3);
}

QString frameLine(const FrameRecord &r)
{
    const QString rtt =
        r.roundTripUs < 0 ? QStringLiteral("-") : frameRoundTrip(r) + QLatin1String("ms");
    const QString hex = frameHex(r);
    return QStringLiteral("%1 %2 #%3 %4 unit=%5 fn=%6 start=%7 count=%8 tid=%9 exc=%10 "
                          "outcome=%11 rtt=%12 len=%13 |%14")
        .arg(localTime(r).toString(QStringLiteral("HH:mm:ss.zzz")),
             QLatin1String(frameLinkToken(r.link)), QString::number(r.exchange),
             QLatin1String(frameDirectionToken(r.direction)), field(r.unit), field(r.function),
             field(r.start), field(r.count), field(r.transaction))
        .arg(exceptionField(r), QLatin1String(frameOutcomeToken(r.outcome)), rtt,
             QString::number(r.length), hex.isEmpty() ? QString() : QStringLiteral(" ") + hex);
}

QString frameCsvHeader()
{
    return QStringLiteral("time,link,exchange,direction,unit,function,start,count,transaction,"
                          "exception,exception_name,outcome,rtt_ms,length,bytes");
}

QString frameCsvRow(const FrameRecord &r)
{
    const auto blankIfNone = [](int v) {
        return v < 0 ? QString() : QString::number(v);
    };
    QStringList cells{localTime(r).toString(Qt::ISODateWithMs),
                      QLatin1String(frameLinkToken(r.link)),
                      QString::number(r.exchange),
                      QLatin1String(frameDirectionToken(r.direction)),
                      blankIfNone(r.unit),
                      blankIfNone(r.function),
                      blankIfNone(r.start),
                      blankIfNone(r.count),
                      blankIfNone(r.transaction),
                      blankIfNone(r.exceptionCode),
                      r.exceptionCode < 0 ? QString() : modbusExceptionLabel(r.exceptionCode),
                      QLatin1String(frameOutcomeToken(r.outcome)),
                      frameRoundTrip(r),
                      QString::number(r.length),
                      frameHex(r)};
    for (QString &cell : cells)
        cell = csvQuoted(cell);
    return cells.join(QLatin1Char(','));
}

void FrameTracePrinter::record(const FrameRecord &r)
{
    std::fprintf(m_out, "%s\n", frameLine(r).toLatin1().constData());
    std::fflush(m_out);
}
