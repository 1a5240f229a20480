#include "CtlText.h"

#include <QList>

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

QByteArray terminalSafe(const QString &line)
{
    QString out;
    out.reserve(line.size());
    for (const QChar c : line) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u <= 0x9F))
            out += QStringLiteral("\\x%1").arg(int(u), 2, 16, QLatin1Char('0'));
        else if (u == u'\\')
            out += QStringLiteral("\\\\");
        else
            out += c;
    }
    return out.toUtf8();
}

void writeFileText(const QByteArray &bytes)
{
    if (!isatty(fileno(stdout))) {
        std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout);
        return;
    }
    QList<QByteArray> lines = bytes.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        std::printf("%s\n", terminalSafe(QString::fromUtf8(line)).constData());
    }
}
