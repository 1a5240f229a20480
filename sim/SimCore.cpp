#include "SimCore.h"

#include <QStringList>

std::optional<QString> loopbackListenAddress(const std::array<std::uint16_t, 4> &octets,
                                             QString *refusal)
{
    QStringList parts;
    for (std::uint16_t octet : octets)
        parts << QString::number(octet);
    const QString text = parts.join(QLatin1Char('.'));
    for (std::uint16_t octet : octets) {
        if (octet > 255) {
            *refusal =
                QStringLiteral("the unit's IP address registers hold %1, not an address").arg(text);
            return std::nullopt;
        }
    }
    if (octets[0] != 127) {
        *refusal = QStringLiteral("the unit's IP address %1 is outside 127.0.0.0/8").arg(text);
        return std::nullopt;
    }
    return text;
}

QString SimCore::command(const QString &line)
{
    // Control characters are neither taken nor echoed: an answer must not
    // drive the terminal of whoever reads it.
    for (const QChar c : line) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != u'\t' && u != u'\r') || (u >= 0x7F && u <= 0x9F))
            return QStringLiteral("error the command holds a control character (code %1)")
                .arg(int(u));
    }
    const QStringList words = line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    // A blank line changes nothing, and is answered like any other line.
    if (words.isEmpty())
        return QStringLiteral("ok");
    const QString normal = words.join(QLatin1Char(' '));
    const auto ok = [&normal] {
        return QStringLiteral("ok ") + normal;
    };

    if (words.size() == 2 && words[0] == QLatin1String("silent") &&
        (words[1] == QLatin1String("on") || words[1] == QLatin1String("off"))) {
        m_silent = words[1] == QLatin1String("on");
        return ok();
    }
    if (words.size() == 3 && words[0] == QLatin1String("exception") &&
        words[1] == QLatin1String("add")) {
        const std::optional<ExceptionRule> rule = parseExceptionRule(words[2]);
        if (!rule)
            return QStringLiteral("error exception add wants UNIT:START[:COUNT][@N], not \"%1\"")
                .arg(words[2]);
        handler.exceptions().add(*rule);
        return ok();
    }
    if (words.size() == 2 && words[0] == QLatin1String("exception") &&
        words[1] == QLatin1String("clear")) {
        handler.exceptions().clear();
        return ok();
    }
    if (words.size() == 1 && words[0] == QLatin1String("restart")) {
        if (model.restarting())
            return QStringLiteral("error restart: the unit is already restarting");
        model.beginRestart();
        return ok();
    }
    return QStringLiteral("error unknown command \"%1\" (silent on|off, exception add "
                          "UNIT:START[:COUNT][@N], exception clear, restart)")
        .arg(normal);
}
