#include "SimOptions.h"

#include <QRegularExpression>

QString ExceptionRule::text() const
{
    QString result = QStringLiteral("%1:%2").arg(unit).arg(start);
    if (count >= 0)
        result += QStringLiteral(":%1").arg(count);
    if (limit >= 0)
        result += QStringLiteral("@%1").arg(limit);
    return result;
}

std::optional<ExceptionRule> parseExceptionRule(const QString &text)
{
    static const QRegularExpression form(
        QStringLiteral("^(\\d{1,3}):(\\d{1,5})(?::(\\d{1,3}))?(?:@(\\d{1,9}))?$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    ExceptionRule rule;
    rule.unit = match.captured(1).toInt();
    rule.start = match.captured(2).toInt();
    if (match.hasCaptured(3))
        rule.count = match.captured(3).toInt();
    if (match.hasCaptured(4))
        rule.limit = match.captured(4).toInt();
    if (rule.unit > 255 || rule.start > 65535 || rule.count == 0 || rule.count > 125 ||
        rule.limit == 0)
        return std::nullopt;
    return rule;
}

bool ExceptionRules::take(int unit, int start, int count)
{
    for (ExceptionRule &rule : m_rules) {
        if (!rule.matches(unit, start, count))
            continue;
        if (rule.limit > 0)
            --rule.limit;
        return true;
    }
    return false;
}
