#include "SimCore.h"

#include <QStringList>

QString SimCore::command(const QString &line)
{
    const QStringList words = line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return {};
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
